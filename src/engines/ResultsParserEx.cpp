#include "engines/ResultsParserEx.h"

#include <algorithm>
#include <charconv>

#include "engines/FieldEvaluator.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/UrlUtils.h"
#include "script/FuncEvaluator.h"

namespace vandrel {

THtmlResultsParser::THtmlResultsParser() {
  ParseLinks = true;
  ParseForms = false;
  ParseImages = false;
  ParseIFrames = false;
  CollectLinkText = true;
  StripComments = false;
}

bool THtmlResultsParser::DispatchTag(std::string_view name, bool isWord, size_t tagStart) {
  // Only anchors make records: other address-bearing tags are passed over.
  if (name == "link" || name == "area" || name == "frame" || name == "iframe" || name == "form" ||
      name == "input" || name == "img")
    return false;
  return THtmlParserEx::DispatchTag(name, isWord, tagStart);
}

// ---------------------------------------------------------------------------------------------------

namespace {

std::string ReplaceAmpersands(std::string v) {
  // Addresses written in HTML carry "&" as "&amp;"; the page shows, and the site expects, "&".
  for (size_t at = 0; (at = v.find('&', at)) != std::string::npos; ++at)
    if (v.size() - at >= 5 && SameText(std::string_view(v).substr(at, 5), "&amp;")) v.erase(at + 1, 4);
  return v;
}

std::string RemoveChars(std::string s, std::string_view chars) {
  s.erase(std::remove_if(s.begin(), s.end(), [&](char c) { return chars.find(c) != std::string_view::npos; }),
          s.end());
  return s;
}

std::string RemoveControls(std::string s) {
  s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }),
          s.end());
  return s;
}

std::string CleanValue(const std::string& s) {
  return ScriptClean(s, [](const std::string& t) { return DecodeEntities(t); });
}

}  // namespace

TResultsParserEx::TResultsParserEx()
    : Rules(std::make_shared<TSearchRuleList>()),
      Inclusions(std::make_shared<TZnStringList>()),
      Exclusions(std::make_shared<TZnStringList>()),
      Prefixes(std::make_shared<TZnStringList>()),
      LineFeedTags(std::make_shared<TZnStringList>()),
      html_(std::make_unique<THtmlResultsParser>()),
      ownResults_(std::make_unique<TSearchResultList>()),
      results_(ownResults_.get()) {
  Reset();
}

TResultsParserEx::~TResultsParserEx() = default;

void TResultsParserEx::Reset() {
  html_ = std::make_unique<THtmlResultsParser>();
  htmlParsed_ = false;
  BaseLink.clear();
  MaxResults = 0;
  ParseIncompleteLinks = false;
  DocumentType = 0;
  ParseType = PT_LINK;
  Exclusions->Clear();
  Prefixes->Clear();
  Prefixes->Add("http://");
  Prefixes->Add("https://");
  Rules->Clear();
  TSearchRulePtr range = Rules->FindOrAdd("Range");
  range->IsRange = true;
  range->Clean = false;
  active_.clear();
  formulaFields_.clear();
  recordId_ = 0;
  uniqueKeys_.clear();
  tempFields_.clear();
}

void TResultsParserEx::SetInstance(TSearchTypeInstance* instance) {
  tempFields_.clear();
  instance_ = instance;
  Rules->Owner = instance ? instance->Evaluator.get() : nullptr;
  ownResults_->SetInstance(instance);
}

void TResultsParserEx::SetResultList(TSearchResultList* list) {
  results_ = list ? list : ownResults_.get();
}

void TResultsParserEx::SetPageText(std::string text) {
  page_ = std::move(text);
  htmlParsed_ = false;
  markers_.clear();
}

THtmlResultsParser& TResultsParserEx::HtmlParser() {
  if (!htmlParsed_) {
    html_->SetText(page_);
    html_->Parse();
    htmlParsed_ = true;
  }
  return *html_;
}

std::string TResultsParserEx::GetDocumentTitle() {
  return HtmlParser().Title();
}

TBaseSearchOutputField& TResultsParserEx::AddTempField(const std::string& name, uint8_t type) {
  for (auto& f : tempFields_)
    if (SameText(f->FieldName, name)) {
      f->SetDeclaredType(type);
      return *f;
    }
  auto f = std::make_shared<TBaseSearchOutputField>(name, nullptr);
  f->SetDeclaredType(type);
  f->Temporary = true;
  tempFields_.push_back(f);
  return *tempFields_.back();
}

std::unique_ptr<TResultRecord> TResultsParserEx::NewRecord() const {
  return std::make_unique<TResultRecord>(instance_, DefaultMoneyCode, tempFields_);
}

