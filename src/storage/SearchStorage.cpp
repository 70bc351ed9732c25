#include "storage/SearchStorage.h"

#include "storage/TypedStorage.h"

namespace vandrel {

const TClassInfo& TSearchStorageItem::StaticClass() {
  using C = TSearchStorageItem;
  static const TClassInfo info = TClassBuilder<C>("TSearchStorageItem", TStorageDataFieldItem::StaticClass())
                                     .String("CatName", &C::CatName)
                                     .String("SrtName", &C::SrtName)
                                     .Float("CreationDate", &C::CreationDate)
                                     .Float("UpdateDate", &C::UpdateDate)
                                     .Float("AccessDate", &C::AccessDate)
                                     .Integer("ResultsPerEngine", &C::ResultsPerEngine)
                                     .Integer("TotalResults", &C::TotalResults)
                                     .String("Notes", &C::Notes)
                                     .Integer("MatchCount", &C::MatchCount)
                                     .Boolean("Flagged", &C::Flagged)
                                     .String("RefineString", &C::RefineString)
                                     .Boolean("RefineWholeWords", &C::RefineWholeWords)
                                     .Boolean("RefineCaseSensitive", &C::RefineCaseSensitive)
                                     .String("DisplayValue", &C::DisplayValue)
                                     .Object("Engines", &C::Engines)
                                     .Object("FieldDefinitions", &C::FieldDefinitions)
                                     .Object("Flags", &C::Flags)
                                     .String("View", &C::View)
                                     .Build();
  return info;
}

void TSearchStorageItem::Changed() {
  TStorageDataList* list = Owner();
  if (list && list->State() == lsSettingField && list->Transaction().FieldIndex == kSearchSetFlagged)
    Flagged = list->PendingValue.AsBoolean();
  TStorageDataFieldItem::Changed();
}

const TClassInfo& TSearchStorageTransactionList::StaticClass() {
  static const TClassInfo info = TClassBuilder<TSearchStorageTransactionList>(
                                     "TSearchStorageTransactionList", TStorageTransactionList::StaticClass())
                                     .Build();
  return info;
}

TSearchStorageList::TSearchStorageList()
    : TStorageDataList(
          (RegisterTypedStorageClasses(), TSearchStorageTransactionList::StaticClass()),
          [](TStorageDataList& list, const std::string& name) -> std::unique_ptr<TStorageDataListView> {
            return std::make_unique<TSearchStorageListView>(list, name);
          },
          TDefaultKeyItem::StaticClass(), TSearchStorageItem::StaticClass()) {}

TSearchStorageItem* TSearchStorageList::ItemByKey(int32_t key) const {
  for (size_t i = 0; i < Count(); ++i)
    if (Search(i)->Index() == key) return Search(i);
  return nullptr;
}

}  // namespace vandrel
