#include "engines/EngineCompiler.h"

#include <gtest/gtest.h>

#include "EngineTestUtil.h"

namespace vandrel {
namespace {

using testing::Fixture;
using testing::TBooksSearch;

std::string Proc(const std::string& name, const std::string& body) {
  return "Procedure " + name + "\n" + body + "\nEndProcedure\n";
}

TEST(EngineCompiler, ResetVariablesAndTheirGuards) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  ASSERT_EQ(s.Run(Proc("Main",
                       "a = ResultsPerEngine\nb = ResultsPerPage\nc = UseCookies\nd = DT_MONEY\n"
                       "e = ExactPhraseDelimiter\nf = KO_AND"),
                  "Main"),
            0)
      << s.LastError();
  TVariableList& v = s.Engine.Variables();
  EXPECT_EQ(v.GetInteger("a", 0), 10);
  EXPECT_EQ(v.GetInteger("b", 0), 65535);
  EXPECT_TRUE(v.GetBoolean("c", false));
  EXPECT_EQ(v.GetInteger("d", 0), 7);  // constants come through the instance and the search type
  EXPECT_EQ(v.GetString("e", ""), "\"");
  EXPECT_EQ(v.GetInteger("f", 0), 1);
  EXPECT_EQ(s.Run(Proc("Main", "ResultsPerEngine = \"abc\""), "Main"), 106);
  EXPECT_EQ(s.LastError(), "Incompatible data types: 'Integer' and 'String'");
  EXPECT_EQ(s.Run(Proc("Main", "Iteration = 2"), "Main"), 114);
  EXPECT_EQ(s.LastError(), "Variable 'Iteration' is read-only");
  // The host may still set them; a reset brings the defaults back.
  s.Engine.Variables().SetInteger("Iteration", 3);
  s.Engine.Variables().SetInteger("ResultsPerEngine", 4);
  s.Engine.ResetEngineVariables();
  EXPECT_EQ(s.Engine.Variables().GetInteger("Iteration", -1), 0);
  EXPECT_EQ(s.Engine.Variables().GetInteger("ResultsPerEngine", -1), 10);
  // A procedure that does not exist runs nothing.
  EXPECT_EQ(s.Engine.ExecuteProcedure("Init"), 0);
}

TEST(EngineCompiler, CommandsReachTheParser) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  ASSERT_EQ(s.Run(Proc("Main",
                       "SetHttpVar \"a=1\"\nAddExcluded \"ads\"\nAddIncluded \"/p/\"\nAddPrefix \"ftp://\"\n"
                       "AddLinefeedTag \"<br>\"\nAddTempField \"isbn\"\nAddTempField \"pages\", DT_INTEGER\n"
                       "IgnoreHttpStatusCode 404\nRules[\"price\"].startmarker = \"<b>\"\n"
                       "TranslateInRule \"price\", \",\", \".\"\nTranslateInRule \"nosuch\", \"a\", \"b\"\n"
                       "Rules[\"url\"].key = True\nk = Rules[\"url\"].code\nRules[\"x\"].formula = \"1+1\"\n"
                       "n = Rules.count\nx = Rules[\"x\"].code\nRules[\"price\"].startmarkeroccurence = 2"),
                  "Main"),
            0)
      << s.LastError();
  TResultsParserEx& p = s.Engine.ResultsParser;
  EXPECT_EQ(s.Engine.HttpVars->Items(), std::vector<std::string>{"a=1"});
  EXPECT_EQ(p.Exclusions->Items(), std::vector<std::string>{"ads"});
  EXPECT_EQ(p.Inclusions->Items(), std::vector<std::string>{"/p/"});
  EXPECT_EQ(p.Prefixes->Count(), 3u);
  EXPECT_EQ(p.LineFeedTags->Items(), std::vector<std::string>{"<br>"});
  ASSERT_EQ(p.TempFields().size(), 2u);
  EXPECT_EQ(p.TempFields()[1]->DataType, dtInteger);
  EXPECT_TRUE(p.TempFields()[1]->Temporary);
  EXPECT_EQ(s.Engine.IgnoredStatusCodes, std::vector<int32_t>{404});
  TSearchRule& price = *p.Rules->Find("PRICE");
  EXPECT_EQ(price.StartMarker, "<b>");
  EXPECT_EQ(price.StartMarkerOccurrence, 2);
  EXPECT_EQ(price.Translate("1,5\t"), "1.5");
  TVariableList& v = s.Engine.Variables();
  EXPECT_EQ(v.GetInteger("k", 0), RC_LINKADDRESS);
  EXPECT_EQ(v.GetInteger("x", 0), RC_FORMULA);
  EXPECT_EQ(v.GetInteger("n", 0), 4);  // Range, price, url, x
  // Temporary fields follow the search type's own in every new record.
  EXPECT_EQ(p.NewRecord()->FieldCount(), 8u);

