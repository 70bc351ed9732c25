#include "engines/EngineEvaluator.h"

#include <algorithm>
#include <charconv>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "html/HtmlParserEx.h"
#include "platform/Format.h"
#include "script/CollectionWrappers.h"

namespace vandrel {

namespace {

// A record of the current page as scripts hold it. Records are owned by the page's list and may be
// freed (ExpandResults, the next page) while a script still holds the reference, so every access first
// checks that the record is still on the page.
class TRecordRef : public TScriptObject {
 public:
  TRecordRef(TEngineCompiler* engine, TResultRecord* record, size_t position)
      : Engine(engine), Record(record), position_(position) {}
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;
  // The record is looked for where it was last seen first: a loop over the page would otherwise search
  // the page once per access.
  TResultRecord* Get() const {
    TSearchResultList& l = Engine->ResultsParser.Results();
    if (position_ < l.Count() && &l.At(position_) == Record) return Record;
    for (size_t i = 0; i < l.Count(); ++i)
      if (&l.At(i) == Record) {
        position_ = i;
        return Record;
      }
    return nullptr;
  }
  TEngineCompiler* Engine;
  TResultRecord* Record;

 private:
  mutable size_t position_;
};

// A record's fields: "count", fields[key] (name or position).
class TRecordFieldsRef : public TScriptObject {
 public:
  explicit TRecordFieldsRef(std::shared_ptr<TRecordRef> record) : Record(std::move(record)) {}
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;
  std::shared_ptr<TRecordRef> Record;
};

class TRecordFieldRef : public TScriptObject {
 public:
  TRecordFieldRef(std::shared_ptr<TRecordRef> record, size_t index)
      : Record(std::move(record)), Index(index) {}
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;
  TResultField* Get() const {
    TResultRecord* r = Record->Get();
    return r && Index < r->FieldCount() ? &r->Field(Index) : nullptr;
  }
  std::shared_ptr<TRecordRef> Record;
  size_t Index;
};

THostValue ReadResultField(TVariable& self, TResultField& f, const std::string& member) {
  if (member == "name") return THostValue(f.Name);
  if (member == "displayvalue") return THostValue(f.DisplayText());
  bool known = false;
  THostValue v = TBaseEvalItemWrapper::ReadItemProperty(f, member, known);
  if (known) return v;
  THostValue out;
  if (f.Definition && ReadSearchFieldProperty(self, *f.Definition, member, out)) return out;
  self.PropertyNotFound(member);
  return {};
}

class TRecordFieldWrapper : public TWrapperOf<TRecordFieldWrapper, TRecordFieldRef> {
 public:
  TRecordFieldWrapper(std::string name, std::shared_ptr<TRecordFieldRef> ref, TBaseCompiler* compiler)
      : TWrapperOf(std::move(name), std::move(ref), compiler) {
    HasMembers = true;
    DefaultAccess = true;
  }
  THostValue GetProperty(const std::string& name) override {
    HasObject = false;
    TResultField* f = target_->Get();
    if (!f) return {};
    return ReadResultField(*this, *f, name.empty() ? "value" : name);
  }
  void SetProperty(const std::string& name, const THostValue& value) override {
    TResultField* f = target_->Get();
    if (!f) return;
    if (!TBaseEvalItemWrapper::WriteItemProperty(*f, name.empty() ? "value" : name, value))
      PropertyNotFound(name);
    f->Invalidate();
  }
};

std::shared_ptr<TVariable> TRecordFieldRef::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return std::make_shared<TRecordFieldWrapper>(
      name, std::static_pointer_cast<TRecordFieldRef>(shared_from_this()), compiler);
}

class TRecordFieldsWrapper
    : public TWrapperOf<TRecordFieldsWrapper, TRecordFieldsRef, TBaseCollectionWrapper> {
 public:
  TRecordFieldsWrapper(std::string name, std::shared_ptr<TRecordFieldsRef> ref, TBaseCompiler* compiler)
      : TWrapperOf(std::move(name), std::move(ref), compiler) {
    HasMembers = true;
  }
  THostValue GetProperty(const std::string& name) override {
    HasObject = false;
    TResultRecord* r = target_->Record->Get();
    if (name == "count") return THostValue(static_cast<int64_t>(r ? r->FieldCount() : 0));
    return PropertyNotFound(name);
  }
  THostValue GetIndexed(const THostValue& key, const std::string& member) override {
    HasObject = false;
    int index = IndexFor(key);
    if (index < 0) return {};
    if (member.empty()) {
      return Produce(std::make_shared<TRecordFieldRef>(target_->Record, static_cast<size_t>(index)),
                     &TRecordFieldWrapper::Make);
    }
    return ReadResultField(*this, target_->Record->Get()->Field(static_cast<size_t>(index)), member);
  }
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue&) override {
    int index = IndexFor(key);
    if (index < 0) return;
    TResultField& f = target_->Record->Get()->Field(static_cast<size_t>(index));
    if (!TBaseEvalItemWrapper::WriteItemProperty(f, member.empty() ? "value" : member, value))
      PropertyNotFound(member);
    f.Invalidate();
  }
  TVariablePtr Select(int index) override {
    TResultRecord* r = target_->Record->Get();
    if (!r || index < 1 || static_cast<size_t>(index) > r->FieldCount()) return nullptr;
    element_ = std::make_shared<TRecordFieldWrapper>(
        Name, std::make_shared<TRecordFieldRef>(target_->Record, static_cast<size_t>(index - 1)), Compiler);
    return element_;
  }

