#include <gtest/gtest.h>

#include "TempFolder.h"

#include <filesystem>
#include <fstream>

#include "currency/CurrencyConverters.h"
#include "currency/CurrencyScript.h"

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

}  // namespace
}  // namespace vandrel
