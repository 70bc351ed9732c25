// Values of the script language: data types, the typed value record, host values and the value stack.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/TextUtils.h"

namespace vandrel {

class TVariable;
class TBaseCompiler;

// Data type codes. They are stored in compiled scripts and result tables and scripts see them as DT_*
// constants: never renumber.
enum TDataType : uint8_t {
  dtUnknown = 0,
  dtFloat = 1,
  dtString = 2,
  dtInteger = 3,
  dtBoolean = 4,
  dtSmallInteger = 5,
  dtByte = 6,
  dtMoney = 7,
  dtObject = 8,
  dtVariant = 9,  // only in signatures: matches any type
};

// "Float", "String", ... as error messages print them; "Unknown" outside 0..9.
std::string DataTypeName(int code);
// Float, Integer, Boolean, Byte, Money. SmallInteger is deliberately not numeric.
bool IsNumericType(int code);
// Integer, Boolean, Byte.
bool IsIntegralType(int code);
// Whether `number` can be stored as `type` without the script noticing a change.
bool FitsType(int type, double number);

// Base of every host object a script can hold (collections, string lists, records, carriers). Script
// objects are reference-counted: whoever still holds one (a variable, a stack slot, a record field)
// keeps it alive.
class TScriptObject : public std::enable_shared_from_this<TScriptObject> {
 public:
  virtual ~TScriptObject() = default;
  // The variable that exposes this object to scripts under `name` (used when an Object is assigned to a
  // plain name). Null when the object has no wrapper kind.
  virtual std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler);
  // The object a carrier stands for; the object itself for everything else.
  virtual const TScriptObject* Identity() const { return this; }
  // Lets go of the script objects this one refers to, keeping its own plain data. Called on objects that
  // scripts created when the variable list that registered them is cleared, so that objects referring
  // to each other (a collection stored in itself) are freed after all.
  virtual void Dispose() {}
};
using TObjectRef = std::shared_ptr<TScriptObject>;

// Makes the wrapper variable of a wrapper kind for `target`.
using TWrapperFactory = std::shared_ptr<TVariable> (*)(const std::string& name, const TObjectRef& target,
                                                       TBaseCompiler* compiler);

// The object carrier: every Object on the value stack that a wrapper produced. The same host object can
// be exposed by different wrapper kinds (a collection, or its records view), so the carrier says which.
class TTransporter : public TScriptObject {
 public:
  TTransporter(TObjectRef target, TWrapperFactory wrapperClass)
      : Target(std::move(target)), WrapperClass(wrapperClass) {}
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;
  const TScriptObject* Identity() const override { return Target ? Target->Identity() : this; }

  TObjectRef Target;
  TWrapperFactory WrapperClass;
};

// The dynamic value through which hosts read and write script values. Objects cross as object
// references, never as integers holding an address.
struct THostValue {
  std::variant<std::monostate, int64_t, double, std::string, bool, TObjectRef> V;

  THostValue() = default;
  THostValue(int v) : V(static_cast<int64_t>(v)) {}
  THostValue(int64_t v) : V(v) {}
  THostValue(double v) : V(v) {}
  THostValue(const char* v) : V(std::string(v)) {}
  THostValue(std::string v) : V(std::move(v)) {}
  THostValue(bool v) : V(v) {}
  THostValue(TObjectRef v) : V(std::move(v)) {}

  bool IsEmpty() const { return V.index() == 0; }
  bool IsInteger() const { return V.index() == 1; }
  bool IsFloat() const { return V.index() == 2; }
  bool IsString() const { return V.index() == 3; }
  bool IsBoolean() const { return V.index() == 4; }
  bool IsObject() const { return V.index() == 5; }
  // Loose readers for hosts: numbers from any numeric kind, text of strings only.
  double AsFloat() const;
  int64_t AsInteger() const;
  std::string AsString() const;
  bool AsBoolean() const;
  TObjectRef AsObject() const { return IsObject() ? std::get<TObjectRef>(V) : nullptr; }
};

