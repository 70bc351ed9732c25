#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "currency/CurrencyConverters.h"

namespace vandrel {
namespace {

TCurrencyDefinitionItem Currency(std::string code, float rate, std::string symbol = "$", uint8_t format = 0,
                                 char thousands = ',', char decimal = '.', uint8_t decimals = 2) {
  TCurrencyDefinitionItem item;
  item.Code = code;
  item.ExchangeRate = rate;
  item.DisplayName = code + " name";
  item.CurrencyString = symbol;
  item.CurrencyFormat = format;
  item.ThousandSeparator = thousands;
  item.DecimalSeparator = decimal;
  item.CurrencyDecimals = decimals;
  return item;
}

TCurrencyConverter ThreeCurrencies() {
  TCurrencyConverter c;
  c.Definitions().Clear();
  c.Definitions().Add(Currency("USD", 1.0f));
  c.Definitions().Add(Currency("EUR", 0.9f, "E", 3, '.', ','));
  c.Definitions().Add(Currency("CAD", 1.35f, "C$", 2));
  return c;
}

TEST(CurrencyMap, MoneyStringBytes) {
  TCurrencyMap map;
  map.FromAmount = {"EUR", 1.5f};
  map.ToAmount = {"USD", 2.0f};
  // 1.5f = 0x3FC00000, 2.0f = 0x40000000, little-endian; the empty Axis amount is one zero byte.
  const std::string expected(
      "\x01\x00\x00\xC0\x3F"
      "EUR"
      "\x00"
      "\x01\x00\x00\x00\x40"
      "USD",
      17);
  EXPECT_EQ(map.Serialize(), expected);

  EXPECT_EQ(MoneyStringOfValue(2.0, "", "USD"), std::string("\x01\x00\x00\x00\x40USD\x00\x00", 10));
  EXPECT_EQ(MoneyStringOfValue(2.0, "EUR", "USD").substr(5, 3), "EUR");

  TCurrencyMap back;
  back.Parse(expected, "USD");
  EXPECT_EQ(back.FromAmount, map.FromAmount);
  EXPECT_EQ(back.AxisAmount, TAmount{});
  EXPECT_EQ(back.ToAmount, map.ToAmount);
}

TEST(CurrencyMap, ParsingEdgeCases) {
  TCurrencyMap map;
  map.Parse(std::string("\0\0\0", 3), "USD");
  EXPECT_EQ(map.FromAmount, TAmount{});
  EXPECT_EQ(map.ToAmount, TAmount{});

  // A From amount in the axis currency doubles as the Axis amount; a short string clears the rest.
  map.Parse(std::string("\x01\x00\x00\x20\x41USD", 8), "USD");
  EXPECT_EQ(map.FromAmount, (TAmount{"USD", 10.0f}));
  EXPECT_EQ(map.AxisAmount, (TAmount{"USD", 10.0f}));
  EXPECT_EQ(map.ToAmount, TAmount{});

  map.Parse("", "USD");
  EXPECT_EQ(map.FromAmount, TAmount{});

  // Ending inside an amount is unparsable, never a read past the end.
  for (size_t len : {1u, 4u, 7u}) {
    map.Parse(std::string("\x01\x00\x00\x20\x41USD", len), "USD");
    EXPECT_EQ(map.FromAmount.Value, -1.0f) << len;
    EXPECT_TRUE(map.FromAmount.Code.empty());
  }
  map.Parse(std::string("\x00\x01\x00\x00", 4), "USD");
  EXPECT_EQ(map.FromAmount.Value, -1.0f);
}

TEST(CurrencyConverter, ConvertsThroughTheAxis) {
  auto c = ThreeCurrencies();
  c.TargetCode = "CAD";
  TCurrencyMap map;
  map.FromAmount = {"EUR", 10.0f};
  c.Convert(map);
  EXPECT_EQ(map.AxisAmount.Code, "USD");
  EXPECT_NEAR(map.AxisAmount.Value, 11.1111, 1e-3);
  EXPECT_EQ(map.ToAmount.Code, "CAD");
  EXPECT_NEAR(map.ToAmount.Value, 15.0, 1e-4);

  c.TargetCode = "USD";
  map.FromAmount = {"USD", 10.0f};
  c.Convert(map);
  EXPECT_TRUE(map.AxisAmount.Code.empty());
  EXPECT_EQ(map.AxisAmount.Value, 10.0f);
  EXPECT_EQ(map.ToAmount, (TAmount{"USD", 10.0f}));

  // An unknown source currency is taken as the axis currency.
  c.TargetCode = "CAD";
  map.FromAmount = {"XYZ", 10.0f};
  c.Convert(map);
  EXPECT_EQ(map.AxisAmount, (TAmount{"USD", 10.0f}));
  EXPECT_NEAR(map.ToAmount.Value, 13.5, 1e-4);
}

TEST(CurrencyConverter, RejectsUnusableRates) {
  auto c = ThreeCurrencies();
  EXPECT_FALSE(c.Definitions().Add(Currency("ZER", 0.0f)));
  EXPECT_FALSE(c.Definitions().Add(Currency("NEG", -2.0f)));
  EXPECT_FALSE(c.Definitions().Add(Currency("NAN", std::numeric_limits<float>::quiet_NaN())));
  EXPECT_FALSE(c.Definitions().Add(Currency("INF", std::numeric_limits<float>::infinity())));
  EXPECT_EQ(c.Definitions().Find("ZER"), nullptr);
  TCurrencyMap map;
  map.FromAmount = {"ZER", 4.0f};
  c.Convert(map);
  EXPECT_TRUE(std::isfinite(map.ToAmount.Value));
  EXPECT_EQ(map.ToAmount.Value, 4.0f);
}

TEST(CurrencyFormat, EveryLayoutAndNegatives) {
  struct Case {
    uint8_t format;
    double value;
    const char* text;
  } cases[] = {
      {0, 1234.5, "$1,234.50"},  {1, 1234.5, "1,234.50$"},          {2, 1234.5, "$ 1,234.50"},
      {3, 1234.5, "1,234.50 $"}, {0, -1234.5, "($1,234.50)"},       {1, -3, "(3.00$)"},
      {2, -0.5, "($ 0.50)"},     {3, -1000000, "(1,000,000.00 $)"}, {0, 0, "$0.00"},
      {0, -0.001, "($0.00)"},    {0, 999.999, "$1,000.00"},
  };
  for (const auto& c : cases) {
    auto currency = Currency("USD", 1, "$", c.format);
    EXPECT_EQ(FormatMoney(c.value, currency), c.text) << int(c.format) << " " << c.value;
  }
  EXPECT_EQ(FormatMoney(1234.5, Currency("EUR", 1, "E", 3, '.', ',')), "1.234,50 E");
  EXPECT_EQ(FormatMoney(1234.4, Currency("JPY", 1, "Y", 0, ',', '.', 0)), "Y1,234");
}

TEST(CurrencyConverter, DisplayText) {
  auto c = ThreeCurrencies();
  TCurrencyMap map;
  map.FromAmount.Value = -1;
  EXPECT_EQ(c.DisplayText(map), "(n/a)");

  map.FromAmount = {"EUR", 5.0f};
  EXPECT_EQ(c.DisplayText(map), "5,00 E (EUR)");
  map.FromAmount = {"USD", 5.0f};
  EXPECT_EQ(c.DisplayText(map), "$5.00");
  map.FromAmount = {"XYZ", 5.0f};
  EXPECT_EQ(c.DisplayText(map), "");

  c.ShowConverted = true;
  c.TargetCode = "CAD";
  map.FromAmount = {"USD", 2.0f};
  c.Convert(map);
  EXPECT_EQ(c.DisplayText(map), "C$ 2.70");

  EXPECT_EQ(c.TodayRateText("EUR", "Today's rate: %s"), "Today's rate: $1.00 (USD) = 0,90 E (EUR)");
  EXPECT_EQ(c.TargetCode, "CAD");
  EXPECT_EQ(c.PickerItems().front(), "CAD name  (CAD)");
  EXPECT_EQ(TCurrencyConverter::CodeOfPickerItem("Euro  (eur)"), "EUR");
  EXPECT_EQ(TCurrencyConverter::CodeOfPickerItem("cad"), "CAD");
}

// Stands in for the compiled currency script.
class FakeScript : public ICurrencyTableScript {
 public:
  bool loads = true;
  std::string axisAfterRegister = "USD";
  std::vector<TCurrencyScriptRecord> records;
  std::string axisSeen;

