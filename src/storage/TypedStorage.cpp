#include "storage/TypedStorage.h"

#include <mutex>

#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

void RegisterTypedStorageClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterStorageFieldClasses();
    // Every typed list's stream must read back in its back end, so all of them are known by name.
    for (const TClassInfo* c : {
             &TSearchTypeStorageItem::StaticClass(),
             &TSearchTypeStorageKeyItem::StaticClass(),
             &TSearchTypeStorageTransactionList::StaticClass(),
             &TCategoryStorageItem::StaticClass(),
             &TCategoryStorageKeyItem::StaticClass(),
             &TCategoryStorageTransactionList::StaticClass(),
             &TEngineStorageItem::StaticClass(),
             &TEngineStorageKeyItem::StaticClass(),
             &TEngineStorageTransactionList::StaticClass(),
             &TSearchStorageItem::StaticClass(),
             &TSearchStorageTransactionList::StaticClass(),
             &TResultStorageItem::StaticClass(),
             &TResultStorageTransactionList::StaticClass(),
         })
      RegisterClass(*c);
    RegisterGroupDefinition(TResultStorageGroupDefinition::StaticClass(),
                            TResultStorageGroupItem::StaticClass());
  });
}

}  // namespace vandrel
