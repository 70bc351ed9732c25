#include "storage/StorageFields.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <mutex>

namespace vandrel {

const TClassInfo& TStorageLayoutItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageLayoutItem>("TStorageLayoutItem", TPersistent::StaticClass())
          .Enum("Alignment", &TStorageLayoutItem::Alignment, {"taLeftJustify", "taRightJustify", "taCenter"})
          .Integer("Width", &TStorageLayoutItem::Width)
          .Boolean("Sort", &TStorageLayoutItem::Sort)
          .Enum("SortDirection", &TStorageLayoutItem::SortDirection, {"sdAscending", "sdDescending"})
          .Set("Flags", &TStorageLayoutItem::Flags,
               {"lfGraphicalDisplay", "lfSummary", "lfHidden", "lfInternal"})
          .Build();
  return info;
}

void TStorageLayoutItem::Assign(const TStorageLayoutItem& source) {
  Alignment = source.Alignment;
  Width = source.Width;
  Sort = source.Sort;
  SortDirection = source.SortDirection;
  Flags = source.Flags;
}

const TClassInfo& TStorageFieldDefinitionLayoutItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageFieldDefinitionLayoutItem>("TStorageFieldDefinitionLayoutItem",
                                                       TStorageFieldDefinitionItem::StaticClass())
          .Object("Layout", &TStorageFieldDefinitionLayoutItem::Layout)
          .Build();
  return info;
}

const TClassInfo& TStorageFieldDefinitionLayoutList::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TStorageFieldDefinitionLayoutList";
    i.Parent = &TStorageFieldDefinitionList::StaticClass();
    return i;
  }();
  return info;
}

TStorageFieldDefinitionLayoutItem* TStorageFieldDefinitionLayoutList::AddLayout(const std::string& name,
                                                                                TStorageFieldType type) {
  auto* item = static_cast<TStorageFieldDefinitionLayoutItem*>(Add());
  item->Name = name;
  item->FieldType = type;
  return item;
}

const TClassInfo& TStorageDataFieldItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageDataFieldItem>("TStorageDataFieldItem", TStorageDataItem::StaticClass())
          .Object("Fields", [](TStorageDataFieldItem& item) -> TPersistent* { return item.GetFields(); })
          .Build();
  return info;
}

// ---- grouping by field value ----

const TClassInfo& TStorageDataFieldGroupDefinition::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageDataFieldGroupDefinition>("TStorageDataFieldGroupDefinition",
                                                      TStorageDataGroupDefinition::StaticClass())
          .String("GroupField", &TStorageDataFieldGroupDefinition::GroupField)
          .Build();
  return info;
}

void TStorageDataFieldGroupDefinition::PrepareCompare() {
  Positions_.Reset(Manager ? Manager->Count() : 0);
  TStorageDataListView* view = Manager ? Manager->View : nullptr;
  if (!view) return;
  // Only the groups' first items are ever asked for: a thousand entries rather than every visible item.
  for (size_t i = 0; i < Manager->Count(); ++i)
    if (const TStorageDataGroupItem* group = Manager->Group(i); group && !group->Items.empty())
      Positions_.Insert(group->Items.front(), kNoPosition);
  for (size_t i = 0; i < view->Count(); ++i)
    if (uint32_t* at = Positions_.Find(view->Item(i)); at && *at == kNoPosition)
      *at = static_cast<uint32_t>(i);
}

int TStorageDataFieldGroupDefinition::FirstPosition(const TStorageDataGroupItem& group) const {
  if (group.Items.empty()) return -1;
  if (const uint32_t* at = Positions_.Find(group.Items.front()); at && *at != kNoPosition)
    return static_cast<int>(*at);
  // First items the view did not show when the positions were taken are looked up as before.
  TStorageDataListView* view = Manager ? Manager->View : nullptr;
  return view ? view->IndexOf(group.Items.front()) : -1;
}

int TStorageDataFieldGroupDefinition::Compare(const TStorageDataGroupItem& a,
                                              const TStorageDataGroupItem& b) const {
  int pa = FirstPosition(a), pb = FirstPosition(b);
  return pa < pb ? -1 : (pa > pb ? 1 : 0);
}

bool TStorageDataFieldGroupDefinition::OrderKey(const TStorageDataGroupItem& group, int64_t& key) const {
  key = FirstPosition(group);
  return true;
}

