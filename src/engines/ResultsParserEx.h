// Cuts the result records of one downloaded page out of it, following an engine's rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engines/SearchResults.h"
#include "engines/SearchRules.h"
#include "html/HtmlParserEx.h"
#include "script/Collections.h"

namespace vandrel {

// Parse types; script constants PT_*.
enum TParseType : int32_t { PT_LINK = 0, PT_EXPRESSION = 1, PT_PAGE = 2 };

// The page parser of the results parser: anchors with their texts, and in the head <base>, <meta> and
// <title>. Comments stay, so that commented-out markup still counts for line positions.
class THtmlResultsParser : public THtmlParserEx {
 public:
  THtmlResultsParser();

 protected:
  bool DispatchTag(std::string_view name, bool isWord, size_t tagStart) override;
};

class TResultsParserEx {
 public:
  TResultsParserEx();
  ~TResultsParserEx();
  TResultsParserEx(const TResultsParserEx&) = delete;
  TResultsParserEx& operator=(const TResultsParserEx&) = delete;

  // Back to the state of a new engine (inclusions excepted).
  void Reset();
  // Clears the temporary fields; the result list follows the instance.
  void SetInstance(TSearchTypeInstance* instance);
  TSearchTypeInstance* Instance() const { return instance_; }
  // Records go to `list` (not owned) instead of the parser's own list; null returns to the own list.
  void SetResultList(TSearchResultList* list);
  TSearchResultList& Results() { return *results_; }
  void SetDocumentAddress(const std::string& address) { DocumentAddress = address; }
  void SetPageText(std::string text);
  const std::string& PageText() const { return page_; }
  // Binds the rules to fields; run after the script set them and before Parse.
  void PrepareRules();
  TBaseSearchOutputField& AddTempField(const std::string& name, uint8_t type);
  const std::vector<std::shared_ptr<TBaseSearchOutputField>>& TempFields() const { return tempFields_; }
  // Cuts the page; returns the number of records added.
  int Parse();
  std::string GetDocumentTitle();
  // The page parsed for links (parsed on first use).
  THtmlResultsParser& HtmlParser();
  // A new record of the instance with the temporary fields and the default money code.
  std::unique_ptr<TResultRecord> NewRecord() const;

  int32_t ParseType = PT_LINK;
  std::string ParseExpression;
  std::string BaseLink;  // put in front of incomplete links; empty: resolve against the document
  bool ParseIncompleteLinks = false;
  int32_t DocumentType = 0;  // only 0 (HTML) is parsed
  int32_t MaxResults = 0;    // per page; 0 = no limit
  std::string DefaultMoneyCode;
  std::string DocumentAddress;
  double DocumentDate = 0;          // days since 1899-12-30; 0 unknown
  double DocumentLastModified = 0;  // the same
  std::shared_ptr<TSearchRuleList> Rules;
  std::shared_ptr<TZnStringList> Inclusions, Exclusions, Prefixes, LineFeedTags;

 private:
  struct TMarker {
    size_t Start, End;
  };
  void Prepare();
  void ComputeRange();
  // Start of line k counted from the line that holds pos.
  size_t LinePosition(size_t pos, int64_t k) const;
  // Cuts rule r's field at pos; false when the record has to be dropped.
  bool CutField(const TSearchRule& r, size_t pos, TResultRecord& record, bool& keyRejected);
  void AssignText(TResultField& field, const std::string& text);
  // Checks and completes a key address; empty when rejected.
  std::string CheckLink(std::string v) const;
  std::string Complete(const std::string& v) const;
  bool Excluded(const std::string& v) const;
  bool Keep(std::unique_ptr<TResultRecord> record);
  int ParseExpressions();
  int ParseLinks();
  int ParsePage();

  TSearchTypeInstance* instance_ = nullptr;
  std::string page_;
  std::unique_ptr<THtmlResultsParser> html_;
  bool htmlParsed_ = false;
  std::vector<TSearchRule*> active_;
  std::vector<int> formulaFields_;
  std::vector<std::shared_ptr<TBaseSearchOutputField>> tempFields_;
  std::set<std::string> uniqueKeys_;
  std::unique_ptr<TSearchResultList> ownResults_;
  TSearchResultList* results_;
  int32_t recordId_ = 0;
  int added_ = 0;
  size_t rangeStart_ = 0, rangeEnd_ = 0;
  std::vector<TMarker> markers_;  // line-feed markers of the page, in order, never overlapping
};

}  // namespace vandrel
