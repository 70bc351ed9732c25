#include "engines/FieldEvaluator.h"

#include <cmath>

#include "engines/SearchTypeInstance.h"
#include "script/CollectionWrappers.h"

namespace vandrel {

namespace {

double Match(const TZnQueryParser& words, const std::string& text, double weight) {
  if (words.Count() == 0) return 0;
  return weight * words.CountMatches(text, false) / static_cast<double>(words.Count());
}

double VariableNumber(TVariableList& list, const char* name) {
  TVariable* v = list.Find(name);
  return v && IsNumericType(v->DataType) ? v->Number : 0;
}

}  // namespace

int64_t RecordScore(TSearchTypeInstance* instance, double r, double o, double k, const std::string& a,
                    const std::string& b, const std::string& c, int64_t maximum) {
  if (r == 0) {
    if (k - 1 == 0) throw EScriptFault(kErrInvalidFloatOperation, "");
    throw EScriptFault(kErrDivisionByZero, "");
  }
  // The weights were tuned with single-precision arithmetic; keep its rounding.
  float base = static_cast<float>((1 - (k - 1) / r) * 0.65);
  if (maximum <= 0) {
    base = o >= 20 ? static_cast<float>(base + 0.1)
                   : static_cast<float>(base + 0.2 * std::log(o + 1) / std::log(21.0));
  } else {
    double m = static_cast<double>(maximum);
    base = o < m ? static_cast<float>(base + 0.2 * std::log(o + 1) / std::log(m + 1))
                 : static_cast<float>(base + 0.1);
  }
  TZnQueryParser words;
  if (instance && instance->InputFields.DefaultInputField)
    words.Parse(HostText(ToHostValue(*instance->InputFields.DefaultInputField)), true);
  float total =
      static_cast<float>(base + Match(words, a, 0.06) + Match(words, b, 0.06) + Match(words, c, 0.03));
  return ScriptRound(static_cast<double>(total) * 100);
}

TFieldEvaluator::TFieldEvaluator(TSearchTypeInstance& instance)
    : TFuncEvaluator(&instance.Variables), Instance(instance) {
  auto score = [this](TBaseEvaluator& ev, bool web) {
    if (!ev.CheckArgs({dtString, dtString, dtString})) return;
    std::string c = ev.Stack.PopString(), b = ev.Stack.PopString(), a = ev.Stack.PopString();
    int64_t maximum = 0;
    if (web) {
      maximum = 20;
      if (!ev.Stack.Empty() && IsNumericType(ev.Stack.Top().DataType)) maximum = ev.Stack.PopInteger();
      if (maximum <= 0) maximum = 20;
    }
    TVariableList& vars = *ev.Variables();
    ev.Stack.PushInteger(RecordScore(&Instance, VariableNumber(vars, "ResultsPerEngine"),
                                     VariableNumber(vars, "Occurrence"), VariableNumber(vars, "Rank"), a, b,
                                     c, maximum));
  };
  AddFunction("KeywordScore", {dtString, dtString, dtString},
              [score](TBaseEvaluator& ev) { score(ev, false); });
  AddFunction("WebScore", {dtString, dtString, dtString}, [score](TBaseEvaluator& ev) { score(ev, true); });
}

}  // namespace vandrel