  EXPECT_EQ(s.Run(Proc("Main", "RaiseError 777, \"store closed\""), "Main"), 777);
  EXPECT_EQ(s.LastError(), "store closed");
  EXPECT_EQ(s.Run(Proc("Main", "TranslateInRule \"price\", \",\""), "Main"), 106);
  EXPECT_EQ(s.LastError(), "Incompatible data types: 'Unknown' and 'Unknown'");
  EXPECT_EQ(s.Run(Proc("Main", "RaiseError \"x\", \"y\""), "Main"), 106);
}

TEST(EngineCompiler, SearchQueryAndInputFields) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  s.Instance->InputFields.Find("Keywords")->SetString("garden \"forking paths\"");
  s.Instance->InputFields.Find("KeywordOp")->SetInteger(1);
  ASSERT_EQ(
      s.Run(
          Proc("Main",
               "SearchQuerySeparator = \"+\"\nSearchQueryPrefix = \"q=\"\nSetSearchQuery\nq1 = SearchQuery\n"
               "raw = InputFields[\"Keywords\"].originalvalue\nInputFields[\"Keywords\"].separator = \",\"\n"
               "sep = InputFields[\"Keywords\"].value\nwc = InputFields[1].wordcount\n"
               "dn = InputFields[\"Keywords\"].displayname\nnone = InputFields[\"nosuch\"].value\n"
               "all = AllWords\nqt = QueryType\nst = SearchTypeName\n"
               "InputFields[\"Keywords\"].originalvalue = \"new words\"\nkw = Keywords"),
          "Main"),
      0)
      << s.LastError();
  TVariableList& v = s.Engine.Variables();
  EXPECT_EQ(v.GetString("q1", ""), "q=garden+%22forking%20paths%22");
  EXPECT_EQ(v.GetString("raw", ""), "garden \"forking paths\"");
  EXPECT_EQ(v.GetString("sep", ""), "q=garden,%22forking%20paths%22");
  EXPECT_EQ(v.GetInteger("wc", 0), 2);
  EXPECT_EQ(v.GetString("dn", ""), "Title or keywords");
  EXPECT_EQ(v.GetString("none", "x"), "");
  EXPECT_TRUE(v.GetBoolean("all", false));
  EXPECT_EQ(v.GetInteger("qt", 0), 1);
  EXPECT_EQ(v.GetString("st", ""), "books");
  // Input values are mirrored into the instance variables named like the fields.
  EXPECT_EQ(v.GetString("kw", ""), "new words");

  // An exact phrase when the variable QueryType (not the function) says so.
  s.Instance->InputFields.Find("Keywords")->SetString("garden \"forking paths\"");
  s.Instance->Variables.SetInteger("QueryType", 2);
  ASSERT_EQ(s.Run(Proc("Main", "SetSearchQuery\nq2 = SearchQuery"), "Main"), 0) << s.LastError();
  EXPECT_EQ(s.Engine.Variables().GetString("q2", ""), "q=%22garden+%22forking%20paths%22");
}