 private:
  int IndexFor(const THostValue& key) {
    TResultRecord* r = target_->Record->Get();
    if (!r) return -1;
    int index = -1;
    if (key.IsString())
      index = r->IndexOf(key.AsString());
    else if (key.AsInteger() >= 1 && static_cast<size_t>(key.AsInteger()) <= r->FieldCount())
      index = static_cast<int>(key.AsInteger() - 1);
    if (index < 0)
      SetError(kErrFieldNotFound, Format("Field '%s' not found in result record", {HostText(key)}));
    return index;
  }
};

std::shared_ptr<TVariable> TRecordFieldsRef::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return std::make_shared<TRecordFieldsWrapper>(
      name, std::static_pointer_cast<TRecordFieldsRef>(shared_from_this()), compiler);
}

// Member access on one record: its fields by name, "deleted" and "fields". `makeRef` gives the
// reference the "fields" object holds; plain field reads need none.
template <class MakeRef>
THostValue ReadRecord(TVariable& self, TResultRecord* r, const std::string& member, MakeRef makeRef) {
  if (!r) return {};
  const std::string_view name = member;
  if (name == "deleted") return THostValue(r->Deleted);
  if (name == "fields") {
    return self.Produce(std::make_shared<TRecordFieldsRef>(makeRef()), &TRecordFieldsWrapper::Make);
  }
  TResultField* f = r->FindField(member);
  if (!f) {
    self.PropertyNotFound(member);
    return {};
  }
  return ToHostValue(*f);
}

void WriteRecord(TVariable& self, TResultRecord* r, const std::string& member, const THostValue& value) {
  if (!r) return;
  if (std::string_view(member) == "deleted") {
    r->Deleted = value.AsBoolean();
    return;
  }
  TResultField* f = r->FindField(member);
  if (!f) {
    self.PropertyNotFound(member);
    return;
  }
  FromHostValue(*f, value);
  f->ErrorCode = 0;
  f->ErrorText.clear();
  f->Invalidate();
}

class TRecordWrapper : public TWrapperOf<TRecordWrapper, TRecordRef> {
 public:
  TRecordWrapper(std::string name, std::shared_ptr<TRecordRef> ref, TBaseCompiler* compiler)
      : TWrapperOf(std::move(name), std::move(ref), compiler) {
    HasMembers = true;
  }
  THostValue GetProperty(const std::string& name) override {
    HasObject = false;
    return ReadRecord(*this, target_->Get(), name, [this] { return target_; });
  }
  void SetProperty(const std::string& name, const THostValue& value) override {
    WriteRecord(*this, target_->Get(), name, value);
  }
};