void TResultsParserEx::PrepareRules() {
  active_.clear();
  formulaFields_.clear();
  int outputCount = instance_ ? static_cast<int>(instance_->OutputFields.Count()) : 0;
  for (size_t i = 0; i < Rules->Count(); ++i) {
    TSearchRule& r = Rules->At(i);
    if (r.IsRange) continue;
    int index = instance_ ? instance_->OutputFields.IndexOf(r.Name) : -1;
    if (index < 0) {
      for (size_t t = 0; t < tempFields_.size(); ++t)
        if (SameText(tempFields_[t]->FieldName, r.Name)) index = outputCount + static_cast<int>(t);
    }
    r.FieldIndex = index;
    active_.push_back(&r);
    if (r.Code == RC_FORMULA && index >= 0) formulaFields_.push_back(index);
  }
  markers_.clear();
}

// ---------------------------------------------------------------------------------------------------

void TResultsParserEx::Prepare() {
  if (!markers_.empty() || page_.empty()) return;
  // Every marker of the page, left to right: at each point the marker that starts first wins (the
  // earlier tag on a tie), and the search goes on after it.
  std::vector<std::string> tags{"\n"};
  for (const auto& t : LineFeedTags->Items())
    if (!t.empty()) tags.push_back(t);
  std::vector<size_t> next(tags.size());
  for (size_t t = 0; t < tags.size(); ++t) next[t] = page_.find(tags[t]);
  size_t from = 0;
  for (;;) {
    size_t best = std::string::npos, bestLen = 0;
    for (size_t t = 0; t < tags.size(); ++t) {
      if (next[t] != std::string::npos && next[t] < from) next[t] = page_.find(tags[t], from);
      if (next[t] != std::string::npos && (best == std::string::npos || next[t] < best)) {
        best = next[t];
        bestLen = tags[t].size();
      }
    }
    if (best == std::string::npos) break;
    markers_.push_back({best, best + bestLen});
    from = best + bestLen;
  }
  if (markers_.empty()) markers_.push_back({page_.size(), page_.size()});  // a sentinel: one line
}

size_t TResultsParserEx::LinePosition(size_t pos, int64_t k) const {
  if (pos > page_.size()) pos = page_.size();
  // The last marker that ends at or before pos opens line 0.
  auto it = std::upper_bound(markers_.begin(), markers_.end(), pos,
                             [](size_t p, const TMarker& m) { return p < m.End; });
  int64_t index = static_cast<int64_t>(it - markers_.begin()) - 1;  // -1: line 0 starts the page
  int64_t target = index + k;
  if (target < 0) return 0;
  if (target >= static_cast<int64_t>(markers_.size())) return page_.size();
  const TMarker& m = markers_[static_cast<size_t>(target)];
  return m.Start == m.End ? page_.size() : m.End;
}

void TResultsParserEx::ComputeRange() {
  rangeStart_ = 0;
  rangeEnd_ = page_.size();
  const TSearchRule* range = Rules->Find("Range");
  if (!range) return;
  size_t endFrom = 0;
  if (!range->StartMarker.empty()) {
    size_t at = page_.find(range->StartMarker);
    if (at == std::string::npos) {
      rangeStart_ = rangeEnd_ = std::string::npos;
      return;
    }
    rangeStart_ = at;
    endFrom = at + range->StartMarker.size();
  }
  if (!range->EndMarker.empty()) {
    size_t at = page_.find(range->EndMarker, endFrom);
    if (at != std::string::npos) rangeEnd_ = at;
  }
}

void TResultsParserEx::AssignText(TResultField& field, const std::string& text) {
  if (IsNumericType(field.DataType)) {
    std::string t = std::string(Trim(text));
    size_t i = t.find_first_not_of("\r\n ");
    size_t start = i == std::string::npos ? t.size() : i;
    size_t end = start;
    while (end < t.size() && ((t[end] >= '0' && t[end] <= '9') || t[end] == '.')) ++end;
    std::string run = end > start ? t.substr(start, end - start) : std::string("0");
    double v = 0;
    auto res = std::from_chars(run.data(), run.data() + run.size(), v, std::chars_format::fixed);
    if (res.ec != std::errc() || res.ptr != run.data() + run.size()) {
      field.ErrorCode = kErrInvalidValue;
      field.ErrorText = "'" + run + "' is not a valid floating point value";
      field.Invalidate();
      return;
    }
    field.SetFloat(v);
  } else {
    auto* def = field.Definition.get();
    if (def && def->Length > 0 && text.size() > static_cast<size_t>(def->Length))
      field.SetString(text.substr(0, static_cast<size_t>(def->Length)));
    else
      field.SetString(text);
  }
  field.Invalidate();
}