TEST(EngineCompiler, ResultsAndExpansion) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  ASSERT_EQ(s.Run(Proc("Main",
                       "n = AddResult\nr = Results.add\nr.title = \"Two\"\nResults[1].title = \"One\"\n"
                       "Results[2].deleted = True\nf = Results[1].fields\nfc = f.count\nfn = f[1].name\n"
                       "l = CreateStringList\nl.add(\"paperback\")\nl.add(\"hardcover\")\nl.add(\"audio\")\n"
                       "ExpandResults \"shipping\", l\nc = Results.count\nt = Results[4].title\n"
                       "s = Results[6].shipping\nd = Results[6].deleted\nout = Results[99].title"),
                  "Main"),
            0)
      << s.LastError();
  TVariableList& v = s.Engine.Variables();
  EXPECT_EQ(v.GetInteger("n", 0), 1);
  EXPECT_EQ(v.GetInteger("fc", 0), 6);
  EXPECT_EQ(v.GetString("fn", ""), "title");
  EXPECT_EQ(v.GetInteger("c", 0), 6);
  EXPECT_EQ(v.GetString("t", ""), "Two");
  EXPECT_EQ(v.GetString("s", ""), "audio");
  EXPECT_TRUE(v.GetBoolean("d", false));
  TSearchResultList& page = s.Engine.ResultsParser.Results();
  EXPECT_EQ(page.At(0).FindField("shipping")->Text, "paperback");
  EXPECT_EQ(page.At(2).FindField("title")->Text, "One");

  struct {
    const char* Body;
    int Code;
    const char* Text;
  } errors[] = {
      {"ExpandResults \"nosuch\", CreateStringList", 108, "Invalid parameter: 'nosuch'"},
      {"ExpandResults \"title\", 5", 108, "Invalid parameter: '(Collection)'"},
      {"x = Results[\"a\"].title", 108, "Invalid parameter: 'a'"},
      {"x = Results[1].nosuch", 111, "Property not found: 'nosuch'"},
      {"f = Results[1].fields\nx = f[\"nosuch\"].value", 130, "Field 'nosuch' not found in result record"},
      {"For Each r in Results\nx = Results.add\nEndFor", 211,
       "Cannot modify 'Results' collection while in For Each statement"},
  };
  for (const auto& e : errors) {
    EXPECT_EQ(s.Run(Proc("Main", e.Body), "Main"), e.Code) << e.Body;
    EXPECT_EQ(s.LastError(), e.Text) << e.Body;
  }
}

TEST(EngineCompiler, ExpansionIntoNumericFieldsReadsDecimals) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  s.Engine.ResultsParser.DefaultMoneyCode = "EUR";
  ASSERT_EQ(s.Run(Proc("Main",
                       "r = Results.add\nr.title = \"A\"\nl = CreateStringList\nl.add(\"12.50\")\n"
                       "l.add(\" 7 \")\nl.add(\"abc\")\nExpandResults \"price\", l"),
                  "Main"),
            0)
      << s.LastError();
  TSearchResultList& page = s.Engine.ResultsParser.Results();
  ASSERT_EQ(page.Count(), 3u);
  const double expected[] = {12.5, 7, 0};
  for (size_t i = 0; i < 3; ++i) {
    TResultField& price = *page.At(i).FindField("price");
    EXPECT_EQ(price.DataType, dtMoney);
    EXPECT_EQ(price.Number, expected[i]) << i;
    EXPECT_EQ(price.MoneyCode, "EUR") << "the engine's money code stays";
  }

  testing::TTypeFromSource type(testing::RegisterProc(
      "  Name = \"parcels\"\n  f = AddInputField(\"Keywords\")\n  f = AddOutputField(\"weight\")\n"
      "  f.datatype = DT_FLOAT"));
  ASSERT_TRUE(type.Ok) << type.LastError();
  TSearchTypeInstance instance(&type.Reader);
  TEngineCompiler engine;
  engine.SetInstance(&instance);
  engine.ResultsParser.Reset();
  engine.LoadFromStream(Proc("Main",
                             "r = Results.add\nr.weight = 9\nl = CreateStringList\nl.add(\"0.25\")\n"
                             "l.add(\"1e3\")\nExpandResults \"weight\", l"));
  ASSERT_EQ(engine.Compile(), 0);
  ASSERT_EQ(engine.ExecuteProcedure("Main"), 0);
  ASSERT_EQ(engine.ResultsParser.Results().Count(), 2u);
  EXPECT_EQ(engine.ResultsParser.Results().At(0).FindField("weight")->Number, 0.25);
  EXPECT_EQ(engine.ResultsParser.Results().At(1).FindField("weight")->Number, 1000.0);
}

