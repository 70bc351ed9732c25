// Registration of the typed storage classes with the stream readers.
#pragma once

namespace vandrel {

// Makes every typed item, key item, transaction list and group class known to the stream readers, so
// streams of any typed list read back. Idempotent; the typed lists call it when they are created.
void RegisterTypedStorageClasses();

}  // namespace vandrel
