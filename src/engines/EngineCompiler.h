// The engine (and category) script: commands, reset variables, the results parser it drives, and the
// readers that load engine and category definitions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/EngineEvaluator.h"
#include "engines/ResultsParserEx.h"
#include "engines/SearchTypeInstance.h"
#include "script/BaseCompiler.h"
#include "script/Collections.h"

namespace vandrel {

// Keyword ids of engine and category scripts, stored in compiled files: never renumber.
enum TEngineKeywordId : uint16_t {
  kwClearHttpVars = 4097,
  kwSetHttpVar = 4098,
  kwSetSearchQuery = 4099,
  kwAddExcluded = 4100,
  kwClearExcludedList = 4101,
  kwTranslateInRule = 4102,
  kwRaiseError = 4103,
  kwAddIncluded = 4104,
  kwClearIncludedList = 4105,
  kwAddLinefeedTag = 4106,
  kwAddPrefix = 4107,
  kwClearPrefixList = 4108,
  kwAddTempField = 4110,
  kwExpandResults = 4111,
  kwIgnoreHttpStatusCode = 4112,
};

class TEngineCompiler : public TBaseCompiler {
 public:
  // The run budget of every procedure of an engine until its host sets another (the searcher gives its
  // engine time limit): engines come from an update site and may loop.
  static constexpr int kDefaultRunTimeLimitMs = 10000;

  TEngineCompiler();
  ~TEngineCompiler() override;

  // The engine's variables back to their defaults (done at construction and before every run).
  void ResetEngineVariables();
  // Attaches the search (may be null); its variables become the parent of the engine's.
  void SetInstance(TSearchTypeInstance* instance);
  TSearchTypeInstance* Instance() const { return instance_; }

  // Builds SearchQuery from the "Keywords" input field.
  void SetSearchQuery();
  // Replaces every record of the page by one clone per string, with `fieldName` set to that string.
  // Returns false with the error set on the evaluator.
  bool ExpandResults(const std::string& fieldName, const TObjectRef& list);
  // The query parser of an input field, made on first use.
  TZnQueryParser& QueryParserFor(const std::string& fieldName);

  // What the searcher gives the parser before "AfterDownload" (prefix, line-feed tag, money code) and
  // before parsing (parse type, base link, incomplete links, expression).
  void ApplyPageSettings();
  void ApplyParseSettings();

  // Localised texts and priority as the application shows and ranks the engine.
  std::string LocalDisplayName() const;
  std::string LocalDescription() const;
  int64_t LocalPriority() const;

  std::shared_ptr<TZnCollection> Descriptions, DisplayNames, Priorities;
  std::shared_ptr<TZnStringList> HttpVars;
  TResultsParserEx ResultsParser;
  TEditionInfo* EditionInfo = nullptr;  // not owned; from the instance
  std::vector<int32_t> IgnoredStatusCodes;
  bool Debug = false;  // the search runs in debug mode; set by the searcher before every run
  TZnQueryParserList QueryParsers;

 private:
  THostValue LocalValue(const TZnCollection& c) const;
  TSearchTypeInstance* instance_ = nullptr;
  TVariableList constants_;  // the definition constants for an engine without a search
};

// Reads a category or engine setting back after "Register".
class TEngineReader {
 public:
  TEngineReader();
  virtual ~TEngineReader();

  bool Load(const std::string& fileName, TSearchTypeInstance* instance = nullptr);
  TEngineCompiler& Compiler() { return *compiler_; }

  bool AlwaysEnabled = false;
  bool AuthorizationRequired = false;
  bool AutoUpdate = false;
  std::string Category;
  bool Enabled = true;
  std::string HomePage;
  std::string Language = "ENG";
  std::string Name;
  bool SupportQuotes = true;
  bool SupportAnd = true;
  bool SupportOr = true;
  bool SupportNew = true;
  bool SupportExactPhrase = false;

 private:
  std::unique_ptr<TEngineCompiler> compiler_;
};

class TCategoryReader {
 public:
  TCategoryReader();
  ~TCategoryReader();

  bool Load(const std::string& fileName, TSearchTypeInstance* instance = nullptr);
  TEngineCompiler& Compiler() { return *compiler_; }

  std::string Language = "ENG";
  std::string Name;
  bool Enabled = true;
  int64_t ResultsPerEngine = 0;
  std::string SearchType = "web";
  std::string SearchFrame;
  int64_t TotalResults = 0;

 private:
  std::unique_ptr<TEngineCompiler> compiler_;
};

// The file name without directory and extension.
std::string DefinitionName(const std::string& fileName);

}  // namespace vandrel
