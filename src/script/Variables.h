// Named script values with a parent chain, and the wrapper protocol through which scripts reach host objects.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "script/EvalTypes.h"
#include "script/ScriptErrors.h"

namespace vandrel {

class TVariableList;
class TBaseObjectWrapper;
class TBaseCollectionWrapper;

// A named value. Plain variables only hold their value; wrappers (below) override the access operations.
// Variables are reference-counted: a list, a cached token or a For Each that still holds one keeps it
// alive after it left its list.
//
// Protocol for wrappers, as the evaluator and the assignment use it:
// - `name.member` calls GetProperty(member) when HasMembers is set; member names arrive lower-cased.
// - `name[key]` / `name(key)` call GetIndexed(key, member) when TakesArguments is set.
// - A bare name with DefaultAccess calls GetProperty("") (or GetIndexed with an empty key when the
//   variable also takes arguments).
// - The arguments of a member call are on the wrapper's Arguments stack, first argument on top.
// - A read that produces an object returns the empty value and sets HasObject / ObjectValue.
// - Errors are left with SetError (111 unknown property, 113 missing argument, 108 unusable argument).
class TVariable : public TBaseEvalItem, public std::enable_shared_from_this<TVariable> {
 public:
  explicit TVariable(std::string name = {}, uint8_t dataType = dtUnknown)
      : TBaseEvalItem(dataType), Name(std::move(name)) {}
  ~TVariable() override = default;

  // A copy of value, name and flags (used when a variable list is copied).
  virtual std::shared_ptr<TVariable> Clone() const;
  virtual void CopyFrom(const TVariable& other);
  virtual THostValue GetIndexed(const THostValue& key, const std::string& member);
  // Also clears HasObject.
  virtual THostValue GetProperty(const std::string& name);
  virtual void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                          const THostValue& memberArg);
  virtual void SetIndexedObject(const THostValue& key, const std::string& member, const TObjectRef& object,
                                const THostValue& memberArg);
  // Shortcuts of GetIndexed and SetIndexed for a host that keeps plain values: they take the key as the
  // script value it is and spare the host-value copies. A host offers them only where the result is
  // exactly the one of the generic call; null or false leaves everything untouched for that call.
  // The value `GetIndexed(ToHostValue(key), member)` would read, when it is one the host holds.
  virtual const TBaseEvalItem* IndexedItem(const TBaseEvalItem& key, const std::string& member);
  // Does `SetIndexed(ToHostValue(key), member, ToHostValue(value), {})`, and may consume `value`.
  virtual bool SetIndexedItem(const TBaseEvalItem& key, const std::string& member, TBaseEvalItem&& value);
  virtual void SetError(int code, const std::string& text);
  virtual void SetProperty(const std::string& name, const THostValue& value);
  virtual void SetPropertyObject(const std::string& name, const TObjectRef& object);

  // Sets 111 "Property not found: '%s'"; returns the empty value for readers to pass on.
  THostValue PropertyNotFound(const std::string& name);
  // What a read that produces an object does: ObjectValue becomes a carrier of `target` for the wrapper
  // kind `kind`, and the value read is empty.
  THostValue Produce(TObjectRef target, TWrapperFactory kind);

  virtual TBaseObjectWrapper* AsWrapper() { return nullptr; }
  virtual TBaseCollectionWrapper* AsCollection() { return nullptr; }
  void ClearError() {
    ErrorCode = 0;
    ErrorText.clear();
  }
  // Sets the object a read produced; the next GetProperty clears it.
  void SetObjectValue(TObjectRef o) {
    ObjectValue = std::move(o);
    HasObject = ObjectValue != nullptr;
  }

  TVariableList* Owner = nullptr;  // the list holding it; null once removed or the list is gone
  std::string Name;
  bool HasObject = false;  // the last read produced ObjectValue
  TObjectRef ObjectValue;  // a carrier (TTransporter) of that object
  int ErrorCode = 0;       // left by the last access; the evaluator takes it over and clears it
  std::string ErrorText;
  bool HasMembers = false;            // `name.member` is a property access
  bool DefaultAccess = false;         // the bare name reads the default property
  bool TakesArguments = false;        // `name[key]` is an indexed access
  bool ReadOnly = false;              // scripts may not assign it (hosts may, through TVariableList)
  TBaseCompiler* Compiler = nullptr;  // the compiler that made a wrapper; cleared when it goes away
};
using TVariablePtr = std::shared_ptr<TVariable>;

// Variables by case-insensitive name, falling through to a parent list. Main thread only.
class TVariableList {
 public:
  TVariableList();
  TVariableList(const TVariableList&) = delete;
  TVariableList& operator=(const TVariableList&) = delete;
  ~TVariableList();