bool TResultsParserEx::Excluded(const std::string& v) const {
  if (Inclusions->Count() > 0 && !ContainsAny(Inclusions->Items(), v)) return true;
  return ContainsAny(Exclusions->Items(), v);
}

std::string TResultsParserEx::Complete(const std::string& v) const {
  if (!BaseLink.empty()) {
    bool baseSlash = BaseLink.back() == '/';
    bool linkSlash = !v.empty() && v.front() == '/';
    if (baseSlash && linkSlash) return BaseLink + v.substr(1);
    if (!baseSlash && !linkSlash) return BaseLink + "/" + v;
    return BaseLink + v;
  }
  return ResolveUrl(DocumentAddress, v);
}

std::string TResultsParserEx::CheckLink(std::string v) const {
  v = DecodeUrlEscapes(v);
  bool known = StartsWithAny(Prefixes->Items(), v);
  if (!ParseIncompleteLinks && !known) return {};
  if (v.empty() || Excluded(v)) return {};
  if (ParseIncompleteLinks && !known) v = Complete(v);
  // Duplicates are checked on the completed address, because that is the one we store.
  if (v.empty() || uniqueKeys_.count(v)) return {};
  return v;
}

bool TResultsParserEx::CutField(const TSearchRule& r, size_t pos, TResultRecord& record, bool& keyRejected) {
  if (r.FieldIndex < 0 || static_cast<size_t>(r.FieldIndex) >= record.FieldCount()) return true;
  TResultField& field = record.Field(static_cast<size_t>(r.FieldIndex));
  switch (r.Code) {
    case RC_DOCUMENTADDRESS:
      AssignText(field, DocumentAddress);
      return true;
    case RC_DOCUMENTTITLE:
      AssignText(field, GetDocumentTitle());
      return true;
    case RC_FORMULA:
      field.FormulaSlot = r.Formula;
      return true;
    default:
      break;
  }
  size_t blockStart = LinePosition(pos, r.StartLine);
  size_t blockEnd = LinePosition(pos, static_cast<int64_t>(r.StartLine) + r.NbLines);
  if (blockEnd < blockStart) blockEnd = blockStart;
  std::string_view block = std::string_view(page_).substr(blockStart, blockEnd - blockStart);
  const int64_t length = static_cast<int64_t>(block.size());

  // Positions below are 1-based within the block.
  int64_t lower = r.StartChar;
  int64_t upper = r.NbChars > 0 ? static_cast<int64_t>(r.StartChar) + r.NbChars : length + 1;
  int64_t s = 1;
  if (!r.StartMarker.empty()) {
    for (int32_t n = 0; n < std::max<int32_t>(r.StartMarkerOccurrence, 1); ++n) {
      size_t at =
          s - 1 <= length ? block.find(r.StartMarker, static_cast<size_t>(s - 1)) : std::string_view::npos;
      if (at == std::string_view::npos) {
        if (r.StartMarkerMandatory) return r.Code != RC_LINKADDRESS || (keyRejected = true, false);
        break;
      }
      s = static_cast<int64_t>(at + r.StartMarker.size()) + 1;
    }
  }
  int64_t e = s;
  if (!r.EndMarker.empty()) {
    int64_t from = s;
    for (int32_t n = 0; n < std::max<int32_t>(r.EndMarkerOccurrence, 1); ++n) {
      size_t at = from - 1 <= length ? block.find(r.EndMarker, static_cast<size_t>(from - 1))
                                     : std::string_view::npos;
      if (at == std::string_view::npos) break;
      e = static_cast<int64_t>(at) + 1;
      from = e + static_cast<int64_t>(r.EndMarker.size());
    }
  }
  if (e == s) {
    // A block cut at the end of the page has no line feed to drop: keep its last character.
    e = blockEnd == page_.size() ? length + 1 : length;
  }
  int64_t from = std::max<int64_t>({s, lower, 1});
  int64_t to = std::min<int64_t>({e, upper, length + 1});
  std::string value =
      from < to ? std::string(block.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from)))
                : std::string();
  if (!r.EndMarker.empty() && value.compare(0, r.EndMarker.size(), r.EndMarker) == 0) value.clear();
  value = r.Translate(value);
  if (r.Clean) value = CleanValue(value);
  if (r.Code == RC_LINKADDRESS) {
    value = CheckLink(value);
    if (value.empty()) {
      keyRejected = true;
      return false;
    }
  }
  AssignText(field, value);
  return true;
}

bool TResultsParserEx::Keep(std::unique_ptr<TResultRecord> record) {
  if (!formulaFields_.empty()) record->Refresh();
  record->RecordId = ++recordId_;
  results_->Add(std::move(record));
  ++added_;
  return MaxResults > 0 && added_ >= MaxResults;  // true: stop
}

