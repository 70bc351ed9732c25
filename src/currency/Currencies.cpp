#include "currency/Currencies.h"

#include <charconv>
#include <cmath>

#include "platform/TextUtils.h"

namespace vandrel {

bool TCurrencyDefinitionList::Add(TCurrencyDefinitionItem item) {
  // A zero, negative or non-finite rate would turn every conversion through it into garbage.
  if (!std::isfinite(item.ExchangeRate) || item.ExchangeRate <= 0) return false;
  Items_.push_back(std::move(item));
  return true;
}

const TCurrencyDefinitionItem* TCurrencyDefinitionList::Find(std::string_view code) const {
  for (const auto& item : Items_)
    if (item.Code == code) return &item;
  return nullptr;
}

void TCurrencyDefinitionList::SetDefaultTable() {
  Items_.clear();
  TCurrencyDefinitionItem usd;
  usd.Code = "USD";
  usd.DisplayName = "USD";
  usd.CurrencyString = "$";
  Items_.push_back(usd);
}

namespace {

const TCurrencyScriptField* FieldOf(const TCurrencyScriptRecord& record, const char* name) {
  auto it = record.Fields.find(name);
  return it == record.Fields.end() ? nullptr : &it->second;
}

double NumberOf(const TCurrencyScriptRecord& record, const char* name) {
  const auto* field = FieldOf(record, name);
  if (!field) return 0;
  if (!field->IsText) return field->Number;
  // A rate is data from the update site: read with "." whatever locale the program runs under.
  std::string_view t = Trim(field->Text, kAsciiControlsAndSpace);
  double v = 0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), v);
  return res.ec == std::errc() && std::isfinite(v) ? v : 0;
}

std::string TextOf(const TCurrencyScriptRecord& record, const char* name) {
  const auto* field = FieldOf(record, name);
  if (!field) return {};
  return field->IsText ? field->Text : std::string();
}

uint8_t SmallNumberOf(const TCurrencyScriptRecord& record, const char* name) {
  double v = NumberOf(record, name);
  if (!std::isfinite(v) || v < 0) return 0;
  return v > 255 ? 255 : static_cast<uint8_t>(v);
}

}  // namespace

bool LoadCurrencyTable(ICurrencyTableScript* script, const std::string& dataFolder, std::string& axisCode,
                       TCurrencyDefinitionList& list) {
  list.Clear();
  std::string axis = axisCode;
  std::vector<TCurrencyScriptRecord> records;
  bool ok = script && script->Load(dataFolder + "/currencies.ccs") &&
            script->SetStringVariable("AxisCode", axis) && script->ExecuteProcedure("Register") &&
            script->GetStringVariable("AxisCode", axis) && script->GetCollection("Currencies", records);
  if (!ok) {
    list.SetDefaultTable();
    return false;
  }
  axisCode = axis;
  for (const auto& record : records) {
    TCurrencyDefinitionItem item;
    item.Code = record.Key;
    item.ExchangeRate = static_cast<float>(NumberOf(record, "exchangerate"));
    item.DisplayName = TextOf(record, "displayname");
    item.CurrencyString = TextOf(record, "currencystring");
    item.CurrencyFormat = SmallNumberOf(record, "currencyformat");
    std::string sep = TextOf(record, "thousandseparator");
    item.ThousandSeparator = sep.empty() ? ',' : sep[0];
    sep = TextOf(record, "decimalseparator");
    item.DecimalSeparator = sep.empty() ? '.' : sep[0];
    item.CurrencyDecimals = SmallNumberOf(record, "currencydecimals");
    list.Add(std::move(item));
  }
  return true;
}

}  // namespace vandrel
