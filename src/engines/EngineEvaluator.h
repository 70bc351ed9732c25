// The engine script's evaluator and the script objects through which engines reach the search: input
// values, the page's result records, the parsing rules and query parsers.
#pragma once

#include <memory>
#include <string>

#include "engines/SearchResults.h"
#include "engines/SearchRules.h"
#include "script/FuncEvaluator.h"
#include "script/Variables.h"

namespace vandrel {

class TEngineCompiler;
class THtmlParserEx;

class TEngineEvaluator : public TFuncEvaluator {
 public:
  TEngineEvaluator();
  ~TEngineEvaluator() override;
  // Set by the compiler right after construction.
  TEngineCompiler* Engine = nullptr;

 private:
  // The parse of a page other than the current result page, kept until another text is given.
  THtmlParserEx& ParserFor(const std::string& page);
  std::unique_ptr<THtmlParserEx> otherPage_;
};

// `InputFields`: the instance's input values with their query parsers.
class TInputValuesWrapper : public TBaseCollectionWrapper {
 public:
  TInputValuesWrapper(std::string name, TEngineCompiler* engine, TBaseCompiler* compiler);
  THostValue GetProperty(const std::string& name) override;
  THostValue GetIndexed(const THostValue& key, const std::string& member) override;
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue& memberArg) override;
  TVariablePtr Select(int index) override;

  // Member access on one input field, shared with the single-value wrapper.
  static THostValue ReadValue(TVariable& self, TEngineCompiler& engine, TSearchInputField& field,
                              const std::string& member);
  static void WriteValue(TVariable& self, TEngineCompiler& engine, TSearchInputField& field,
                         const std::string& member, const THostValue& value);

 private:
  TSearchInputField* FieldFor(const THostValue& key) const;
  TEngineCompiler* engine_;
};

// `Results`: the records of the current page.
class TResultsWrapper : public TBaseCollectionWrapper {
 public:
  TResultsWrapper(std::string name, TEngineCompiler* engine, TBaseCompiler* compiler);
  THostValue GetProperty(const std::string& name) override;
  THostValue GetIndexed(const THostValue& key, const std::string& member) override;
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue& memberArg) override;
  // `Results[i].field` reads and writes of a plain field.
  const TBaseEvalItem* IndexedItem(const TBaseEvalItem& key, const std::string& member) override;
  bool SetIndexedItem(const TBaseEvalItem& key, const std::string& member, TBaseEvalItem&& value) override;
  TVariablePtr Select(int index) override;

 private:
  // `position` receives the record's 0-based place on the page.
  TResultRecord* RecordFor(const THostValue& key, size_t* position = nullptr);
  // The field a plain member names on the record `key` numbers; null when the generic access must
  // decide (a key that is no number, no such record, "deleted", "fields" or an unknown field).
  TResultField* PlainField(const TBaseEvalItem& key, const std::string& member);
  TEngineCompiler* engine_;
};

// `Rules`: the results parser's rules; an unknown name makes a rule.
class TRulesWrapper : public TBaseCollectionWrapper {
 public:
  TRulesWrapper(std::string name, TEngineCompiler* engine, TBaseCompiler* compiler);
  THostValue GetProperty(const std::string& name) override;
  THostValue GetIndexed(const THostValue& key, const std::string& member) override;
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue& memberArg) override;
  TVariablePtr Select(int index) override;

  static bool ReadRule(TSearchRule& rule, const std::string& name, THostValue& out);
  // Sets errors on `self`; false for a name that is no rule property.
  static bool WriteRule(TVariable& self, TSearchRule& rule, const std::string& name, const THostValue& value);

 private:
  TSearchRulePtr RuleFor(const THostValue& key);
  TEngineCompiler* engine_;
};

}  // namespace vandrel
