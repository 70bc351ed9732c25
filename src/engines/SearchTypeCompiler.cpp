#include "engines/SearchTypeCompiler.h"

#include "platform/Format.h"
#include "script/CollectionWrappers.h"

namespace vandrel {

namespace {

// `InputFields` / `OutputFields` as script objects.
template <class TField>
class TSearchFieldListWrapper : public TBaseCollectionWrapper {
 public:
  using TList = TBaseSearchFieldList<TField>;
  TSearchFieldListWrapper(std::string name, std::shared_ptr<TList> list, TBaseCompiler* compiler)
      : TBaseCollectionWrapper(std::move(name), list, compiler), target_(std::move(list)) {
    HasMembers = true;
  }
  static std::shared_ptr<TVariable> Make(const std::string& name, const TObjectRef& target,
                                         TBaseCompiler* compiler) {
    return MakeWrapperAs<TSearchFieldListWrapper, TList>(name, target, compiler);
  }
  TWrapperFactory WrapperClass() const override { return &Make; }

  THostValue GetProperty(const std::string& name) override {
    HasObject = false;
    if (name == "count") return THostValue(static_cast<int64_t>(target_->Count()));
    if (name == "add") {
      THostValue key;
      if (!PopArgument(key)) return {};
      if (RefuseInForEach()) return {};
      return Produce(target_->AddField(HostText(key)), &TSearchFieldWrapper::Make);
    }
    return PropertyNotFound(name);
  }

  THostValue GetIndexed(const THostValue& key, const std::string& member) override {
    HasObject = false;
    std::shared_ptr<TField> f = FieldFor(key);
    if (!f) return {};
    if (member.empty()) {
      return Produce(f, &TSearchFieldWrapper::Make);
    }
    THostValue out;
    if (!ReadSearchFieldProperty(*this, *f, member, out) && ErrorCode == 0) PropertyNotFound(member);
    return out;
  }

  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue&) override {
    std::shared_ptr<TField> f = FieldFor(key);
    if (f && !WriteSearchFieldProperty(*this, *f, member, value) && ErrorCode == 0) PropertyNotFound(member);
  }

  void SetIndexedObject(const THostValue& key, const std::string& member, const TObjectRef& object,
                        const THostValue&) override {
    std::shared_ptr<TField> f = FieldFor(key);
    if (!f) return;
    if (member == "displayarray")
      f->DisplayArray = object;
    else
      PropertyNotFound(member);
  }

  TVariablePtr Select(int index) override {
    if (index < 1 || static_cast<size_t>(index) > target_->Count()) return nullptr;
    auto f = target_->Ptr(static_cast<size_t>(index - 1));
    return Element<TSearchFieldWrapper>(f);
  }

 private:
  std::shared_ptr<TField> FieldFor(const THostValue& key) {
    if (key.IsString()) {
      int i = target_->IndexOf(key.AsString());
      if (i < 0) {
        SetError(kErrList, FaultText(kErrList, Format("Field '%s' not found", {key.AsString()})));
        return nullptr;
      }
      return target_->Ptr(static_cast<size_t>(i));
    }
    int64_t i = key.AsInteger();
    if (i < 1 || static_cast<size_t>(i) > target_->Count()) {
      SetError(kErrList,
               FaultText(kErrList, Format("List index out of bounds (%d)", {static_cast<long long>(i)})));
      return nullptr;
    }
    return target_->Ptr(static_cast<size_t>(i - 1));
  }

