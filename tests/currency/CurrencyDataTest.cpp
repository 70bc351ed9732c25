#include <gtest/gtest.h>

#include <filesystem>

#include "TempFolder.h"
#include "currency/CurrencyConverters.h"
#include "currency/CurrencyScript.h"
#include "platform/SourceDir.h"
#include "script/BaseCompiler.h"

namespace vandrel {
namespace {

// The bundled table goes through the same compile-and-save step as the shipped file, then the real loader.
class CurrencyData : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string folder = vandrel::test::ProcessTempDir() + "/bundled_currencies";
    std::filesystem::create_directories(folder);
    TBaseCompiler compiler;
    compiler.OutputEnabled = false;
    compiler.ResetVariables();
    ASSERT_TRUE(compiler.LoadFromFile(std::string(VANDREL_SOURCE_DIR) + "/Data/currencies.scs"));
    ASSERT_EQ(compiler.Compile(), 0);
    ASSERT_EQ(compiler.SaveToFile(folder + "/currencies.ccs"), 0);
    ReloadCurrencyTable(Converter, folder, "EUR", false);
  }

  std::string Formatted(const char* code, float value, bool withCode = false) const {
    return Converter.FormatAmount(TAmount{code, value}, withCode);
  }

  TCurrencyConverter Converter;
};

TEST_F(CurrencyData, TheBundledTableLoadsWithEveryCurrencyUsable) {
  const auto& list = Converter.Definitions();
  ASSERT_GE(list.Count(), 20u);  // not the one-entry table of a failed load
  EXPECT_EQ(Converter.AxisCode, "USD");
  EXPECT_EQ(Converter.TargetCode, "EUR");
  for (size_t i = 0; i < list.Count(); ++i) {
    SCOPED_TRACE(list[i].Code);
    EXPECT_EQ(list[i].Code.size(), 3u);
    EXPECT_FALSE(list[i].DisplayName.empty());
    EXPECT_FALSE(list[i].CurrencyString.empty());
    EXPECT_LE(list[i].CurrencyFormat, 3);
    EXPECT_LE(list[i].CurrencyDecimals, 2);
    EXPECT_NE(list[i].ThousandSeparator, list[i].DecimalSeparator);
  }
  ASSERT_NE(list.Find("USD"), nullptr);
  EXPECT_EQ(list.Find("USD")->ExchangeRate, 1.0f);
}

TEST_F(CurrencyData, AmountsUseEachCurrencysLayout) {
  EXPECT_EQ(Formatted("USD", 1234.5f, true), "$1,234.50 (USD)");
  EXPECT_EQ(Formatted("EUR", 1234.5f), "1.234,50 \u20ac");
  EXPECT_EQ(Formatted("GBP", 9.99f), "\u00a39.99");
  EXPECT_EQ(Formatted("CAD", 16.99f), "C$16.99");
  EXPECT_EQ(Formatted("JPY", 1500.4f), "\u00a51,500");
  EXPECT_EQ(Formatted("CHF", 2500.0f), "CHF 2'500.00");
  EXPECT_EQ(Formatted("SEK", 1234.5f), "1 234,50 kr");
  EXPECT_EQ(Formatted("USD", -5.0f), "($5.00)");
}

TEST_F(CurrencyData, PricesConvertThroughTheDollar) {
  TCurrencyMap map;
  map.FromAmount = {"GBP", 79.0f};
  Converter.Convert(map);
  EXPECT_EQ(map.AxisAmount.Code, "USD");
  EXPECT_NEAR(map.AxisAmount.Value, 100.0f, 0.01f);
  EXPECT_EQ(map.ToAmount.Code, "EUR");
  EXPECT_NEAR(map.ToAmount.Value, 92.0f, 0.01f);
  EXPECT_EQ(Converter.DisplayText(map), "\u00a379.00 (GBP)");
}

}  // namespace
}  // namespace vandrel