TEST(EngineCompiler, RecordHeldAcrossExpansionIsNotUsedAfterFree) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  // The record a script keeps is gone after the expansion; reading it gives nothing, not freed memory.
  EXPECT_EQ(s.Run(Proc("Main",
                       "r = Results.add\nl = CreateStringList\nl.add(\"x\")\nExpandResults \"title\", l\n"
                       "t = r.title\nr.title = \"y\""),
                  "Main"),
            0)
      << s.LastError();
  EXPECT_EQ(s.Engine.ResultsParser.Results().At(0).FindField("title")->Text, "x");
}

TEST(EngineCompiler, HeldRecordsFollowTheirRecordAsThePageChanges) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  ASSERT_EQ(s.Run(Proc("Main",
                       "n = AddResult\nn = AddResult\nn = AddResult\nResults[1].title = \"A\"\n"
                       "Results[2].title = \"B\"\nResults[3].title = \"C\"\nr = Results[3]\nf = r.fields\n"
                       "t = f[\"title\"]") +
                      Proc("Read", "a = r.title\nb = f[\"title\"].value\nc = t.value") +
                      Proc("Write", "r.title = \"Z\""),
                  "Main"),
            0)
      << s.LastError();
  TSearchResultList& page = s.Engine.ResultsParser.Results();
  TVariableList& v = s.Engine.Variables();
  // The held record moves up when one before it goes: every way of holding it still reaches it.
  page.Delete(0);
  ASSERT_EQ(s.Engine.ExecuteProcedure("Read"), 0) << s.LastError();
  EXPECT_EQ(v.GetString("a", ""), "C");
  EXPECT_EQ(v.GetString("b", ""), "C");
  EXPECT_EQ(v.GetString("c", ""), "C");
  ASSERT_EQ(s.Engine.ExecuteProcedure("Write"), 0) << s.LastError();
  EXPECT_EQ(page.At(1).FindField("title")->Text, "Z");
  // Once it is off the page, a write through it reaches no other record.
  page.Delete(1);
  s.Engine.ExecuteProcedure("Write");
  ASSERT_EQ(page.Count(), 1u);
  EXPECT_EQ(page.At(0).FindField("title")->Text, "B");
}

