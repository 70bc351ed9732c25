// Stored searches of a search history: the form's input values, limits, engines and the user's marks.
#pragma once

#include <string>

#include "storage/StorageFields.h"

namespace vandrel {

class TSearchStorageItem : public TStorageDataFieldItem {
  VANDREL_PERSISTENT(TSearchStorageItem)
 public:
  std::string CatName;
  std::string SrtName;
  double CreationDate = 0;  // date-times
  double UpdateDate = 0;
  double AccessDate = 0;
  int32_t ResultsPerEngine = 0;
  int32_t TotalResults = 0;
  std::string Notes;
  int32_t MatchCount = 0;
  bool Flagged = false;
  std::string RefineString;
  bool RefineWholeWords = false;
  bool RefineCaseSensitive = false;
  std::string DisplayValue;  // shown for the search in the history
  TStrings Engines;
  TStorageFieldDefinitionList FieldDefinitions;  // definitions of the input values in Fields
  TStrings Flags;
  std::string View;  // name of the result view used

  // Inside an lsSettingField transaction the pending value lands in memory before the change is reported.
  void Changed() override;
};

class TSearchStorageTransactionList : public TStorageTransactionList {
  VANDREL_PERSISTENT(TSearchStorageTransactionList)
};

class TSearchStorageListView : public TStorageDataFieldListView {
 public:
  using TStorageDataFieldListView::TStorageDataFieldListView;
};

// Field indexes of the search list's transactions.
constexpr int kSearchUpdateMatchCount = 1;  // lsUpdating: MatchCount only
constexpr int kSearchUpdateAccessDate = 2;  // lsUpdating: AccessDate only
constexpr int kSearchSetFlagged = 1;        // lsSettingField: Flagged

class TSearchStorageList : public TStorageDataList {
 public:
  TSearchStorageList();

  TSearchStorageItem* NewSearch() { return static_cast<TSearchStorageItem*>(NewItem()); }
  TSearchStorageItem* Search(size_t index) const { return static_cast<TSearchStorageItem*>(Item(index)); }
  // The search whose Index (search number) is `key`, or null.
  TSearchStorageItem* ItemByKey(int32_t key) const;
  TSearchStorageListView* FindSearchView(const std::string& name) const {
    return static_cast<TSearchStorageListView*>(FindView(name));
  }
  TSearchStorageListView* GetSearchView(const std::string& name) {
    return static_cast<TSearchStorageListView*>(GetView(name));
  }
};

}  // namespace vandrel
