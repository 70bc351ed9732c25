#include "script/Variables.h"

#include <algorithm>
#include <atomic>

#include "platform/Format.h"

namespace vandrel {

TVariablePtr TVariable::Clone() const {
  auto v = std::make_shared<TVariable>();
  v->CopyFrom(*this);
  return v;
}

void TVariable::CopyFrom(const TVariable& other) {
  Assign(other);
  TypeFixed = other.TypeFixed;
  Name = other.Name;
  HasMembers = other.HasMembers;
  DefaultAccess = other.DefaultAccess;
  TakesArguments = other.TakesArguments;
  ReadOnly = other.ReadOnly;
  Compiler = other.Compiler;
}

THostValue TVariable::GetIndexed(const THostValue&, const std::string&) {
  return {};
}

THostValue TVariable::GetProperty(const std::string&) {
  HasObject = false;
  return {};
}

void TVariable::SetIndexed(const THostValue&, const std::string&, const THostValue&, const THostValue&) {}

const TBaseEvalItem* TVariable::IndexedItem(const TBaseEvalItem&, const std::string&) {
  return nullptr;
}

bool TVariable::SetIndexedItem(const TBaseEvalItem&, const std::string&, TBaseEvalItem&&) {
  return false;
}

void TVariable::SetIndexedObject(const THostValue&, const std::string&, const TObjectRef&,
                                 const THostValue&) {}

void TVariable::SetError(int code, const std::string& text) {
  if (ErrorCode != 0) return;  // the first error wins
  ErrorCode = code;
  ErrorText = text;
}

THostValue TVariable::PropertyNotFound(const std::string& name) {
  SetError(kErrPropertyNotFound, Format("Property not found: '%s'", {name}));
  return {};
}

THostValue TVariable::Produce(TObjectRef target, TWrapperFactory kind) {
  SetObjectValue(Carry(std::move(target), kind));
  return {};
}

void TVariable::SetProperty(const std::string&, const THostValue&) {}
void TVariable::SetPropertyObject(const std::string&, const TObjectRef&) {}

// ---------------------------------------------------------------------------------------------------

namespace {
// Identity for version stamps only: each list starts far from every other list's numbers.
std::atomic<uint64_t> gListSerial{0};
}  // namespace

TVariableList::TVariableList() : version_((gListSerial.fetch_add(1) + 1) << 32) {}

TVariableList::~TVariableList() {
  Clear();
}

TVariableList::TItems::const_iterator TVariableList::Probe(const std::string& lowerName) const {
  auto it = items_.find(lowerName);
  lastHit_ = it == items_.end() ? nullptr : &it->first;
  return it;
}

TVariableList::TItems::iterator TVariableList::Probe(const std::string& lowerName) {
  auto it = items_.find(lowerName);
  lastHit_ = it == items_.end() ? nullptr : &it->first;
  return it;
}

int TVariableList::LastIndex() const {
  if (!lastHit_) return -1;
  int index = 0;
  for (const auto& [key, e] : items_)
    if (key < *lastHit_) ++index;
  return index;
}

TVariable* TVariableList::FindLower(const std::string& lowerName) const {
  for (const TVariableList* l = this; l; l = l->parent_) {
    auto it = l->Probe(lowerName);
    if (it != l->items_.end()) return it->second.Var.get();
  }
  return nullptr;
}

TVariable* TVariableList::FindLower(const std::string& lowerName, TVariableList*& holder) {
  for (TVariableList* l = this; l; l = l->parent_) {
    auto it = l->Probe(lowerName);
    if (it != l->items_.end()) {
      holder = l;
      return it->second.Var.get();
    }
  }
  holder = nullptr;
  return nullptr;
}

TVariable* TVariableList::Find(std::string_view name) const {
  return FindLower(LowerAscii(name));
}

TVariablePtr TVariableList::FindShared(std::string_view name) const {
  std::string key = LowerAscii(name);
  for (const TVariableList* l = this; l; l = l->parent_) {
    auto it = l->Probe(key);
    if (it != l->items_.end()) return it->second.Var;
  }
  return nullptr;
}

TVariable* TVariableList::FindLocal(std::string_view name) const {
  auto it = Probe(LowerAscii(name));
  return it == items_.end() ? nullptr : it->second.Var.get();
}

TVariableList* TVariableList::ListOf(const TVariable* v) {
  if (!v) return nullptr;
  std::string key = LowerAscii(v->Name);
  for (TVariableList* l = this; l; l = l->parent_) {
    auto it = l->items_.find(key);
    if (it != l->items_.end() && it->second.Var.get() == v) return l;
  }
  return nullptr;
}

TVariableList* TVariableList::Root() {
  if (!parent_) return nullptr;
  TVariableList* l = parent_;
  while (l->parent_) l = l->parent_;
  return l;
}

void TVariableList::SetParent(TVariableList* list) {
  if (list == this) return;
  for (TVariableList* l = list; l; l = l->parent_)
    if (l == this) return;  // would close a cycle and make every lookup endless
  parent_ = list;
  ++version_;
}

void TVariableList::AppendParent(TVariableList* list) {
  Outermost()->SetParent(list);
}

void TVariableList::Add(TVariablePtr v) {
  if (!v) return;
  std::string key = LowerAscii(v->Name);
  auto it = items_.find(key);
  if (it != items_.end() && !it->second.Shared && it->second.Var->Owner == this)
    it->second.Var->Owner = nullptr;
  v->Owner = this;
  items_[key] = TEntry{std::move(v), false};
  ++version_;
}

void TVariableList::AddShared(const std::string& name, TVariablePtr wrapper) {
  if (!wrapper) return;
  std::string key = LowerAscii(name);
  auto it = items_.find(key);
  if (it != items_.end() && !it->second.Shared && it->second.Var->Owner == this)
    it->second.Var->Owner = nullptr;
  items_[key] = TEntry{std::move(wrapper), true};
  ++version_;
}

TVariablePtr TVariableList::Remove(std::string_view name) {
  auto it = items_.find(LowerAscii(name));
  if (it == items_.end()) return nullptr;
  TVariablePtr v = std::move(it->second.Var);
  if (!it->second.Shared && v->Owner == this) v->Owner = nullptr;
  if (lastHit_ == &it->first) lastHit_ = nullptr;
  items_.erase(it);
  ++version_;
  return v;
}

bool TVariableList::RemoveVariable(const TVariable* v) {
  if (!v) return false;
  auto it = items_.find(LowerAscii(v->Name));
  if (it == items_.end() || it->second.Var.get() != v) return false;
  Remove(v->Name);
  return true;
}

TVariable* TVariableList::SetValue(const std::string& name, const THostValue& v, bool typeFixed) {
  TVariable* var = FindLocal(name);
  if (!var) {
    auto nv = std::make_shared<TVariable>(name);
    var = nv.get();
    Add(std::move(nv));
  }
  var->TypeFixed = false;
  FromHostValue(*var, v);
  var->TypeFixed = typeFixed;
  return var;
}

TVariable* TVariableList::DefineConstant(const std::string& name, const THostValue& v) {
  TVariable* var = SetValue(name, v, false);
  var->ReadOnly = true;
  return var;
}

TVariable* TVariableList::SetBoolean(const std::string& name, bool v, bool typeFixed) {
  return SetValue(name, THostValue(v), typeFixed);
}
TVariable* TVariableList::SetInteger(const std::string& name, int64_t v, bool typeFixed) {
  return SetValue(name, THostValue(v), typeFixed);
}
TVariable* TVariableList::SetString(const std::string& name, const std::string& v, bool typeFixed) {
  return SetValue(name, THostValue(v), typeFixed);
}

bool TVariableList::GetBoolean(std::string_view name, bool def) const {
  TVariable* v = Find(name);
  return v ? v->AsBoolean() : def;
}

int64_t TVariableList::GetInteger(std::string_view name, int64_t def) const {
  TVariable* v = Find(name);
  return v ? v->AsInteger() : def;
}

std::string TVariableList::GetString(std::string_view name, const std::string& def) const {
  TVariable* v = Find(name);
  return v ? v->AsString() : def;
}

TObjectRef TVariableList::GetObject(std::string_view name) const {
  TVariable* v = Find(name);
  return v ? v->ObjectRef : nullptr;
}

THostValue TVariableList::GetHostValue(std::string_view name) const {
  TVariable* v = Find(name);
  return v ? ToHostValue(*v) : THostValue();
}

void TVariableList::CopyFrom(const TVariableList& other) {
  Clear();
  for (const auto& [key, e] : other.items_) {
    if (e.Shared) {
      items_[key] = e;
    } else {
      TVariablePtr c = e.Var->Clone();
      c->Owner = this;
      items_[key] = TEntry{std::move(c), false};
    }
  }
  parent_ = other.parent_;
  ++version_;
}

void TVariableList::Clear() {
  // Disposed of while the entries still hold them: a collection whose last holder is an entry would
  // otherwise be freed first and leave its records holding each other.
  std::vector<std::weak_ptr<TScriptObject>> objects;
  objects.swap(scriptObjects_);
  pruneAt_ = 64;
  for (const auto& w : objects)
    if (TObjectRef o = w.lock()) o->Dispose();
  for (auto& [key, e] : items_)
    if (!e.Shared && e.Var->Owner == this) e.Var->Owner = nullptr;
  items_.clear();
  lastHit_ = nullptr;
  temporaries_.clear();
  ++version_;
}

void TVariableList::RegisterScriptObject(const TObjectRef& o) {
  if (!o) return;
  // A loop that makes objects must not grow the list by the ones already gone.
  if (scriptObjects_.size() >= pruneAt_) {
    std::erase_if(scriptObjects_, [](const std::weak_ptr<TScriptObject>& w) { return w.expired(); });
    pruneAt_ = std::max<size_t>(64, scriptObjects_.size() * 2);
  }
  scriptObjects_.push_back(o);
}

void TVariableList::DetachCompiler(const TBaseCompiler* compiler) {
  for (auto& [key, e] : items_)
    if (e.Var->Compiler == compiler) e.Var->Compiler = nullptr;
}

std::vector<TVariablePtr> TVariableList::Entries() const {
  std::vector<TVariablePtr> r;
  r.reserve(items_.size());
  for (const auto& [key, e] : items_) r.push_back(e.Var);
  return r;
}

// ---------------------------------------------------------------------------------------------------

TBaseObjectWrapper::TBaseObjectWrapper(std::string name, TObjectRef target, TBaseCompiler* compiler)
    : TVariable(std::move(name), dtObject) {
  ObjectRef = std::move(target);
  Compiler = compiler;
}

std::shared_ptr<TVariable> TBaseObjectWrapper::Clone() const {
  TWrapperFactory kind = WrapperClass();
  std::shared_ptr<TVariable> v = kind ? kind(Name, ObjectRef, Compiler) : nullptr;
  if (!v) return TVariable::Clone();
  v->ReadOnly = ReadOnly;
  return v;
}

void TBaseObjectWrapper::SetError(int code, const std::string& text) {
  TVariable::SetError(code, text);
  if (auto p = ParentWrapper.lock(); p && p.get() != this) p->SetError(code, text);
}

void TBaseObjectWrapper::GetObject(TWrapperFactory wrapperClass) {
  if (!wrapperClass) wrapperClass = WrapperClass();
  if (ObjectRef && dynamic_cast<TTransporter*>(ObjectRef.get()) != nullptr)
    SetObjectValue(ObjectRef);
  else
    SetObjectValue(ObjectRef ? Carry(ObjectRef, wrapperClass) : nullptr);
}

bool TBaseObjectWrapper::PopArgument(THostValue& out) {
  if (Arguments().Empty()) {
    SetError(kErrMissingParameter, "Missing parameter");
    return false;
  }
  out = Arguments().PopHostValue();
  return true;
}

TBaseCollectionWrapper::TBaseCollectionWrapper(std::string name, TObjectRef target, TBaseCompiler* compiler)
    : TBaseObjectWrapper(std::move(name), std::move(target), compiler) {
  TakesArguments = true;
}

bool TBaseCollectionWrapper::RefuseInForEach(bool busy) {
  if (!InForEach && !busy) return false;
  SetError(kErrForEachModify, Format("Cannot modify '%s' collection while in For Each statement", {Name}));
  return true;
}

bool TBaseCollectionWrapper::First() {
  Index = 0;
  return Next();
}

bool TBaseCollectionWrapper::Next() {
  ++Index;
  TVariablePtr e = Select(Index);
  if (!e || e->DataType == dtUnknown) return false;
  if (e->DataType == dtObject && !e->ObjectRef) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------------

TBaseEvalItemWrapper::TBaseEvalItemWrapper(std::string name, TBaseEvalItem* item, TObjectRef owner,
                                           TBaseCompiler* compiler)
    : TBaseObjectWrapper(std::move(name), std::move(owner), compiler), item_(item) {
  HasMembers = true;
  DefaultAccess = true;
}

THostValue TBaseEvalItemWrapper::ReadItemProperty(const TBaseEvalItem& item, const std::string& name,
                                                  bool& known) {
  known = true;
  if (name == "booleanvalue") return THostValue(item.AsBoolean());
  if (name == "datatype") return THostValue(static_cast<int64_t>(item.DataType));
  if (name == "integervalue") return THostValue(item.AsInteger());
  if (name == "moneycode") return THostValue(item.MoneyCode);
  if (name == "moneyvalue" || name == "floatvalue") return THostValue(item.Number);
  // An identity, not an address to be dereferenced: objects never come back from integers.
  if (name == "objectvalue")
    return THostValue(static_cast<int64_t>(reinterpret_cast<intptr_t>(item.ObjectRef.get())));
  if (name == "stringvalue") return THostValue(item.AsString());
  if (name == "value" || name.empty()) return ToHostValue(item);
  known = false;
  return {};
}

bool TBaseEvalItemWrapper::WriteItemProperty(TBaseEvalItem& item, const std::string& name,
                                             const THostValue& v) {
  if (name == "booleanvalue") {
    item.SetBoolean(v.AsBoolean());
  } else if (name == "datatype") {
    item.DataType = static_cast<uint8_t>(v.AsInteger());
    item.Changed();
  } else if (name == "integervalue") {
    item.SetInteger(v.AsInteger());
  } else if (name == "moneycode") {
    item.SetMoneyCode(v.AsString());
  } else if (name == "moneyvalue") {
    item.SetMoneyValue(v.AsFloat());
  } else if (name == "floatvalue") {
    item.SetFloat(v.AsFloat());
  } else if (name == "stringvalue") {
    item.SetString(v.IsString() ? v.AsString() : std::string());
  } else if (name == "value" || name.empty()) {
    FromHostValue(item, v);
  } else {
    return false;
  }
  return true;
}

THostValue TBaseEvalItemWrapper::GetProperty(const std::string& name) {
  HasObject = false;
  if (!item_) return {};
  bool known = false;
  return ReadItemProperty(*item_, name, known);
}

void TBaseEvalItemWrapper::SetProperty(const std::string& name, const THostValue& value) {
  if (item_) WriteItemProperty(*item_, name, value);
}

}  // namespace vandrel
