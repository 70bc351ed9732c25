// A compiler derived the way the search-type and engine compilers derive from the base one.
#include <gtest/gtest.h>

#include "script/BaseCompiler.h"

namespace vandrel {
namespace {

// A variable that acts when assigned.
class TCountingVariable : public TVariable {
 public:
  using TVariable::TVariable;
  void Changed() override { ++Changes; }
  int Changes = 0;
};

// "AddRule name, weight": a command with several arguments.
class TAddRule : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateList(0, Params, {dtString, dtInteger})) return ReportEvalError();
    Rules.push_back(Ev().Stack.At(0).Text + "=" + std::to_string(Ev().Stack.At(1).AsInteger()));
  }
  static inline std::vector<std::string> Rules;
};

class TTestCompiler : public TBaseCompiler {
 public:
  static constexpr uint16_t kwAddRule = kwFirstDerived + 1;
  TTestCompiler() {
    Syntax.Add("AddRule", kwAddRule, CommandClass<TAddRule>(), 0);
    Syntax.Add("OldRule", kwAddRule + 1, CommandClass<TAddRule>(), kfDeprecated, "Use AddRule");
    Syntax.Rebuild();
    // A function that looks at the whole stack: how many values lie below its argument.
    Evaluator().AddFunction("Depth", {dtVariant}, [](TBaseEvaluator& ev) {
      ev.Stack.Pop();
      ev.Stack.PushInteger(static_cast<int64_t>(ev.Stack.Count()));
    });
  }
  void ResetVariables() override {
    TBaseCompiler::ResetVariables();
    auto v = std::make_shared<TCountingVariable>("CurrentView");
    Counter = v.get();
    Variables().Add(v);
    Variables().DefineConstant("Iteration", THostValue(int64_t{0}));
  }
  TCountingVariable* Counter = nullptr;
};

TEST(ScriptDerivedCompiler, KeywordsFunctionsAndVariablesOfItsOwn) {
  TAddRule::Rules.clear();
  TTestCompiler c;
  std::vector<std::string> out;
  c.OnOutput = [&](TBaseCompiler&, const std::string& t) { out.push_back(t); };
  c.ResetVariables();
  c.LoadFromStream(
      "Procedure Main\nAddRule \"title\", 3\nOldRule \"price\", 1\nCurrentView = \"compact\"\n"
      "WriteOutput Depth(0), 1, 2, Depth(0), Iteration\nEndProcedure\n"
      "Procedure Bad\nAddRule 3, \"x\"\nEndProcedure\nProcedure Short\nAddRule \"x\"\nEndProcedure\n"
      "Procedure Write\nIteration = 5\nEndProcedure\n");
  ASSERT_EQ(c.Compile(), 0) << c.Errors.back().Text;
  ASSERT_EQ(c.Warnings.size(), 1u);
  EXPECT_EQ(c.Warnings[0].Code, 410);
  EXPECT_EQ(c.Warnings[0].Text, "Use AddRule");
  EXPECT_EQ(c.Lines[2].Text, "1001\"title\",3");

  c.Variables().SetValue("Iteration", THostValue(int64_t{4}));
  ASSERT_EQ(c.ExecuteProcedure("Main"), 0) << c.Errors.back().Text;
  EXPECT_EQ(TAddRule::Rules, (std::vector<std::string>{"title=3", "price=1"}));
  EXPECT_EQ(c.Counter->Changes, 1);
  EXPECT_EQ(c.Counter->Text, "compact");
  EXPECT_EQ(out, std::vector<std::string>{"0 1 2 3 4"});

  EXPECT_EQ(c.ExecuteProcedure("Bad"), 106);
  EXPECT_EQ(c.Errors.back().Text, "Incompatible data types: 'Float' and 'String'");
  EXPECT_EQ(c.ExecuteProcedure("Short"), 106);
  EXPECT_EQ(c.Errors.back().Text, "Incompatible data types: 'Unknown' and 'Unknown'");
  EXPECT_EQ(c.ExecuteProcedure("Write"), 114);
  EXPECT_EQ(c.Errors.back().Text, "Variable 'Iteration' is read-only");

  // A compiled file of this compiler keeps the derived ids.
  TTestCompiler again;
  again.ResetVariables();
  again.LoadFromStream(c.SaveToBytes());
  ASSERT_EQ(again.Compile(), 0);
  TAddRule::Rules.clear();
  EXPECT_EQ(again.ExecuteProcedure("Main"), 0);
  EXPECT_EQ(TAddRule::Rules.size(), 2u);
}

TEST(ScriptDerivedCompiler, FormulaSlotsAreTokenizedOnce) {
  TTestCompiler c;
  c.ResetVariables();
  TFuncEvaluator& ev = c.Evaluator();
  c.Variables().SetValue("price", THostValue(2.5));
  TEvalSlot formula = ev.NewSlot();
  ev.SetCurrentSlot(formula);
  ev.SetExpression("price * 2");
  ASSERT_TRUE(ev.Evaluate());
  EXPECT_EQ(ev.Number, 5);
  for (int i = 0; i < 3; ++i) {
    c.Variables().SetValue("price", THostValue(static_cast<double>(i)));
    ASSERT_TRUE(ev.Evaluate());
    EXPECT_EQ(ev.Number, i * 2);
  }
  // Another text in the default slot does not disturb the formula's tokens.
  ev.SetCurrentSlot(nullptr);
  ASSERT_TRUE(ev.Evaluate("1 + 1"));
  ev.SetCurrentSlot(formula);
  EXPECT_EQ(formula->Expression(), "price * 2");
  EXPECT_TRUE(formula->Tokenized);
}

}  // namespace
}  // namespace vandrel