std::shared_ptr<TVariable> TRecordRef::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return std::make_shared<TRecordWrapper>(name, std::static_pointer_cast<TRecordRef>(shared_from_this()),
                                          compiler);
}

// Query parser objects made by CreateQueryParser.
class TQueryParserWrapper : public TWrapperOf<TQueryParserWrapper, TZnQueryParser, TBaseCollectionWrapper> {
 public:
  TQueryParserWrapper(std::string name, std::shared_ptr<TZnQueryParser> qp, TBaseCompiler* compiler)
      : TWrapperOf(std::move(name), std::move(qp), compiler) {
    HasMembers = true;
    DefaultAccess = true;
  }
  THostValue GetProperty(const std::string& name) override {
    HasObject = false;
    if (name.empty() || name == "value" || name == "targetvalue") return THostValue(target_->QueryText());
    if (name == "count") return THostValue(static_cast<int64_t>(target_->Count()));
    if (name == "exactphrase") return THostValue(target_->ExactPhrase);
    if (name == "exactphrasedelimiter") return THostValue(target_->ExactPhraseDelimiter);
    if (name == "prefix") return THostValue(target_->Prefix);
    if (name == "separator") return THostValue(target_->Separator);
    if (name == "originalvalue") return THostValue(target_->OriginalText());
    return PropertyNotFound(name);
  }
  void SetProperty(const std::string& name, const THostValue& value) override {
    if (name == "exactphrase")
      target_->SetExactPhrase(value.AsBoolean());
    else if (name == "exactphrasedelimiter")
      target_->SetExactPhraseDelimiter(HostText(value));
    else if (name == "prefix")
      target_->SetPrefix(HostText(value));
    else if (name == "separator")
      target_->SetSeparator(HostText(value));
    else if (name == "originalvalue")
      target_->Parse(HostText(value), true);
    else
      PropertyNotFound(name);
  }
  // With a default property, `qp.prefix = x` arrives as an indexed write without a key.
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue&) override {
    if (key.IsEmpty()) SetProperty(member, value);
  }
  THostValue GetIndexed(const THostValue& key, const std::string& member) override {
    HasObject = false;
    if (key.IsEmpty()) return GetProperty(member);
    if (key.IsString()) {
      for (const auto& w : target_->Words)
        if (SameText(w, key.AsString())) return THostValue(w);
      return THostValue(std::string());
    }
    int64_t i = key.AsInteger();
    if (i < 1 || static_cast<size_t>(i) > target_->Count()) return THostValue(std::string());
    return THostValue(target_->Words[static_cast<size_t>(i - 1)]);
  }
  TVariablePtr Select(int index) override {
    if (index < 1 || static_cast<size_t>(index) > target_->Count()) return nullptr;
    if (!element_) element_ = std::make_shared<TVariable>(Name);
    element_->SetString(target_->Words[static_cast<size_t>(index - 1)]);
    return element_;
  }
};

}  // namespace

std::shared_ptr<TVariable> TZnQueryParser::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return std::make_shared<TQueryParserWrapper>(
      name, std::static_pointer_cast<TZnQueryParser>(shared_from_this()), compiler);
}

