// Stored results of one search: their fields with money handling, the result view sort and result groups.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "storage/SearchTypeStorage.h"
#include "storage/StorageFields.h"

namespace vandrel {

class TResultStorageItem;

// ORDER: stored by member name; bit i is the i-th name.
enum TResultStorageItemFilterState : uint8_t {
  rfsDeleted = 1 << 0,   // removed by the user
  rfsOutdated = 1 << 1,  // not found again by a refresh of the search
  rfsRemains = 1 << 2,   // kept by a refresh that did not check it
};

// A result field. Money fields (by the output definition at the same position) keep canonical money strings
// in the current target currency and show the formatted price.
class TResultStorageFieldItem : public TStorageFieldItem {
  VANDREL_PERSISTENT(TResultStorageFieldItem)
 public:
  const std::string& DisplayValue() const { return DisplayValue_; }
  void SetValue(const TDynamicValue& value) override;
  void SetDisplayValue(const std::string& text);

  TResultStorageItem* Owner() const;
  // The output definition at this field's position, when the owning list knows its definitions.
  const TSearchTypeStorageOutputFieldDefinitionItem* Definition() const;
  bool IsMoney() const;

 private:
  std::string DisplayValue_;
};

class TResultStorageFieldList : public TStorageFieldList {
  VANDREL_PERSISTENT(TResultStorageFieldList)
 public:
  explicit TResultStorageFieldList(TResultStorageItem* owner = nullptr)
      : TStorageFieldList(TResultStorageFieldItem::StaticClass()), Owner(owner) {}
  TResultStorageFieldItem* ResultField(size_t i) const {
    return static_cast<TResultStorageFieldItem*>(Item(i));
  }
  TResultStorageFieldItem* FindResultField(std::string_view name) const {
    return static_cast<TResultStorageFieldItem*>(Find(name));
  }
  TResultStorageFieldItem* AddResultField(const std::string& name, const TDynamicValue& value,
                                          const std::string& displayValue = {});

  TResultStorageItem* Owner;  // the result the fields belong to; not owned
};

class TResultStorageItem : public TStorageDataFieldItem {
  VANDREL_PERSISTENT(TResultStorageItem)
 public:
  TResultStorageItem();

  double Date = 0;  // date-time found
  int32_t Occurences = 0;
  TStrings FoundBy;         // names of the engines that found it
  uint8_t FilterState = 0;  // TResultStorageItemFilterState bits
  bool New = false;
  bool Checked = false;
  int32_t UserState = 0;
  bool Visited = false;
  double VisitedDate = 0;
  bool Validated = false;
  bool Valid = false;
  bool Skipped = false;
  bool IsHtml = false;
  bool Refined = false;
  bool Downloaded = false;  // a local copy of the page exists
  std::string FileName;

  TResultStorageFieldList* ResultFields() const { return static_cast<TResultStorageFieldList*>(GetFields()); }
  bool HasFilterState(TResultStorageItemFilterState state) const { return (FilterState & state) != 0; }

  // Inside an lsSettingField transaction the pending value lands in memory before the change is reported.
  void Changed() override;
  // Stored prices are converted and formatted again with the current table and target currency.
  void Loaded() override;
};

class TResultStorageTransactionList : public TStorageTransactionList {
  VANDREL_PERSISTENT(TResultStorageTransactionList)
 public:
  int32_t SrhNum = -1;  // the search whose results are loaded, replaced or deleted
  TSearchTypeStorageOutputFieldDefinitionList OutputFieldDefinitions;  // give each field's type
};

// Compares two results for a result view sort: the column's field, then the search type's sort keys (or
// the keys first). Negative when a sorts before b.
class TResultStorageCompare {
 public:
  TResultStorageCompare(const TSearchTypeStorageOutputFieldDefinitionList& definitions,
                        const std::string& fieldName, bool ascending, const storage::TSortKeyList* sortKeys,
                        bool sortKeysFirst);
  int operator()(TStorageDataItem* a, TStorageDataItem* b) const;
  // Reads every value the comparison needs from `items` once, so a full sort compares plain values.
  void Prepare(const std::vector<TStorageDataItem*>& items);
  // A stable sort of `items` by this comparison, on the values Prepare read; items it did not read are
  // compared one pair at a time.
  void SortPrepared(std::vector<TStorageDataItem*>& items) const;

