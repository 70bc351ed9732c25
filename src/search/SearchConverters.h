// Converters between stored items (searches, results, definitions) and the script objects a search runs
// with.
#pragma once

#include <stdexcept>
#include <string>

#include "storage/DynamicValue.h"

namespace vandrel {

class TBaseEvalItem;
class TCategoryReader;
class TCategoryStorageItem;
class TEngineReader;
class TEngineResultList;
class TEngineStorageItem;
class TMasterResult;
class TResultRecord;
class TResultStorageItem;
class TSearchStorageItem;
class TSearchTypeInstance;
class TSearchTypeStorageItem;

// Every converter failure, with the converter's own message around the cause.
class ESearchConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Stored search -> instance: each stored value into the input field of the same name; the stored view
// becomes the search type's current one when the type has it.
void Convert(TSearchTypeInstance& dest, const TSearchStorageItem& source);
// Instance -> stored search type: names, form, unique key, sort keys, input and output definitions.
void Convert(TSearchTypeStorageItem& dest, TSearchTypeInstance& source);
// Stored result -> record: each stored value into the record field of the same name.
void Convert(TResultRecord& dest, const TResultStorageItem& source);
// Record -> stored result: each record field into the stored field of the same name; prices as money
// strings, a price without a currency in the record's (else the axis) currency.
void Convert(TResultStorageItem& dest, TResultRecord& source);
// Master -> stored result: the representative's fields, the occurrences and the engines that found it.
void Convert(TResultStorageItem& dest, TMasterResult& source, const TEngineResultList& engines);

// A script value as a stored field keeps it; prices become money strings.
TDynamicValue StoredValueOf(const TBaseEvalItem& value, const std::string& defaultMoneyCode = {});
// Sets a script value from a stored one, following the value's own data type.
void AssignStoredValue(TBaseEvalItem& dest, const TDynamicValue& value);

}  // namespace vandrel