namespace {

// One input value as an object (`v = InputFields["Keywords"]`).
class TInputValueRef : public TScriptObject {
 public:
  TInputValueRef(TEngineCompiler* engine, std::string name) : Engine(engine), Name(std::move(name)) {}
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;
  TSearchInputField* Get() const {
    return Engine->Instance() ? Engine->Instance()->InputFields.Find(Name) : nullptr;
  }
  TEngineCompiler* Engine;
  std::string Name;
};

class TInputValueWrapper : public TWrapperOf<TInputValueWrapper, TInputValueRef> {
 public:
  TInputValueWrapper(std::string name, std::shared_ptr<TInputValueRef> ref, TBaseCompiler* compiler)
      : TWrapperOf(std::move(name), std::move(ref), compiler) {
    HasMembers = true;
    DefaultAccess = true;
  }
  THostValue GetProperty(const std::string& name) override {
    HasObject = false;
    TSearchInputField* f = target_->Get();
    if (!f) return THostValue(std::string());
    return TInputValuesWrapper::ReadValue(*this, *target_->Engine, *f, name.empty() ? "value" : name);
  }
  void SetProperty(const std::string& name, const THostValue& value) override {
    if (TSearchInputField* f = target_->Get())
      TInputValuesWrapper::WriteValue(*this, *target_->Engine, *f, name, value);
  }
};

std::shared_ptr<TVariable> TInputValueRef::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return std::make_shared<TInputValueWrapper>(
      name, std::static_pointer_cast<TInputValueRef>(shared_from_this()), compiler);
}

class TRuleWrapper : public TWrapperOf<TRuleWrapper, TSearchRule> {
 public:
  TRuleWrapper(std::string name, TSearchRulePtr rule, TBaseCompiler* compiler)
      : TWrapperOf(std::move(name), std::move(rule), compiler) {
    HasMembers = true;
  }
  THostValue GetProperty(const std::string& name) override {
    HasObject = false;
    THostValue out;
    if (!TRulesWrapper::ReadRule(*target_, name, out)) PropertyNotFound(name);
    return out;
  }
  void SetProperty(const std::string& name, const THostValue& value) override {
    if (!TRulesWrapper::WriteRule(*this, *target_, name, value) && ErrorCode == 0) PropertyNotFound(name);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------------

TInputValuesWrapper::TInputValuesWrapper(std::string name, TEngineCompiler* engine, TBaseCompiler* compiler)
    : TBaseCollectionWrapper(std::move(name), nullptr, compiler), engine_(engine) {
  HasMembers = true;
}

TSearchInputField* TInputValuesWrapper::FieldFor(const THostValue& key) const {
  TSearchTypeInstance* inst = engine_->Instance();
  if (!inst) return nullptr;
  if (key.IsString()) return inst->InputFields.Find(key.AsString());
  int64_t i = key.AsInteger();
  if (i < 1 || static_cast<size_t>(i) > inst->InputFields.Count()) return nullptr;
  return &inst->InputFields.At(static_cast<size_t>(i - 1));
}

THostValue TInputValuesWrapper::ReadValue(TVariable& self, TEngineCompiler& engine, TSearchInputField& field,
                                          const std::string& member) {
  TZnQueryParser& qp = engine.QueryParserFor(field.Name());
  std::string raw = HostText(ToHostValue(field));
  auto ensureParsed = [&]() {
    if (!qp.Parsed) qp.Parse(raw, true);
  };
  if (member == "value" || member == "targetvalue") {
    if (!qp.Modified) return ToHostValue(field);
    ensureParsed();
    return THostValue(qp.QueryText());
  }
  if (member == "originalvalue") return ToHostValue(field);
  if (member == "count" || member == "wordcount") {
    ensureParsed();
    return THostValue(static_cast<int64_t>(qp.Count()));
  }
  if (member == "exactphrase") return THostValue(qp.ExactPhrase);
  if (member == "exactphrasedelimiter") return THostValue(qp.ExactPhraseDelimiter);
  if (member == "prefix") return THostValue(qp.Prefix);
  if (member == "separator") return THostValue(qp.Separator);
  THostValue out;
  if (!ReadSearchFieldProperty(self, *field.Definition, member, out)) self.PropertyNotFound(member);
  return out;
}

void TInputValuesWrapper::WriteValue(TVariable& self, TEngineCompiler& engine, TSearchInputField& field,
                                     const std::string& member, const THostValue& value) {
  TZnQueryParser& qp = engine.QueryParserFor(field.Name());
  if (member == "originalvalue") {
    FromHostValue(field, value);
    qp.Parse(HostText(value), true);
  } else if (member == "exactphrase") {
    qp.SetExactPhrase(value.AsBoolean());
  } else if (member == "exactphrasedelimiter") {
    qp.SetExactPhraseDelimiter(HostText(value));
  } else if (member == "prefix") {
    qp.SetPrefix(HostText(value));
  } else if (member == "separator") {
    qp.SetSeparator(HostText(value));
  } else if (member == "value" || member == "targetvalue" || member == "count" || member == "wordcount") {
    self.PropertyNotFound(member);
  } else if (!WriteSearchFieldProperty(self, *field.Definition, member, value) && self.ErrorCode == 0) {
    self.PropertyNotFound(member);
  }
}

THostValue TInputValuesWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count")
    return THostValue(
        static_cast<int64_t>(engine_->Instance() ? engine_->Instance()->InputFields.Count() : 0));
  return PropertyNotFound(name);
}

THostValue TInputValuesWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  TSearchInputField* f = FieldFor(key);
  if (!f) return THostValue(std::string());
  if (member.empty()) {
    return Produce(std::make_shared<TInputValueRef>(engine_, f->Name()), &TInputValueWrapper::Make);
  }
  return ReadValue(*this, *engine_, *f, member);
}

