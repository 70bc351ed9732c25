#include "script/BaseCompiler.h"

#include <gtest/gtest.h>

#include "TempFolder.h"

#include <cstdio>
#include <fstream>

#include "ScriptTestUtil.h"
#include "script/CollectionWrappers.h"

namespace vandrel {
namespace {

using testing::MainProc;
using testing::TScriptRun;

TEST(ScriptStatements, AssignmentPromotesTypes) {
  TScriptRun r(
      MainProc("a = 1\n"
               "b = a + 1\n"  // arithmetic gives a Float; a whole one into a new name becomes an Integer
               "a = a + 1\n"  // but into a numeric variable it stays a Float
               "c = 2.5\n"
               "d = \"x\"\n"
               "d = 4\n"
               "e = (1 = 1)\n"
               "isbn = 9780345391803"));
  ASSERT_EQ(r.CompileCode, 0);
  ASSERT_EQ(r.Run("Main"), 0) << r.LastErrorText();
  EXPECT_EQ(r.Var("b")->DataType, dtInteger);
  EXPECT_EQ(r.Var("a")->DataType, dtFloat);
  EXPECT_EQ(r.Var("a")->Number, 2);
  EXPECT_EQ(r.Var("c")->DataType, dtFloat);
  EXPECT_EQ(r.Var("d")->DataType, dtInteger);
  EXPECT_EQ(r.Var("e")->DataType, dtBoolean);
  EXPECT_EQ(r.Var("isbn")->AsInteger(), 9780345391803LL);
}

TEST(ScriptStatements, AssignmentErrors) {
  struct {
    const char* Body;
    int Code;
    const char* Text;
  } cases[] = {
      {"True = 1", 114, "Variable 'True' is read-only"},
      {"Trim = 1", 208, "Reserved keyword: 'Trim'"},
      {"nosuch.x = 1", 129, "Unknown object: nosuch.x"},
      {"FileVersion = \"x\"", 106, "Incompatible data types: 'Integer' and 'String'"},
      {"FileVersion = 2.5", 0, ""},  // numeric into a fixed Integer: allowed
      {"x = unknownname", 117, "Unknown identifier: unknownname"},
      {"l = CreateStringList\nx = l[1]", 128, "List error: List index out of bounds (0)"},
  };
  for (const auto& c : cases) {
    TScriptRun r(MainProc(c.Body));
    ASSERT_EQ(r.CompileCode, 0) << c.Body;
    EXPECT_EQ(r.Run("Main"), c.Code) << c.Body;
    if (c.Code) {
      EXPECT_EQ(r.LastErrorText(), c.Text) << c.Body;
    }
  }
  // A fixed String variable refuses numbers.
  TScriptRun r(MainProc("t = 1"));
  r.Compiler.Variables().SetString("t", "s", true);
  EXPECT_EQ(r.Run("Main"), 106);
  EXPECT_EQ(r.LastErrorText(), "Incompatible data types: 'String' and 'Float'");
}

TEST(ScriptStatements, TranslationKeepsCommentsOnlyAfterKeywords) {
  TScriptRun bad(MainProc("x = 5 // five"));
  EXPECT_EQ(bad.Run("Main"), 117);
  TScriptRun good(
      MainProc("x = 5\nIf x = 5 // five\nWriteOutput \"yes\" // said\nEndif\n// note\nRem also a note"));
  ASSERT_EQ(good.CompileCode, 0);
  EXPECT_EQ(good.Run("Main"), 0);
  EXPECT_EQ(good.Output, std::vector<std::string>{"yes"});
  std::vector<std::string> lines;
  for (const auto& l : good.Compiler.Lines) lines.push_back(l.Text);
  EXPECT_EQ(lines, (std::vector<std::string>{"FF01", "0015Main", "0011x = 5", "0012x=5", "001F\"yes\"",
                                             "0014", "0016"}));
}

TEST(ScriptStatements, WarningsAndKeywordErrors) {
  TScriptRun msg(MainProc("MsgBox 1, \"a\"\nMessageBox 2"));
  ASSERT_EQ(msg.CompileCode, 0);
  ASSERT_EQ(msg.Compiler.Warnings.size(), 1u);
  EXPECT_EQ(msg.Compiler.Warnings[0].Code, 401);
  EXPECT_EQ(msg.Compiler.Warnings[0].Symbol, "MsgBox");
  EXPECT_EQ(msg.Run("Main"), 0);
  EXPECT_EQ(msg.Output, (std::vector<std::string>{"Message:1\na", "Message:2"}));

  TBaseCompiler plain;
  plain.Optimize = false;
  plain.LoadFromStream(MainProc("x = 1"));
  EXPECT_EQ(plain.Compile(), 202);
  EXPECT_EQ(plain.Errors.back().Text, "Keyword not found: $0000");

  TBaseCompiler empty;
  EXPECT_EQ(empty.Compile(), 201);
  EXPECT_EQ(empty.Errors.back().Text, "Corrupted source file");
}

TEST(ScriptStatements, CompileErrorsCarryTheirLine) {
  struct {
    const char* Source;
    int Code;
    int Line;
  } cases[] = {
      {"Procedure Main\nIf 1\nEndProcedure", 205, 2},
      {"Procedure Main\nWhile 1\nEndProcedure", 207, 2},
      {"Procedure Main\nFor i = 1 to 2\nEndProcedure", 204, 2},
      {"Procedure Main\nFor i 1 to 2\nEndFor\nEndProcedure", 103, 2},
      {"Procedure Main\nIf 1\nElse x\nEndif\nEndProcedure", 108, 3},
      {"Procedure Main\nIf 1\nEndif x\nEndProcedure", 108, 3},
      {"Procedure Main", 206, 1},
      {"Procedure Main\nEndProcedure\nProcedure main\nEndProcedure", 209, 3},
      {"Procedure Trim\nEndProcedure", 203, 1},
      {"Procedure Main extra\nEndProcedure", 108, 1},
      {"Procedure Main\nIf 1\nProcedure Inner\nEndif\nEndProcedure", 210, 3},
      // A procedure ends at the first EndProcedure, so this If has no Endif.
      {"Procedure Main\nIf 1\nProcedure Inner\nEndProcedure\nEndif\nEndProcedure", 205, 2},
      {"Procedure Main\nExecuteProc\nEndProcedure", 113, 2},
      {"Procedure Main\nElse\nEndProcedure", 210, 2},
      {"Procedure Main\nDeclare\nEndProcedure", 119, 2},
      {"Procedure Main\nx\nEndProcedure", 202, 2},
  };
  for (const auto& c : cases) {
    TScriptRun r(c.Source);
    EXPECT_EQ(r.CompileCode, c.Code) << c.Source;
    ASSERT_FALSE(r.Compiler.Errors.empty()) << c.Source;
    EXPECT_EQ(r.Compiler.Errors.size(), 1u) << "the compile stops at the first error: " << c.Source;
    EXPECT_EQ(r.Compiler.Errors[0].Line, c.Line) << c.Source;
  }
}

TEST(ScriptStatements, BlockEndsCountNesting) {
  TScriptRun r(
      MainProc("s = \"\"\n"
               "For i = 1 to 2\n"
               "  For j = 1 to 2\n"
               "    If j = 2\n"
               "      While 0\n"
               "      EndWhile\n"
               "      s = s + \"b\"\n"
               "    ElseIf 1\n"
               "      s = s + \"a\"\n"
               "    Endif\n"
               "  EndFor\n"
               "  s = s + \"|\"\n"
               "EndFor"));
  ASSERT_EQ(r.CompileCode, 0) << r.LastErrorText();
  ASSERT_EQ(r.Run("Main"), 0) << r.LastErrorText();
  EXPECT_EQ(r.Var("s")->Text, "ab|ab|");
}

TEST(ScriptStatements, ConditionsAndTopLevel) {
  TScriptRun r("WriteOutput \"never\"\n" +
               MainProc("If \"x\"\nWriteOutput 1\nEndif\nIf \"\"\nWriteOutput 2\nElse\nWriteOutput 3\nEndif\n"
                        "If CreateCollection\nWriteOutput 4\nEndif\nx = 0\nWhile x < 3\nx = x + "
                        "1\nEndWhile\nWriteOutput x"));
  ASSERT_EQ(r.Run("Main"), 0) << r.LastErrorText();
  EXPECT_EQ(r.Output, (std::vector<std::string>{"1", "3", "4", "3"}));
  TScriptRun bad(MainProc("Declare u, 5\nIf u\nEndif"));
  EXPECT_EQ(bad.Run("Main"), 106) << "a SmallInteger variable pushes nothing";
  EXPECT_EQ(bad.LastErrorText(), "Incompatible data types: 'Unknown' and 'Boolean'");
}

TEST(ScriptStatements, ForCountersAreFixedBeforeTheFirstPass) {
  TScriptRun r(
      MainProc("n = 3\ncount = 0\nFor i = 1 to n\n  n = 10\n  i = 100\n  count = count + 1\nEndFor\n"
               "For k = 3 to 1\n  WriteOutput \"never\"\nEndFor\n"
               "For k = 3 downto 1\n  WriteOutput k\nEndFor\n"
               "For k = 1 downto 3\n  WriteOutput \"never\"\nEndFor"));
  ASSERT_EQ(r.Run("Main"), 0) << r.LastErrorText();
  EXPECT_EQ(r.Var("count")->Number, 3);
  EXPECT_EQ(r.Output, (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(r.Var("k")->Number, 1);
  TScriptRun frac(MainProc("For i = 1 to 2.5\nEndFor"));
  EXPECT_EQ(frac.Run("Main"), 106);
}

TEST(ScriptStatements, ForEachRunsOverRecordsAndStringsAndCleansUp) {
  TScriptRun r(
      MainProc("c = CreateCollection\nc[\"a\"] = 1\nc[\"b\"] = 2\nc.add(\"d\", 7)\n"
               "c[\"a\"].price = 5\n"
               "For each item in c\n  WriteOutput item.key, item.defaultvalue, item\nEndFor\n"
               "l = CreateStringList\nWriteOutput l.add(\"x\"), l.add(\"y\")\nl.split(\"p,,q\", \",\")\n"
               "For each s in l\n  WriteOutput \"[\" + s + \"]\"\nEndFor\n"
               "WriteOutput l[1], l.count, l.indexof(\"Q\"), c[\"a\"], c[\"a\"].price\n"
               "For each r in c.records\n  WriteOutput r.key\nEndFor\n"
               "WriteOutput Declared(\"item\"), Declared(\"s\")"));
  ASSERT_EQ(r.CompileCode, 0) << r.LastErrorText();
  ASSERT_EQ(r.Run("Main"), 0) << r.LastErrorText();
  EXPECT_EQ(r.Output, (std::vector<std::string>{"a 1 1", "b 2 2", "d 7 7", "0 1", "[x]", "[y]", "[p]", "[]",
                                                "[q]", "x 5 5 1 5", "a", "b", "d", "0 0"}));
}

TEST(ScriptStatements, NestedForEachOverOneCollectionIsRefused) {
  TScriptRun r(
      MainProc("c = CreateCollection\nc.add(\"a\")\nFor each x in c\nFor each y in c\nEndFor\nEndFor"));
  EXPECT_EQ(r.Run("Main"), 212);
  EXPECT_EQ(r.LastErrorText(), "Cannot use 'c' collection in nested for each statement");
  // The error ended both loops; the collection is usable again.
  TVariable* c = r.Var("c");
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(c->AsCollection()->InForEach);
  EXPECT_EQ(r.Var("x"), nullptr);
}

TEST(ScriptStatements, DeclareAndGlobal) {
  TScriptRun r(MainProc("Declare Global g, 3\nDeclare s\nDeclare global x"));
  TVariableList outer;
  r.Compiler.Variables().SetParent(&outer);
  EXPECT_EQ(r.Run("Main"), 120);
  EXPECT_EQ(r.LastErrorText(), "Invalid data type: 'x'");
  ASSERT_NE(outer.FindLocal("g"), nullptr);
  EXPECT_EQ(outer.FindLocal("g")->DataType, dtInteger);
  EXPECT_EQ(r.Compiler.Variables().FindLocal("s")->DataType, dtString);
  r.Compiler.Variables().SetParent(nullptr);
}

TEST(ScriptProcedures, ErrorsBelongToTheirRun) {
  TScriptRun r(
      "Procedure Bad\nx = 1 / 0\nWriteOutput \"after\"\nEndProcedure\nProcedure Good\nx = 1\nEndProcedure\n"
      "Procedure Outer\nExecuteProc Bad\nWriteOutput \"not reached\"\nEndProcedure");
  ASSERT_EQ(r.CompileCode, 0);
  EXPECT_EQ(r.Run("Bad"), 104);
  EXPECT_TRUE(r.Compiler.Stopped);
  EXPECT_EQ(r.Run("Good"), 0) << "an earlier run's error is not this run's";
  EXPECT_EQ(r.Run("NoSuch"), 0);
  EXPECT_EQ(r.Run("Outer"), 104);
  EXPECT_TRUE(r.Output.empty());
  EXPECT_EQ(r.Compiler.Errors.back().Line, 2);
}

TEST(ScriptProcedures, UnboundedRecursionOverflows) {
  TScriptRun r("Procedure Rec\nn = n + 1\nExecuteProc Rec\nEndProcedure");
  r.Compiler.Variables().SetInteger("n", 0);
  EXPECT_EQ(r.Run("Rec"), 122);
  EXPECT_EQ(r.LastErrorText(), "Overflow");
  EXPECT_EQ(r.Compiler.RunDepth, 0);
  EXPECT_EQ(r.Run("Rec"), 122) << "a second run works the same";
  // Deeply nested blocks in the source are refused at compile time rather than recursing without end.
  std::string deep = "Procedure Main\n";
  for (int i = 0; i < 1000; ++i) deep += "If 1\n";
  for (int i = 0; i < 1000; ++i) deep += "Endif\n";
  deep += "EndProcedure\n";
  TScriptRun d(deep);
  EXPECT_EQ(d.CompileCode, 122);
}

TEST(ScriptProcedures, ObjectsOutliveTheListThatHeldThem) {
  TScriptRun r(MainProc("c = CreateCollection\nc[\"k\"] = \"v\"\nl = CreateStringList\nl.add(\"s\")"));
  ASSERT_EQ(r.Run("Main"), 0);
  TVariablePtr held = r.Compiler.Variables().FindShared("c");
  r.Compiler.ResetVariables();
  ASSERT_EQ(r.Var("c"), nullptr);
  // The host's reference keeps the wrapper and its collection alive and usable.
  EXPECT_EQ(held->GetIndexed(THostValue("k"), "").AsString(), "v");
  EXPECT_EQ(held->Owner, nullptr);
  // A loop that makes a collection in every pass leaves nothing behind.
  TScriptRun loop(MainProc("For i = 1 to 200\nc = CreateCollection\nc[\"k\"] = i\nEndFor"));
  ASSERT_EQ(loop.Run("Main"), 0);
  EXPECT_EQ(loop.Compiler.Variables().TemporaryCount(), 0u);
  auto* w = dynamic_cast<TZnCollectionWrapper*>(loop.Var("c"));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Collection().Count(), 1u);
}

// ---------------------------------------------------------------------------------------------------

const char* const kRoundTripSource =
    "Procedure Register\n"
    "  FileVersion = 7\n"
    "EndProcedure\n"
    "Procedure Main\n"
    "  s = 'it \"quoted\"'\n"
    "  c = CreateCollection\n"
    "  For i = 1 to 3\n"
    "    c[string(i)] = i * 2\n"
    "  EndFor\n"
    "  For each r in c\n"
    "    WriteOutput r.key, r, StrCopy(\"a, b\", 1, 2)\n"
    "  EndFor\n"
    "  If c.count > 2\n"
    "    MessageBox \"many\"\n"
    "  EndIf\n"
    "EndProcedure\n";

TEST(ScriptFiles, CompileSaveLoadRunGivesTheSameOutput) {
  TScriptRun src(kRoundTripSource);
  ASSERT_EQ(src.CompileCode, 0) << src.LastErrorText();
  ASSERT_EQ(src.Run("Main"), 0) << src.LastErrorText();
  std::string path = vandrel::test::ProcessTempDir() + "/roundtrip.ccs";
  ASSERT_EQ(src.Compiler.SaveToFile(path), 0) << src.LastErrorText();

  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string plain = UnscrambleBytes(bytes);
  EXPECT_EQ(plain.rfind("FF01\r\n3\r\nCompilerVersion=4000\r\nFileVersion=7\r\nTimeStamp=", 0), 0u) << plain;
  EXPECT_EQ(ScrambleBytes(plain), bytes);
  EXPECT_NE(plain.find("\r\n001Aeach r in c\r\n"), std::string::npos);

  TScriptRun loaded("");
  ASSERT_TRUE(loaded.Compiler.LoadFromFile(path));
  EXPECT_EQ(loaded.Compiler.Variables().GetInteger("FileVersion", -1), 7);
  ASSERT_EQ(loaded.Compiler.Compile(), 0) << loaded.LastErrorText();
  EXPECT_TRUE(loaded.Compiler.Translated);
  ASSERT_EQ(loaded.Run("Main"), 0);
  EXPECT_EQ(loaded.Output, src.Output);
  EXPECT_EQ(loaded.Compiler.HeaderValue("FileVersion"), "7");
  // Lines of a compiled file report line 0.
  TScriptRun failing(MainProc("x = 1 / 0"));
  std::string compiled = failing.Compiler.SaveToBytes();
  TScriptRun again("");
  again.Compiler.LoadFromStream(compiled);
  ASSERT_EQ(again.Compiler.Compile(), 0);
  EXPECT_EQ(again.Run("Main"), 104);
  EXPECT_EQ(again.Compiler.Errors.back().Line, 0);
  std::remove(path.c_str());
}

TEST(ScriptFiles, ScramblingIsAByteRotation) {
  // 'F' 0x46 ^ 0x6B = 0x2D, rotated right by 3 = 0xA5.
  EXPECT_EQ(ScrambleBytes("F"), "\xA5");
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(UnscrambleBytes(ScrambleBytes(one)), one);
  }
}

TEST(ScriptFiles, RegisterErrorWritesNoFile) {
  TScriptRun r("Procedure Register\nx = nosuch\nEndProcedure");
  std::string path = vandrel::test::ProcessTempDir() + "/noregister.ccs";
  std::remove(path.c_str());
  EXPECT_EQ(r.Compiler.SaveToFile(path), 117);
  std::ifstream in(path);
  EXPECT_FALSE(in.good());
}

TEST(ScriptFiles, DamagedCompiledFilesFailCleanly) {
  TScriptRun good(kRoundTripSource);
  std::string bytes = good.Compiler.SaveToBytes();
  std::string plain = UnscrambleBytes(bytes);

  // A header that counts more lines than the file holds.
  std::string lying = plain;
  lying.replace(lying.find("\r\n") + 2, 1, "99");
  TScriptRun a("");
  a.Compiler.LoadFromStream(ScrambleBytes(lying));
  EXPECT_EQ(a.Compiler.Compile(), 201);

  // Every truncation compiles to success or a 2xx error (a cut inside a line may leave a valid one).
  for (size_t n = 4; n < bytes.size(); n += 3) {
    TScriptRun t("");
    t.Compiler.LoadFromStream(bytes.substr(0, n));
    int code = t.Compiler.Compile();
    EXPECT_TRUE(code == 0 || (code >= 100 && code < 300)) << n << " " << code;
  }
  // Garbage after a valid marker.
  TScriptRun g("");
  g.Compiler.LoadFromStream(ScrambleBytes("FF01\r\nxx\r\n\x01\x02zz\r\n"));
  EXPECT_EQ(g.Compiler.Compile(), 202);
  // A line count or a version too long to be a number reads as none (found by fuzzing: it overflowed).
  TScriptRun big("");
  big.Compiler.LoadFromStream(ScrambleBytes("FF01\r\n66666666666666666666666eif\r\n0011x=1\r\n"));
  EXPECT_EQ(big.Compiler.Compile(), 0);
  big.Compiler.LoadFromStream(ScrambleBytes("FF01\r\n1\r\nFileVersion=99999999999999999999\r\n0011x=1\r\n"));
  EXPECT_EQ(big.Compiler.Compile(), 0);
  EXPECT_EQ(big.Compiler.Variables().GetInteger("FileVersion", -1), 0);
  // Bytes that do not start with the marker are source text.
  TScriptRun s("");
  s.Compiler.LoadFromStream(MainProc("x = 1"));
  EXPECT_EQ(s.Compiler.Compile(), 0);
  EXPECT_EQ(s.Compiler.Lines[1].Number, 1);
}

}  // namespace
}  // namespace vandrel
