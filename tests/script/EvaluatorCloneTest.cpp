// Slots and evaluators copied into another evaluator: nothing shared, nothing used after it is gone.
#include <gtest/gtest.h>

#include <memory>

#include "script/FuncEvaluator.h"

namespace vandrel {
namespace {

TEST(ScriptEvaluatorClone, CopiedSlotOutlivesItsSourceAndBindsToTheClone) {
  TVariableList targetVars;
  targetVars.SetString("s", "target");
  TFuncEvaluator target(&targetVars);
  TEvalSlot copy;
  {
    TVariableList sourceVars;
    sourceVars.SetString("s", "source");
    auto source = std::make_unique<TFuncEvaluator>(&sourceVars);
    TEvalSlot slot = source->NewSlot();
    source->SetCurrentSlot(slot);
    ASSERT_TRUE(source->Evaluate("StrUpper(s) + StrCopy(s, 1, 2)"));
    EXPECT_EQ(source->Text, "SOURCEso");
    copy = target.CopySlot(*slot);
    source->SetCurrentSlot(nullptr);
    // The source, its functions and its variables go first.
  }
  // Functions are bound in the clone's table, variables resolved in the clone's list.
  target.SetCurrentSlot(copy);
  ASSERT_TRUE(target.Evaluate()) << target.ErrorText;
  EXPECT_EQ(target.Text, "TARGETta");
  target.SetCurrentSlot(nullptr);
}

TEST(ScriptEvaluatorClone, CopiedSlotWithAFunctionTheCloneLacksReportsTheName) {
  TFuncEvaluator source, target;
  source.AddFunction("Tag", {dtString},
                     [](TBaseEvaluator& ev) { ev.Stack.PushString(ev.Stack.PopString()); });
  TEvalSlot slot = source.NewSlot();
  source.SetCurrentSlot(slot);
  ASSERT_TRUE(source.Evaluate("Tag(\"x\")"));
  TEvalSlot copy = target.CopySlot(*slot);
  target.SetCurrentSlot(copy);
  EXPECT_FALSE(target.Evaluate());
  EXPECT_EQ(target.ErrorCode, 117);
  EXPECT_EQ(target.ErrorText, "Unknown identifier: Tag(\"x\")");
  source.SetCurrentSlot(nullptr);
  target.SetCurrentSlot(nullptr);
}

// A rule's formula slot is made by the engine's evaluator and run by a field evaluator; field
// evaluators come and go with search instances while the slot stays.
TEST(ScriptEvaluatorClone, SlotRunByAnotherEvaluatorAfterItsTokenizerIsGone) {
  TEvalSlot slot = std::make_shared<TEvalItem>();
  slot->SetExpression("StrLength(\"abc\") + x");
  for (int round = 0; round < 3; ++round) {
    auto ev = std::make_unique<TFuncEvaluator>();
    ev->Variables()->SetInteger("x", round);
    ev->SetCurrentSlot(slot);
    ASSERT_TRUE(ev->Evaluate()) << ev->ErrorText;
    EXPECT_EQ(ev->Number, 3 + round);
    ev->SetCurrentSlot(nullptr);
  }
}

TEST(ScriptEvaluatorClone, ReplacingAFunctionRetokenizesSlotsThatUsedIt) {
  TFuncEvaluator ev;
  TEvalSlot slot = ev.NewSlot();
  ev.SetCurrentSlot(slot);
  ASSERT_TRUE(ev.Evaluate("StrLength(\"abcd\")"));
  EXPECT_EQ(ev.Number, 4);
  // The old entry is freed; the slot must not call through it.
  ev.AddFunction("StrLength", {dtString}, [](TBaseEvaluator& e) {
    e.Stack.Pop();
    e.Stack.PushInteger(-1);
  });
  ASSERT_TRUE(ev.Evaluate());
  EXPECT_EQ(ev.Number, -1);
  // A new function may take over a name that was a variable.
  ev.Variables()->SetInteger("Twice", 5);
  ASSERT_TRUE(ev.Evaluate("Twice + 1"));
  EXPECT_EQ(ev.Number, 6);
  ev.AddFunction("Twice", {}, [](TBaseEvaluator& e) { e.Stack.PushInteger(10); });
  ASSERT_TRUE(ev.Evaluate());
  EXPECT_EQ(ev.Number, 11);
  ev.SetCurrentSlot(nullptr);
}

TEST(ScriptEvaluatorClone, ClonedEvaluatorRunsIndependently) {
  TVariableList sourceVars, cloneVars;
  sourceVars.SetInteger("n", 1);
  cloneVars.SetInteger("n", 100);
  auto source = std::make_unique<TFuncEvaluator>(&sourceVars);
  ASSERT_TRUE(source->Evaluate("n * 2, \"tail\""));
  TFuncEvaluator clone(&cloneVars);
  clone.CopyFrom(*source);
  // The value, the error state and the stack come along.
  EXPECT_EQ(clone.Number, 2);
  EXPECT_EQ(clone.DataType, dtFloat);
  ASSERT_EQ(clone.Stack.Count(), 2u);
  EXPECT_EQ(clone.Stack.At(1).Text, "tail");
  // Running the clone leaves the source alone, and the clone keeps working once the source is gone.
  ASSERT_TRUE(clone.Evaluate());
  EXPECT_EQ(clone.Number, 200);
  EXPECT_EQ(source->Number, 2);
  source.reset();
  ASSERT_TRUE(clone.Evaluate());
  EXPECT_EQ(clone.Number, 200);
  ASSERT_TRUE(clone.Evaluate("n + 1"));
  EXPECT_EQ(clone.Number, 101);
}

TEST(ScriptEvaluatorClone, ClonedFormulaSlotIsAPrivateCopy) {
  TFuncEvaluator source;
  source.Variables()->SetInteger("n", 4);
  TEvalSlot formula = source.NewSlot();
  formula->SetExpression("n + 1");
  source.SetCurrentSlot(formula);
  TFuncEvaluator clone;
  clone.Variables()->SetInteger("n", 9);
  clone.CopyFrom(source);
  ASSERT_TRUE(clone.Evaluate());
  EXPECT_EQ(clone.Number, 10);
  // Changing the clone's text does not reach the holder's formula.
  ASSERT_TRUE(clone.Evaluate("n - 1"));
  EXPECT_EQ(formula->Expression(), "n + 1");
  ASSERT_TRUE(source.Evaluate());
  EXPECT_EQ(source.Number, 5);
  source.SetCurrentSlot(nullptr);
}

}  // namespace
}  // namespace vandrel