  std::shared_ptr<TList> target_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------------

namespace {

// The yes/no property of an output field by its lower-cased name; null for other names.
bool* OutputFlag(TBaseSearchOutputField& f, const std::string& name) {
  const struct {
    const char* Name;
    bool* Flag;
  } flags[] = {{"boldifnew", &f.BoldIfNew},
               {"defaultgraphicaldisplay", &f.DefaultGraphicalDisplay},
               {"defaultsortcolumn", &f.DefaultSortColumn},
               {"highlighttarget", &f.HighlightTarget},
               {"isdomain", &f.IsDomain},
               {"isurl", &f.IsUrl},
               {"sortdescending", &f.SortDescending},
               {"summary", &f.Summary}};
  for (const auto& fl : flags)
    if (name == fl.Name) return fl.Flag;
  return nullptr;
}

}  // namespace

bool ReadSearchFieldProperty(TVariable& self, TBaseSearchField& f, const std::string& name, THostValue& out) {
  auto* in = dynamic_cast<TBaseSearchInputField*>(&f);
  auto* outField = dynamic_cast<TBaseSearchOutputField*>(&f);
  if (name == "alignment") return out = THostValue(static_cast<int64_t>(f.Alignment)), true;
  if (name == "datatype") return out = THostValue(static_cast<int64_t>(f.DataType)), true;
  if (name == "displayname") return out = THostValue(f.DisplayName()), true;
  if (name == "displayarray") {
    if (!f.DisplayArray || dynamic_cast<TTransporter*>(f.DisplayArray.get()))
      self.SetObjectValue(f.DisplayArray);
    else
      self.SetObjectValue(Carry(f.DisplayArray, &TZnCollectionWrapper::Make));
    out = {};
    return true;
  }
  if (name == "formatstring") return out = THostValue(f.FormatString), true;
  if (name == "formula") return out = THostValue(f.Formula), true;
  if (name == "group") return out = THostValue(static_cast<int64_t>(f.Group)), true;
  if (name == "length") return out = THostValue(static_cast<int64_t>(f.Length)), true;
  if (name == "width") return out = THostValue(static_cast<int64_t>(f.Width)), true;
  if (name == "hidden") return out = THostValue(f.Hidden), true;
  if (name == "internal") return out = THostValue(f.Internal), true;
  if (name == "name") return out = THostValue(f.FieldName), true;
  if (in) {
    if (name == "choices") return out = THostValue(in->ChoicesText), true;
    if (name == "highlightsource") return out = THostValue(in->HighlightSource), true;
  }
  if (bool* flag = outField ? OutputFlag(*outField, name) : nullptr) return out = THostValue(*flag), true;
  return false;
}

bool WriteSearchFieldProperty(TVariable& self, TBaseSearchField& f, const std::string& name,
                              const THostValue& v) {
  auto* in = dynamic_cast<TBaseSearchInputField*>(&f);
  auto* outField = dynamic_cast<TBaseSearchOutputField*>(&f);
  if (name == "alignment") {
    int64_t a = v.AsInteger();
    if (a < 0 || a > 2)
      self.SetError(kErrInvalidAlignment, Format("Invalid alignment: '%d'", {static_cast<long long>(a)}));
    else
      f.Alignment = static_cast<uint8_t>(a);
    return true;
  }
  if (name == "datatype") {
    int64_t t = v.AsInteger();
    if (t < dtFloat || t > dtMoney)
      self.SetError(kErrInvalidDataType, Format("Invalid data type: %d", {static_cast<long long>(t)}));
    else
      f.SetDeclaredType(static_cast<uint8_t>(t));
    return true;
  }
  if (name == "displayname") return SetDefaultText(*f.DisplayNames, HostText(v)), true;
  if (name == "formatstring") return f.FormatString = HostText(v), true;
  if (name == "formula") return f.Formula = HostText(v), true;
  if (name == "group") return f.Group = static_cast<int32_t>(v.AsInteger()), true;
  if (name == "length") return f.Length = static_cast<int32_t>(v.AsInteger()), true;
  if (name == "width") return f.Width = static_cast<int32_t>(v.AsInteger()), true;
  if (name == "hidden") return f.Hidden = v.AsBoolean(), true;
  if (name == "internal") return f.Internal = v.AsBoolean(), true;
  if (name == "name") return self.PropertyNotFound(name), true;
  if (in) {
    if (name == "choices") return in->SetChoicesText(HostText(v)), true;
    if (name == "highlightsource") return in->HighlightSource = v.AsBoolean(), true;
  }
  if (outField) {
    if (name == "isdomain") {
      outField->IsDomain = v.AsBoolean();
      if (outField->IsDomain) outField->IsUrl = true;
      return true;
    }
    if (bool* flag = OutputFlag(*outField, name)) return *flag = v.AsBoolean(), true;
  }
  return false;
}

TSearchFieldWrapper::TSearchFieldWrapper(std::string name, std::shared_ptr<TBaseSearchField> field,
                                         TBaseCompiler* compiler)
    : TWrapperOf(std::move(name), std::move(field), compiler) {
  HasMembers = true;
}

THostValue TSearchFieldWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  THostValue out;
  if (target_ && !ReadSearchFieldProperty(*this, *target_, name, out)) PropertyNotFound(name);
  return out;
}

void TSearchFieldWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (target_ && !WriteSearchFieldProperty(*this, *target_, name, value)) PropertyNotFound(name);
}

