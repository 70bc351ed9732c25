#include "search/QuorinUpdateReport.h"

#include <algorithm>

#include "storage/StorageDataLists.h"

namespace vandrel {

std::string TQuorinUpdateReportItem::FullName() const {
  return Kind == ukEngine ? Category + "/" + Name : Name;
}

void TQuorinUpdateReport::Add(TQuorinUpdateItemAction action, int kind, std::string category,
                              std::string name) {
  Items_.push_back(TQuorinUpdateReportItem{action, kind, std::move(category), std::move(name)});
}

void TQuorinUpdateReport::AddChangedScript(const std::string& name) {
  Add(uaChanged, ukSharedScript, {}, name);
}

void TQuorinUpdateReport::AddChanged(int kind, const TVersionStorageDataItem& item,
                                     const std::string& category) {
  Add(uaChanged, kind, kind == ukEngine ? category : std::string(), item.GetName());
}

void TQuorinUpdateReport::AddAdded(int kind, const std::string& name) {
  if (kind == ukEngine) {
    size_t slash = name.find('/');
    if (slash != std::string::npos) return Add(uaAdded, kind, name.substr(0, slash), name.substr(slash + 1));
  }
  Add(uaAdded, kind, {}, name);
}

void TQuorinUpdateReport::AddRemoved(int kind, const TVersionStorageDataItem& item,
                                     const std::string& category) {
  Add(uaRemoved, kind, kind == ukEngine ? category : std::string(), item.GetName());
}

void TQuorinUpdateReport::Delete(size_t index) {
  if (index < Items_.size()) Items_.erase(Items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TQuorinUpdateReport::SortByKind() {
  std::stable_sort(
      Items_.begin(), Items_.end(),
      [](const TQuorinUpdateReportItem& a, const TQuorinUpdateReportItem& b) { return a.Kind < b.Kind; });
}

}  // namespace vandrel