  bool Load(const std::string& path) override { return loads && path == "/data/currencies.ccs"; }
  bool SetStringVariable(const std::string& name, const std::string& value) override {
    if (name == "AxisCode") axisSeen = value;
    return true;
  }
  bool GetStringVariable(const std::string& name, std::string& value) override {
    value = axisAfterRegister;
    return name == "AxisCode";
  }
  bool ExecuteProcedure(const std::string& name) override { return name == "Register"; }
  bool GetCollection(const std::string& name, std::vector<TCurrencyScriptRecord>& out) override {
    out = records;
    return name == "Currencies";
  }
};

TCurrencyScriptField Num(double v) {
  return {false, v, {}};
}
TCurrencyScriptField Text(std::string s) {
  return {true, 0, std::move(s)};
}

TEST(CurrencyTable, LoadsRecordsAndFallsBackToUsd) {
  FakeScript script;
  script.axisAfterRegister = "EUR";
  script.records.push_back({"GBP",
                            {{"exchangerate", Num(0.8)},
                             {"displayname", Text("Pound")},
                             {"currencystring", Text("L")},
                             {"currencyformat", Num(1)},
                             {"thousandseparator", Text("")},
                             {"decimalseparator", Text(",x")},
                             {"currencydecimals", Num(3)}}});
  script.records.push_back({"BAD", {{"exchangerate", Num(0)}}});
  TCurrencyConverter c;
  c.LoadTable(&script, "/data", "", true);
  EXPECT_EQ(script.axisSeen, "USD");
  EXPECT_EQ(c.AxisCode, "EUR");
  EXPECT_EQ(c.TargetCode, "USD");
  EXPECT_TRUE(c.ShowConverted);
  ASSERT_EQ(c.Definitions().Count(), 1u);
  const auto& gbp = c.Definitions()[0];
  EXPECT_EQ(gbp.DisplayName, "Pound");
  EXPECT_EQ(gbp.ThousandSeparator, ',');
  EXPECT_EQ(gbp.DecimalSeparator, ',');
  EXPECT_EQ(gbp.CurrencyDecimals, 3);
  EXPECT_EQ(FormatMoney(1234.5, gbp), "1,234,500L");

  script.loads = false;
  c.LoadTable(&script, "/data", "CAD", false);
  ASSERT_EQ(c.Definitions().Count(), 1u);
  EXPECT_EQ(c.Definitions()[0].Code, "USD");
  EXPECT_EQ(c.Definitions()[0].CurrencyString, "$");
  EXPECT_EQ(c.AxisCode, "EUR");  // survives a failed reload
  EXPECT_EQ(c.TargetCode, "CAD");

  c.LoadTable(nullptr, "/data", "", false);
  EXPECT_EQ(c.Definitions().Find("USD")->ExchangeRate, 1.0f);
}

}  // namespace
}  // namespace vandrel
