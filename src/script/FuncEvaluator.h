// The expression evaluator with the language's library of built-in functions.
#pragma once

#include <functional>
#include <string>

#include "script/BaseEvaluator.h"

namespace vandrel {

// Address helpers the URL built-ins use; the defaults are the address parser's.
struct TUrlFunctions {
  std::function<std::string(const std::string& url)> NetLoc;
  std::function<std::string(const std::string& url, const std::string& name)> GetQueryField;
  std::function<std::string(const std::string& url, const std::string& name, const std::string& value)>
      SetQueryField;
  std::function<std::string(const std::string& url, int flags)> ReduceUrl;
  std::function<std::string(const std::string& text)> DecodeEntities;
};

// Registers the built-ins (Chr, Clean, StrCopy, FormatDateTime, iif, ...). Derived evaluators add their
// own with AddFunction after this constructor.
class TFuncEvaluator : public TBaseEvaluator {
 public:
  explicit TFuncEvaluator(TVariableList* variables = nullptr);

  TUrlFunctions Url;
};

// The library, usable on their own (and tested so).
std::string ScriptClean(const std::string& s, const std::function<std::string(const std::string&)>& decode);
std::string ScriptFormatISBN(const std::string& s);
std::string ScriptSafeUrl(const std::string& url);
std::string ScriptSafeVar(const std::string& s);
std::string ScriptCapitalize(const std::string& s);
std::string ScriptSentence(const std::string& s);
std::string ScriptEllipsis(const std::string& s, int64_t n);
std::string ScriptEntry(int64_t index, const std::string& s, const std::string& separator);
std::string ScriptReplace(const std::string& s, const std::string& oldText, const std::string& newText);
// Throws EScriptFault 126 when a directive does not fit the value.
std::string ScriptFormatValue(const std::string& format, const TBaseEvalItem& value);
// Date-time patterns over days since 1899-12-30 (English names, "/" and ":" separators).
std::string ScriptFormatDateTime(const std::string& format, double t);
// Round half to even; throws EScriptFault 122 outside the 64-bit range.
int64_t ScriptRound(double x);

}  // namespace vandrel