void TSearchFieldWrapper::SetPropertyObject(const std::string& name, const TObjectRef& object) {
  if (!target_) return;
  if (name == "displayarray")
    target_->DisplayArray = object;
  else
    PropertyNotFound(name);
}

std::shared_ptr<TVariable> TBaseSearchInputField::MakeWrapper(const std::string& name,
                                                              TBaseCompiler* compiler) {
  return std::make_shared<TSearchFieldWrapper>(
      name,
      std::static_pointer_cast<TBaseSearchField>(
          std::static_pointer_cast<TBaseSearchInputField>(shared_from_this())),
      compiler);
}

std::shared_ptr<TVariable> TBaseSearchOutputField::MakeWrapper(const std::string& name,
                                                               TBaseCompiler* compiler) {
  return std::make_shared<TSearchFieldWrapper>(
      name,
      std::static_pointer_cast<TBaseSearchField>(
          std::static_pointer_cast<TBaseSearchOutputField>(shared_from_this())),
      compiler);
}

// ---------------------------------------------------------------------------------------------------

bool TSortKeyWrapper::Read(TSortKey& key, const std::string& name, THostValue& out) {
  if (name == "name") return out = THostValue(key.FieldName), true;
  if (name == "ascending") return out = THostValue(key.Ascending), true;
  if (name == "descending") return out = THostValue(!key.Ascending), true;
  if (name == "order") return out = THostValue(static_cast<int64_t>(key.Ascending ? 1 : 0)), true;
  return false;
}

bool TSortKeyWrapper::Write(TSortKey& key, const std::string& name, const THostValue& value) {
  if (name == "ascending" || name == "order") return key.Ascending = value.AsBoolean(), true;
  if (name == "descending") return key.Ascending = !value.AsBoolean(), true;
  return false;
}

TSortKeyWrapper::TSortKeyWrapper(std::string name, std::shared_ptr<TSortKey> key, TBaseCompiler* compiler)
    : TWrapperOf(std::move(name), std::move(key), compiler) {
  HasMembers = true;
}

THostValue TSortKeyWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  THostValue out;
  if (target_ && !Read(*target_, name, out)) PropertyNotFound(name);
  return out;
}

void TSortKeyWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (target_ && !Write(*target_, name, value)) PropertyNotFound(name);
}

std::shared_ptr<TVariable> TSortKey::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return std::make_shared<TSortKeyWrapper>(name, std::static_pointer_cast<TSortKey>(shared_from_this()),
                                           compiler);
}

std::shared_ptr<TVariable> TSortKeyList::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return std::make_shared<TSortKeyListWrapper>(
      name, nullptr, std::static_pointer_cast<TSortKeyList>(shared_from_this()), compiler);
}

TSortKeyListWrapper::TSortKeyListWrapper(std::string name, TSearchType* type,
                                         std::shared_ptr<TSortKeyList> list, TBaseCompiler* compiler)
    : TBaseCollectionWrapper(std::move(name), list, compiler), type_(type), list_(std::move(list)) {
  HasMembers = true;
}

std::shared_ptr<TVariable> TSortKeyListWrapper::Make(const std::string& name, const TObjectRef& target,
                                                     TBaseCompiler* compiler) {
  auto l = TargetAs<TSortKeyList>(target);
  if (!l) return nullptr;
  return std::make_shared<TSortKeyListWrapper>(name, nullptr, l, compiler);
}

TSortKeyList& TSortKeyListWrapper::List() const {
  return type_ ? *type_->CurrentView->SortKeys : *list_;
}

void TSortKeyListWrapper::GetObject(TWrapperFactory) {
  SetObjectValue(Carry(type_ ? type_->CurrentView->SortKeys : list_, &Make));
}

std::shared_ptr<TSortKey> TSortKeyListWrapper::KeyFor(const THostValue& key) {
  TSortKeyList& l = List();
  if (key.IsString()) {
    for (size_t i = 0; i < l.Count(); ++i)
      if (SameText(l.At(i).FieldName, key.AsString())) return l.Ptr(i);
    SetError(kErrList, FaultText(kErrList, Format("Sort key '%s' not found", {key.AsString()})));
    return nullptr;
  }
  int64_t i = key.AsInteger();
  if (i < 1 || static_cast<size_t>(i) > l.Count()) {
    SetError(kErrList,
             FaultText(kErrList, Format("List index out of bounds (%d)", {static_cast<long long>(i)})));
    return nullptr;
  }
  return l.Ptr(static_cast<size_t>(i - 1));
}

