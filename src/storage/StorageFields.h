// Records that carry field values, column layouts, and grouping a view by one field's value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "storage/StorageDataLists.h"
#include "storage/StorageDataViews.h"

namespace vandrel {

// ORDER: the enumerations and flag sets of a layout are stored by name; keep the names and their order.
enum class TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
enum class TStorageLayoutSortDirection : uint8_t { sdAscending, sdDescending };
// Bits of TStorageLayoutItem::Flags.
enum TStorageLayoutFlag : uint8_t {
  lfGraphicalDisplay = 1 << 0,
  lfSummary = 1 << 1,
  lfHidden = 1 << 2,
  lfInternal = 1 << 3,
};

// How one result column is shown; streamed as the nested properties "Layout.*" of its layout item.
class TStorageLayoutItem : public TPersistent {
  VANDREL_PERSISTENT(TStorageLayoutItem)
 public:
  TAlignment Alignment = TAlignment::taLeftJustify;
  int32_t Width = 0;
  bool Sort = false;  // this column is the sort column
  TStorageLayoutSortDirection SortDirection = TStorageLayoutSortDirection::sdAscending;
  uint8_t Flags = 0;  // TStorageLayoutFlag bits

  void Assign(const TStorageLayoutItem& source);
};

// A field definition with the user's column layout.
class TStorageFieldDefinitionLayoutItem : public TStorageFieldDefinitionItem {
  VANDREL_PERSISTENT(TStorageFieldDefinitionLayoutItem)
 public:
  TStorageLayoutItem Layout;
};

class TStorageFieldDefinitionLayoutList : public TStorageFieldDefinitionList {
  VANDREL_PERSISTENT(TStorageFieldDefinitionLayoutList)
 public:
  TStorageFieldDefinitionLayoutList()
      : TStorageFieldDefinitionList(TStorageFieldDefinitionLayoutItem::StaticClass()) {}
  TStorageFieldDefinitionLayoutItem* LayoutItem(size_t i) const {
    return static_cast<TStorageFieldDefinitionLayoutItem*>(Item(i));
  }
  TStorageFieldDefinitionLayoutItem* AddLayout(const std::string& name, TStorageFieldType type);
};

// A record whose values are matched to field definitions by position: value i belongs to definition i.
class TStorageDataFieldItem : public TStorageDataItem {
  VANDREL_PERSISTENT(TStorageDataFieldItem)
 public:
  TStorageDataFieldItem() : TStorageDataFieldItem(std::make_unique<TStorageFieldList>()) {}
  virtual TStorageFieldList* GetFields() const { return Fields_.get(); }
  // The field of that name (letter case ignored), or null.
  TStorageFieldItem* FindField(std::string_view name) const { return GetFields()->Find(name); }

 protected:
  explicit TStorageDataFieldItem(std::unique_ptr<TStorageFieldList> fields) : Fields_(std::move(fields)) {}

 private:
  std::unique_ptr<TStorageFieldList> Fields_;
};

// The view class of lists whose items carry fields.
class TStorageDataFieldListView : public TStorageDataListView {
 public:
  using TStorageDataListView::TStorageDataListView;
};

// Groups the items of a view by the value of the field named GroupField.
class TStorageDataFieldGroupDefinition : public TStorageDataGroupDefinition {
  VANDREL_PERSISTENT(TStorageDataFieldGroupDefinition)
 public:
  std::string GroupField;
  // Groups follow the view order of their first items: after a sort, the best-placed member leads.
  int Compare(const TStorageDataGroupItem& a, const TStorageDataGroupItem& b) const override;
  void PrepareCompare() override;
  bool OrderKey(const TStorageDataGroupItem& group, int64_t& key) const override;

  int FindAcceptingGroup(const TStorageDataItem& item) override;
  void GroupsInvalidated() override { Index_.Valid = false; }
  void GroupAppended(TStorageDataGroupItem& group) override;

  // Whether groups compare this field's text byte for byte rather than ignoring letter case.
  virtual bool ExactMatch(const TStorageFieldItem& field) const { return false; }

 protected:
  // Group classes whose acceptance the index reproduces.
  virtual bool Indexable(const TStorageDataGroupItem& group) const;

 private:
  // Where the groups of each value are, so placing an item need not ask a thousand groups.
  struct TGroupIndex {
    bool Valid = false;
    size_t Count = 0;                             // groups indexed, positions 0..Count-1
    std::unordered_map<std::string, int> Folded;  // texts ignoring letter case -> last position
    std::unordered_map<std::string, int> Exact;   // kind byte + exact value -> last position
    int LastOfKind[5] = {-1, -1, -1, -1, -1};     // last position of a group per value kind
  };
  int FirstPosition(const TStorageDataGroupItem& group) const;
  void RebuildIndex();
  bool AddToIndex(const TStorageDataGroupItem& group, int position);

  static constexpr uint32_t kNoPosition = UINT32_MAX;
  TItemIndex Positions_;  // visible index of each group's first item, per sort
  TGroupIndex Index_;
};

// One group of items that share a field value.
class TStorageDataFieldGroupItem : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TStorageDataFieldGroupItem)
 public:
  TDynamicValue Value;  // copied from the first item's field when the group is made

  std::string GetCaption() const override { return Value.AsString(); }
  // Items without the field, or whose value is of another kind, are accepted too: they join the last group.
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;

 protected:
  const std::string& GroupField() const;
  // Texts compare ignoring letter case, other kinds by value.
  virtual bool SameValue(const TDynamicValue& a, const TDynamicValue& b) const;
};

// Makes the field records, layouts and field groups known to the stream readers. Idempotent.
void RegisterStorageFieldClasses();

}  // namespace vandrel
