#include "presentation/HomePageSource.h"

#include <algorithm>

#include "actions/QuorinApplications.h"
#include "search/CategoryList.h"
#include "search/SearchHistory.h"
#include "storage/SearchStorage.h"

namespace vandrel {

THistoryHomeSource::THistoryHomeSource(TCategoryList* categories, TAppSearchHistory* reviews,
                                       TAppSearchHistory* compare, const TQuorinApplication* runner)
    : Categories_(categories), Reviews_(reviews), Compare_(compare), Runner_(runner) {}

std::vector<THomeCategory> THistoryHomeSource::Categories() {
  std::vector<THomeCategory> out;
  if (!Categories_) return out;
  for (size_t i = 0; i < Categories_->Count(); ++i) {
    const TCategoryItem& item = Categories_->Items(i);
    out.push_back({item.BaseName, item.Description()});
  }
  return out;
}

std::vector<TSearchStorageItem*> THistoryHomeSource::Searches(THomeList list) const {
  std::vector<TSearchStorageItem*> searches;
  TAppSearchHistory* history = History(list);
  if (!history || !history->Item()) return searches;
  TSearchStorageList& stored = history->Item()->GetSearches();
  for (size_t i = 0; i < stored.Count(); ++i) searches.push_back(stored.Search(i));
  std::stable_sort(
      searches.begin(), searches.end(),
      [](const TSearchStorageItem* a, const TSearchStorageItem* b) { return a->AccessDate > b->AccessDate; });
  return searches;
}

size_t THistoryHomeSource::EntryCount(THomeList list) {
  return Searches(list).size();
}

THomeEntry THistoryHomeSource::Entry(THomeList list, size_t index) {
  const std::vector<TSearchStorageItem*> searches = Searches(list);
  if (index >= searches.size()) return {};
  const TSearchStorageItem& search = *searches[index];
  THomeEntry entry{search.DisplayValue, {}};
  if (Categories_)
    if (const TCategoryItem* category = Categories_->Find(search.CatName))
      entry.Category = category->DisplayName();
  return entry;
}

bool THistoryHomeSource::CanDelete(THomeList list) {
  TAppSearchHistory* history = History(list);
  if (!history || !history->Item()) return false;
  return !Runner_ || Runner_->CurrentHistoryItem() != history->Item();
}

bool THistoryHomeSource::DeleteEntry(THomeList list, size_t index) {
  const std::vector<TSearchStorageItem*> searches = Searches(list);
  if (index >= searches.size() || !CanDelete(list)) return false;
  TAppSearchHistory& history = *History(list);
  ISearchHistoryItemIntf& item = *history.Item();
  const size_t before = item.GetSearches().Count();
  // The result page must not keep showing a search that is gone.
  if (history.CurrentSearch() == searches[index]) history.SetCurrentSearch(nullptr);
  item.BeginDelete();
  item.DeleteSearch(searches[index]);
  item.EndDelete();  // also after a failed deletion, so the list's batch is closed
  return item.GetSearches().Count() < before;
}

}  // namespace vandrel
