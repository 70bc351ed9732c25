// The definitions that changed, appeared or disappeared, by kind, as one list to apply to the catalogue.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vandrel {

class TVersionStorageDataItem;

// VALUES: the update action and the catalogue builder agree on these numbers; never renumber.
enum TQuorinUpdateItemAction : uint8_t { uaChanged = 0, uaAdded = 1, uaRemoved = 2 };
enum TQuorinUpdateKind : int { ukSharedScript = 1, ukSearchType = 2, ukCategory = 3, ukEngine = 4 };

// One definition of the report. It names its definition instead of pointing at the stored item, so an
// item stays meaningful after that stored item is gone (a removed category takes its engines with it).
struct TQuorinUpdateReportItem {
  TQuorinUpdateItemAction Action = uaChanged;
  int Kind = ukSearchType;
  std::string Category;  // engines only: the category whose engine list holds it
  std::string Name;      // the definition's own name (for engines without the category)

  // "category/engine" for engines, the plain name for everything else.
  std::string FullName() const;
};

class TQuorinUpdateReport {
 public:
  // Empties the three stored lists before the items are applied.
  bool FullRebuild = false;

  void AddChangedScript(const std::string& name);
  // `category` is the category whose engine list holds `item`; only engines need it.
  void AddChanged(int kind, const TVersionStorageDataItem& item, const std::string& category = {});
  // Engines are named "category/engine".
  void AddAdded(int kind, const std::string& name);
  void AddRemoved(int kind, const TVersionStorageDataItem& item, const std::string& category = {});

  size_t Count() const { return Items_.size(); }
  const TQuorinUpdateReportItem& Items(size_t index) const { return Items_[index]; }
  void Delete(size_t index);
  void Clear() { Items_.clear(); }
  // Shared scripts first, then search types, categories and engines.
  void SortByKind();

 private:
  void Add(TQuorinUpdateItemAction action, int kind, std::string category, std::string name);
  std::vector<TQuorinUpdateReportItem> Items_;
};

}  // namespace vandrel
