// The currency table: definitions in table order and their loading from the currency data script.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vandrel {

// One currency: its rate against the axis currency and how its amounts are written.
struct TCurrencyDefinitionItem {
  std::string Code;
  float ExchangeRate = 1.0f;  // units of this currency per one unit of the axis currency; always > 0
  std::string DisplayName;
  std::string CurrencyString;  // the symbol, e.g. "$"
  // ORDER: stored in the data scripts. 0 symbol first, 1 symbol after, 2 first with a space, 3 after with
  // one.
  uint8_t CurrencyFormat = 0;
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  uint8_t CurrencyDecimals = 2;
};

class TCurrencyDefinitionList {
 public:
  void Clear() { Items_.clear(); }
  // Ignores a definition whose rate is not a positive finite number: such a currency stays undefined.
  bool Add(TCurrencyDefinitionItem item);
  // Exact code, letter case counting.
  const TCurrencyDefinitionItem* Find(std::string_view code) const;
  size_t Count() const { return Items_.size(); }
  const TCurrencyDefinitionItem& operator[](size_t i) const { return Items_[i]; }
  // The table used whenever the data script cannot be read.
  void SetDefaultTable();

 private:
  std::vector<TCurrencyDefinitionItem> Items_;
};

// One field of a collection record as the script hands it over.
struct TCurrencyScriptField {
  bool IsText = false;
  double Number = 0;
  std::string Text;
};

// One record of the script's "Currencies" collection, keyed by the currency code.
struct TCurrencyScriptRecord {
  std::string Key;
  std::map<std::string, TCurrencyScriptField> Fields;  // lower-case field names
};

// What the table loader needs of a compiled data script; the script language supplies the adapter.
class ICurrencyTableScript {
 public:
  virtual ~ICurrencyTableScript() = default;
  // Loads, compiles and initialises the compiled script file; false on any failure.
  virtual bool Load(const std::string& path) = 0;
  virtual bool SetStringVariable(const std::string& name, const std::string& value) = 0;
  virtual bool GetStringVariable(const std::string& name, std::string& value) = 0;
  virtual bool ExecuteProcedure(const std::string& name) = 0;
  // The records of a collection variable in collection order; false when there is no such collection.
  virtual bool GetCollection(const std::string& name, std::vector<TCurrencyScriptRecord>& records) = 0;
};

// Runs "currencies.ccs" from `dataFolder` and fills `list`; `axisCode` goes in and comes back from the
// script. Any failure leaves the one-definition USD table and the axis code unchanged. `script` may be
// null (no script language available), which also gives the USD table.
bool LoadCurrencyTable(ICurrencyTableScript* script, const std::string& dataFolder, std::string& axisCode,
                       TCurrencyDefinitionList& list);

}  // namespace vandrel