// `Results[i].field` takes a shortcut past the host values; a held record takes the generic way. Both
// must read, write and fail alike for every kind of key and field.
TEST(EngineCompiler, IndexedFieldAccessMatchesTheHeldRecord) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  const std::string main =
      "n = AddResult\nn = AddResult\nr = Results[2]\nq = Results[1]\n"
      "Results[2].title = \"Long title past sixteen\"\nResults[2.7].price = 12\n"
      "Results[1].PRICE = 3.5\nResults[1].label = 7\nq.url = 7";
  const std::string read =
      "a1 = Results[2].title\nb1 = r.title\na2 = Results[2].price\nb2 = r.price\n"
      "a3 = Results[2].Author\nb3 = r.author\na4 = Results[2].deleted\nb4 = r.deleted\n"
      "p1 = Results[1].price";
  ASSERT_EQ(s.Run(Proc("Main", main) + Proc("Read", read), "Main"), 0) << s.LastError();
  TSearchResultList& page = s.Engine.ResultsParser.Results();
  const TResultField& price2 = *page.At(1).FindField("price");
  EXPECT_EQ(price2.DataType, dtMoney) << "a declared field keeps its type";
  EXPECT_EQ(price2.Number, 12);
  EXPECT_EQ(page.At(0).FindField("price")->Number, 3.5);
  // The same number written by the shortcut and by the held record.
  const TResultField& label = *page.At(0).FindField("label");
  const TResultField& url = *page.At(0).FindField("url");
  EXPECT_EQ(label.DataType, url.DataType);
  EXPECT_EQ(label.Number, url.Number);
  EXPECT_EQ(label.Text, url.Text);

  ASSERT_EQ(s.Engine.ExecuteProcedure("Read"), 0) << s.LastError();
  TVariableList& v = s.Engine.Variables();
  for (const char* pair : {"1", "2", "3", "4"}) {
    const std::string a = std::string("a") + pair, b = std::string("b") + pair;
    EXPECT_EQ(v.Find(a)->DataType, v.Find(b)->DataType) << a;
    EXPECT_EQ(v.Find(a)->Number, v.Find(b)->Number) << a;
    EXPECT_EQ(v.Find(a)->Text, v.Find(b)->Text) << a;
  }
  EXPECT_EQ(v.GetString("a1", ""), "Long title past sixteen");
  EXPECT_EQ(v.Find("a2")->DataType, dtInteger) << "a whole amount reads as an integer, as any host value";
  EXPECT_EQ(v.Find("p1")->DataType, dtFloat);
  EXPECT_EQ(v.Find("p1")->Number, 3.5);

  struct {
    const char* Body;
    int Code;
    const char* Text;
  } errors[] = {
      {"x = Results[True].title", 108, "Invalid parameter: 'True'"},
      {"Results[True].title = \"x\"", 108, "Invalid parameter: 'True'"},
      {"Results[\"a\"].title = \"x\"", 108, "Invalid parameter: 'a'"},
      {"Results[1].nosuch = 1", 111, "Property not found: 'nosuch'"},
      {"Results[r].title = 1", 108, "Invalid parameter: 'r'"},
  };
  for (const auto& e : errors) {
    EXPECT_EQ(s.Run(Proc("Main", "n = AddResult\nr = Results[1]\n" + std::string(e.Body)), "Main"), e.Code)
        << e.Body;
    EXPECT_EQ(s.LastError(), e.Text) << e.Body;
  }
  // Writes past the page and to "deleted" go the generic way.
  ASSERT_EQ(s.Run(Proc("Main", "n = AddResult\nResults[5].title = \"x\"\nResults[1].deleted = 1"), "Main"), 0)
      << s.LastError();
  EXPECT_TRUE(s.Engine.ResultsParser.Results().At(0).Deleted);
}

TEST(EngineCompiler, QueryParserObjectsAndLinkFunctions) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  s.Engine.ResultsParser.SetPageText("<a href=\"a.htm\">Alpha $1</a> <a href=\"b.htm\">Beta $2</a>");
  ASSERT_EQ(s.Run(Proc("Main",
                       "q = CreateQueryParser\nq.originalvalue = \"red shoes\"\nq.separator = \"+\"\n"
                       "v = q.value\nw = q[2]\nc = q.count\n"
                       "l1 = FindLinkAtText(ResultPage, \"$2\")\nl2 = FindLinkAtIndex(ResultPage, 1)\n"
                       "l3 = FindLinkAtText(\"<p>x</p><a href=c.htm>Gamma</a>\", \"gamma\")\n"
                       "l4 = FindLinkAtText(ResultPage, \"nowhere\")\nb = BuildNumber\ned = Edition"),
                  "Main"),
            0)
      << s.LastError();
  TVariableList& v = s.Engine.Variables();
  EXPECT_EQ(v.GetString("v", ""), "red+shoes");
  EXPECT_EQ(v.GetString("w", ""), "shoes");
  EXPECT_EQ(v.GetInteger("c", 0), 2);
  EXPECT_EQ(v.GetString("l1", ""), "b.htm");
  EXPECT_EQ(v.GetString("l2", ""), "a.htm");
  EXPECT_EQ(v.GetString("l3", ""), "c.htm");
  EXPECT_EQ(v.GetString("l4", "x"), "");
  EXPECT_EQ(v.GetInteger("b", -1), 0);
  EXPECT_EQ(v.GetString("ed", "x"), "");
}