void TInputValuesWrapper::SetIndexed(const THostValue& key, const std::string& member,
                                     const THostValue& value, const THostValue&) {
  if (TSearchInputField* f = FieldFor(key)) WriteValue(*this, *engine_, *f, member, value);
}

TVariablePtr TInputValuesWrapper::Select(int index) {
  TSearchInputField* f = FieldFor(THostValue(static_cast<int64_t>(index)));
  if (!f) return nullptr;
  auto ref = std::make_shared<TInputValueRef>(engine_, f->Name());
  return Element<TInputValueWrapper>(ref);
}

// ---------------------------------------------------------------------------------------------------

TResultsWrapper::TResultsWrapper(std::string name, TEngineCompiler* engine, TBaseCompiler* compiler)
    : TBaseCollectionWrapper(std::move(name), nullptr, compiler), engine_(engine) {
  HasMembers = true;
}

THostValue TResultsWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  TSearchResultList& l = engine_->ResultsParser.Results();
  if (name == "count") return THostValue(static_cast<int64_t>(l.Count()));
  if (name == "add") {
    if (RefuseInForEach()) return {};
    l.Add(engine_->ResultsParser.NewRecord());
    return Produce(std::make_shared<TRecordRef>(engine_, &l.At(l.Count() - 1), l.Count() - 1),
                   &TRecordWrapper::Make);
  }
  return PropertyNotFound(name);
}

TResultRecord* TResultsWrapper::RecordFor(const THostValue& key, size_t* position) {
  if (!key.IsInteger() && !key.IsFloat()) {
    SetError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {HostText(key)}));
    return nullptr;
  }
  TSearchResultList& l = engine_->ResultsParser.Results();
  int64_t i = key.AsInteger();
  if (i < 1 || static_cast<size_t>(i) > l.Count()) return nullptr;
  if (position) *position = static_cast<size_t>(i - 1);
  return &l.At(static_cast<size_t>(i - 1));
}

THostValue TResultsWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  size_t position = 0;
  TResultRecord* r = RecordFor(key, &position);
  if (!r) return {};
  auto makeRef = [&] { return std::make_shared<TRecordRef>(engine_, r, position); };
  if (member.empty()) {
    return Produce(makeRef(), &TRecordWrapper::Make);
  }
  return ReadRecord(*this, r, member, makeRef);
}

void TResultsWrapper::SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                                 const THostValue&) {
  if (TResultRecord* r = RecordFor(key)) WriteRecord(*this, r, member, value);
}