THostValue TSortKeyListWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(List().Count()));
  if (name == "add") {
    THostValue key;
    if (!PopArgument(key)) return {};
    if (RefuseInForEach(List().InForEach)) return {};
    return Produce(List().Add(HostText(key), true), &TSortKeyWrapper::Make);
  }
  return PropertyNotFound(name);
}

THostValue TSortKeyListWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  auto k = KeyFor(key);
  if (!k) return {};
  if (member.empty()) {
    return Produce(k, &TSortKeyWrapper::Make);
  }
  THostValue out;
  if (!TSortKeyWrapper::Read(*k, member, out)) PropertyNotFound(member);
  return out;
}

void TSortKeyListWrapper::SetIndexed(const THostValue& key, const std::string& member,
                                     const THostValue& value, const THostValue&) {
  auto k = KeyFor(key);
  if (k && !TSortKeyWrapper::Write(*k, member, value)) PropertyNotFound(member);
}

TVariablePtr TSortKeyListWrapper::Select(int index) {
  TSortKeyList& l = List();
  if (index < 1 || static_cast<size_t>(index) > l.Count()) return nullptr;
  auto k = l.Ptr(static_cast<size_t>(index - 1));
  return Element<TSortKeyWrapper>(k);
}

// ---------------------------------------------------------------------------------------------------

namespace {

TSearchType& TypeOf(TCommand& c) {
  return static_cast<TSearchTypeCompiler&>(c.Compiler()).Type;
}

class TAddFieldCommand : public TCommand {
 public:
  TAddFieldCommand(TBlock& b, std::string p, int l, bool output)
      : TCommand(b, std::move(p), l), output_(output) {}
  void RunStep() override {
    if (!EvaluateAs(0, Params, dtString)) return ReportEvalError();
    std::string name = Ev().AsString();
    if (output_)
      TypeOf(*this).OutputFields->AddField(name);
    else
      TypeOf(*this).InputFields->AddField(name);
  }

 private:
  bool output_;
};

class TAddSortKeyCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    size_t comma = Params.find(',');
    std::string nameText = comma == std::string::npos ? Params : Params.substr(0, comma);
    if (!EvaluateAs(0, nameText, dtString)) return ReportEvalError();
    std::string name = Ev().AsString();
    bool ascending = false;
    if (comma != std::string::npos) {
      if (!EvaluateAs(1, Params.substr(comma + 1), dtBoolean)) return ReportEvalError();
      ascending = Ev().AsBoolean();
    }
    TypeOf(*this).CurrentView->SortKeys->Add(name, ascending);
  }
};

class TSelectViewCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateAs(0, Params, dtString)) return ReportEvalError();
    // Through the variable, so that it reads the view selected.
    TVariable* v = Ev().Variables()->Find("CurrentView");
    if (v)
      v->SetString(Ev().AsString());
    else
      TypeOf(*this).SelectView(Ev().AsString());
  }
};

}  // namespace

TSearchTypeEvaluator::TSearchTypeEvaluator(TSearchType& type) {
  AddFunction("AddInputField", {dtString}, [&type](TBaseEvaluator& ev) {
    if (!ev.CheckArgs({dtString})) return;
    ev.Stack.PushObject(Carry(type.InputFields->AddField(ev.Stack.PopString()), &TSearchFieldWrapper::Make));
  });
  AddFunction("AddOutputField", {dtString}, [&type](TBaseEvaluator& ev) {
    if (!ev.CheckArgs({dtString})) return;
    ev.Stack.PushObject(Carry(type.OutputFields->AddField(ev.Stack.PopString()), &TSearchFieldWrapper::Make));
  });
}

TSearchTypeCompiler::TSearchTypeCompiler(TSearchType& type)
    : TBaseCompiler(std::make_unique<TSearchTypeEvaluator>(type)), Type(type) {
  Syntax.Add(
      "AddInputField", kwAddInputField,
      [](TBlock& b, std::string p, int l) -> std::unique_ptr<TCommand> {
        return std::make_unique<TAddFieldCommand>(b, std::move(p), l, false);
      },
      kfExecutable | kfBackward);
  Syntax.Add(
      "AddOutputField", kwAddOutputField,
      [](TBlock& b, std::string p, int l) -> std::unique_ptr<TCommand> {
        return std::make_unique<TAddFieldCommand>(b, std::move(p), l, true);
      },
      kfExecutable | kfBackward);
  Syntax.Add("AddSortKey", kwAddSortKey, CommandClass<TAddSortKeyCommand>(), kfExecutable | kfBackward);
  Syntax.Add("SelectView", kwSelectView, CommandClass<TSelectViewCommand>(), kfExecutable);
  Syntax.Rebuild();
  Variables().SetParent(&type.Variables);
  ResetVariables();
}

