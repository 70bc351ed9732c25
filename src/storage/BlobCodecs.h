// Byte layouts of the blobs and line-list memos kept in the search, result and search-type tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "storage/DynamicValue.h"
#include "storage/StorageDataLists.h"

namespace vandrel {

// The message a blob with a field type it does not know is refused with.
extern const char* const kInvalidFieldTypeMessage;

// One field value of a result as the result blob carries it.
struct TBlobFieldValue {
  std::string Name;
  TDynamicValue Value;
  std::string DisplayValue;
};

// A search's input values with their definitions. Only definitions that have a value are kept; money
// values are kept as their text.
std::string EncodeSearchValues(const TStorageFieldDefinitionList& definitions,
                               const TStorageFieldList& fields);
// Clears both collections first. False with `error` set on a blob that is cut short or names a type it
// does not know; what was read before stays.
bool DecodeSearchValues(std::string_view blob, TStorageFieldDefinitionList& definitions,
                        TStorageFieldList& fields, std::string& error);

// A result's field values laid out by the search type's output field definitions, which are not repeated.
std::string EncodeResultValues(const TStorageFieldDefinitionList& definitions,
                               const std::vector<TBlobFieldValue>& fields);
bool DecodeResultValues(std::string_view blob, const TStorageFieldDefinitionList& definitions,
                        std::vector<TBlobFieldValue>& fields, std::string& error);

std::string EncodeSortKeys(const storage::TSortKeyList& keys);
// Clears the list first.
bool DecodeSortKeys(std::string_view blob, storage::TSortKeyList& keys, std::string& error);

// Memo columns that hold string lists keep the lines joined with CR LF.
std::string JoinLines(const std::vector<std::string>& lines);
std::vector<std::string> SplitLines(std::string_view memo);

}  // namespace vandrel
