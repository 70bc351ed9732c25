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

// ---------------------------------------------------------------------------------------------------

TZnCollectionWrapper::TZnCollectionWrapper(std::string name, std::shared_ptr<TZnCollection> coll,
                                           TBaseCompiler* compiler)
    : TWrapperOf(std::move(name), std::move(coll), compiler) {
  HasMembers = true;
  DefaultAccess = !target_->DefaultKey.empty();
}

THostValue TZnCollectionWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(target_->Count()));
  if (name == "casesensitive") return THostValue(target_->CaseSensitive());
  if (name == "sorted") return THostValue(target_->Sorted());
  if (name == "records") {
    return Produce(target_, &TZnCollectionRecordsWrapper::Make);
  }
  if (name == "add") {
    THostValue key, value;
    if (!PopArgument(key)) return {};
    bool hasValue = !Arguments().Empty();
    if (hasValue) value = Arguments().PopHostValue();
    std::string k = HostText(key);
    TZnCollectionRecordPtr rec = target_->Find(k);
    if (!rec)
      rec = hasValue ? target_->AddWithValue(k, value) : target_->Add(k);
    else if (hasValue)
      FromHostValue(rec->DefaultValue(), value);
    return Produce(rec, &TZnCollectionRecordWrapper::Make);
  }
  if (name == "find") {
    THostValue key;
    if (!PopArgument(key)) return {};
    return THostValue(target_->Find(HostText(key)) != nullptr);
  }
  if (name.empty()) {
    TZnCollectionRecordPtr rec = target_->Find(target_->DefaultKey);
    return rec ? ToHostValue(rec->DefaultValue()) : THostValue();
  }
  return PropertyNotFound(name);
}

THostValue TZnCollectionWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  std::string k = HostText(key);
  TZnCollectionRecordPtr rec = k.empty() ? target_->Find(target_->DefaultKey) : target_->FindOrDefault(k);
  if (!rec) return THostValue(std::string());
  return TZnCollectionRecordWrapper::ReadMember(*rec, member);
}

void TZnCollectionWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (name == "casesensitive") {
    target_->SetCaseSensitive(value.AsBoolean());
  } else if (name == "sorted") {
    target_->SetSorted(value.AsBoolean());
  } else if (name.empty()) {
    FromHostValue(target_->FindOrAdd(target_->DefaultKey)->DefaultValue(), value);
  } else {
    PropertyNotFound(name);
  }
}

void TZnCollectionWrapper::SetIndexed(const THostValue& key, const std::string& member,
                                      const THostValue& value, const THostValue&) {
  std::string k = HostText(key);
  if (k.empty()) k = target_->DefaultKey;
  FromHostValue(TZnCollectionRecordWrapper::WriteTarget(*target_->FindOrAdd(k), member), value);
}

void TZnCollectionWrapper::SetIndexedObject(const THostValue& key, const std::string& member,
                                            const TObjectRef& object, const THostValue&) {
  std::string k = HostText(key);
  if (k.empty()) k = target_->DefaultKey;
  TZnCollectionRecordWrapper::WriteTarget(*target_->FindOrAdd(k), member).SetObject(object);
}

TVariablePtr TZnCollectionWrapper::Select(int index) {
  if (index < 1 || static_cast<size_t>(index) > target_->Count()) return nullptr;
  return Element<TZnCollectionRecordWrapper>(target_->At(static_cast<size_t>(index - 1)));
}

// ---------------------------------------------------------------------------------------------------

TZnCollectionRecordWrapper::TZnCollectionRecordWrapper(std::string name, TZnCollectionRecordPtr rec,
                                                       TBaseCompiler* compiler)
    : TWrapperOf(std::move(name), std::move(rec), compiler) {
  HasMembers = true;
  DefaultAccess = true;
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
  if (!target_) return {};
  return ReadMember(*target_, name);
}

void TZnCollectionRecordWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (target_) FromHostValue(WriteTarget(*target_, name), value);
}

void TZnCollectionRecordWrapper::SetPropertyObject(const std::string& name, const TObjectRef& object) {
  if (target_) WriteTarget(*target_, name).SetObject(object);
}

// ---------------------------------------------------------------------------------------------------

