#include <gtest/gtest.h>

#include "TempFolder.h"

#include <filesystem>
#include <fstream>

#include <clocale>

#include "currency/CurrencyConverters.h"
#include "currency/CurrencyScript.h"
#include "platform/Format.h"
#include "script/BaseCompiler.h"

namespace vandrel {
namespace {

std::string WriteScript(const std::string& folderName, const std::string& source) {
  std::string folder = vandrel::test::ProcessTempDir() + "/" + folderName;
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/currencies.ccs", std::ios::binary) << source;
  return folder;
}

TEST(CurrencyScript, TheDataScriptFillsTheTable) {
  std::string folder = WriteScript("currency_ok",
                                   "Procedure Register\n"
                                   "  If AxisCode = \"USD\"\n"
                                   "    AxisCode = \"EUR\"\n"
                                   "  EndIf\n"
                                   "  Currencies = CreateCollection\n"
                                   "  Currencies.add(\"EUR\")\n"
                                   "  Currencies[\"EUR\"].exchangerate = 1\n"
                                   "  Currencies[\"EUR\"].displayname = \"Euro\"\n"
                                   "  Currencies[\"EUR\"].currencystring = \"E\"\n"
                                   "  Currencies[\"EUR\"].currencyformat = 3\n"
                                   "  Currencies[\"EUR\"].thousandseparator = \".\"\n"
                                   "  Currencies[\"EUR\"].decimalseparator = \",\"\n"
                                   "  Currencies[\"EUR\"].currencydecimals = 2\n"
                                   "  Currencies.add(\"GBP\")\n"
                                   "  Currencies[\"GBP\"].exchangerate = 0.5\n"
                                   "  Currencies[\"GBP\"].currencystring = \"L\"\n"
                                   "EndProcedure\n");
  TCurrencyConverter converter;
  ReloadCurrencyTable(converter, folder, "GBP", true);
  EXPECT_EQ(converter.AxisCode, "EUR");
  ASSERT_EQ(converter.Definitions().Count(), 2u);
  EXPECT_EQ(converter.Definitions()[0].DisplayName, "Euro");
  EXPECT_EQ(FormatMoney(1234.5, converter.Definitions()[0]), "1.234,50 E");
  EXPECT_EQ(converter.Definitions()[1].ExchangeRate, 0.5f);
  EXPECT_EQ(converter.Definitions()[1].ThousandSeparator, ',');
  TCurrencyMap map;
  map.FromAmount = {"EUR", 10.0f};
  converter.Convert(map);
  EXPECT_EQ(converter.DisplayText(map), "L5");
}

TEST(CurrencyScript, AnyFailureGivesTheUsdTable) {
  for (const char* source : {"Procedure Register\n  x = (\nEndProcedure\n",  // does not compile
                             "Procedure Other\nEndProcedure\n",              // no Register
                             "Procedure Register\n  AxisCode = \"USD\"\nEndProcedure\n"}) {  // no Currencies
    TCurrencyConverter converter;
    ReloadCurrencyTable(converter, WriteScript("currency_bad", source), "", false);
    ASSERT_EQ(converter.Definitions().Count(), 1u) << source;
    EXPECT_EQ(converter.Definitions()[0].Code, "USD");
    EXPECT_EQ(converter.TargetCode, "USD");
  }
  TCurrencyConverter converter;
  ReloadCurrencyTable(converter, vandrel::test::ProcessTempDir() + "/no_such_folder", "", false);
  EXPECT_EQ(converter.Definitions()[0].CurrencyString, "$");
}

// The desktop program calls setlocale; a German locale writes "0,9" and reads "0.9" as 0. Rates and
// script numbers are data in one fixed form and must read the same under any locale.
TEST(CurrencyScript, NumbersReadTheSameUnderAGermanLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing: tools/install-deps.sh builds it";
  struct TRestore {
    std::string Locale;
    ~TRestore() { std::setlocale(LC_ALL, Locale.c_str()); }
  } restore{previous};

  std::string folder = WriteScript("currency_locale",
                                   "Procedure Register\n"
                                   "  Currencies = CreateCollection\n"
                                   "  Currencies[\"EUR\"].exchangerate = \"0.9\"\n"
                                   "  Currencies[\"EUR\"].currencystring = \"E\"\n"
                                   "  Currencies[\"CAD\"].exchangerate = 1.35\n"
                                   "  Currencies[\"CAD\"].currencystring = \"C\"\n"
                                   "EndProcedure\n");
  TCurrencyConverter converter;
  ReloadCurrencyTable(converter, folder, "CAD", true);
  ASSERT_EQ(converter.Definitions().Count(), 2u);
  EXPECT_EQ(converter.Definitions().Find("EUR")->ExchangeRate, 0.9f);
  EXPECT_EQ(converter.Definitions().Find("CAD")->ExchangeRate, 1.35f);
  TCurrencyMap map;
  map.FromAmount = {"EUR", 9.0f};
  converter.Convert(map);
  EXPECT_FLOAT_EQ(map.ToAmount.Value, 13.5f);

  EXPECT_EQ(FormatGeneral(2.5), "2.5");
  EXPECT_EQ(FormatGeneral(1234.5678), "1234.5678");
  TBaseCompiler c;
  c.ResetVariables();
  c.LoadFromStream("Procedure Main\n  s = string(0.25)\n  f = float(\"2.5\") * 2\nEndProcedure\n");
  ASSERT_EQ(c.Compile(), 0);
  ASSERT_EQ(c.ExecuteProcedure("Main"), 0);
  EXPECT_EQ(c.Variables().GetString("s", ""), "0.25");
  EXPECT_EQ(c.Variables().Find("f")->AsFloat(), 5.0);
}

}  // namespace
}  // namespace vandrel