TResultField* TResultsWrapper::PlainField(const TBaseEvalItem& key, const std::string& member) {
  // The record number RecordFor takes from ToHostValue(key).
  int64_t i = 0;
  if (key.DataType == dtInteger)
    i = key.AsInteger();
  else if (key.DataType == dtFloat || key.DataType == dtMoney)
    DoubleToInt64(key.Number, i);
  else
    return nullptr;
  TSearchResultList& l = engine_->ResultsParser.Results();
  const std::string_view name = member;
  if (i < 1 || static_cast<size_t>(i) > l.Count() || name == "deleted" || name == "fields") return nullptr;
  return l.At(static_cast<size_t>(i - 1)).FindField(member);
}

const TBaseEvalItem* TResultsWrapper::IndexedItem(const TBaseEvalItem& key, const std::string& member) {
  TResultField* f = PlainField(key, member);
  // A field without a value reads as empty, which the generic read answers differently.
  if (!f || !(f->DataType == dtFloat || f->DataType == dtMoney || f->DataType == dtString ||
              f->DataType == dtInteger || f->DataType == dtBoolean || f->DataType == dtObject))
    return nullptr;
  HasObject = false;
  return f;
}

bool TResultsWrapper::SetIndexedItem(const TBaseEvalItem& key, const std::string& member,
                                     TBaseEvalItem&& value) {
  TResultField* f = PlainField(key, member);
  if (!f) return false;
  AssignThroughHost(*f, std::move(value));
  f->ErrorCode = 0;
  f->ErrorText.clear();
  f->Invalidate();
  return true;
}

TVariablePtr TResultsWrapper::Select(int index) {
  TSearchResultList& l = engine_->ResultsParser.Results();
  if (index < 1 || static_cast<size_t>(index) > l.Count()) return nullptr;
  const size_t position = static_cast<size_t>(index - 1);
  auto ref = std::make_shared<TRecordRef>(engine_, &l.At(position), position);
  return Element<TRecordWrapper>(ref);
}

// ---------------------------------------------------------------------------------------------------

TRulesWrapper::TRulesWrapper(std::string name, TEngineCompiler* engine, TBaseCompiler* compiler)
    : TBaseCollectionWrapper(std::move(name), nullptr, compiler), engine_(engine) {
  HasMembers = true;
}

bool TRulesWrapper::ReadRule(TSearchRule& r, const std::string& name, THostValue& out) {
  if (name == "clean") return out = THostValue(r.Clean), true;
  if (name == "code") return out = THostValue(static_cast<int64_t>(r.Code)), true;
  if (name == "endmarker") return out = THostValue(r.EndMarker), true;
  if (name == "endmarkeroccurrence" || name == "endmarkeroccurence")
    return out = THostValue(static_cast<int64_t>(r.EndMarkerOccurrence)), true;
  if (name == "expression") return out = THostValue(r.Expression), true;
  if (name == "expressionmandatory") return out = THostValue(r.ExpressionMandatory), true;
  if (name == "formula") return out = THostValue(r.FormulaText()), true;
  if (name == "key") return out = THostValue(r.Key()), true;
  if (name == "name") return out = THostValue(r.Name), true;
  if (name == "nbchars") return out = THostValue(static_cast<int64_t>(r.NbChars)), true;
  if (name == "nblines") return out = THostValue(static_cast<int64_t>(r.NbLines)), true;
  if (name == "startchar") return out = THostValue(static_cast<int64_t>(r.StartChar)), true;
  if (name == "startline") return out = THostValue(static_cast<int64_t>(r.StartLine)), true;
  if (name == "startmarker") return out = THostValue(r.StartMarker), true;
  if (name == "startmarkermandatory") return out = THostValue(r.StartMarkerMandatory), true;
  if (name == "startmarkeroccurrence" || name == "startmarkeroccurence")
    return out = THostValue(static_cast<int64_t>(r.StartMarkerOccurrence)), true;
  if (name == "xmlattributename") return out = THostValue(r.XmlAttributeName), true;
  return false;
}

