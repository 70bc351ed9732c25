// Amounts, money strings, conversion through the axis currency and display of prices.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "currency/Currencies.h"

namespace vandrel {

// A value in one currency.
struct TAmount {
  std::string Code;  // three-letter currency code; empty: no amount
  float Value = 0;

  void Clear() {
    Code.clear();
    Value = 0;
  }
  bool operator==(const TAmount&) const = default;
};

// A price as found, in the axis currency and in the target currency.
struct TCurrencyMap {
  TAmount FromAmount;
  TAmount AxisAmount;
  TAmount ToAmount;

  // A From value of exactly -1 marks a result without a price.
  static constexpr float kNoPrice = -1.0f;

  void Clear();
  // Reads a money string. `axisCode` is the converter's axis: when From is already in it, Axis := From.
  // A string that ends inside an amount is unparsable: the map is cleared and From.Value becomes -1.
  void Parse(std::string_view moneyString, std::string_view axisCode);
  // The canonical money string: per amount one byte 0, or byte 1, little-endian float, three code bytes.
  std::string Serialize() const;
};

// The amounts of a money string seen in place, read as TCurrencyMap::Parse reads them but without its axis
// rule: sorts and groupings read thousands of prices and need not copy each code.
struct TMoneyView {
  struct TAmountView {
    std::string_view Code;  // empty: no amount
    float Value = 0;
  };
  TAmountView FromAmount, AxisAmount, ToAmount;
  bool Cut = false;  // the text ends inside an amount: no amount, and From.Value is TCurrencyMap::kNoPrice

  explicit TMoneyView(std::string_view moneyString);
};

// Process-wide currency conversion and formatting. Main thread only.
class TCurrencyConverter {
 public:
  TCurrencyConverter();

  TCurrencyDefinitionList& Definitions() { return Definitions_; }
  const TCurrencyDefinitionList& Definitions() const { return Definitions_; }

  std::string AxisCode = "USD";
  std::string TargetCode = "USD";  // the user's local currency
  bool ShowConverted = false;

  // Fills Axis and To from From with the current axis and target codes.
  void Convert(TCurrencyMap& map) const;
  // The amount with its currency's symbol, separators and decimals; empty for an unknown code.
  std::string FormatAmount(const TAmount& amount, bool withCode) const;
  // What lists, groups and filters show for a price.
  std::string DisplayText(const TCurrencyMap& map) const;
  // "1.00 USD = x.xx CUR" put into `pattern` ("%s"), the target code left unchanged.
  std::string TodayRateText(const std::string& code, std::string_view pattern = "%s");
  // Every definition as "Display name  (CODE)", sorted: the entries of a currency picker.
  std::vector<std::string> PickerItems() const;
  // The code a picker entry (or a typed code) stands for, upper-cased.
  static std::string CodeOfPickerItem(std::string_view text);

  // Reloads the table from "currencies.ccs" (see Currencies.h) and applies the configured target currency.
  void LoadTable(ICurrencyTableScript* script, const std::string& dataFolder, const std::string& localCode,
                 bool showConverted);

 private:
  TCurrencyDefinitionList Definitions_;
};

// The money string of a script money value: From is the amount in its money code, or in the axis
// currency when the value has no code; Axis and To are left for the conversion to fill.
std::string MoneyStringOfValue(double number, const std::string& moneyCode, const std::string& axisCode);

// Formats a non-negative or negative value with one currency's layout; exposed for the pickers and tests.
std::string FormatMoney(double value, const TCurrencyDefinitionItem& currency);

// The process-wide converter and the scratch map callers parse, convert and read without interleaving.
TCurrencyConverter& CurrencyConverter();
TCurrencyMap& CurrencyMap();

}  // namespace vandrel
