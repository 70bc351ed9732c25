#include "storage/EngineStorage.h"

#include "storage/TypedStorage.h"

namespace vandrel {

const TClassInfo& TEngineStorageItem::StaticClass() {
  using C = TEngineStorageItem;
  static const TClassInfo info =
      TClassBuilder<C>("TEngineStorageItem", TVersionStorageDataItem::StaticClass())
          .String("EngName", &C::EngName)
          .String("DisplayName", &C::DisplayName)
          .String("Description", &C::Description)
          .String("HomePage", &C::HomePage)
          .Set("Flags", &C::Flags, {"efSupportsNew"})
          .String("FileName", &C::FileName)
          .Set("State", &C::State, {"esAlwaysEnabled", "esAuthorizationRequired"})
          .Integer("Priority", &C::Priority)
          .Object("SrtNames", &C::SrtNames)
          .Boolean("DefaultEnabled", &C::DefaultEnabled, true)
          .Boolean("Enabled", &C::Enabled, true)
          .String("DefaultUserName", &C::DefaultUserName)
          .String("DefaultPassword", &C::DefaultPassword)
          .String("UserName", &C::UserName)
          .String("Password", &C::Password)
          .String("SupportFormula", &C::SupportFormula)
          .Build();
  return info;
}

const TClassInfo& TEngineStorageKeyItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TEngineStorageKeyItem>("TEngineStorageKeyItem", TStorageKeyItem::StaticClass())
          .String("EngName", &TEngineStorageKeyItem::EngName)
          .Build();
  return info;
}

void TEngineStorageKeyItem::TakeKey() {
  if (auto* item = dynamic_cast<TEngineStorageItem*>(Item)) EngName = item->EngName;
}

const TClassInfo& TEngineStorageTransactionList::StaticClass() {
  static const TClassInfo info = TClassBuilder<TEngineStorageTransactionList>(
                                     "TEngineStorageTransactionList", TStorageTransactionList::StaticClass())
                                     .String("CatName", &TEngineStorageTransactionList::CatName)
                                     .Build();
  return info;
}

TEngineStorageList::TEngineStorageList()
    : TVersionStorageDataList((RegisterTypedStorageClasses(), TEngineStorageTransactionList::StaticClass()),
                              nullptr, TEngineStorageKeyItem::StaticClass(),
                              TEngineStorageItem::StaticClass()) {}

TEngineStorageItem* TEngineStorageList::FindByName(const std::string& name) const {
  return FindItemNamed(*this, &TEngineStorageItem::EngName, name);
}

std::string TEngineStorageList::DisplayNames(const std::vector<std::string>& engineNames,
                                             const std::string& separator) const {
  std::string joined;
  bool first = true;
  for (const auto& name : engineNames) {
    const TEngineStorageItem* engine = FindByName(name);
    if (!engine) continue;
    if (!first) joined += separator;
    joined += engine->DisplayName;
    first = false;
  }
  return joined;
}

}  // namespace vandrel
