#include "storage/SearchTypeStorage.h"

#include "storage/TypedStorage.h"

namespace vandrel {
namespace {

template <class Item>
Item* AddField(TStorageFieldDefinitionList& list, const std::string& name, TStorageFieldType type) {
  auto* item = static_cast<Item*>(list.Add());
  item->Name = name;
  item->FieldType = type;
  return item;
}

}  // namespace

const TClassInfo& TSearchTypeStorageInputFieldDefinitionItem::StaticClass() {
  using C = TSearchTypeStorageInputFieldDefinitionItem;
  static const TClassInfo info = TClassBuilder<C>("TSearchTypeStorageInputFieldDefinitionItem",
                                                  TStorageFieldDefinitionItem::StaticClass())
                                     .Boolean("IsFormula", &C::IsFormula)
                                     .Boolean("HighlightSource", &C::HighlightSource)
                                     .Build();
  return info;
}

const TClassInfo& TSearchTypeStorageInputFieldDefinitionList::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TSearchTypeStorageInputFieldDefinitionList";
    i.Parent = &TStorageFieldDefinitionList::StaticClass();
    return i;
  }();
  return info;
}

TSearchTypeStorageInputFieldDefinitionItem* TSearchTypeStorageInputFieldDefinitionList::AddInput(
    const std::string& name, TStorageFieldType type) {
  return AddField<TSearchTypeStorageInputFieldDefinitionItem>(*this, name, type);
}

const TClassInfo& TSearchTypeStorageOutputFieldDefinitionItem::StaticClass() {
  using C = TSearchTypeStorageOutputFieldDefinitionItem;
  static const TClassInfo info = TClassBuilder<C>("TSearchTypeStorageOutputFieldDefinitionItem",
                                                  TStorageFieldDefinitionLayoutItem::StaticClass())
                                     .Boolean("BoldIfNew", &C::BoldIfNew)
                                     .Boolean("HighlightTarget", &C::HighlightTarget)
                                     .Boolean("IsUrl", &C::IsUrl)
                                     .Boolean("IsDomain", &C::IsDomain)
                                     .Build();
  return info;
}

const TClassInfo& TSearchTypeStorageOutputFieldDefinitionList::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TSearchTypeStorageOutputFieldDefinitionList";
    i.Parent = &TStorageFieldDefinitionList::StaticClass();
    return i;
  }();
  return info;
}

TSearchTypeStorageOutputFieldDefinitionItem* TSearchTypeStorageOutputFieldDefinitionList::AddOutput(
    const std::string& name, TStorageFieldType type) {
  return AddField<TSearchTypeStorageOutputFieldDefinitionItem>(*this, name, type);
}

const TClassInfo& TSearchTypeStorageItem::StaticClass() {
  using C = TSearchTypeStorageItem;
  static const TClassInfo info =
      TClassBuilder<C>("TSearchTypeStorageItem", TVersionStorageDataItem::StaticClass())
          .String("SrtName", &C::SrtName)
          .String("DisplayName", &C::DisplayName)
          .String("SearchFrame", &C::SearchFrame)
          .Object("AllowedResultOperations", &C::AllowedResultOperations)
          .Object("FilterClasses", &C::FilterClasses)
          .String("UniqueKey", &C::UniqueKey)
          .Object("InputFieldDefinitions", &C::InputFieldDefinitions)
          .Object("OutputFieldDefinitions", &C::OutputFieldDefinitions)
          .Object("SortKeys", &C::SortKeys)
          .Object("OutputFieldLayout", &C::OutputFieldLayout)
          .Build();
  return info;
}

const TClassInfo& TSearchTypeStorageKeyItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSearchTypeStorageKeyItem>("TSearchTypeStorageKeyItem", TStorageKeyItem::StaticClass())
          .String("SrtName", &TSearchTypeStorageKeyItem::SrtName)
          .Build();
  return info;
}

void TSearchTypeStorageKeyItem::TakeKey() {
  if (auto* item = dynamic_cast<TSearchTypeStorageItem*>(Item)) SrtName = item->SrtName;
}

const TClassInfo& TSearchTypeStorageTransactionList::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSearchTypeStorageTransactionList>("TSearchTypeStorageTransactionList",
                                                       TStorageTransactionList::StaticClass())
          .Object("InputFieldLayout", &TSearchTypeStorageTransactionList::InputFieldLayout)
          .Build();
  return info;
}

TSearchTypeStorageList::TSearchTypeStorageList()
    : TVersionStorageDataList(
          (RegisterTypedStorageClasses(), TSearchTypeStorageTransactionList::StaticClass()), nullptr,
          TSearchTypeStorageKeyItem::StaticClass(), TSearchTypeStorageItem::StaticClass()) {}

TSearchTypeStorageItem* TSearchTypeStorageList::FindByName(const std::string& name) const {
  return FindItemNamed(*this, &TSearchTypeStorageItem::SrtName, name);
}

}  // namespace vandrel
