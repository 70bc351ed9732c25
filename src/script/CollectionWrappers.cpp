#include "script/CollectionWrappers.h"

#include "platform/Format.h"
#include "script/BaseEvaluator.h"

namespace vandrel {

std::string HostText(const THostValue& v) {
  if (v.IsString()) return v.AsString();
  if (v.IsInteger()) return std::to_string(v.AsInteger());
  if (v.IsFloat()) return FormatGeneral(v.AsFloat());
  if (v.IsBoolean()) return v.AsBoolean() ? "True" : "False";
  return "";
}

namespace {
std::string PropertyNotFound(const std::string& name) {
  return Format("Property not found: '%s'", {name});
}

template <class T>
std::shared_ptr<T> TargetAs(const TObjectRef& target) {
  TObjectRef t = target;
  if (auto* tr = dynamic_cast<TTransporter*>(t.get())) t = tr->Target;
  return std::dynamic_pointer_cast<T>(t);
}

TObjectRef Carry(TObjectRef target, TWrapperFactory kind) {
  return std::make_shared<TTransporter>(std::move(target), kind);
}
}  // namespace

// ---------------------------------------------------------------------------------------------------

TZnCollectionWrapper::TZnCollectionWrapper(std::string name, std::shared_ptr<TZnCollection> coll,
                                           TBaseCompiler* compiler)
    : TBaseCollectionWrapper(std::move(name), coll, compiler), coll_(std::move(coll)) {
  HasMembers = true;
  DefaultAccess = !coll_->DefaultKey.empty();
}

std::shared_ptr<TVariable> TZnCollectionWrapper::Make(const std::string& name, const TObjectRef& target,
                                                      TBaseCompiler* compiler) {
  auto c = TargetAs<TZnCollection>(target);
  if (!c) return nullptr;
  return std::make_shared<TZnCollectionWrapper>(name, c, compiler);
}

THostValue TZnCollectionWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(coll_->Count()));
  if (name == "casesensitive") return THostValue(coll_->CaseSensitive());
  if (name == "sorted") return THostValue(coll_->Sorted());
  if (name == "records") {
    SetObjectValue(Carry(coll_, &TZnCollectionRecordsWrapper::Make));
    return {};
  }
  if (name == "add") {
    THostValue key, value;
    if (!PopArgument(key)) return {};
    bool hasValue = !Arguments().Empty();
    if (hasValue) value = Arguments().PopHostValue();
    std::string k = HostText(key);
    TZnCollectionRecordPtr rec = coll_->Find(k);
    if (!rec)
      rec = hasValue ? coll_->AddWithValue(k, value) : coll_->Add(k);
    else if (hasValue)
      FromHostValue(rec->DefaultValue(), value);
    SetObjectValue(Carry(rec, &TZnCollectionRecordWrapper::Make));
    return {};
  }
  if (name == "find") {
    THostValue key;
    if (!PopArgument(key)) return {};
    return THostValue(coll_->Find(HostText(key)) != nullptr);
  }
  if (name.empty()) {
    TZnCollectionRecordPtr rec = coll_->Find(coll_->DefaultKey);
    return rec ? ToHostValue(rec->DefaultValue()) : THostValue();
  }
  SetError(111, PropertyNotFound(name));
  return {};
}

THostValue TZnCollectionWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  std::string k = HostText(key);
  TZnCollectionRecordPtr rec = k.empty() ? coll_->Find(coll_->DefaultKey) : coll_->FindOrDefault(k);
  if (!rec) return THostValue(std::string());
  return TZnCollectionRecordWrapper::ReadMember(*rec, member);
}

void TZnCollectionWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (name == "casesensitive") {
    coll_->SetCaseSensitive(value.AsBoolean());
  } else if (name == "sorted") {
    coll_->SetSorted(value.AsBoolean());
  } else if (name.empty()) {
    FromHostValue(coll_->FindOrAdd(coll_->DefaultKey)->DefaultValue(), value);
  } else {
    SetError(111, PropertyNotFound(name));
  }
}