// One typed script value. Each slot keeps its content when the type changes.
class TBaseEvalItem {
 public:
  TBaseEvalItem() = default;
  explicit TBaseEvalItem(uint8_t dataType) : DataType(dataType) {}
  TBaseEvalItem(const TBaseEvalItem&) = default;
  TBaseEvalItem& operator=(const TBaseEvalItem&) = default;
  virtual ~TBaseEvalItem() = default;

  // Called after every setter; variables that act on assignment override it.
  virtual void Changed() {}

  // Inline so that writes to stack items, whose Changed is known to do nothing, cost no call.
  void SetBoolean(bool b) {
    Number = b ? 1 : 0;
    Retype(dtBoolean);
  }
  // Integers are kept in 64 bits so that whole numbers of 2^31 and more (an ISBN-13) survive.
  void SetInteger(int64_t i) {
    Number = static_cast<double>(i);
    Retype(dtInteger);
  }
  void SetFloat(double x) {
    Number = x;
    Retype(dtFloat);
  }
  void SetMoneyValue(double x) {
    Number = x;
    Retype(dtMoney);
  }
  void SetMoneyCode(std::string code) {
    MoneyCode = std::move(code);
    Retype(dtMoney);
  }
  void SetString(std::string s) {
    Text = std::move(s);
    Retype(dtString);
  }
  // SetString into the item's own buffer, which keeps its capacity.
  void AssignString(const std::string& s) {
    Text.assign(s);
    Retype(dtString);
  }
  void SetObject(TObjectRef o) {
    ObjectRef = std::move(o);
    Retype(dtObject);
  }

  bool AsBoolean() const { return Number != 0; }
  // Truncated toward zero; saturates outside the 64-bit range.
  int64_t AsInteger() const;
  double AsFloat() const { return Number; }
  const std::string& AsString() const { return Text; }
  const TObjectRef& AsObject() const { return ObjectRef; }
  // Copies every slot and the type, not TypeFixed.
  void Assign(const TBaseEvalItem& other);

  uint8_t DataType = dtUnknown;
  bool TypeFixed = false;  // writes never change DataType (declared variables, search fields)
  std::string MoneyCode;   // currency of a Money value
  double Number = 0;       // every numeric type, Money's amount, Boolean as 0 or 1
  TObjectRef ObjectRef;    // the host object of an Object value
  std::string Text;        // the String value

 private:
  void Retype(uint8_t type) {
    if (!TypeFixed) DataType = type;
    Changed();
  }
};

THostValue ToHostValue(const TBaseEvalItem& item);
void FromHostValue(TBaseEvalItem& item, const THostValue& v);
// FromHostValue(item, ToHostValue(from)) without the intermediate copy; `from` may be consumed.
void AssignThroughHost(TBaseEvalItem& item, TBaseEvalItem&& from);
// The same, leaving `from` as it is.
void CopyThroughHost(TBaseEvalItem& item, const TBaseEvalItem& from);

// Truncates toward zero into 64 bits; false when the value is not finite or out of range (2^63 itself is
// out, -2^63 in; NaN fails both comparisons).
inline bool DoubleToInt64(double x, int64_t& out) {
  if (!(x < 9223372036854775808.0 && x > -9223372036854777856.0)) return false;
  out = static_cast<int64_t>(x);
  return true;
}

// Final, so that the setters' Changed call resolves at compile time.
class TStackItem final : public TBaseEvalItem {};

// The evaluator's operand stack. Popped items keep their buffers for reuse; the top is the last item.
class TValueStack {
 public:
  TValueStack() = default;
  // Copies only: a move would leave the source's capacity behind its emptied items.
  TValueStack(const TValueStack&) = default;
  TValueStack& operator=(const TValueStack&) = default;