TEST(EngineReader, RegisterSettingsAndLocalTexts) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  TEngineReader r;
  ASSERT_TRUE(r.Load(Fixture("bookbarn.sen"), s.Instance.get()));
  EXPECT_EQ(r.Name, "bookbarn");
  EXPECT_EQ(r.Category, "books");  // from ChannelSet
  EXPECT_EQ(r.HomePage, "http://www.bookbarn.test/");
  EXPECT_TRUE(r.SupportExactPhrase);
  EXPECT_TRUE(r.Enabled);
  EXPECT_EQ(r.Compiler().LocalDisplayName(), "Book Barn");
  EXPECT_EQ(r.Compiler().LocalPriority(), 5);
  TEditionInfo edition{1234, "PRO", "ENG"};
  r.Compiler().EditionInfo = &edition;
  EXPECT_EQ(r.Compiler().LocalPriority(), 5);  // no entry for the edition: the language's
  r.Compiler().Priorities->AddWithValue("PRO", THostValue(static_cast<int64_t>(9)));
  EXPECT_EQ(r.Compiler().LocalPriority(), 9);

  TEngineReader broken;
  EXPECT_FALSE(broken.Load(Fixture("broken.sen"), s.Instance.get()));
  ASSERT_FALSE(broken.Compiler().Errors.empty());
  EXPECT_EQ(broken.Compiler().Errors.front().Code, 205);
}

TEST(CategoryReader, DefaultsAndSettings) {
  test::TempFolder dir;
  test::WriteWholeFile(dir / "empty.sca", "Procedure Register\nEndProcedure\n");
  test::WriteWholeFile(
      dir / "toys.sca",
      "Procedure Register\nSearchType = \"products\"\nResultsPerEngine = 25\nEnabled = False\n"
      "EndProcedure\n");
  TCategoryReader empty, toys;
  ASSERT_TRUE(empty.Load(dir / "empty.sca"));
  EXPECT_EQ(empty.SearchType, "web");
  EXPECT_EQ(empty.Language, "ENG");
  EXPECT_EQ(empty.Name, "empty");
  ASSERT_TRUE(toys.Load(dir / "toys.sca"));
  EXPECT_EQ(toys.SearchType, "products");
  EXPECT_EQ(toys.ResultsPerEngine, 25);
  EXPECT_FALSE(toys.Enabled);
}

TEST(EngineCompiler, MoneyCodeBelongsToTheEngine) {
  TBooksSearch s;
  ASSERT_TRUE(s.Ok);
  TEngineCompiler other;
  other.SetInstance(s.Instance.get());
  // One engine declares its money code global; the other never set one and keeps its own.
  ASSERT_EQ(s.Run(Proc("Main", "Global DefaultMoneyCode = \"EUR\""), "Main"), 0) << s.LastError();
  s.Engine.ApplyPageSettings();
  other.ApplyPageSettings();
  EXPECT_EQ(other.ResultsParser.DefaultMoneyCode, "");
  other.Variables().SetString("DefaultMoneyCode", "GBP");
  other.ApplyPageSettings();
  EXPECT_EQ(other.ResultsParser.DefaultMoneyCode, "GBP");

  // The search publishes its default money code; an engine assigning its own keeps it to itself.
  s.Instance->Variables.SetString("DefaultMoneyCode", "USD");
  TEngineCompiler third;
  third.SetInstance(s.Instance.get());
  third.LoadFromStream(Proc("Init", "DefaultMoneyCode = \"CAD\""));
  ASSERT_EQ(third.Compile(), 0);
  ASSERT_EQ(third.ExecuteProcedure("Init"), 0);
  third.ApplyPageSettings();
  EXPECT_EQ(third.ResultsParser.DefaultMoneyCode, "CAD");
  EXPECT_EQ(s.Instance->Variables.GetString("DefaultMoneyCode", ""), "USD");
}

}  // namespace
}  // namespace vandrel
