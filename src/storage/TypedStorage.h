// Registration of the typed storage classes with the stream readers, and what the typed lists share.
#pragma once

#include <string>

#include "storage/StorageDataLists.h"

namespace vandrel {

// Makes every typed item, key item, transaction list and group class known to the stream readers, so
// streams of any typed list read back. Idempotent; the typed lists call it when they are created.
void RegisterTypedStorageClasses();

// The first item of a typed list whose name `field` is `name` (letter case counts), or null.
template <class Item>
Item* FindItemNamed(const TStorageDataList& list, std::string Item::*field, const std::string& name) {
  for (size_t i = 0; i < list.Count(); ++i) {
    auto* item = static_cast<Item*>(list.Item(i));
    if (item->*field == name) return item;
  }
  return nullptr;
}

}  // namespace vandrel