int TResultsParserEx::ParseExpressions() {
  // An empty separator would find itself forever.
  if (ParseExpression.empty()) return 0;
  size_t from = rangeStart_;
  while (from < rangeEnd_) {
    size_t a = page_.find(ParseExpression, from);
    // An occurrence past the range end belongs to the page around the results, not to them.
    if (a == std::string::npos || a >= rangeEnd_) break;
    from = a + ParseExpression.size();
    auto record = NewRecord();
    bool rejected = false;
    std::string key;
    for (TSearchRule* r : active_) {
      bool ok = CutField(*r, a, *record, rejected);
      if (rejected) break;
      if (ok && r->Code == RC_LINKADDRESS && r->FieldIndex >= 0 &&
          static_cast<size_t>(r->FieldIndex) < record->FieldCount())
        key = record->Field(static_cast<size_t>(r->FieldIndex)).Text;
    }
    if (rejected) continue;
    if (!key.empty()) uniqueKeys_.insert(key);
    if (Keep(std::move(record))) break;
  }
  return added_;
}

int TResultsParserEx::ParseLinks() {
  THtmlResultsParser& html = HtmlParser();
  uint32_t reduction = 0;
  if (instance_ && instance_->SearchType() && instance_->SearchType()->CurrentView)
    reduction = instance_->SearchType()->CurrentView->UrlReduction;
  struct TFound {
    const TLinkItem* Item;
    std::string Address;
  };
  std::vector<TFound> links;
  for (const TLinkItem* item : html.Links()) {
    if (item->AnchorStart == kNoOffset) continue;  // <base>, never a result
    if (item->Position < rangeStart_ || item->Position >= rangeEnd_) continue;
    std::string v = ReplaceAmpersands(DecodeUrlEscapes(item->Address));
    if (v.empty() || Excluded(v)) continue;
    if (!StartsWithAny(Prefixes->Items(), v)) {
      if (!ParseIncompleteLinks) continue;
      v = Complete(v);
      if (v.empty()) continue;
    }
    links.push_back({item, std::move(v)});
  }
  for (const TFound& link : links) {
    std::string key = RemoveControls(link.Address);
    if (reduction != 0) key = ReduceUrl(key, reduction);
    if (uniqueKeys_.count(key)) continue;
    auto record = NewRecord();
    bool rejected = false;
    for (TSearchRule* r : active_) {
      if (r->FieldIndex < 0 || static_cast<size_t>(r->FieldIndex) >= record->FieldCount()) continue;
      TResultField& field = record->Field(static_cast<size_t>(r->FieldIndex));
      if (r->Code == RC_LINKADDRESS) {
        AssignText(field, link.Address);
      } else if (r->Code == RC_LINKTEXT) {
        std::string text = RemoveChars(link.Item->AnchorText, "\t\n\r\b");
        AssignText(field, r->Clean ? CleanValue(text) : text);
      } else {
        CutField(*r, link.Item->Position, *record, rejected);
      }
    }
    uniqueKeys_.insert(key);
    if (Keep(std::move(record))) break;
  }
  return added_;
}

int TResultsParserEx::ParsePage() {
  auto record = NewRecord();
  bool rejected = false;
  std::string key;
  for (TSearchRule* r : active_) {
    size_t pos = rangeStart_;
    if (!r->Expression.empty()) {
      size_t at = page_.find(r->Expression, rangeStart_);
      if (at != std::string::npos)
        pos = at;
      else if (r->ExpressionMandatory)
        return 0;
    }
    bool ok = CutField(*r, pos, *record, rejected);
    if (rejected) return 0;
    if (ok && r->Code == RC_LINKADDRESS && r->FieldIndex >= 0 &&
        static_cast<size_t>(r->FieldIndex) < record->FieldCount())
      key = record->Field(static_cast<size_t>(r->FieldIndex)).Text;
  }
  if (!key.empty()) uniqueKeys_.insert(key);
  Keep(std::move(record));
  return added_;
}

int TResultsParserEx::Parse() {
  added_ = 0;
  if (DocumentType > 1) DocumentType = 0;
  if (DocumentType != 0) return 0;
  if (!Rules->Find("Range")) return 0;
  ComputeRange();
  if (rangeStart_ == std::string::npos) return 0;
  // The script may have changed rules or line-feed tags since the last page.
  PrepareRules();
  Prepare();
  switch (ParseType) {
    case PT_EXPRESSION:
      return ParseExpressions();
    case PT_PAGE:
      return ParsePage();
    default:
      return ParseLinks();
  }
}

}  // namespace vandrel
