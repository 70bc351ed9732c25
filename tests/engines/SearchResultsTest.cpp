#include "engines/SearchResults.h"

#include <gtest/gtest.h>

#include "EngineTestUtil.h"
#include "currency/CurrencyConverters.h"
#include "engines/FieldEvaluator.h"
#include "script/Collections.h"

namespace vandrel {
namespace {

using testing::TBooksSearch;

TEST(QueryParser, SplitsQuotesAndBuildsQueryText) {
  TZnQueryParser qp;
  qp.Parse("  cheap \"red shoes\" size ", false);
  ASSERT_EQ(qp.Words, (std::vector<std::string>{"cheap", "\"red shoes\"", "size"}));
  qp.SetPrefix("q=");
  qp.SetSeparator("+");
  EXPECT_TRUE(qp.Modified);
  EXPECT_EQ(qp.QueryText(), "q=cheap+\"red shoes\"+size");
  qp.Parse("cheap \"red shoes\" size", true);
  EXPECT_EQ(qp.QueryText(), "q=cheap+%22red%20shoes%22+size");
  EXPECT_EQ(qp.OriginalText(), "cheap \"red shoes\" size");

  TZnQueryParser phrase;
  phrase.Parse("\"red shoes\"", true);
  phrase.SetExactPhrase(true);
  EXPECT_EQ(phrase.QueryText(), "%22red%20shoes%22");  // wrapped once, not twice
  phrase.SetExactPhraseDelimiter("'");
  phrase.Parse("red shoes", false);
  phrase.SetSeparator(" ");
  EXPECT_EQ(phrase.QueryText(), "'red%20shoes'");
}

TEST(QueryParser, CountsMatchesOnTheDecodedWords) {
  TZnQueryParser qp;
  qp.Parse("Café \"red shoes\" 50%", true);
  // Escaped words would never be found in page text; the typed words are.
  EXPECT_EQ(qp.CountMatches("red shoes at the café, 50% off", false), 2);
  EXPECT_EQ(qp.CountMatches("\"RED SHOES\" at the CAFé, 50% off", false), 3);
  EXPECT_EQ(qp.CountMatches("\"RED SHOES\" at the CAFé", true), 0);
}

TEST(RecordScore, RankOccurrenceAndKeywords) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  // Rank 1 of 10, no occurrence, no words: the base score alone.
  EXPECT_EQ(RecordScore(s.Instance.get(), 10, 0, 1, "", "", "", 0), 65);
  EXPECT_EQ(RecordScore(s.Instance.get(), 10, 20, 1, "", "", "", 0), 75);
  EXPECT_EQ(RecordScore(s.Instance.get(), 10, 19, 1, "", "", "", 0), 85);
  EXPECT_EQ(RecordScore(s.Instance.get(), 10, 0, 6, "", "", "", 0), 32);  // 0.325 in single precision
  // Web scores scale occurrences by their own maximum.
  EXPECT_EQ(RecordScore(s.Instance.get(), 10, 5, 1, "", "", "", 5), 75);
  EXPECT_THROW(RecordScore(s.Instance.get(), 0, 0, 2, "", "", "", 0), EScriptFault);

  s.Instance->InputFields.Find("Keywords")->SetString("garden paths");
  EXPECT_EQ(RecordScore(s.Instance.get(), 10, 0, 1, "The Garden of Paths", "", "", 0), 71);
  EXPECT_EQ(RecordScore(s.Instance.get(), 10, 0, 1, "garden", "paths", "garden paths", 0), 74);

  // Through the formula language, with the instance variables and the errors of a zero divisor.
  TFieldEvaluator& ev = *s.Instance->Evaluator;
  s.Instance->Variables.SetInteger("ResultsPerEngine", 10);
  s.Instance->Variables.SetInteger("Occurrence", 19);
  s.Instance->Variables.SetInteger("Rank", 1);
  ASSERT_TRUE(ev.EvaluateAs("KeywordScore('', '', '')", dtInteger)) << ev.ErrorText;
  EXPECT_EQ(ev.AsInteger(), 85);
  ASSERT_TRUE(ev.EvaluateAs("WebScore(19, '', '', '')", dtInteger)) << ev.ErrorText;
  EXPECT_EQ(ev.AsInteger(), 75);  // the occurrences reached the maximum
  s.Instance->Variables.SetInteger("ResultsPerEngine", 0);
  EXPECT_FALSE(ev.Evaluate("KeywordScore('', '', '')"));
  EXPECT_EQ(ev.ErrorCode, 121);
  s.Instance->Variables.SetInteger("Rank", 3);
  EXPECT_FALSE(ev.Evaluate("KeywordScore('', '', '')"));
  EXPECT_EQ(ev.ErrorCode, 104);
}

TEST(FieldDisplay, FormatsByTypeAndReportsErrors) {
  TBaseSearchOutputField def("x", nullptr);
  auto show = [&](const TBaseEvalItem& v, uint8_t type) {
    int code = 0;
    std::string text;
    return FieldDisplayText(v, type, &def, code, text);
  };
  TBaseEvalItem n;
  n.SetFloat(2.5);
  EXPECT_EQ(show(n, dtFloat), "2.5");
  n.SetFloat(3);
  EXPECT_EQ(show(n, dtMoney), "3");
  EXPECT_EQ(show(n, dtObject), "ERR106-Incompatible data type: 'Object'");
  TBaseEvalItem b;
  b.SetBoolean(true);
  EXPECT_EQ(show(b, dtBoolean), "1");
  def.FormatString = "%.2f";
  EXPECT_EQ(show(n, dtMoney), "3.00");
  // A definition's format that does not fit its value never reaches a formatter.
  def.FormatString = "%s %s %n";
  EXPECT_EQ(show(n, dtFloat).substr(0, 7), "ERR101-");
  def.FormatString = "[%s]";
  auto names = std::make_shared<TZnCollection>();
  names->DefaultKey = "?";
  names->AddWithValue("1", THostValue("new"));
  names->AddWithValue("?", THostValue("used"));
  def.DisplayArray = names;
  TBaseEvalItem i;
  i.SetInteger(1);
  EXPECT_EQ(show(i, dtInteger), "[new]");
  i.SetInteger(7);
  EXPECT_EQ(show(i, dtInteger), "[used]");
  int code = 42;
  std::string text = "boom";
  EXPECT_EQ(FieldDisplayText(i, dtInteger, &def, code, text), "ERR42-boom");
}

TEST(ResultRecord, UniqueKeysFormulasFilterAndOrder) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  TSearchResultList list(s.Instance.get());
  TResultRecord& a = list.NewRecord("USD");
  TResultRecord& b = list.NewRecord("USD");
  ASSERT_EQ(a.FieldCount(), 6u);
  EXPECT_EQ(a.FindField("price")->MoneyCode, "USD");
  a.FindField("url")->SetString("http://www.shop.test/item/1/");
  b.FindField("url")->SetString("http://shop.test/item/1");
  // The books view reduces the final slash and the www label.
  EXPECT_EQ(a.UniqueKey(), "http://shop.test/item/1");
  EXPECT_EQ(a.UniqueKey(), b.UniqueKey());

