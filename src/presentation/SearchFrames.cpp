#include "presentation/SearchFrames.h"

#include <algorithm>

#include "platform/TextUtils.h"
#include "storage/CategoryStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

TSearchFrameRegistry& TSearchFrameRegistry::Default() {
  static TSearchFrameRegistry registry = [] {
    TSearchFrameRegistry r;
    r.Register("BuyBooks", TSearchFrameKind::sfkBooks);
    for (const char* name : {"BuyElectronics", "BuyHardware", "BuyHealthProducts", "BuyHome",
                             "BuyOfficeSupplies", "BuySoftware", "BuySports", "BuyToys", "Keywords"})
      r.Register(name, TSearchFrameKind::sfkKeywords);
    r.Register("BuyMusic", TSearchFrameKind::sfkMusic);
    r.Register("BuyMovies", TSearchFrameKind::sfkMovies);
    r.Register("ProductReview", TSearchFrameKind::sfkReview);
    return r;
  }();
  return registry;
}

void TSearchFrameRegistry::Register(const std::string& name, TSearchFrameKind kind) {
  Kinds_[AsciiLowerCase(name)] = kind;
}

const TSearchFrameKind* TSearchFrameRegistry::Find(const std::string& name) const {
  auto it = Kinds_.find(AsciiLowerCase(name));
  return it == Kinds_.end() ? nullptr : &it->second;
}

const TSearchFrameKind* TSearchFrameRegistry::ForCategory(const TCategoryStorageItem& category,
                                                          const TSearchTypeStorageItem* searchType) const {
  if (const TSearchFrameKind* kind = Find(category.SearchFrame)) return kind;
  return searchType ? Find(searchType->SearchFrame) : nullptr;
}

int ResultsPerEngineOf(TSearchMode mode) {
  switch (mode) {
    case TSearchMode::smQuick:
      return 10;
    case TSearchMode::smThorough:
      return 30;
    case TSearchMode::smSuperThorough:
      return 100;
  }
  return 10;
}

namespace {

TSearchMode ModeFor(int resultsPerEngine) {
  return resultsPerEngine <= 10 ? TSearchMode::smQuick : TSearchMode::smThorough;
}

std::string WithoutHyphens(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != '-') out += c;
  return out;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A value quoted as a whole: it starts and ends with a double quote and holds no other.
bool IsQuotedPhrase(std::string_view value) {
  return value.size() >= 2 && value.front() == '"' && value.back() == '"' &&
         value.substr(1, value.size() - 2).find('"') == std::string_view::npos;
}

bool HasBooleanWord(std::string_view value) {
  size_t pos = 0;
  while (pos < value.size()) {
    const size_t end = std::min(value.find(' ', pos), value.size());
    const std::string word = AsciiLowerCase(value.substr(pos, end - pos));
    if (word == "and" || word == "or" || word == "&") return true;
    pos = end + 1;
  }
  return false;
}

}  // namespace

bool IsValidIsbn(const std::string& text) {
  const std::string isbn = WithoutHyphens(text);
  if (isbn.size() != 10) return false;
  int sum = 0;
  for (size_t i = 0; i < 9; ++i) {
    if (!IsDigit(isbn[i])) return false;
    sum += (isbn[i] - '0') * static_cast<int>(10 - i);
  }
  const char last = isbn[9];
  if (!IsDigit(last) && last != 'X') return false;
  const int check = last == 'X' ? 10 : last - '0';
  return (11 - sum % 11) % 11 == check;
}

