// The evaluator of field formulas, the search type's filter and the scoring functions of an instance.
#pragma once

#include "script/FuncEvaluator.h"

namespace vandrel {

class TSearchTypeInstance;

// Scores of a record from its rank K among R results per engine and its occurrence count O, plus the
// share of the search keywords found in three texts. `maximum` 0 gives KeywordScore, else WebScore's
// occurrence scale. Throws EScriptFault 104 or 121 when R is 0.
int64_t RecordScore(TSearchTypeInstance* instance, double resultsPerEngine, double occurrence, double rank,
                    const std::string& a, const std::string& b, const std::string& c, int64_t maximum);

class TFieldEvaluator : public TFuncEvaluator {
 public:
  // Uses the instance's variable list.
  explicit TFieldEvaluator(TSearchTypeInstance& instance);

  TSearchTypeInstance& Instance;
};

}  // namespace vandrel
