// Engine lists per category, made on first use from one template list bound to the engine storage.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "storage/EngineStorage.h"

namespace vandrel {

class IStorageManager;

// Main thread only.
class TEngineListCache {
 public:
  // The view that keeps a cached list's engines sorted by display name.
  static constexpr const char* kSortedView = "Default";

  TEngineListCache();
  ~TEngineListCache();
  TEngineListCache(const TEngineListCache&) = delete;
  TEngineListCache& operator=(const TEngineListCache&) = delete;

  // The list bound to the engine storage (all engines of all categories); cached lists copy it.
  TEngineStorageList& Template() { return *Template_; }
  // Binds the template to `storage` (none: memory only) and drops every cached list.
  void SetStorage(std::shared_ptr<IStorageManager> storage);

  // The engines of `category` (letter case ignored), made and loaded on first use. Null only when the
  // load fails.
  TEngineStorageList* EngineList(const std::string& category);
  // The cached list, or null; never makes one.
  TEngineStorageList* FindEngineList(const std::string& category) const;
  // Frees the cached list of `category`; the next EngineList makes it again.
  void Drop(const std::string& category);
  void Clear();

  size_t Count() const { return Items_.size(); }
  const std::string& CategoryName(size_t index) const;
  TEngineStorageList& List(size_t index) const;

  // The engines of a cached list in display order (display name, letter case ignored).
  static TStorageDataListView& Sorted(TEngineStorageList& list);

 private:
  struct TCacheItem;
  std::unique_ptr<TEngineStorageList> Template_;
  std::vector<std::unique_ptr<TCacheItem>> Items_;
};

}  // namespace vandrel