  a.FindField("title")->SetString("Dune");
  a.FindField("author")->SetString("Herbert");
  a.FindField("price")->SetFloat(9.5);
  b.FindField("price")->SetFloat(0);
  a.Refresh();
  b.Refresh();
  EXPECT_EQ(a.FindField("label")->DisplayText(), "Dune / Herbert");
  EXPECT_FALSE(a.FilteredOut);
  EXPECT_TRUE(b.FilteredOut);
  EXPECT_EQ(a.FindField("price")->DisplayText(), "9.50");
  // Price ascending.
  EXPECT_GT(list.Compare(a, b), 0);
  EXPECT_EQ(&list.Better(a, b), &b);

  // Records without a key field get keys of their own, never the same twice.
  s.Type.CurrentView->UniqueKeyIndex = -1;
  TResultRecord& c = list.NewRecord();
  TResultRecord& d = list.NewRecord();
  EXPECT_NE(c.UniqueKey(), d.UniqueKey());
  auto clone = c.Clone();
  EXPECT_EQ(clone->UniqueKey(), c.UniqueKey());
  EXPECT_FALSE(clone->FilteredOut);
}

TEST(ResultRecord, PricesInDifferentCurrenciesCompareInTheAxisCurrency) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  TCurrencyDefinitionList saved = CurrencyConverter().Definitions();
  CurrencyConverter().Definitions().Clear();
  CurrencyConverter().Definitions().Add({"USD", 1.0f, "US Dollar", "$"});
  CurrencyConverter().Definitions().Add({"GBP", 0.5f, "Pound", "\xc2\xa3"});
  TSearchResultList list(s.Instance.get());
  TResultRecord& pounds = list.NewRecord("GBP");
  TResultRecord& dollars = list.NewRecord("USD");
  TResultRecord& unknown = list.NewRecord("XXX");
  pounds.FindField("price")->SetFloat(10);  // 20 dollars
  dollars.FindField("price")->SetFloat(15);
  unknown.FindField("price")->SetFloat(12);  // no rate: compared as written
  pounds.FindField("price")->MoneyCode = "GBP";
  dollars.FindField("price")->MoneyCode = "USD";
  unknown.FindField("price")->MoneyCode = "XXX";
  EXPECT_GT(list.Compare(pounds, dollars), 0);
  EXPECT_EQ(&list.Better(pounds, dollars), &dollars);
  EXPECT_LT(list.Compare(unknown, dollars), 0);
  // One currency on both sides keeps the plain numbers, whatever the table says.
  TResultRecord& cheaper = list.NewRecord("GBP");
  cheaper.FindField("price")->SetFloat(9.99);
  cheaper.FindField("price")->MoneyCode = "GBP";
  EXPECT_LT(list.Compare(cheaper, pounds), 0);
  CurrencyConverter().Definitions() = saved;
}

TEST(ResultRecord, FormulaErrorsStayInTheirField) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  TSearchResultList list(s.Instance.get());
  TResultRecord& r = list.NewRecord();
  auto slot = s.Instance->Evaluator->NewSlot();
  slot->SetExpression("1 / 0");
  r.FindField("shipping")->FormulaSlot = slot;
  r.Refresh();
  EXPECT_EQ(r.FindField("shipping")->DisplayText(), "ERR104-Division by zero");
  EXPECT_EQ(r.FindField("title")->DisplayText(), "");
  r.DropTemporaryFields();
  EXPECT_EQ(r.FindField("shipping")->FormulaSlot, nullptr);
}

}  // namespace
}  // namespace vandrel
