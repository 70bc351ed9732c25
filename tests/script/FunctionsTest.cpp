#include "script/FuncEvaluator.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

class ScriptFunctions : public ::testing::Test {
 protected:
  std::string Str(const std::string& text) {
    EXPECT_TRUE(ev.Evaluate(text)) << text << ": " << ev.ErrorText;
    EXPECT_EQ(ev.DataType, dtString) << text;
    return ev.Text;
  }
  double Num(const std::string& text) {
    EXPECT_TRUE(ev.Evaluate(text)) << text << ": " << ev.ErrorText;
    return ev.Number;
  }
  TFuncEvaluator ev;
};

TEST_F(ScriptFunctions, FindingText) {
  EXPECT_EQ(Num("StrFind(\"b\", \"abc\")"), 2);
  EXPECT_EQ(Num("StrFind(\"B\", \"abc\")"), 0);
  EXPECT_EQ(Num("Find(\"\", \"abc\")"), 0);
  EXPECT_EQ(Num("StrFindFrom(\"a\", \"banana\", 3)"), 4);
  EXPECT_EQ(Num("StrFindFrom(\"a\", \"banana\", 0)"), 2);
  EXPECT_EQ(Num("StrReverseFind(\"an\", \"banana\")"), 4);
  EXPECT_EQ(Num("StrReverseFindFrom(\"an\", \"banana\", 3)"), 2);
  EXPECT_EQ(Num("RFindFromIndex(\"an\", \"banana\", 0)"), 4);
  EXPECT_EQ(ev.DataType, dtInteger);
}

TEST_F(ScriptFunctions, CuttingAndJoiningText) {
  EXPECT_EQ(Str("StrCopy(\"abcdef\", 2, 3)"), "bcd");
  EXPECT_EQ(Str("Substring(\"abcdef\", 0, 2)"), "ab");
  EXPECT_EQ(Str("StrCopy(\"abcdef\", 5, 10)"), "ef");
  EXPECT_EQ(Str("StrDelete(\"abcdef\", 2, 3)"), "aef");
  EXPECT_EQ(Str("DeleteString(\"abc\", 9, 1)"), "abc");
  EXPECT_EQ(Str("StrInsert(\"X\", \"abc\", 2)"), "aXbc");
  EXPECT_EQ(Str("InsertString(\"X\", \"abc\", 99)"), "abcX");
  EXPECT_EQ(Str("StrReplace(\"aXbx\", \"x\", \"-\")"), "a-b-");
  EXPECT_EQ(Str("Replace(\"aaa\", \"aa\", \"b\")"), "ba");
  EXPECT_EQ(Str("Replace(\"abc\", \"\", \"b\")"), "abc");
  EXPECT_EQ(Str("StrEllipsis(\"abcdefghij\", 6)"), "abc...");
  EXPECT_EQ(Str("StrEllipsis(\"abc\", 6)"), "abc");
  EXPECT_EQ(Str("EllipsisText(\"abcdefghij\", 2)"), "...");
  EXPECT_EQ(Str("StrTrim(\"  a b \t\")"), "a b");
  EXPECT_EQ(Num("StrLength(\"abc\")"), 3);
  EXPECT_FALSE(ev.Evaluate("StrLength(5)"));
  EXPECT_EQ(ev.ErrorText, "Incompatible data types: 'Float' and 'String'");
  EXPECT_FALSE(ev.Evaluate("StrLength()"));
  EXPECT_EQ(ev.ErrorCode, 113);
}

TEST_F(ScriptFunctions, Entries) {
  EXPECT_EQ(Str("StrEntry(2, \"a,b,c\", \",\")"), "b");
  EXPECT_EQ(Str("StrEntry(3, \"a,b,c\", \",\")"), "c");
  EXPECT_EQ(Str("StrEntry(1, \"x\", \",\")"), "x");
  EXPECT_EQ(Str("StrEntry(2, \"x\", \",\")"), "");
  EXPECT_EQ(Str("StrEntry(0, \"a,b\", \",\")"), "");
  EXPECT_EQ(Str("Entry(2, \"aXXbxxc\", \"xx\")"), "b");
  // An empty separator does not occur: the whole text is entry 1, and nothing loops.
  EXPECT_EQ(Str("StrEntry(1, \"abc\", \"\")"), "abc");
  EXPECT_EQ(Str("StrEntry(2, \"abc\", \"\")"), "");
}