bool TRulesWrapper::WriteRule(TVariable& self, TSearchRule& r, const std::string& name, const THostValue& v) {
  auto toInt = [&]() {
    return static_cast<int32_t>(std::clamp<int64_t>(v.AsInteger(), INT32_MIN, INT32_MAX));
  };
  if (name == "clean") return r.Clean = v.AsBoolean(), true;
  if (name == "code") return r.Code = toInt(), true;
  if (name == "endmarker") return r.EndMarker = HostText(v), true;
  if (name == "endmarkeroccurrence" || name == "endmarkeroccurence")
    return r.EndMarkerOccurrence = toInt(), true;
  if (name == "expression") return r.Expression = HostText(v), true;
  if (name == "expressionmandatory") return r.ExpressionMandatory = v.AsBoolean(), true;
  if (name == "formula") return r.SetFormula(HostText(v)), true;
  if (name == "key") return r.SetKey(v.AsBoolean()), true;
  if (name == "name") return self.PropertyNotFound(name), true;
  if (name == "nbchars") return r.NbChars = toInt(), true;
  if (name == "nblines") return r.NbLines = toInt(), true;
  if (name == "startchar") return r.StartChar = toInt(), true;
  if (name == "startline") return r.StartLine = toInt(), true;
  if (name == "startmarker") return r.StartMarker = HostText(v), true;
  if (name == "startmarkermandatory") return r.StartMarkerMandatory = v.AsBoolean(), true;
  if (name == "startmarkeroccurrence" || name == "startmarkeroccurence")
    return r.StartMarkerOccurrence = toInt(), true;
  if (name == "xmlattributename") return r.XmlAttributeName = HostText(v), true;
  return false;
}

TSearchRulePtr TRulesWrapper::RuleFor(const THostValue& key) {
  TSearchRuleList& rules = *engine_->ResultsParser.Rules;
  if (key.IsString()) return rules.FindOrAdd(key.AsString());
  int64_t i = key.AsInteger();
  if (i < 1 || static_cast<size_t>(i) > rules.Count()) {
    SetError(kErrList,
             FaultText(kErrList, Format("List index out of bounds (%d)", {static_cast<long long>(i)})));
    return nullptr;
  }
  return rules.Ptr(static_cast<size_t>(i - 1));
}

THostValue TRulesWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(engine_->ResultsParser.Rules->Count()));
  return PropertyNotFound(name);
}

THostValue TRulesWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  TSearchRulePtr r = RuleFor(key);
  if (!r) return {};
  if (member.empty()) {
    return Produce(r, &TRuleWrapper::Make);
  }
  THostValue out;
  if (!ReadRule(*r, member, out)) PropertyNotFound(member);
  return out;
}

void TRulesWrapper::SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                               const THostValue&) {
  TSearchRulePtr r = RuleFor(key);
  if (r && !WriteRule(*this, *r, member, value) && ErrorCode == 0) PropertyNotFound(member);
}

TVariablePtr TRulesWrapper::Select(int index) {
  TSearchRuleList& rules = *engine_->ResultsParser.Rules;
  if (index < 1 || static_cast<size_t>(index) > rules.Count()) return nullptr;
  auto r = rules.Ptr(static_cast<size_t>(index - 1));
  return Element<TRuleWrapper>(r);
}

// ---------------------------------------------------------------------------------------------------