TSearchFrameModel::TSearchFrameModel(TSearchFrameKind kind, TSearchFrameContext context)
    : Kind_(kind), Context_(std::move(context)) {
  switch (kind) {
    case TSearchFrameKind::sfkBooks:
      Fields = {{"TITLE", "&Title:", ""}, {"AUTHOR", "&Author:", ""}, {"ISBN", "&ISBN:", ""}};
      Note_ = "Note: Only one field is mandatory.";
      Links_ = {{"Title", 0}, {"Author", 1}};
      break;
    case TSearchFrameKind::sfkMusic:
      Fields = {{"ARTIST", "A&rtist:", ""}, {"ALBUM", "A&lbum:", ""}, {"SONG", "&Song:", ""}};
      Choice = std::make_unique<TSearchFrameChoiceField>(TSearchFrameChoiceField{
          "MEDIA",
          "&Media:",
          {"All", "CD", "Cassette", "Single", "Vinyl", "Others (MiniDisc, video, box, etc.)"},
          0});
      Links_ = {{"Album", 1}, {"Artist", 0}, {"Song", 2}};
      break;
    case TSearchFrameKind::sfkMovies:
      Fields = {{"TITLE", "&Title:", ""}, {"ACTORS", "A&ctors:", ""}, {"DIRECTOR", "&Director:", ""}};
      Choice = std::make_unique<TSearchFrameChoiceField>(
          TSearchFrameChoiceField{"FORMAT", "&Format:", {"All", "VHS", "DVD", "LaserDisc"}, 0});
      break;
    case TSearchFrameKind::sfkKeywords:
    case TSearchFrameKind::sfkReview:
      Fields = {{"KEYWORDS", "&Keywords:", ""}};
      break;
  }
}

bool TSearchFrameModel::OperatorEnabled(int op) const {
  return op >= koAllKeywords && op <= koExactPhrase && OperatorEnabled_[static_cast<size_t>(op - 1)];
}

void TSearchFrameModel::SetOperator(int op) {
  if (op >= koAllKeywords && op <= koExactPhrase) Operator_ = op;
}

void TSearchFrameModel::SetMode(TSearchMode mode) {
  if (mode == TSearchMode::smSuperThorough) {
    if (Context_.Prompts)
      Context_.Prompts->Ask({kNotAvailableCaption, kNotAvailableText, TPromptIcon::piInformation});
    mode = TSearchMode::smThorough;
  }
  Mode_ = mode;
}

size_t TSearchFrameModel::Paste(size_t link) {
  if (link >= PasteLinks_.size()) return FirstField();
  const size_t field = PasteLinks_[link].Field;
  Fields[field].Value = PasteText_;
  return field;
}

void TSearchFrameModel::ResetValues() {
  for (TSearchFrameTextField& f : Fields) f.Value.clear();
  if (Choice) Choice->Index = 0;
  PasteText_.clear();
  PasteLinks_.clear();
}

void TSearchFrameModel::LoadFromSearch(const TSearchStorageItem& search) {
  ResetValues();
  for (TSearchFrameTextField& f : Fields)
    if (const TStorageFieldItem* stored = search.FindField(f.Name)) f.Value = stored->Value().AsString();
  if (Choice)
    if (const TStorageFieldItem* stored = search.FindField(Choice->Name)) {
      const int64_t index = stored->Value().AsInteger();
      Choice->Index =
          index >= 0 && index < static_cast<int64_t>(Choice->Entries.size()) ? static_cast<int>(index) : 0;
    }
  if (HasOperators()) {
    const TStorageFieldItem* stored = search.FindField("KEYWORDOP");
    const int op = stored ? static_cast<int>(stored->Value().AsInteger()) : koAllKeywords;
    if (OperatorEnabled(op)) Operator_ = op;
    // The phrase is stored bare; shown quoted so it reads as what it searches for.
    if (Operator_ == koExactPhrase && !Fields[0].Value.empty() && !IsQuotedPhrase(Fields[0].Value))
      Fields[0].Value = "\"" + Fields[0].Value + "\"";
  }
  Mode_ = ModeFor(search.ResultsPerEngine);
}

void TSearchFrameModel::SaveToSearch(TSearchStorageItem& search) {
  for (const TSearchFrameTextField& f : Fields) {
    std::string value(Trim(f.Value));
    if (f.Name == "ISBN") value = WithoutHyphens(value);
    if (HasOperators() && Operator_ == koExactPhrase && IsQuotedPhrase(value))
      value = std::string(Trim(std::string_view(value).substr(1, value.size() - 2)));
    if (!value.empty()) search.GetFields()->AddField(f.Name, TDynamicValue(value));
  }
  if (Choice) search.GetFields()->AddField(Choice->Name, TDynamicValue(Choice->Index));
  if (HasOperators()) search.GetFields()->AddField("KEYWORDOP", TDynamicValue(Operator_));
  search.ResultsPerEngine = ResultsPerEngineOf(Mode_);
  if (Context_.Settings) Context_.Settings->SetResultsPerEngine(Reviews_, search.ResultsPerEngine);
}

