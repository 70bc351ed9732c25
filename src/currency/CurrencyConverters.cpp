#include "currency/CurrencyConverters.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "platform/Format.h"

namespace vandrel {

namespace {

constexpr size_t kAmountBytes = 8;  // flag, 4-byte float, 3 code characters

// Reads the amount at `pos` into `amount`; false when the text ends inside it. Sorts read thousands of
// prices through here: no loops, no checked substrings.
bool ReadAmount(std::string_view s, size_t& pos, TMoneyView::TAmountView& amount) {
  if (pos >= s.size() || s[pos] == 0) {
    amount = {};
    ++pos;
    return true;
  }
  if (s.size() - pos < kAmountBytes) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(s.data() + pos);
  const uint32_t bits = static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                        static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 24;
  amount.Value = std::bit_cast<float>(bits);
  // Codes shorter than three characters were padded with zero bytes.
  const size_t length = p[7] ? 3 : p[6] ? 2 : p[5] ? 1 : 0;
  amount.Code = std::string_view(s.data() + pos + 5, length);
  pos += kAmountBytes;
  return true;
}

void WriteAmount(std::string& out, const TAmount& amount) {
  if (amount.Code.empty()) {
    out.push_back('\0');
    return;
  }
  out.push_back('\1');
  uint32_t bits = std::bit_cast<uint32_t>(amount.Value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
  for (size_t i = 0; i < 3; ++i) out.push_back(i < amount.Code.size() ? amount.Code[i] : '\0');
}

}  // namespace

void TCurrencyMap::Clear() {
  FromAmount.Clear();
  AxisAmount.Clear();
  ToAmount.Clear();
}

TMoneyView::TMoneyView(std::string_view moneyString) {
  if (moneyString.empty()) return;
  size_t pos = 0;
  if (!ReadAmount(moneyString, pos, FromAmount) || !ReadAmount(moneyString, pos, AxisAmount) ||
      !ReadAmount(moneyString, pos, ToAmount)) {
    FromAmount = AxisAmount = ToAmount = {};
    FromAmount.Value = TCurrencyMap::kNoPrice;
    Cut = true;
  }
}

void TCurrencyMap::Parse(std::string_view moneyString, std::string_view axisCode) {
  const TMoneyView view(moneyString);
  auto take = [](TAmount& amount, const TMoneyView::TAmountView& from) {
    amount.Code.assign(from.Code);
    amount.Value = from.Value;
  };
  take(FromAmount, view.FromAmount);
  take(AxisAmount, view.AxisAmount);
  take(ToAmount, view.ToAmount);
  if (!moneyString.empty() && !view.Cut && FromAmount.Code == axisCode) AxisAmount = FromAmount;
}

std::string TCurrencyMap::Serialize() const {
  std::string out;
  WriteAmount(out, FromAmount);
  WriteAmount(out, AxisAmount);
  WriteAmount(out, ToAmount);
  return out;
}

std::string MoneyStringOfValue(double number, const std::string& moneyCode, const std::string& axisCode) {
  TCurrencyMap map;
  map.FromAmount.Code = moneyCode.empty() ? axisCode : moneyCode;
  map.FromAmount.Value = static_cast<float>(number);
  return map.Serialize();
}

std::string FormatMoney(double value, const TCurrencyDefinitionItem& currency) {
  int decimals = std::min<int>(currency.CurrencyDecimals, 18);
  std::string digits = FormatFixed(std::fabs(value), decimals);
  size_t dot = digits.find('.');
  std::string whole = digits.substr(0, dot);
  std::string number;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) number += currency.ThousandSeparator;
    number += whole[i];
  }
  if (dot != std::string::npos) {
    number += currency.DecimalSeparator;
    number += digits.substr(dot + 1);
  }
  std::string text;
  const std::string& symbol = currency.CurrencyString;
  switch (currency.CurrencyFormat) {
    case 1:
      text = number + symbol;
      break;
    case 2:
      text = symbol + " " + number;
      break;
    case 3:
      text = number + " " + symbol;
      break;
    default:
      text = symbol + number;
  }
  // The sign is the value's, not the rounded digits': a small debt stays a debt.
  return value < 0 ? "(" + text + ")" : text;
}

TCurrencyConverter::TCurrencyConverter() {
  Definitions_.SetDefaultTable();
}

void TCurrencyConverter::Convert(TCurrencyMap& map) const {
  TAmount& from = map.FromAmount;
  TAmount& axis = map.AxisAmount;
  TAmount& to = map.ToAmount;
  to.Code = TargetCode;
  axis.Code = (from.Code != TargetCode && from.Code != AxisCode) ? AxisCode : std::string();
  if (from.Code == to.Code) {
    axis.Value = from.Value;
    to.Value = from.Value;
    return;
  }
  axis.Value = from.Value;
  if (from.Code != axis.Code) {
    // An unknown currency is taken to be the axis currency.
    if (const auto* def = Definitions_.Find(from.Code)) axis.Value = from.Value / def->ExchangeRate;
  }
  to.Value = axis.Value;
  if (axis.Code != to.Code) {
    if (const auto* def = Definitions_.Find(to.Code)) to.Value = axis.Value * def->ExchangeRate;
  }
}

std::string TCurrencyConverter::FormatAmount(const TAmount& amount, bool withCode) const {
  const auto* def = Definitions_.Find(amount.Code);
  if (!def) return {};
  std::string text = FormatMoney(amount.Value, *def);
  return withCode ? text + " (" + amount.Code + ")" : text;
}

std::string TCurrencyConverter::DisplayText(const TCurrencyMap& map) const {
  if (map.FromAmount.Value == TCurrencyMap::kNoPrice) return "(n/a)";
  if (ShowConverted) return FormatAmount(map.ToAmount, false);
  return FormatAmount(map.FromAmount, map.FromAmount.Code != TargetCode);
}

std::string TCurrencyConverter::TodayRateText(const std::string& code, std::string_view pattern) {
  TCurrencyMap map;
  map.FromAmount.Code = "USD";
  map.FromAmount.Value = 1.0f;
  std::string saved = TargetCode;
  TargetCode = code;
  Convert(map);
  TargetCode = saved;
  std::string rate =
      Format("%0:s = %1:s", {FormatAmount(map.FromAmount, true), FormatAmount(map.ToAmount, true)});
  return Format(pattern, {rate});
}

std::vector<std::string> TCurrencyConverter::PickerItems() const {
  std::vector<std::string> items;
  for (size_t i = 0; i < Definitions_.Count(); ++i)
    items.push_back(Definitions_[i].DisplayName + "  (" + Definitions_[i].Code + ")");
  std::sort(items.begin(), items.end());
  return items;
}

std::string TCurrencyConverter::CodeOfPickerItem(std::string_view text) {
  size_t open = text.rfind('(');
  size_t close = text.rfind(')');
  if (open != std::string_view::npos && close != std::string_view::npos && close > open)
    text = text.substr(open + 1, close - open - 1);
  std::string code(text);
  for (char& c : code)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return code;
}

void TCurrencyConverter::LoadTable(ICurrencyTableScript* script, const std::string& dataFolder,
                                   const std::string& localCode, bool showConverted) {
  LoadCurrencyTable(script, dataFolder, AxisCode, Definitions_);
  TargetCode = localCode.empty() ? "USD" : localCode;
  ShowConverted = showConverted;
}

TCurrencyConverter& CurrencyConverter() {
  static TCurrencyConverter converter;
  return converter;
}

TCurrencyMap& CurrencyMap() {
  static TCurrencyMap map;
  return map;
}

}  // namespace vandrel
