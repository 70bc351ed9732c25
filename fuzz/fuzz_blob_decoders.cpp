// Feeds arbitrary bytes to the blob decoders of the search, result and search-type tables: any input must
// decode or be refused, never read past its end.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "storage/BlobCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vandrel;
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::string error;

  TStorageFieldDefinitionList inputDefs;
  TStorageFieldList inputFields;
  if (DecodeSearchValues(all, inputDefs, inputFields, error)) {
    // What was read must write again.
    (void)EncodeSearchValues(inputDefs, inputFields);
  }

  storage::TSortKeyList keys;
  (void)DecodeSortKeys(all, keys, error);

  // The result blob is laid out by definitions the blob does not hold: the first byte picks their types.
  if (size == 0) return 0;
  TStorageFieldDefinitionList outputDefs;
  uint8_t shape = data[0];
  for (int i = 0; i < (shape & 7); ++i) {
    auto* d = static_cast<TStorageFieldDefinitionItem*>(outputDefs.Add());
    d->Name = "F" + std::to_string(i);
    d->FieldType = static_cast<TStorageFieldType>(((shape >> 3) + i) % 5);
  }
  std::vector<TBlobFieldValue> values;
  if (DecodeResultValues(all.substr(1), outputDefs, values, error))
    (void)EncodeResultValues(outputDefs, values);
  return 0;
}
