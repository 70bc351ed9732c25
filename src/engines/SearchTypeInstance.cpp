#include "engines/SearchTypeInstance.h"

#include "engines/FieldEvaluator.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/Format.h"
#include "platform/UrlUtils.h"
#include "script/CollectionWrappers.h"

namespace vandrel {

namespace {}  // namespace

const std::vector<std::string>& TWordList::LowerWords() const {
  if (!lowerValid_) {
    lower_.clear();
    for (const auto& w : PlainWords()) lower_.push_back(LowerAscii(w));
    lowerValid_ = true;
  }
  return lower_;
}

std::vector<std::string> TWordList::PlainWords() const {
  if (!Escaped) return Words;
  std::vector<std::string> out;
  out.reserve(Words.size());
  for (const auto& w : Words) out.push_back(DecodeUrlEscapes(w));
  return out;
}

void TZnQueryParser::Parse(const std::string& text, bool escape) {
  Words.clear();
  std::string t = std::string(Trim(text));
  std::string word;
  bool quoted = false;
  for (char ch : t) {
    if (ch == '"') quoted = !quoted;
    if (ch == ' ' && !quoted) {
      if (!word.empty()) Words.push_back(std::move(word));
      word.clear();
      continue;
    }
    word += ch;
  }
  if (!word.empty()) Words.push_back(std::move(word));
  if (escape)
    for (auto& w : Words) w = SafeUrlText(w);
  lowerValid_ = false;
  Escaped = escape;
  Parsed = true;
}

std::string TZnQueryParser::QueryText() const {
  std::string body;
  for (size_t i = 0; i < Words.size(); ++i) {
    if (i > 0) body += Separator;
    body += Words[i];
  }
  if (ExactPhrase && !body.empty()) {
    if (Escaped) body = DecodeUrlEscapes(body);
    char quote = '"';
    if (body[0] == '"' || body[0] == '\'') {
      quote = body[0];
      body.erase(0, 1);
    }
    if (!body.empty() && body.back() == quote) body.pop_back();
    body = SafeUrlText(ExactPhraseDelimiter + body + ExactPhraseDelimiter);
  }
  return Prefix + body;
}

std::string TZnQueryParser::OriginalText() const {
  std::string out;
  for (const auto& w : PlainWords()) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return std::string(Trim(out));
}

int TZnQueryParser::CountMatches(std::string_view text, bool exact) const {
  int n = 0;
  if (exact) {
    for (const auto& w : PlainWords())
      if (text.find(w) != std::string_view::npos) ++n;
    return n;
  }
  std::string low = LowerAscii(text);
  for (const auto& w : LowerWords())
    if (low.find(w) != std::string::npos) ++n;
  return n;
}

TZnQueryParser* TZnQueryParserList::Find(std::string_view name) const {
  for (const auto& [n, p] : items_)
    if (SameText(n, name)) return p.get();
  return nullptr;
}

std::shared_ptr<TZnQueryParser> TZnQueryParserList::FindOrAdd(const std::string& name) {
  for (const auto& [n, p] : items_)
    if (SameText(n, name)) return p;
  items_.emplace_back(name, std::make_shared<TZnQueryParser>());
  return items_.back().second;
}

// ---------------------------------------------------------------------------------------------------

std::string FieldDisplayText(const TBaseEvalItem& value, uint8_t dataType, const TBaseSearchField* def,
                             int& errorCode, std::string& errorText) {
  if (errorCode == 0) {
    std::string format = def ? def->FormatString : std::string();
    TBaseEvalItem arg;
    bool isString = dataType == dtString, isBoolean = dataType == dtBoolean;
    bool isIntegral = dataType == dtInteger || dataType == dtByte;
    bool isNumeric = dataType == dtFloat || dataType == dtMoney;
    if (!isString && !isBoolean && !isIntegral && !isNumeric) {
      errorCode = kErrIncompatibleTypes;
      errorText = Format("Incompatible data type: '%s'", {DataTypeName(dataType)});
    } else {
      std::shared_ptr<TZnCollection> display;
      if (def && def->DisplayArray) {
        TObjectRef o = def->DisplayArray;
        if (auto* tr = dynamic_cast<TTransporter*>(o.get())) o = tr->Target;
        display = std::dynamic_pointer_cast<TZnCollection>(o);
      }
      if (display) {
        std::string key = isString    ? value.Text
                          : isNumeric ? FormatGeneral(value.Number)
                                      : std::to_string(value.AsInteger());
        TZnCollectionRecordPtr rec = display->FindOrDefault(key);
        arg.SetString(rec ? HostText(ToHostValue(rec->DefaultValue())) : std::string());
        if (format.empty()) format = "%s";
      } else if (isString) {
        arg.SetString(value.Text);
        if (format.empty()) format = "%s";
      } else if (isBoolean || isIntegral) {
        arg.SetInteger(isBoolean ? (value.Number != 0 ? 1 : 0) : value.AsInteger());
        if (format.empty()) format = "%d";
      } else {
        arg.SetFloat(value.Number);
        if (format.empty()) format = "%g";
      }
      try {
        // The format comes from a definition file: it is checked against the value, never trusted.
        return ScriptFormatValue(format, arg);
      } catch (const EScriptFault& e) {
        errorCode = kErrInvalidValue;
        errorText = e.what();
      }
    }
  }
  return Format("ERR%d-%s", {errorCode, errorText});
}

TSearchField::TSearchField(TSearchTypeInstance& instance, std::shared_ptr<TBaseSearchField> definition)
    : TBaseEvalItem(definition->DataType),
      Evaluator(instance.Evaluator.get()),
      Definition(std::move(definition)),
      Instance(&instance) {
  Mirror = instance.Variables.FindShared(Definition->FieldName);
  if (!Mirror || instance.Variables.ListOf(Mirror.get()) != &instance.Variables) {
    instance.Variables.SetString(Definition->FieldName, "");
    Mirror = instance.Variables.FindShared(Definition->FieldName);
  }
  if (!Definition->Formula.empty()) {
    Slot = Evaluator->NewSlot();
    Slot->SetExpression(Definition->Formula);
  }
}

void TSearchField::Recompute() {
  if (Slot) {
    TFieldEvaluator& ev = *Evaluator;
    ev.SetCurrentSlot(Slot);
    bool ok = ev.EvaluateAs(DataType);
    if (ok) {
      if (IsIntegralType(DataType))
        SetInteger(ev.AsInteger());
      else if (DataType == dtFloat || DataType == dtMoney)
        SetFloat(ev.Number);
      else
        SetString(ev.Text);
      if (Mirror) FromHostValue(*Mirror, ToHostValue(*this));
    }
    ErrorCode = ev.ErrorCode;
    if (ErrorCode != 0) ErrorText = ev.ErrorText;
    ev.SetCurrentSlot(nullptr);
  }
  int code = ErrorCode;
  std::string text = ErrorText;
  DisplayText = FieldDisplayText(*this, DataType, Definition.get(), code, text);
}

void TSearchInputField::Changed() {
  if (Mirror) FromHostValue(*Mirror, ToHostValue(*this));
}

// ---------------------------------------------------------------------------------------------------

TSearchTypeInstance::TSearchTypeInstance(TSearchTypeReader* reader, TEditionInfo* edition)
    : Evaluator(std::make_unique<TFieldEvaluator>(*this)), EditionInfo(edition) {
  DisplaySlot = Evaluator->NewSlot();
  FilterSlot = Evaluator->NewSlot();
  SetReader(reader);
}

TSearchTypeInstance::~TSearchTypeInstance() = default;

void TSearchTypeInstance::SetReader(TSearchTypeReader* reader) {
  if (reader == searchType_ && reader) return;
  searchType_ = reader;
  InputFields.Clear();
  InputFields.DefaultInputField = nullptr;
  OutputFields.Clear();
  KeywordInfo = {};
  if (!reader) return;
  FilterSlot->SetExpression(reader->Filter);
  Variables.SetParent(&reader->Variables);
  for (size_t i = 0; i < reader->InputFields->Count(); ++i) {
    auto& f = InputFields.Add(std::make_unique<TSearchInputField>(*this, reader->InputFields->Ptr(i)));
    if (i == 0) InputFields.DefaultInputField = &f;
  }
  for (size_t i = 0; i < reader->OutputFields->Count(); ++i)
    OutputFields.Add(std::make_unique<TSearchOutputField>(*this, reader->OutputFields->Ptr(i)));
  KeywordInfo.And = Variables.GetInteger("KO_AND", 0);
  KeywordInfo.Or = Variables.GetInteger("KO_OR", 0);
  KeywordInfo.Exact = Variables.GetInteger("KO_EXACT", 0);
  KeywordInfo.None = Variables.GetInteger("KO_NONE", 0);
  KeywordInfo.Keywords = InputFields.Find("Keywords");
  KeywordInfo.KeywordOp = InputFields.Find("KeywordOp");
}

std::string TSearchTypeInstance::LocalText(const TZnCollection& c) const {
  std::string key = c.DefaultKey;
  if (EditionInfo) {
    if (!SameText(EditionInfo->Language, c.DefaultKey))
      key = EditionInfo->Language;
    else if (!SameText(EditionInfo->Edition, c.DefaultKey))
      key = EditionInfo->Edition;
  }
  TZnCollectionRecordPtr r = c.FindOrDefault(key);
  return r ? HostText(ToHostValue(r->DefaultValue())) : std::string();
}

std::string TSearchTypeInstance::InputDisplayText() {
  if (!searchType_) return {};
  DisplaySlot->SetExpression(LocalText(*searchType_->InputDisplayFormulas));
  Evaluator->SetCurrentSlot(DisplaySlot);
  bool ok = Evaluator->EvaluateAs(dtString);
  Evaluator->SetCurrentSlot(nullptr);
  return ok ? Evaluator->Text : std::string();
}

std::string TSearchTypeInstance::ReduceForType(const std::string& url, int64_t flags) const {
  if (flags == -1)
    flags = searchType_ && searchType_->CurrentView ? searchType_->CurrentView->UrlReduction : 0;
  if (flags == 0) return url;
  return ReduceUrl(url, static_cast<uint32_t>(flags));
}

int64_t TSearchTypeInstance::KeywordOperation() const {
  return KeywordInfo.KeywordOp ? KeywordInfo.KeywordOp->AsInteger() : KeywordInfo.None;
}

}  // namespace vandrel