TEngineEvaluator::TEngineEvaluator() {
  constexpr uint8_t S = dtString, I = dtInteger, B = dtBoolean;
  AddFunction("AddResult", {}, [this](TBaseEvaluator& ev) {
    TSearchResultList& l = Engine->ResultsParser.Results();
    l.Add(Engine->ResultsParser.NewRecord());
    ev.Stack.PushInteger(static_cast<int64_t>(l.Count()));
  });
  AddFunction("AllWords", {}, [this](TBaseEvaluator& ev) {
    TSearchTypeInstance* inst = Engine->Instance();
    ev.Stack.PushBoolean(inst && inst->KeywordOperation() == inst->KeywordInfo.And);
  });
  AddFunction("BuildNumber", {}, [this](TBaseEvaluator& ev) {
    ev.Stack.PushInteger(Engine->EditionInfo ? Engine->EditionInfo->BuildNumber : 0);
  });
  AddFunction("CreateQueryParser", {}, [](TBaseEvaluator& ev) {
    auto qp = std::make_shared<TZnQueryParser>();
    ev.Variables()->AddTemporary(qp);
    ev.Stack.PushObject(Carry(qp, &TQueryParserWrapper::Make));
  });
  AddFunction("DocumentAddress", {},
              [this](TBaseEvaluator& ev) { ev.Stack.PushString(Engine->ResultsParser.DocumentAddress); });
  AddFunction("DocumentDate", {},
              [this](TBaseEvaluator& ev) { ev.Stack.PushFloat(Engine->ResultsParser.DocumentDate); });
  AddFunction("DocumentLastModified", {},
              [this](TBaseEvaluator& ev) { ev.Stack.PushFloat(Engine->ResultsParser.DocumentLastModified); });
  AddFunction("Edition", {}, [this](TBaseEvaluator& ev) {
    ev.Stack.PushString(Engine->EditionInfo ? Engine->EditionInfo->Edition : std::string());
  });
  AddFunction("Language", {}, [this](TBaseEvaluator& ev) {
    ev.Stack.PushString(Engine->EditionInfo ? Engine->EditionInfo->Language : std::string());
  });
  AddFunction("FindLinkAtIndex", {S, I}, [this](TBaseEvaluator& ev) {
    if (!ev.CheckArgs({S, I})) return;
    int64_t index = ev.Stack.PopInteger();
    std::string page = ev.Stack.PopString();
    const TLinkList& links = ParserFor(page).Links();
    // Positions are 1-based, as everywhere in scripts.
    ev.Stack.PushString(index >= 1 && static_cast<size_t>(index) <= links.Count()
                            ? links[static_cast<size_t>(index - 1)].Address
                            : std::string());
  });
  auto findAtText = [this](TBaseEvaluator& ev, const std::string& page, const std::string& text, bool plain) {
    THtmlParserEx& p = ParserFor(page);
    ev.Stack.PushString(p.FindLinkAtText(page, text, plain));
  };
  AddFunction("FindLinkAtText", {S, S}, [findAtText](TBaseEvaluator& ev) {
    if (!ev.CheckArgs({S, S})) return;
    std::string text = ev.Stack.PopString(), page = ev.Stack.PopString();
    findAtText(ev, page, text, text.find_first_of("<>") == std::string::npos);
  });
  AddFunction("FindLinkAtTextEx", {S, S, B}, [findAtText](TBaseEvaluator& ev) {
    if (!ev.CheckArgs({S, S, B})) return;
    bool plain = ev.Stack.PopBoolean();
    std::string text = ev.Stack.PopString(), page = ev.Stack.PopString();
    findAtText(ev, page, text, plain);
  });
  AddFunction("QueryType", {}, [this](TBaseEvaluator& ev) {
    ev.Stack.PushInteger(Engine->Instance() ? Engine->Instance()->KeywordOperation() : 0);
  });
  AddFunction("ResultPage", {},
              [this](TBaseEvaluator& ev) { ev.Stack.PushString(Engine->ResultsParser.PageText()); });
  AddFunction("SearchTypeName", {}, [this](TBaseEvaluator& ev) {
    TSearchTypeInstance* inst = Engine->Instance();
    ev.Stack.PushString(inst && inst->SearchType() ? inst->SearchType()->Name : std::string());
  });
}

TEngineEvaluator::~TEngineEvaluator() = default;

THtmlParserEx& TEngineEvaluator::ParserFor(const std::string& page) {
  if (page == Engine->ResultsParser.PageText()) return Engine->ResultsParser.HtmlParser();
  if (!otherPage_ || otherPage_->Text() != page) {
    otherPage_ = std::make_unique<THtmlParserEx>();
    otherPage_->SetText(page);
    otherPage_->Parse();
  }
  return *otherPage_;
}

}  // namespace vandrel
