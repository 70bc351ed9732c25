#include "script/BaseEvaluator.h"

#include <gtest/gtest.h>

#include "script/FuncEvaluator.h"

namespace vandrel {
namespace {

class ScriptEvaluator : public ::testing::Test {
 protected:
  // Evaluates and returns the error code (0 on success).
  int Eval(const std::string& text) {
    ev.Evaluate(text);
    return ev.ErrorCode;
  }
  double Num(const std::string& text) {
    EXPECT_EQ(Eval(text), 0) << text << ": " << ev.ErrorText;
    return ev.Number;
  }
  std::string Str(const std::string& text) {
    EXPECT_EQ(Eval(text), 0) << text << ": " << ev.ErrorText;
    EXPECT_EQ(ev.DataType, dtString) << text;
    return ev.Text;
  }
  TFuncEvaluator ev;
};

TEST_F(ScriptEvaluator, TwoPrecedenceLevelsEvaluatedLeftToRight) {
  EXPECT_EQ(Num("1 + 2 * 3"), 7);
  EXPECT_EQ(Num("2 * 3 + 1"), 7);
  // Comparisons sit on the high level with "*": 1 + (2 > 2).
  EXPECT_EQ(Num("1 + 2 > 2"), 1);
  EXPECT_EQ(ev.DataType, dtFloat);
  Eval("(1 + 2) > 2");
  EXPECT_EQ(ev.DataType, dtBoolean);
  EXPECT_TRUE(ev.AsBoolean());
  EXPECT_EQ(Num("8 - 2 - 1"), 5);
  EXPECT_EQ(Num("8 / 2 / 2"), 2);
  EXPECT_EQ(Num("-2 ^ 2"), 4);
  EXPECT_EQ(Num("2 * 3 - 4 * 5 + 1"), -13);
  EXPECT_EQ(Num("10 - 2 * 3 * 1 - 1"), 3);
  // ((1 > 0) and 3) > 2: the high level is strictly left to right.
  Eval("1 > 0 and 3 > 2");
  EXPECT_EQ(ev.DataType, dtBoolean);
  EXPECT_FALSE(ev.AsBoolean());
  Eval("(1 > 0) and (3 > 2)");
  EXPECT_TRUE(ev.AsBoolean());
}

TEST_F(ScriptEvaluator, OperatorsAndTheirTypes) {
  EXPECT_EQ(Str("\"a\" + 'b'"), "ab");
  EXPECT_EQ(Eval("\"a\" + 1"), 106);
  EXPECT_EQ(ev.ErrorText, "Incompatible data types: 'Float' and 'String'");
  EXPECT_EQ(Num("7 div 2"), 3);
  EXPECT_EQ(ev.DataType, dtInteger);
  EXPECT_EQ(Num("-7 mod 2"), -1);
  EXPECT_EQ(Num("7 / 2"), 3.5);
  EXPECT_EQ(Eval("1 / 0"), 104);
  EXPECT_EQ(ev.ErrorText, "Division by zero");
  EXPECT_EQ(Eval("1 mod 0"), 104);
  EXPECT_EQ(Num("6 bit_and 3"), 2);
  EXPECT_EQ(Num("6 BIT_OR 3"), 7);
  EXPECT_EQ(Num("bit_not(0)"), -1);
  Eval("\"abc\" = \"ABC\"");
  EXPECT_FALSE(ev.AsBoolean());
  EXPECT_EQ(Eval("\"abc\" > \"abb\""), 106);
  EXPECT_EQ(Eval("1 = \"1\""), 106);
  EXPECT_EQ(ev.ErrorText, "Incompatible data types: 'Float' and 'String'");
  Eval("3 <> 4");
  EXPECT_TRUE(ev.AsBoolean());
  Eval("not \"\"");
  EXPECT_TRUE(ev.AsBoolean());
  Eval("\"x\" and 1");
  EXPECT_TRUE(ev.AsBoolean());
  Eval("1 xor 1");
  EXPECT_FALSE(ev.AsBoolean());
}

TEST_F(ScriptEvaluator, IntegerOperatorsOutOfRangeOverflow) {
  EXPECT_EQ(Eval("(10 ^ 300) div 7"), 122);
  EXPECT_EQ(ev.ErrorText, "Overflow");
  EXPECT_EQ(Eval("(10 ^ 300) * (10 ^ 300)"), 122);
  EXPECT_EQ(Num("9780345391803 div 10"), 978034539180);
}

TEST_F(ScriptEvaluator, ConversionFunctions) {
  EXPECT_EQ(Str("string(3)"), "3");
  EXPECT_EQ(Str("string(0.5)"), "0.5");
  EXPECT_EQ(Str("string(9780345391803)"), "9780345391803");
  EXPECT_EQ(Num("float(\"2.5\")"), 2.5);
  EXPECT_EQ(Eval("float(2.5)"), 106);
  EXPECT_EQ(ev.ErrorText, "Incompatible data type: 'Unknown'");
  EXPECT_EQ(Eval("numeric(\"abc\")"), 126);
  EXPECT_EQ(Eval("string(CreateCollection)"), 106);
  Eval("boolean(\"\")");
  EXPECT_FALSE(ev.AsBoolean());
}

TEST_F(ScriptEvaluator, TokenizerSkipsWhatItDoesNotKnow) {
  EXPECT_EQ(Num("+5"), 5);
  EXPECT_EQ(Num("5 * * 3"), 15);
  EXPECT_EQ(Num("1\t+\t2"), 3);
  EXPECT_EQ(Num("1 ! # ; + 2"), 3);
  EXPECT_EQ(Str("'say \"hi\"'"), "say \"hi\"");
  EXPECT_EQ(Str("\"it's\""), "it's");
  EXPECT_EQ(Eval("\"open"), 110);
  EXPECT_EQ(ev.ErrorText, "Unterminated string");
  // A missing closing bracket is fine; text after a surplus one is ignored.
  EXPECT_EQ(Num("(1 + 2"), 3);
  EXPECT_EQ(Num("1 + 2) * 10"), 3);
  EXPECT_EQ(Num("1.5.7"), 1.5);
  EXPECT_EQ(Num(".5"), 0.5);
}

TEST_F(ScriptEvaluator, ResultIsTheBottomOfTheStack) {
  EXPECT_EQ(Eval("1, 2, 3"), 0);
  EXPECT_EQ(ev.Number, 1);
  EXPECT_EQ(ev.Stack.Count(), 3u);
  EXPECT_FALSE(ev.EvaluateAs("1, 2", dtFloat));
  EXPECT_EQ(ev.ErrorCode, 118);
  EXPECT_EQ(Eval(""), 0);
  EXPECT_EQ(ev.DataType, dtUnknown);
  EXPECT_FALSE(ev.EvaluateAs("", dtFloat));
  EXPECT_EQ(ev.ErrorText, "Missing operator");
  EXPECT_FALSE(ev.EvaluateAs("2.5", dtInteger));
  EXPECT_EQ(ev.ErrorText, "Incompatible data types: 'Float' and 'Integer'");
  EXPECT_TRUE(ev.EvaluateAs("2", dtInteger));
  EXPECT_FALSE(ev.EvaluateAs("\"2\"", dtInteger));
  // A value's text goes with it: a number after a text leaves none behind.
  EXPECT_EQ(Str("\"abc\" + StrCopy(\"xdefghijklmnopqrstuvwxyz\", 2, 20)"), "abcdefghijklmnopqrstuvw");
  EXPECT_EQ(Num("StrFind(\"d\", \"abd\") + StrFind(\"z\", \"abd\")"), 3);
  EXPECT_EQ(ev.Text, "");
}

TEST_F(ScriptEvaluator, ListsCheckFromTheBottom) {
  EXPECT_TRUE(ev.EvaluateList("\"a\", 2", {dtString, dtInteger}));
  EXPECT_EQ(ev.Stack.At(1).Number, 2);
  EXPECT_FALSE(ev.EvaluateList("\"a\"", {dtString, dtInteger}));
  EXPECT_EQ(ev.ErrorText, "Incompatible data types: 'Unknown' and 'Unknown'");
  EXPECT_FALSE(ev.EvaluateList("1, 2", {dtString, dtInteger}));
  EXPECT_EQ(ev.ErrorText, "Incompatible data types: 'Float' and 'String'");
}

TEST_F(ScriptEvaluator, UnknownNamesAndCaseInsensitiveNames) {
  EXPECT_EQ(Eval("unknownname + 1"), 117);
  EXPECT_EQ(ev.ErrorText, "Unknown identifier: unknownname");
  EXPECT_EQ(Eval("x(1)"), 117);
  EXPECT_EQ(ev.ErrorText, "Unknown identifier: x(1)");
  ev.Variables()->SetInteger("Total", 4);
  EXPECT_EQ(Num("TOTAL * 2"), 8);
  EXPECT_EQ(Num("STRLENGTH(\"abc\")"), 3);
  EXPECT_EQ(Num("1 AND 1"), 1);
}

TEST_F(ScriptEvaluator, SlotsKeepTokensButSeeReplacedVariables) {
  TVariableList& vars = *ev.Variables();
  vars.SetInteger("a", 1);
  TEvalSlot slot = ev.NewSlot();
  ev.SetCurrentSlot(slot);
  EXPECT_EQ(Num("a + 1"), 2);
  EXPECT_TRUE(slot->Tokenized);
  // The variable is replaced by a new one of the same name: the slot must not use the old one.
  vars.Remove("a");
  vars.SetInteger("a", 10);
  ev.Evaluate();
  EXPECT_EQ(ev.Number, 11);
  vars.Remove("a");
  EXPECT_EQ(Eval("a + 1"), 117);
  ev.SetCurrentSlot(nullptr);
}

TEST_F(ScriptEvaluator, DeepBracketsOverflowInsteadOfCrashing) {
  std::string deep(20000, '(');
  deep += "1";
  EXPECT_EQ(Eval(deep), 122);
  EXPECT_EQ(ev.ErrorText, "Overflow");
  std::string chain = "1";
  for (int i = 0; i < 20000; ++i) chain += "*1";
  EXPECT_EQ(Num(chain), 1);  // operator chains do not nest
  EXPECT_EQ(Num("((((((((((1))))))))))"), 1);
}

TEST_F(ScriptEvaluator, CollectionsThroughMembersAndIndexes) {
  TVariableList& vars = *ev.Variables();
  ev.Evaluate("CreateCollection");
  ASSERT_EQ(ev.DataType, dtObject);
  vars.Add(ev.ObjectRef->MakeWrapper("c", nullptr));
  // Only one member per reference: a method's result cannot be followed by another member.
  EXPECT_EQ(Eval("c.add(\"a\", 7).defaultvalue"), 117);
  EXPECT_EQ(Eval("c.add(\"a\", 7)"), 0);
  EXPECT_EQ(ev.DataType, dtObject);
  EXPECT_EQ(Num("c[\"A\"] + 1"), 8);
  EXPECT_EQ(Num("c.Count"), 1);
  Eval("c.find(\"a\")");
  EXPECT_TRUE(ev.AsBoolean());
  EXPECT_EQ(Eval("c.nosuch"), 111);
  EXPECT_EQ(ev.ErrorText, "Property not found: 'nosuch'");
  EXPECT_EQ(Eval("c.add()"), 113);
  EXPECT_EQ(ev.ErrorText, "Missing parameter");
}

// A member without arguments is read from its token rather than pushed: it must still follow the
// variable it belongs to, its case, a variable that gains members later, and the parser's depth limit.
TEST_F(ScriptEvaluator, PlainMembersReadAsWhenPushed) {
  TVariableList& vars = *ev.Variables();
  ev.Evaluate("CreateStringList");
  vars.Add(ev.ObjectRef->MakeWrapper("l", nullptr));
  ev.Evaluate("CreateCollection");
  TObjectRef collection = ev.ObjectRef;
  vars.SetInteger("c", 5);
  Eval("c.count");  // parsed while c has no members
  vars.Add(collection->MakeWrapper("c", nullptr));
  EXPECT_EQ(Num("c.count"), 0);
  ASSERT_EQ(Eval("c.add(\"a\", 7)"), 0);
  ASSERT_EQ(Eval("l.add(\"x\")"), 0);
  ASSERT_EQ(Eval("l.add(\"y\")"), 0);
  EXPECT_EQ(Num("C.COUNT + l.Count * 10"), 21);
  EXPECT_EQ(Str("l[l.count] + l[c.count]"), "yx");
  EXPECT_EQ(Num("c[\"a\"] + l.count"), 9);
  EXPECT_EQ(Eval("l.nosuch"), 111);
  EXPECT_EQ(ev.ErrorText, "Property not found: 'nosuch'");
  // The member is parsed one level below its variable, so a variable at the last level overflows.
  const int last = TBaseEvaluator::kMaxParseDepth - 1;
  EXPECT_EQ(Eval(std::string(last, '(') + "c.count" + std::string(last, ')')), 122);
  EXPECT_EQ(Num(std::string(last - 1, '(') + "c.count" + std::string(last - 1, ')')), 1);
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

// Found by fuzzing: a line that stopped on an error left unbound names behind, and evaluating the same
// text again took the cached path and followed a null variable.
TEST(ScriptEvaluatorRegression, RepeatedTextAfterAFailedRunLooksNamesUpAgain) {
  TFuncEvaluator ev;
  ev.Variables()->SetInteger("n", 3);
  ev.Evaluate("CreateCollection");
  if (ev.ObjectRef) ev.Variables()->Add(ev.ObjectRef->MakeWrapper("c", nullptr));
  ev.Evaluate("CreateStringList");
  if (ev.ObjectRef) ev.Variables()->Add(ev.ObjectRef->MakeWrapper("l", nullptr));
  const std::string text("N\xc6z\n\n\nzj\0\nJ", 11);
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      ev.Evaluate(std::string_view(text).substr(start, i - start));
      start = i + 1;
    }
  }
  // A name the script does not know stays an error each time, never a crash or a stale success.
  EXPECT_FALSE(ev.Evaluate("zz + n"));
  EXPECT_EQ(ev.ErrorCode, 117);
  EXPECT_FALSE(ev.Evaluate("zz + n"));
  EXPECT_EQ(ev.ErrorCode, 117);
  ev.Variables()->SetInteger("zz", 4);
  EXPECT_TRUE(ev.Evaluate("zz + n"));
}

}  // namespace
}  // namespace vandrel