TSearchTypeCompiler::~TSearchTypeCompiler() = default;

void TSearchTypeCompiler::ResetVariables() {
  TBaseCompiler::ResetVariables();
  TVariableList& v = Variables();
  TSearchType& type = Type;

  auto view = std::make_shared<TActionVariable>("CurrentView", dtString, [&type](TActionVariable& self) {
    self.Muted = true;
    self.SetString(type.SelectView(self.AsString()).Name);
    self.Muted = false;
  });
  view->Text = type.CurrentViewName;
  v.Add(view);
  auto key = std::make_shared<TActionVariable>(
      "UniqueKey", dtString, [&type](TActionVariable& self) { type.SetUniqueKey(self.AsString()); });
  v.Add(key);
  auto reduction =
      std::make_shared<TActionVariable>("UrlReduction", dtInteger, [&type](TActionVariable& self) {
        type.CurrentView->UrlReduction = static_cast<uint32_t>(self.AsInteger());
      });
  reduction->Number = TSearchType::kDefaultUrlReduction;
  v.Add(reduction);

  v.AddShared("InputFields", std::make_shared<TSearchFieldListWrapper<TBaseSearchInputField>>(
                                 "InputFields", type.InputFields, this));
  v.AddShared("OutputFields", std::make_shared<TSearchFieldListWrapper<TBaseSearchOutputField>>(
                                  "OutputFields", type.OutputFields, this));
  v.AddShared("SortKeys", std::make_shared<TSortKeyListWrapper>("SortKeys", &type, nullptr, this));
  const struct {
    const char* Plural;
    const char* Singular;
    std::shared_ptr<TZnCollection> Coll;
  } colls[] = {{"DisplayNames", "DisplayName", type.DisplayNames},
               {"Descriptions", "Description", type.Descriptions},
               {"InputDisplayFormulas", "InputDisplayFormula", type.InputDisplayFormulas}};
  for (const auto& c : colls) {
    auto w = std::make_shared<TZnCollectionWrapper>(c.Plural, c.Coll, this);
    v.AddShared(c.Plural, w);
    v.AddShared(c.Singular, w);
  }
  v.SetString("Name", type.Name);
  v.SetString("Filter", type.Filter);
  v.SetString("SearchFrame", type.SearchFrame);
}

// ---------------------------------------------------------------------------------------------------

TSearchTypeReader::TSearchTypeReader() : compiler_(std::make_unique<TSearchTypeCompiler>(*this)) {}

TSearchTypeReader::~TSearchTypeReader() {
  // Wrappers in the compiler's list refer to this type: drop them first.
  compiler_.reset();
}

namespace {
std::string BaseNameOf(const std::string& fileName) {
  size_t slash = fileName.find_last_of("/\\");
  std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  size_t dot = base.rfind('.');
  return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}
}  // namespace

bool TSearchTypeReader::Load(const std::string& fileName) {
  InputFields->Clear();
  OutputFields->Clear();
  ResetViews(0);
  TSearchTypeCompiler& c = *compiler_;
  if (TVariable* view = c.Variables().FindLocal("CurrentView")) {
    auto* act = static_cast<TActionVariable*>(view);
    act->Muted = true;
    act->SetString(CurrentViewName);
    act->Muted = false;
  }
  if (!c.LoadFromFile(fileName)) {
    c.AddError(kErrStream, FaultText(kErrStream, "Cannot open file " + fileName), 0);
    return false;
  }
  if (c.Compile() != 0) return false;
  c.Variables().SetString("Name", Name.empty() ? BaseNameOf(fileName) : Name);
  if (c.ExecuteProcedure("Register") != 0) return false;
  TVariableList& v = c.Variables();
  Filter = v.GetString("Filter", "");
  Name = v.GetString("Name", "");
  SearchFrame = v.GetString("SearchFrame", "");
  return true;
}

}  // namespace vandrel