  size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  void Clear() {
    for (size_t i = 0; i < count_; ++i) items_[i].ObjectRef.reset();
    count_ = 0;
  }
  // 0-based from the bottom.
  TStackItem& At(size_t i) { return items_[i]; }
  const TStackItem& At(size_t i) const { return items_[i]; }
  TStackItem& Top() { return items_[count_ - 1]; }
  // A fresh item on top, with type Unknown and no object. Always inline: every operand push is one.
  [[gnu::always_inline]] TStackItem& PushNew() {
    if (count_ == capacity_) Grow();
    return Renew(items_[count_++]);
  }
  // Pop then PushNew in one step, the top's buffers kept.
  TStackItem& ReplaceTop() { return Renew(items_[count_ - 1]); }
  void Push(const TBaseEvalItem& item);

  void PushBoolean(bool b) { PushNew().SetBoolean(b); }
  void PushInteger(int64_t i) { PushNew().SetInteger(i); }
  void PushFloat(double x) { PushNew().SetFloat(x); }
  void PushString(std::string&& s) { PushNew().SetString(std::move(s)); }
  // Copies into the slot's own buffer, which popped items keep for reuse.
  void PushString(const std::string& s) {
    TStackItem& it = PushNew();
    it.Text.assign(s);
    it.DataType = dtString;
  }
  void PushObject(TObjectRef o) { PushNew().SetObject(std::move(o)); }
  void PushHostValue(const THostValue& v) { FromHostValue(PushNew(), v); }

  // Read the top with the matching getter and remove it; never checks the type. On an empty stack they
  // return the empty value.
  bool PopBoolean() {
    bool r = count_ ? Top().AsBoolean() : false;
    Pop();
    return r;
  }
  int64_t PopInteger() {
    int64_t r = count_ ? Top().AsInteger() : 0;
    Pop();
    return r;
  }
  double PopFloat() {
    double r = count_ ? Top().AsFloat() : 0;
    Pop();
    return r;
  }
  std::string PopString();
  TObjectRef PopObject();
  THostValue PopHostValue();
  void Pop() {
    if (count_ == 0) return;
    items_[--count_].ObjectRef.reset();
  }

  // Type of the n-th item from the top (1 = top); Unknown when there are fewer.
  uint8_t PeekType(size_t n) const;
  void CopyFrom(const TValueStack& other);
  // -1: fewer than highIndex + 1 items; i + 1: the first incompatible item; 0: all compatible.
  int CheckSignature(const uint8_t* types, int highIndex, bool fromTop) const;
  int CheckSignature(std::initializer_list<uint8_t> types, bool fromTop) const {
    return CheckSignature(types.begin(), static_cast<int>(types.size()) - 1, fromTop);
  }

 private:
  void Grow();
  [[gnu::always_inline]] static TStackItem& Renew(TStackItem& it) {
    it.DataType = dtUnknown;
    it.TypeFixed = false;
    it.Number = 0;
    it.Text.clear();
    it.MoneyCode.clear();
    it.ObjectRef.reset();
    return it;
  }

  std::vector<TStackItem> items_;
  size_t count_ = 0;
  size_t capacity_ = 0;  // items_.size(), kept apart so that a push needs no division
};

bool TypesCompatible(uint8_t actual, uint8_t expected);

// A parsed variable reference: `Name(params).Member(memberParams)`.
struct TVariableRec {
  std::string Name;
  std::vector<std::string> Params;  // raw text of each argument
  int ParamCount = 0;
  std::string Member;
  std::vector<std::string> MemberParams;
  int MemberParamCount = 0;
};

// For messages: `Name(p1, p2).Member`, trimmed.
std::string VariableRecText(const TVariableRec& rec);

// Pending member references of the tokenizer; 32 deep, pushes beyond that are dropped.
class TVRecStack {
 public:
  static constexpr int kCapacity = 32;
  void Push(const TVariableRec& rec);
  // Leaves `out` unchanged when empty.
  bool Pop(TVariableRec& out);
  int Count() const { return count_; }
  void Clear() { count_ = 0; }

 private:
  TVariableRec items_[kCapacity];
  int count_ = 0;
};

// Names are compared without regard to ASCII case (SameText, CompareText of the text helpers).
inline std::string LowerAscii(std::string_view s) {
  return AsciiLowerCase(s);
}
inline std::string UpperAscii(std::string_view s) {
  return AsciiUpperCase(s);
}

}  // namespace vandrel