void TZnCollectionWrapper::SetIndexed(const THostValue& key, const std::string& member,
                                      const THostValue& value, const THostValue&) {
  std::string k = HostText(key);
  if (k.empty()) k = coll_->DefaultKey;
  FromHostValue(TZnCollectionRecordWrapper::WriteTarget(*coll_->FindOrAdd(k), member), value);
}

void TZnCollectionWrapper::SetIndexedObject(const THostValue& key, const std::string& member,
                                            const TObjectRef& object, const THostValue&) {
  std::string k = HostText(key);
  if (k.empty()) k = coll_->DefaultKey;
  TZnCollectionRecordWrapper::WriteTarget(*coll_->FindOrAdd(k), member).SetObject(object);
}

TVariablePtr TZnCollectionWrapper::Select(int index) {
  if (index < 1 || static_cast<size_t>(index) > coll_->Count()) return nullptr;
  if (!element_) element_ = std::make_shared<TZnCollectionRecordWrapper>(Name, nullptr, Compiler);
  static_cast<TZnCollectionRecordWrapper*>(element_.get())->Bind(coll_->At(static_cast<size_t>(index - 1)));
  return element_;
}

// ---------------------------------------------------------------------------------------------------

TZnCollectionRecordWrapper::TZnCollectionRecordWrapper(std::string name, TZnCollectionRecordPtr rec,
                                                       TBaseCompiler* compiler)
    : TBaseObjectWrapper(std::move(name), rec, compiler), rec_(std::move(rec)) {
  HasMembers = true;
  DefaultAccess = true;
}

std::shared_ptr<TVariable> TZnCollectionRecordWrapper::Make(const std::string& name, const TObjectRef& target,
                                                            TBaseCompiler* compiler) {
  auto r = TargetAs<TZnCollectionRecord>(target);
  if (!r) return nullptr;
  return std::make_shared<TZnCollectionRecordWrapper>(name, r, compiler);
}

void TZnCollectionRecordWrapper::Bind(TZnCollectionRecordPtr rec) {
  ObjectRef = rec;
  rec_ = std::move(rec);
}

THostValue TZnCollectionRecordWrapper::ReadMember(TZnCollectionRecord& rec, const std::string& member) {
  if (member.empty() || member == "defaultvalue") return ToHostValue(rec.DefaultValue());
  if (member == "key") return THostValue(rec.Key);
  return ToHostValue(rec.Field(member));
}

TBaseEvalItem& TZnCollectionRecordWrapper::WriteTarget(TZnCollectionRecord& rec, const std::string& member) {
  if (member.empty() || member == "defaultvalue") return rec.DefaultValue();
  return rec.Field(member);  // writing "key" writes a field of that name
}

THostValue TZnCollectionRecordWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (!rec_) return {};
  return ReadMember(*rec_, name);
}

void TZnCollectionRecordWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (rec_) FromHostValue(WriteTarget(*rec_, name), value);
}

void TZnCollectionRecordWrapper::SetPropertyObject(const std::string& name, const TObjectRef& object) {
  if (rec_) WriteTarget(*rec_, name).SetObject(object);
}

// ---------------------------------------------------------------------------------------------------

TZnCollectionRecordsWrapper::TZnCollectionRecordsWrapper(std::string name,
                                                         std::shared_ptr<TZnCollection> coll,
                                                         TBaseCompiler* compiler)
    : TBaseCollectionWrapper(std::move(name), coll, compiler), coll_(std::move(coll)) {
  HasMembers = true;
}

std::shared_ptr<TVariable> TZnCollectionRecordsWrapper::Make(const std::string& name,
                                                             const TObjectRef& target,
                                                             TBaseCompiler* compiler) {
  auto c = TargetAs<TZnCollection>(target);
  if (!c) return nullptr;
  return std::make_shared<TZnCollectionRecordsWrapper>(name, c, compiler);
}

THostValue TZnCollectionRecordsWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(coll_->Count()));
  SetError(111, PropertyNotFound(name));
  return {};
}

