// Feeds arbitrary bytes to the property stream readers: any input must end in a value or an EReadError.
#include <cstddef>
#include <cstdint>

#include "storage/PersistentLists.h"
#include "storage/StorageDataLists.h"
#include "storage/StorageDataViews.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vandrel;
  RegisterStorageClasses();
  std::span<const uint8_t> bytes(data, size);
  try {
    TStorageTransactionList transaction;
    ReadObjectStream(bytes, transaction);
  } catch (const EReadError&) {
  }
  try {
    TStorageDataFilterManagerList filters;
    ReadObjectStream(bytes, filters);
  } catch (const EReadError&) {
  }
  try {
    TStorageDataGroupManagerList groups;
    ReadObjectStream(bytes, groups);
  } catch (const EReadError&) {
  }
  try {
    TPropertyReader reader(bytes);
    while (reader.Remaining() > 0) reader.SkipValue();
  } catch (const EReadError&) {
  }
  return 0;
}