TEST_F(ScriptFunctions, CaseHandling) {
  EXPECT_EQ(Str("StrCapitalize(\"hELLO wORLD\")"), "Hello World");
  EXPECT_EQ(Str("StrCapitalize(\"1abc (def)\")"), "1abc (Def)");
  EXPECT_EQ(Str("StrSentence(\"HELLO. WORLD\")"), "Hello. World");
  EXPECT_EQ(Str("StrSentence(\"weighs 3.5 KG\")"), "Weighs 3.5 kg");
  EXPECT_EQ(Str("StrLower(\"AbC\")"), "abc");
  EXPECT_EQ(Str("UpperCase(\"AbC\")"), "ABC");
}

TEST_F(ScriptFunctions, NumbersAndChoices) {
  EXPECT_EQ(Num("Round(-2.5)"), -2);
  EXPECT_EQ(Num("Round(2.5)"), 2);
  EXPECT_EQ(Num("Round(3.5)"), 4);
  EXPECT_EQ(Num("Round(2.6)"), 3);
  EXPECT_EQ(Num("Trunc(-2.7)"), -2);
  EXPECT_EQ(ev.DataType, dtInteger);
  EXPECT_EQ(Str("Chr(65)"), "A");
  EXPECT_EQ(Str("Chr(321)"), "A");
  EXPECT_NEAR(Num("LogN(10, 1000)"), 3, 1e-12);
  EXPECT_EQ(Num("iif(1, 2.5, \"x\")"), 2.5);
  EXPECT_EQ(ev.DataType, dtFloat);
  EXPECT_EQ(Num("iif(\"\", 1, 2)"), 2);
  EXPECT_EQ(ev.DataType, dtInteger);
  EXPECT_EQ(Str("iif(0 = 0, \"yes\", \"no\")"), "yes");
  EXPECT_EQ(Num("Random(0)"), 0);
  EXPECT_EQ(Num("Random(-5)"), 0);
  for (int i = 0; i < 20; ++i) {
    double r = Num("Random(3)");
    EXPECT_TRUE(r >= 0 && r < 3);
  }
  EXPECT_FALSE(ev.Evaluate("Round(10 ^ 300)"));
  EXPECT_EQ(ev.ErrorCode, 122);
}

TEST_F(ScriptFunctions, VariablesByName) {
  ev.Variables()->SetString("title", "x");
  EXPECT_EQ(Num("GetDataType(\"nosuch\")"), 0);
  EXPECT_EQ(Num("GetDataType(\"TITLE\")"), dtString);
  ev.Evaluate("Declared(\"nosuch\")");
  EXPECT_FALSE(ev.AsBoolean());
  ev.Evaluate("Declared(\"title\")");
  EXPECT_TRUE(ev.AsBoolean());
}

TEST_F(ScriptFunctions, IsbnAndEscaping) {
  EXPECT_EQ(Str("FormatISBN(\"123\")"), "123");
  EXPECT_EQ(Str("FormatISBN(\"0345391802\")"), "0-345-39180-2");
  EXPECT_EQ(Str("FormatISBN(\"1555587890\")"), "1-55558-789-0");
  EXPECT_EQ(Str("FormatISBN(\"0123456789\")"), "0-12-345678-9");
  EXPECT_EQ(Str("FormatISBN(\"0999999999\")"), "0-9999999-9-9");
  EXPECT_EQ(Str("FormatISBN(\"1000000000\")"), "1000000000");
  EXPECT_EQ(Str("FormatISBN(\"2345678901\")"), "2345678901");
  EXPECT_EQ(Str("SafeVar(\"a b&c\")"), "a%20b%26c");
  EXPECT_EQ(Str("SafeUrl(\"http://h/a b\")"), "http://h/a%20b");
  EXPECT_EQ(Str("SafeUrl(\"http://h/a%b~\")"), "http://h/a%b%7E");
  EXPECT_EQ(Str("SafeUrl(\"no scheme/a b\")"), "no scheme/a b");
}