bool TSearchFrameModel::AllowsExactPhrase() const {
  return HasOperators() && Operator_ == koExactPhrase;
}

void TSearchFrameModel::Tell(const std::string& text) {
  if (!Silent && Context_.Prompts)
    Context_.Prompts->Ask({"", text, TPromptIcon::piWarning, TPromptButtons::pbOk, TPromptAnswer::paOk});
}

bool TSearchFrameModel::Validate() {
  std::vector<std::string> values;
  for (const TSearchFrameTextField& f : Fields) values.emplace_back(Trim(f.Value));
  if (std::all_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); })) {
    Tell(kMsgFillOneField);
    return false;
  }
  for (const std::string& v : values) {
    const bool quoted = v.find('"') != std::string::npos;
    if (quoted && !(AllowsExactPhrase() && IsQuotedPhrase(v))) {
      Tell(kMsgNoQuotes);
      return false;
    }
  }
  for (const std::string& v : values) {
    if (IsQuotedPhrase(v) || !HasBooleanWord(v)) continue;
    if (!Context_.Prompts || !Context_.Settings) break;
    bool ask = Context_.Settings->PromptAndOrInformation();
    const TPromptAnswer answer = AskUnderFlag(
        *Context_.Prompts, ask,
        {"", kMsgBooleanOperators, TPromptIcon::piQuestion, TPromptButtons::pbYesNo, TPromptAnswer::paYes},
        TPromptAnswer::paYes);
    Context_.Settings->SetPromptAndOrInformation(ask);
    if (answer != TPromptAnswer::paYes) return false;
    break;  // one answer covers the whole form
  }
  if (Kind_ == TSearchFrameKind::sfkBooks && !values[2].empty() && !IsValidIsbn(values[2])) {
    Tell(kMsgInvalidIsbn);
    return false;
  }
  return true;
}

void TSearchFrameModel::SetInputText(const std::string& text) {
  ResetValues();
  const std::string value(Trim(text));
  if (value.empty()) return;
  if (Kind_ == TSearchFrameKind::sfkBooks && IsValidIsbn(value)) {
    Fields[2].Value = value;
    return;
  }
  if (Links_.empty()) {
    Fields[0].Value = value;
    return;
  }
  PasteText_ = value;
  PasteLinks_ = Links_;
}

void TSearchFrameModel::SetCategory(const TCategoryStorageItem* category, bool reviews) {
  Reviews_ = reviews;
  if (Context_.Settings) Mode_ = ModeFor(Context_.Settings->ResultsPerEngine(reviews));
  if (!HasOperators()) return;
  OperatorEnabled_ = {true, true, true};
  if (category && Context_.EnginesAccept) {
    const std::string keywords(Trim(Fields[0].Value));
    for (int op = koAllKeywords; op <= koExactPhrase; ++op)
      OperatorEnabled_[static_cast<size_t>(op - 1)] =
          Context_.EnginesAccept(*category, [&](TSearchStorageItem& s) {
            if (!keywords.empty()) s.GetFields()->AddField("KEYWORDS", TDynamicValue(keywords));
            s.GetFields()->AddField("KEYWORDOP", TDynamicValue(op));
          });
  }
  for (int op = koAllKeywords; op <= koExactPhrase; ++op)
    if (OperatorEnabled(op)) {
      Operator_ = op;
      break;
    }
}

bool TSearchFrameModel::HasInput() const {
  return std::any_of(Fields.begin(), Fields.end(),
                     [](const TSearchFrameTextField& f) { return !Trim(f.Value).empty(); });
}

}  // namespace vandrel
