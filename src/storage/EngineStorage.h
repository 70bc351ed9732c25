// Stored engine definitions with the user's settings for each engine.
#pragma once

#include <string>
#include <vector>

#include "storage/StorageDataLists.h"

namespace vandrel {

// ORDER: flag sets are stored by member name; bit i is the i-th name.
enum TEngineStorageFlag : uint8_t { efSupportsNew = 1 << 0 };
enum TEngineStorageState : uint8_t { esAlwaysEnabled = 1 << 0, esAuthorizationRequired = 1 << 1 };

class TEngineStorageItem : public TVersionStorageDataItem {
  VANDREL_PERSISTENT(TEngineStorageItem)
 public:
  std::string EngName;
  std::string DisplayName;
  std::string Description;
  std::string HomePage;
  uint8_t Flags = 0;  // TEngineStorageFlag bits
  std::string FileName;
  uint8_t State = 0;  // TEngineStorageState bits
  int32_t Priority = 0;
  TStrings SrtNames;  // the search types the engine serves
  bool DefaultEnabled = true;
  bool Enabled = true;
  std::string DefaultUserName;
  std::string DefaultPassword;
  std::string UserName;
  std::string Password;
  std::string SupportFormula;

  std::string GetName() const override { return EngName; }
};

class TEngineStorageKeyItem : public TStorageKeyItem {
  VANDREL_PERSISTENT(TEngineStorageKeyItem)
 public:
  std::string EngName;
  void TakeKey() override;
};

class TEngineStorageTransactionList : public TStorageTransactionList {
  VANDREL_PERSISTENT(TEngineStorageTransactionList)
 public:
  std::string CatName;  // the category whose engines are loaded, replaced or deleted
};

class TEngineStorageList : public TVersionStorageDataList {
 public:
  TEngineStorageList();

  TEngineStorageItem* NewEngine() { return static_cast<TEngineStorageItem*>(NewItem()); }
  TEngineStorageItem* Engine(size_t index) const { return static_cast<TEngineStorageItem*>(Item(index)); }
  // Letter case counts.
  TEngineStorageItem* FindByName(const std::string& name) const override;
  // The display names of the engines found, in the given order, joined by `separator`; unknown names are
  // skipped.
  std::string DisplayNames(const std::vector<std::string>& engineNames, const std::string& separator) const;

  TEngineStorageTransactionList& EngineTransaction() {
    return static_cast<TEngineStorageTransactionList&>(Transaction());
  }
  const std::string& CatName() { return EngineTransaction().CatName; }
  void SetCatName(const std::string& catName) { EngineTransaction().CatName = catName; }
};

}  // namespace vandrel