  // A price's value in the axis currency, or a negative value when there is no price.
  static double AxisValue(const std::string& moneyString);

 private:
  struct TResolved {
    int Index;  // into the output definitions; -1 when the name has no definition
    TStorageFieldType Type;
    TSortKeySortDirection Direction;
  };
  // One item's value on one definition: a number (money in the axis currency) or a text, seen where it is
  // held: reading ten thousand titles for a sort must not copy each.
  struct TKeyValue {
    double Number = 0;
    std::string_view Text;
  };
  struct TTable;  // the values of each prepared item, and where each item's row is
  // A text the field does not hold as such (a number in a text column) is made in `made`.
  TKeyValue Extract(const TResolved& on, TStorageDataItem* item, std::string& made) const;
  int CompareValues(const TResolved& on, const TKeyValue& a, const TKeyValue& b) const;
  int CompareRows(const TKeyValue* a, const TKeyValue* b) const;
  // Column, keys and direction around `compareOn` (definition, slot: 0 the column, 1.. the keys).
  template <class F>
  int Combine(F&& compareOn) const;

  TResolved Column_;
  TStorageLayoutSortDirection ColumnDirection_;
  std::vector<TResolved> Keys_;
  bool Ascending_;
  bool SortKeysFirst_;
  // Values read by Prepare; shared by the copies a sort makes of the comparison.
  std::shared_ptr<TTable> Table_;
};

class TResultStorageListView : public TStorageDataFieldListView {
 public:
  using TStorageDataFieldListView::TStorageDataFieldListView;
  // Sorts the view by a column, or repositions only `changed` when given.
  void SortResults(const std::string& fieldName, bool ascending, const storage::TSortKeyList* sortKeys,
                   bool sortKeysFirst, TStorageDataItem* changed = nullptr);
};

class TResultStorageGroupDefinition : public TStorageDataFieldGroupDefinition {
  VANDREL_PERSISTENT(TResultStorageGroupDefinition)
 public:
  // Money strings are binary: folding letter case could merge two different prices.
  bool ExactMatch(const TStorageFieldItem& field) const override;

 protected:
  bool Indexable(const TStorageDataGroupItem& group) const override;
};

class TResultStorageGroupItem : public TStorageDataFieldGroupItem {
  VANDREL_PERSISTENT(TResultStorageGroupItem)
 public:
  std::string DisplayName;  // taken from the first item: its formatted price or its display value, else "n/a"

  std::string GetCaption() const override;
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;
};

// Field indexes of the result list's transactions.
constexpr int kResultUpdateVisited = 1;  // lsUpdating: Visited and VisitedDate
constexpr int kResultUpdateState = 2;    // lsUpdating: the state flags and FileName
constexpr int kResultSetDeleted = 1;     // lsSettingField: rfsDeleted in FilterState
constexpr int kResultSetChecked = 2;     // lsSettingField: Checked

class TResultStorageList : public TStorageDataList {
 public:
  TResultStorageList();

  TResultStorageItem* NewResult() { return static_cast<TResultStorageItem*>(NewItem()); }
  TResultStorageItem* Result(size_t index) const { return static_cast<TResultStorageItem*>(Item(index)); }
  TResultStorageItem* ItemByKey(int32_t key) const;
  TResultStorageListView* FindResultView(const std::string& name) const {
    return static_cast<TResultStorageListView*>(FindView(name));
  }
  TResultStorageListView* GetResultView(const std::string& name) {
    return static_cast<TResultStorageListView*>(GetView(name));
  }

  TResultStorageTransactionList& ResultTransaction() {
    return static_cast<TResultStorageTransactionList&>(Transaction());
  }
  int32_t SrhNum() { return ResultTransaction().SrhNum; }
  void SetSrhNum(int32_t srhNum) { ResultTransaction().SrhNum = srhNum; }
  TSearchTypeStorageOutputFieldDefinitionList& OutputFieldDefinitions() {
    return ResultTransaction().OutputFieldDefinitions;
  }
  // Selects the search and loads its results.
  bool LoadSearch(int32_t srhNum);
};

}  // namespace vandrel