TZnCollectionRecordsWrapper::TZnCollectionRecordsWrapper(std::string name,
                                                         std::shared_ptr<TZnCollection> coll,
                                                         TBaseCompiler* compiler)
    : TWrapperOf(std::move(name), std::move(coll), compiler) {
  HasMembers = true;
}

THostValue TZnCollectionRecordsWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(target_->Count()));
  return PropertyNotFound(name);
}

THostValue TZnCollectionRecordsWrapper::GetIndexed(const THostValue& key, const std::string& member) {
  HasObject = false;
  std::string k = HostText(key);
  if (k.empty()) return {};
  TZnCollectionRecordPtr rec = target_->FindOrDefault(k);
  if (!rec) return THostValue(std::string());
  if (member.empty()) {
    return Produce(rec, &TZnCollectionRecordWrapper::Make);
  }
  return TZnCollectionRecordWrapper::ReadMember(*rec, member);
}

void TZnCollectionRecordsWrapper::SetIndexed(const THostValue& key, const std::string& member,
                                             const THostValue& value, const THostValue&) {
  std::string k = HostText(key);
  if (k.empty()) return;
  FromHostValue(TZnCollectionRecordWrapper::WriteTarget(*target_->FindOrAdd(k), member), value);
}

TVariablePtr TZnCollectionRecordsWrapper::Select(int index) {
  if (index < 1 || static_cast<size_t>(index) > target_->Count()) return nullptr;
  return Element<TZnCollectionRecordWrapper>(target_->At(static_cast<size_t>(index - 1)));
}

// ---------------------------------------------------------------------------------------------------

TZnStringListWrapper::TZnStringListWrapper(std::string name, std::shared_ptr<TZnStringList> list,
                                           TBaseCompiler* compiler)
    : TWrapperOf(std::move(name), std::move(list), compiler) {
  HasMembers = true;
}

THostValue TZnStringListWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (name == "count") return THostValue(static_cast<int64_t>(target_->Count()));
  if (name == "casesensitive") return THostValue(target_->CaseSensitive());
  if (name == "sorted") return THostValue(target_->Sorted());
  if (name == "add") {
    THostValue s;
    if (!PopArgument(s)) return {};
    return THostValue(static_cast<int64_t>(target_->Add(HostText(s))));
  }
  if (name == "split") {
    THostValue s, sep;
    if (!PopArgument(s) || !PopArgument(sep)) return {};
    return THostValue(static_cast<int64_t>(target_->Split(HostText(s), HostText(sep))));
  }
  if (name == "find" || name == "indexof") {
    THostValue s;
    if (!PopArgument(s)) return {};
    return THostValue(static_cast<int64_t>(target_->IndexOf(HostText(s)) + 1));
  }
  if (name == "clear") {
    target_->Clear();
    return THostValue(static_cast<int64_t>(0));
  }
  return PropertyNotFound(name);
}

THostValue TZnStringListWrapper::GetIndexed(const THostValue& key, const std::string&) {
  HasObject = false;
  int64_t i = key.AsInteger();
  if (i < 1)
    throw EScriptFault(kErrList, Format("List index out of bounds (%d)", {static_cast<long long>(i - 1)}));
  return THostValue(target_->At(static_cast<size_t>(i - 1)));
}

void TZnStringListWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (name == "casesensitive")
    target_->SetCaseSensitive(value.AsBoolean());
  else if (name == "sorted")
    target_->SetSorted(value.AsBoolean());
  else
    PropertyNotFound(name);
}

void TZnStringListWrapper::SetIndexed(const THostValue& key, const std::string&, const THostValue& value,
                                      const THostValue&) {
  int64_t i = key.AsInteger();
  if (i < 1)
    throw EScriptFault(kErrList, Format("List index out of bounds (%d)", {static_cast<long long>(i - 1)}));
  target_->Put(static_cast<size_t>(i - 1), HostText(value));
}

TVariablePtr TZnStringListWrapper::Select(int index) {
  if (index < 1 || static_cast<size_t>(index) > target_->Count()) return nullptr;
  if (!element_) element_ = std::make_shared<TVariable>(Name);
  element_->SetString(target_->At(static_cast<size_t>(index - 1)));
  return element_;
}

}  // namespace vandrel