namespace {

// The index key of a value that groups compare by value equality; false when equality cannot be keyed.
bool ExactKey(const TDynamicValue& value, std::string& key) {
  key.assign(1, static_cast<char>(value.Kind()));
  switch (value.Kind()) {
    case TDynamicValue::TKind::Empty:
      return true;
    case TDynamicValue::TKind::Boolean:
      key += value.AsBoolean() ? '1' : '0';
      return true;
    case TDynamicValue::TKind::Integer:
      key += std::to_string(value.AsInteger());
      return true;
    case TDynamicValue::TKind::Double: {
      double d = value.AsDouble();
      if (std::isnan(d)) return false;  // equal to nothing
      if (d == 0) d = 0;                // -0 equals 0
      char bytes[sizeof d];
      std::memcpy(bytes, &d, sizeof d);
      key.append(bytes, sizeof d);
      return true;
    }
    case TDynamicValue::TKind::String:
      key += *value.StringPtr();
      return true;
  }
  return false;
}

std::string FoldedKey(const std::string& text) {
  std::string key = text;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

}  // namespace

bool TStorageDataFieldGroupDefinition::Indexable(const TStorageDataGroupItem& group) const {
  return &group.ClassType() == &TStorageDataFieldGroupItem::StaticClass();
}

bool TStorageDataFieldGroupDefinition::AddToIndex(const TStorageDataGroupItem& group, int position) {
  if (!Indexable(group)) return false;
  const TDynamicValue& value = static_cast<const TStorageDataFieldGroupItem&>(group).Value;
  Index_.LastOfKind[static_cast<int>(value.Kind())] = position;
  std::string key;
  if (ExactKey(value, key)) Index_.Exact[key] = position;
  if (const std::string* text = value.StringPtr()) Index_.Folded[FoldedKey(*text)] = position;
  return true;
}

void TStorageDataFieldGroupDefinition::RebuildIndex() {
  Index_ = TGroupIndex();
  if (!Manager) return;
  for (size_t i = 0; i < Manager->Count(); ++i) {
    const TStorageDataGroupItem* group = Manager->Group(i);
    if (!group || !AddToIndex(*group, static_cast<int>(i))) {
      Index_ = TGroupIndex();
      return;
    }
  }
  Index_.Count = Manager->Count();
  Index_.Valid = true;
}

void TStorageDataFieldGroupDefinition::GroupAppended(TStorageDataGroupItem& group) {
  if (!Index_.Valid) return;
  if (!Manager || Manager->Count() != Index_.Count + 1 ||
      !AddToIndex(group, static_cast<int>(Index_.Count))) {
    Index_.Valid = false;
    return;
  }
  ++Index_.Count;
}

int TStorageDataFieldGroupDefinition::FindAcceptingGroup(const TStorageDataItem& item) {
  if (!Manager) return kAskEveryGroup;
  if (!Index_.Valid || Index_.Count != Manager->Count()) RebuildIndex();
  if (!Index_.Valid) return kAskEveryGroup;
  const auto* fieldItem = dynamic_cast<const TStorageDataFieldItem*>(&item);
  const TStorageFieldItem* field = fieldItem ? fieldItem->FindField(GroupField) : nullptr;
  // Every group takes an item without the field, or one whose value is of another kind than the group's.
  if (!field) return static_cast<int>(Index_.Count) - 1;
  const TDynamicValue& value = field->Value();
  const int kind = static_cast<int>(value.Kind());
  int best = -1;
  for (int k = 0; k < 5; ++k)
    if (k != kind) best = std::max(best, Index_.LastOfKind[k]);
  const std::string* text = value.StringPtr();
  std::string key;
  const std::unordered_map<std::string, int>* map = &Index_.Exact;
  if (text && !ExactMatch(*field)) {
    key = FoldedKey(*text);
    map = &Index_.Folded;
  } else if (!ExactKey(value, key)) {
    return best;
  }
  auto it = map->find(key);
  if (it != map->end()) best = std::max(best, it->second);
  return best;
}

const TClassInfo& TStorageDataFieldGroupItem::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStorageDataFieldGroupItem>(
                                     "TStorageDataFieldGroupItem", TStorageDataGroupItem::StaticClass())
                                     .Variant("Value", &TStorageDataFieldGroupItem::Value)
                                     .Build();
  return info;
}

const std::string& TStorageDataFieldGroupItem::GroupField() const {
  static const std::string none;
  const auto* definition =
      Manager ? dynamic_cast<const TStorageDataFieldGroupDefinition*>(Manager->Definition()) : nullptr;
  return definition ? definition->GroupField : none;
}

bool TStorageDataFieldGroupItem::SameValue(const TDynamicValue& a, const TDynamicValue& b) const {
  if (a.Kind() == TDynamicValue::TKind::String) return SameName(a.AsString(), b.AsString());
  return a == b;
}

bool TStorageDataFieldGroupItem::Accepts(const TStorageDataItem& item) const {
  const auto* fieldItem = dynamic_cast<const TStorageDataFieldItem*>(&item);
  const TStorageFieldItem* field = fieldItem ? fieldItem->FindField(GroupField()) : nullptr;
  if (!field) return true;
  if (field->Value().Kind() != Value.Kind()) return true;
  return SameValue(field->Value(), Value);
}

void TStorageDataFieldGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataGroupItem::Initialize(manager, firstItem);
  auto* fieldItem = dynamic_cast<TStorageDataFieldItem*>(&firstItem);
  const TStorageFieldItem* field = fieldItem ? fieldItem->FindField(GroupField()) : nullptr;
  Value = field ? field->Value() : TDynamicValue();
}

void RegisterStorageFieldClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterStorageClasses();
    RegisterClass(TStorageDataFieldItem::StaticClass());
    RegisterGroupDefinition(TStorageDataFieldGroupDefinition::StaticClass(),
                            TStorageDataFieldGroupItem::StaticClass());
  });
}

}  // namespace vandrel