TEST_F(ScriptFunctions, CleaningMarkup) {
  EXPECT_EQ(ScriptClean("a<b>c", nullptr), "ac");
  EXPECT_EQ(Str("Clean(\" a <b> c \")"), "a c");
  EXPECT_EQ(Str("Clean(\"x &amp; y\")"), "x & y");
  EXPECT_EQ(Str("Clean(\"50%25 off%2\")"), "50% off%2");
  EXPECT_EQ(Str("Clean(\"keep <unclosed\")"), "keep");
}

TEST_F(ScriptFunctions, Formatting) {
  EXPECT_EQ(Str("StrFormat(\"%.2f\", 3.14159)"), "3.14");
  EXPECT_EQ(Str("StrFormat(\"%d items\", 7 div 1)"), "7 items");
  EXPECT_EQ(Str("FormatString(\"[%s]\", \"a\")"), "[a]");
  EXPECT_FALSE(ev.Evaluate("StrFormat(\"%d\", \"a\")"));
  EXPECT_EQ(ev.ErrorCode, 126);
  EXPECT_EQ(ev.ErrorText.rfind("Convert error: ", 0), 0u);
  EXPECT_FALSE(ev.Evaluate("StrFormat(5, 1)"));
  EXPECT_EQ(ev.ErrorText, "Invalid parameter: ''");
  // 2026-12-09 14:05:03 is day 46365.
  double t = 46365 + (14 * 3600 + 5 * 60 + 3) / 86400.0;
  EXPECT_EQ(ScriptFormatDateTime("yyyy-mm-dd hh:nn:ss", t), "2026-12-09 14:05:03");
  EXPECT_EQ(ScriptFormatDateTime("d mmm yy, h:mm am/pm", t), "9 Dec 26, 2:05 pm");
  EXPECT_EQ(ScriptFormatDateTime("dddd 'at' hh", t), "Wednesday at 14");
  EXPECT_EQ(ScriptFormatDateTime("dd/mm/yyyy", 2), "01/01/1900");
  EXPECT_GT(Num("Now"), 40000);
}

TEST_F(ScriptFunctions, Addresses) {
  EXPECT_EQ(Str("ExtractDomain(\"http://www.store.test/a/b?x=1\")"), "www.store.test");
  EXPECT_EQ(Str("GetQueryField(\"http://h/p?aname=1&name=2\", \"name\")"), "2");
  EXPECT_EQ(Str("GetQueryField(\"http://h/p?aname=1\", \"name\")"), "");
  EXPECT_EQ(Str("SetQueryField(\"http://h/p?aname=1\", \"name\", \"3\")"), "http://h/p?aname=1&name=3");
  EXPECT_EQ(Str("SetQueryField(\"http://h/p?name=1&b=2\", \"name\", \"3\")"), "http://h/p?name=3&b=2");
  ev.Variables()->SetInteger("UrlReduction", 0xFFFF);
  EXPECT_EQ(Str("ReduceUrl(\"http://www.store.test/index.html\")"), "http://store.test");
  ev.Variables()->SetInteger("UrlReduction", 7);
  EXPECT_EQ(Str("ReduceUrl(\"http://www.store.test/index.html/\")"), "http://store.test");
  ev.Variables()->SetInteger("UrlReduction", 4);
  EXPECT_EQ(Str("ReduceUrl(\"http://www.store.test/index.html/\")"), "http://www.store.test/index.html/");
}

}  // namespace
}  // namespace vandrel