  // This list, then the parents.
  TVariable* Find(std::string_view name) const;
  TVariablePtr FindShared(std::string_view name) const;
  // `lowerName` must already be lower-cased (the evaluator keeps names that way).
  TVariable* FindLower(const std::string& lowerName) const;
  // Also tells which list along the chain holds it.
  TVariable* FindLower(const std::string& lowerName, TVariableList*& holder);
  // Changes whenever an entry is added or removed here or along the parents, or the chain changes; lets
  // cached name resolutions be reused while nothing moved.
  uint64_t ChainVersion() const {
    uint64_t v = 0;
    for (const TVariableList* l = this; l; l = l->parent_) v += l->version_;
    return v;
  }
  // This list only.
  TVariable* FindLocal(std::string_view name) const;
  TVariableList* ListOf(const TVariable* v);  // the list along the chain holding v

  TVariableList* Parent() const { return parent_; }
  // The outermost ancestor; null when there is no parent.
  TVariableList* Root();
  // The outermost ancestor or this list.
  TVariableList* Outermost() {
    TVariableList* r = Root();
    return r ? r : this;
  }
  // The parent must outlive this list. A list cannot be its own parent; a cycle is refused.
  void SetParent(TVariableList* list);
  void AppendParent(TVariableList* list);

  // Adds (replacing a variable of the same name) and sets its Owner.
  void Add(TVariablePtr v);
  // Adds an entry the list does not own: its Owner stays as it was and Clear never touches it.
  void AddShared(const std::string& name, TVariablePtr wrapper);
  // Removes this list's entry of that name; the variable lives on while others hold it.
  TVariablePtr Remove(std::string_view name);
  bool RemoveVariable(const TVariable* v);

  // Host writes: they ignore ReadOnly.
  TVariable* DefineConstant(const std::string& name, const THostValue& v);
  TVariable* SetValue(const std::string& name, const THostValue& v, bool typeFixed = false);
  TVariable* SetBoolean(const std::string& name, bool v, bool typeFixed = false);
  TVariable* SetInteger(const std::string& name, int64_t v, bool typeFixed = false);
  TVariable* SetString(const std::string& name, const std::string& v, bool typeFixed = false);

  bool GetBoolean(std::string_view name, bool def) const;
  int64_t GetInteger(std::string_view name, int64_t def) const;
  std::string GetString(std::string_view name, const std::string& def) const;
  TObjectRef GetObject(std::string_view name) const;
  THostValue GetHostValue(std::string_view name) const;

  // Keeps a host object alive as long as the list (until Clear).
  void AddTemporary(TObjectRef o) { temporaries_.push_back(std::move(o)); }
  // An object a script created: held weakly, and told to Dispose when the list is cleared.
  void RegisterScriptObject(const TObjectRef& o);
  size_t TemporaryCount() const { return temporaries_.size(); }

  // Shared entries are taken over as the same objects, owned ones cloned.
  void CopyFrom(const TVariableList& other);
  void Clear();
  void DetachCompiler(const TBaseCompiler* compiler);
  size_t Count() const { return items_.size(); }
  // Every entry of this list (not the parents), in no particular order.
  std::vector<TVariablePtr> Entries() const;
  // 0-based position, in case-insensitive name order, of the entry that the last lookup found in this
  // list; -1 when that lookup missed here (also when it went on to find the name in a parent) or the
  // entry has gone since.
  int LastIndex() const;

 private:
  struct TEntry {
    TVariablePtr Var;
    bool Shared = false;
  };
  using TItems = std::unordered_map<std::string, TEntry>;
  // Looks `lowerName` up in this list only and remembers the outcome for LastIndex.
  TItems::const_iterator Probe(const std::string& lowerName) const;
  TItems::iterator Probe(const std::string& lowerName);

  TItems items_;                                  // keyed by the lower-cased name
  mutable const std::string* lastHit_ = nullptr;  // key (inside items_) of the last lookup's hit
  std::vector<TObjectRef> temporaries_;
  std::vector<std::weak_ptr<TScriptObject>> scriptObjects_;
  size_t pruneAt_ = 64;  // scriptObjects_ drops expired entries when it reaches this size
  TVariableList* parent_ = nullptr;
  uint64_t version_;  // counts structural changes; starts unique so a new list never matches an old one
};

// A variable exposing a host object (ObjectRef). DataType is Object.
class TBaseObjectWrapper : public TVariable {
 public:
  TBaseObjectWrapper(std::string name, TObjectRef target, TBaseCompiler* compiler);
  TBaseObjectWrapper* AsWrapper() override { return this; }
  // A wrapper of the same kind over the same object (a plain copy when the kind is unknown).
  std::shared_ptr<TVariable> Clone() const override;
  void SetError(int code, const std::string& text) override;
  // Sets ObjectValue to a carrier of the wrapped object for `wrapperClass` (or the wrapper's own kind).
  virtual void GetObject(TWrapperFactory wrapperClass = nullptr);
  // The kind of wrapper this is, so that carriers made of its object come back as the same kind.
  virtual TWrapperFactory WrapperClass() const { return nullptr; }
  TValueStack& Arguments() {
    if (!arguments_) arguments_ = std::make_unique<TValueStack>();
    return *arguments_;
  }
  // Pops the next member-call argument; sets error 113 and returns false when there is none.
  bool PopArgument(THostValue& out);

