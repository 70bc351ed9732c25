#include "storage/CategoryStorage.h"

#include "storage/TypedStorage.h"

namespace vandrel {

const TClassInfo& TCategoryStorageItem::StaticClass() {
  using C = TCategoryStorageItem;
  static const TClassInfo info =
      TClassBuilder<C>("TCategoryStorageItem", TVersionStorageDataItem::StaticClass())
          .String("CatName", &C::CatName)
          .String("DisplayName", &C::DisplayName)
          .String("Description", &C::Description)
          .Boolean("Enabled", &C::Enabled)
          .String("FileName", &C::FileName)
          .Integer("Priority", &C::Priority)
          .Float("LastUpdateDate", &C::LastUpdateDate)
          .Float("LastSearchDate", &C::LastSearchDate)
          .String("SrtName", &C::SrtName)
          .String("SearchFrame", &C::SearchFrame)
          .String("Language", &C::Language)
          .Integer("DefaultResultsPerEngine", &C::DefaultResultsPerEngine)
          .Integer("DefaultTotalResults", &C::DefaultTotalResults)
          .Integer("ResultsPerEngine", &C::ResultsPerEngine)
          .Integer("TotalResults", &C::TotalResults)
          .Build();
  return info;
}

void TCategoryStorageItem::Changed() {
  TStorageDataList* list = Owner();
  if (list && list->State() == lsSettingField && list->Transaction().FieldIndex == kCategorySetEnabled)
    Enabled = list->PendingValue.AsBoolean();
  TVersionStorageDataItem::Changed();
}

const TClassInfo& TCategoryStorageKeyItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TCategoryStorageKeyItem>("TCategoryStorageKeyItem", TStorageKeyItem::StaticClass())
          .String("CatName", &TCategoryStorageKeyItem::CatName)
          .Build();
  return info;
}

void TCategoryStorageKeyItem::TakeKey() {
  if (auto* item = dynamic_cast<TCategoryStorageItem*>(Item)) CatName = item->CatName;
}

const TClassInfo& TCategoryStorageTransactionList::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TCategoryStorageTransactionList>("TCategoryStorageTransactionList",
                                                     TStorageTransactionList::StaticClass())
          .Build();
  return info;
}

TCategoryStorageList::TCategoryStorageList()
    : TVersionStorageDataList((RegisterTypedStorageClasses(), TCategoryStorageTransactionList::StaticClass()),
                              nullptr, TCategoryStorageKeyItem::StaticClass(),
                              TCategoryStorageItem::StaticClass()) {}

TCategoryStorageItem* TCategoryStorageList::FindByName(const std::string& name) const {
  return FindItemNamed(*this, &TCategoryStorageItem::CatName, name);
}

}  // namespace vandrel