THostValue TZnCollectionRecordsWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  std::string k = HostText(key);
  if (k.empty()) return {};
  TZnCollectionRecordPtr rec = coll_->FindOrDefault(k);
  if (!rec) return THostValue(std::string());
  if (member.empty()) {
    SetObjectValue(Carry(rec, &TZnCollectionRecordWrapper::Make));
    return {};
  }
  return TZnCollectionRecordWrapper::ReadMember(*rec, member);
}

void TZnCollectionRecordsWrapper::SetIndexed(const THostValue& key, const std::string& member,
                                             const THostValue& value, const THostValue&) {
  std::string k = HostText(key);
  if (k.empty()) return;
  FromHostValue(TZnCollectionRecordWrapper::WriteTarget(*coll_->FindOrAdd(k), member), value);
}

TVariablePtr TZnCollectionRecordsWrapper::Select(int index) {
  if (index < 1 || static_cast<size_t>(index) > coll_->Count()) return nullptr;
  if (!element_) element_ = std::make_shared<TZnCollectionRecordWrapper>(Name, nullptr, Compiler);
  static_cast<TZnCollectionRecordWrapper*>(element_.get())->Bind(coll_->At(static_cast<size_t>(index - 1)));
  return element_;
}

// ---------------------------------------------------------------------------------------------------

TZnStringListWrapper::TZnStringListWrapper(std::string name, std::shared_ptr<TZnStringList> list,
                                           TBaseCompiler* compiler)
    : TBaseCollectionWrapper(std::move(name), list, compiler), list_(std::move(list)) {
  HasMembers = true;
}

std::shared_ptr<TVariable> TZnStringListWrapper::Make(const std::string& name, const TObjectRef& target,
                                                      TBaseCompiler* compiler) {
  auto l = TargetAs<TZnStringList>(target);
  if (!l) return nullptr;
  return std::make_shared<TZnStringListWrapper>(name, l, compiler);
}

THostValue TZnStringListWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(list_->Count()));
  if (name == "casesensitive") return THostValue(list_->CaseSensitive());
  if (name == "sorted") return THostValue(list_->Sorted());
  if (name == "add") {
    THostValue s;
    if (!PopArgument(s)) return {};
    return THostValue(static_cast<int64_t>(list_->Add(HostText(s))));
  }
  if (name == "split") {
    THostValue s, sep;
    if (!PopArgument(s) || !PopArgument(sep)) return {};
    return THostValue(static_cast<int64_t>(list_->Split(HostText(s), HostText(sep))));
  }
  if (name == "find" || name == "indexof") {
    THostValue s;
    if (!PopArgument(s)) return {};
    return THostValue(static_cast<int64_t>(list_->IndexOf(HostText(s)) + 1));
  }
  if (name == "clear") {
    list_->Clear();
    return THostValue(static_cast<int64_t>(0));
  }
  SetError(111, PropertyNotFound(name));
  return {};
}

THostValue TZnStringListWrapper::GetIndexed(const THostValue& key, const std::string&) {
  HasObject = false;
  int64_t i = key.AsInteger();
  if (i < 1)
    throw EScriptFault(128, Format("List index out of bounds (%d)", {static_cast<long long>(i - 1)}));
  return THostValue(list_->At(static_cast<size_t>(i - 1)));
}

void TZnStringListWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (name == "casesensitive")
    list_->SetCaseSensitive(value.AsBoolean());
  else if (name == "sorted")
    list_->SetSorted(value.AsBoolean());
  else
    SetError(111, PropertyNotFound(name));
}

void TZnStringListWrapper::SetIndexed(const THostValue& key, const std::string&, const THostValue& value,
                                      const THostValue&) {
  int64_t i = key.AsInteger();
  if (i < 1)
    throw EScriptFault(128, Format("List index out of bounds (%d)", {static_cast<long long>(i - 1)}));
  list_->Put(static_cast<size_t>(i - 1), HostText(value));
}

TVariablePtr TZnStringListWrapper::Select(int index) {
  if (index < 1 || static_cast<size_t>(index) > list_->Count()) return nullptr;
  if (!element_) element_ = std::make_shared<TVariable>(Name);
  element_->SetString(list_->At(static_cast<size_t>(index - 1)));
  return element_;
}

}  // namespace vandrel