  std::weak_ptr<TVariable> ParentWrapper;  // errors set here are passed on to it

 private:
  std::unique_ptr<TValueStack> arguments_;
};

// A wrapper of something that can be indexed and iterated (For Each).
class TBaseCollectionWrapper : public TBaseObjectWrapper {
 public:
  TBaseCollectionWrapper(std::string name, TObjectRef target, TBaseCompiler* compiler);
  TBaseCollectionWrapper* AsCollection() override { return this; }
  // The element variable of the current step; one variable reused for every step.
  TVariablePtr Current() { return element_; }
  // Selects the element with the 1-based index; null when there is none.
  virtual TVariablePtr Select(int index) = 0;
  virtual bool First();
  virtual bool Next();
  // Sets 211 and answers true while a For Each runs over this collection (or `busy`: another wrapper's
  // For Each holds the same host object).
  bool RefuseInForEach(bool busy = false);

  bool InForEach = false;  // a For Each runs over it; engine collections refuse changes meanwhile
  int Index = 0;           // 1-based iteration position

 protected:
  // The element variable, made on the first step as a W over `target` and pointed at later targets.
  template <class W, class T>
  TVariablePtr Element(std::shared_ptr<T> target) {
    if (!element_)
      element_ = std::make_shared<W>(Name, std::move(target), Compiler);
    else
      static_cast<W*>(element_.get())->Bind(std::move(target));
    return element_;
  }
  TVariablePtr element_;
};

// The host object behind a carrier (or `target` itself) as a T; null when it is not one.
template <class T>
std::shared_ptr<T> TargetAs(const TObjectRef& target) {
  TObjectRef t = target;
  if (auto* tr = dynamic_cast<TTransporter*>(t.get())) t = tr->Target;
  return std::dynamic_pointer_cast<T>(t);
}

// A carrier of `target` that comes back to scripts as the wrapper kind `kind`. Reference-counted, so it
// needs no registration.
inline TObjectRef Carry(TObjectRef target, TWrapperFactory kind) {
  return std::make_shared<TTransporter>(std::move(target), kind);
}

// The factory of a wrapper kind W over host objects of type T: null when `target` carries no T.
template <class W, class T>
std::shared_ptr<TVariable> MakeWrapperAs(const std::string& name, const TObjectRef& target,
                                         TBaseCompiler* compiler) {
  auto t = TargetAs<T>(target);
  return t ? std::make_shared<W>(name, std::move(t), compiler) : nullptr;
}

// A wrapper kind over host objects of type T: gives the kind its factory (Make), the carrier kind, and
// the typed target that For Each steps re-point with Bind. Base is TBaseObjectWrapper or
// TBaseCollectionWrapper.
template <class Derived, class T, class Base = TBaseObjectWrapper>
class TWrapperOf : public Base {
 public:
  TWrapperOf(std::string name, std::shared_ptr<T> target, TBaseCompiler* compiler)
      : Base(std::move(name), target, compiler), target_(std::move(target)) {}
  static std::shared_ptr<TVariable> Make(const std::string& name, const TObjectRef& target,
                                         TBaseCompiler* compiler) {
    return MakeWrapperAs<Derived, T>(name, target, compiler);
  }
  TWrapperFactory WrapperClass() const override { return &Make; }
  void Bind(std::shared_ptr<T> target) {
    this->ObjectRef = target;
    target_ = std::move(target);
  }

 protected:
  std::shared_ptr<T> target_;
};

// Exposes one TBaseEvalItem through "value", "stringvalue", "datatype" ... (result fields use it).
class TBaseEvalItemWrapper : public TBaseObjectWrapper {
 public:
  // `item` must stay valid while `owner` is alive; `owner` keeps it so.
  TBaseEvalItemWrapper(std::string name, TBaseEvalItem* item, TObjectRef owner, TBaseCompiler* compiler);
  THostValue GetProperty(const std::string& name) override;
  void SetProperty(const std::string& name, const THostValue& value) override;
  // Property reads and writes on any value item, for wrappers that expose fields without a wrapper object.
  static THostValue ReadItemProperty(const TBaseEvalItem& item, const std::string& name, bool& known);
  static bool WriteItemProperty(TBaseEvalItem& item, const std::string& name, const THostValue& value);

 protected:
  TBaseEvalItem* item_;
};

}  // namespace vandrel
