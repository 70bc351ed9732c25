// The home page's lists taken from the program's own category list and the two application histories.
#pragma once

#include <functional>
#include <vector>

#include "presentation/HomePageBridge.h"

namespace vandrel {

class TAppSearchHistory;
class TCategoryList;
class TQuorinApplication;
class TSearchStorageItem;

// Reads the lists each time the page asks, so it never holds a search that was deleted meanwhile. None of
// the objects is owned; each may be null (an empty list). Main thread only.
class THistoryHomeSource : public IHomePageSource {
 public:
  THistoryHomeSource(TCategoryList* categories, TAppSearchHistory* reviews, TAppSearchHistory* compare,
                     const TQuorinApplication* runner);

  std::vector<THomeCategory> Categories() override;
  size_t EntryCount(THomeList list) override;
  THomeEntry Entry(THomeList list, size_t index) override;
  bool CanDelete(THomeList list) override;
  bool DeleteEntry(THomeList list, size_t index) override;

  // The list's stored searches, newest access first (the order the result frames' selectors show).
  std::vector<TSearchStorageItem*> Searches(THomeList list) const;

 private:
  TAppSearchHistory* History(THomeList list) const {
    return list == THomeList::hlReviews ? Reviews_ : Compare_;
  }

  TCategoryList* Categories_;
  TAppSearchHistory* Reviews_;
  TAppSearchHistory* Compare_;
  const TQuorinApplication* Runner_;
};

}  // namespace vandrel
