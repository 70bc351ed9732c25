#include "script/EvalTypes.h"

#include <cmath>
#include <type_traits>

#include "script/Variables.h"

namespace vandrel {

namespace {
// Indexed by data type code; the order is the stored code order.
const char* const kTypeNames[] = {"Unknown",      "Float", "String", "Integer", "Boolean",
                                  "SmallInteger", "Byte",  "Money",  "Object",  "Variant"};
}  // namespace

std::string DataTypeName(int code) {
  return (code >= 0 && code <= 9) ? kTypeNames[code] : "Unknown";
}

bool IsNumericType(int code) {
  return code == dtFloat || code == dtInteger || code == dtBoolean || code == dtByte || code == dtMoney;
}

bool IsIntegralType(int code) {
  return code == dtInteger || code == dtBoolean || code == dtByte;
}

bool FitsType(int type, double number) {
  if (type == dtFloat || type == dtBoolean || type == dtMoney) return true;
  if (type == dtInteger) return std::isfinite(number) && std::trunc(number) == number;
  return false;
}

std::shared_ptr<TVariable> TScriptObject::MakeWrapper(const std::string&, TBaseCompiler*) {
  return nullptr;
}

std::shared_ptr<TVariable> TTransporter::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  if (WrapperClass) return WrapperClass(name, Target, compiler);
  return Target ? Target->MakeWrapper(name, compiler) : nullptr;
}

double THostValue::AsFloat() const {
  switch (V.index()) {
    case 1:
      return static_cast<double>(std::get<int64_t>(V));
    case 2:
      return std::get<double>(V);
    case 4:
      return std::get<bool>(V) ? 1 : 0;
    default:
      return 0;
  }
}

int64_t THostValue::AsInteger() const {
  if (IsInteger()) return std::get<int64_t>(V);
  int64_t r = 0;
  DoubleToInt64(AsFloat(), r);
  return r;
}

std::string THostValue::AsString() const {
  return IsString() ? std::get<std::string>(V) : std::string();
}

bool THostValue::AsBoolean() const {
  if (IsString()) return !std::get<std::string>(V).empty();
  if (IsObject()) return AsObject() != nullptr;
  return AsFloat() != 0;
}

int64_t TBaseEvalItem::AsInteger() const {
  int64_t r = 0;
  if (!DoubleToInt64(Number, r) && std::isfinite(Number)) r = Number < 0 ? INT64_MIN : INT64_MAX;
  return r;
}

void TBaseEvalItem::Assign(const TBaseEvalItem& other) {
  Number = other.Number;
  ObjectRef = other.ObjectRef;
  Text = other.Text;
  MoneyCode = other.MoneyCode;
  DataType = other.DataType;
}

THostValue ToHostValue(const TBaseEvalItem& item) {
  switch (item.DataType) {
    case dtFloat:
    case dtMoney:
      return THostValue(item.Number);
    case dtString:
      return THostValue(item.Text);
    case dtInteger:
      return THostValue(item.AsInteger());
    case dtBoolean:
      return THostValue(item.AsBoolean());
    case dtObject:
      return THostValue(item.ObjectRef);
    default:
      return THostValue();
  }
}

namespace {
void FromFloat(TBaseEvalItem& item, double x) {
  int64_t whole = 0;
  if (!IsNumericType(item.DataType) && std::trunc(x) == x && DoubleToInt64(x, whole))
    item.SetInteger(whole);
  else
    item.SetFloat(x);
}
}  // namespace

void FromHostValue(TBaseEvalItem& item, const THostValue& v) {
  switch (v.V.index()) {
    case 1:
      item.SetInteger(std::get<int64_t>(v.V));
      break;
    case 2:
      FromFloat(item, std::get<double>(v.V));
      break;
    case 3:
      item.SetString(std::get<std::string>(v.V));
      break;
    case 4:
      item.SetBoolean(std::get<bool>(v.V));
      break;
    case 5:
      item.SetObject(std::get<TObjectRef>(v.V));
      break;
    default:
      if (!item.TypeFixed) item.DataType = dtUnknown;
      break;
  }
}

namespace {
// `From` is TBaseEvalItem, whose text and object are taken, or const TBaseEvalItem, which is copied.
template <class From>
void ThroughHost(TBaseEvalItem& item, From& from) {
  constexpr bool kTake = !std::is_const_v<From>;
  switch (from.DataType) {
    case dtFloat:
    case dtMoney:
      FromFloat(item, from.Number);
      break;
    case dtString:
      if constexpr (kTake)
        item.SetString(std::move(from.Text));
      else
        item.AssignString(from.Text);
      break;
    case dtInteger:
      item.SetInteger(from.AsInteger());
      break;
    case dtBoolean:
      item.SetBoolean(from.AsBoolean());
      break;
    case dtObject:
      if constexpr (kTake)
        item.SetObject(std::move(from.ObjectRef));
      else
        item.SetObject(from.ObjectRef);
      break;
    default:
      if (!item.TypeFixed) item.DataType = dtUnknown;
      break;
  }
}
}  // namespace

void AssignThroughHost(TBaseEvalItem& item, TBaseEvalItem&& from) {
  ThroughHost(item, from);
}

void CopyThroughHost(TBaseEvalItem& item, const TBaseEvalItem& from) {
  ThroughHost(item, from);
}

void TValueStack::Grow() {
  items_.emplace_back();
  capacity_ = items_.size();
}

void TValueStack::Push(const TBaseEvalItem& item) {
  PushNew().Assign(item);
}

std::string TValueStack::PopString() {
  std::string r;
  if (count_) r = std::move(Top().Text);
  Pop();
  return r;
}

TObjectRef TValueStack::PopObject() {
  TObjectRef r;
  if (count_) r = std::move(Top().ObjectRef);
  Pop();
  return r;
}

THostValue TValueStack::PopHostValue() {
  THostValue r;
  if (count_) r = ToHostValue(Top());
  Pop();
  return r;
}

uint8_t TValueStack::PeekType(size_t n) const {
  if (n == 0 || n > count_) return dtUnknown;
  return items_[count_ - n].DataType;
}

void TValueStack::CopyFrom(const TValueStack& other) {
  Clear();
  for (size_t i = 0; i < other.count_; ++i) Push(other.items_[i]);
}

bool TypesCompatible(uint8_t a, uint8_t e) {
  if (a == e || a == dtVariant || e == dtVariant) return true;
  if (a == dtUnknown || e == dtUnknown || a == dtString || e == dtString) return false;
  return true;
}

int TValueStack::CheckSignature(const uint8_t* types, int highIndex, bool fromTop) const {
  if (count_ == 0 || static_cast<int64_t>(count_) <= highIndex) return -1;
  for (int i = 0; i <= highIndex; ++i) {
    const TStackItem& it = fromTop ? items_[count_ - 1 - i] : items_[i];
    if (!TypesCompatible(it.DataType, types[i])) return i + 1;
  }
  return 0;
}

std::string VariableRecText(const TVariableRec& rec) {
  std::string s = rec.Name;
  if (rec.ParamCount > 0) {
    s += "(";
    for (size_t i = 0; i < rec.Params.size(); ++i) {
      if (i) s += ", ";
      s += rec.Params[i];
    }
    s += ")";
  }
  if (!rec.Member.empty()) s += "." + rec.Member;
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

void TVRecStack::Push(const TVariableRec& rec) {
  if (count_ >= kCapacity) return;
  items_[count_++] = rec;
}

bool TVRecStack::Pop(TVariableRec& out) {
  if (count_ == 0) return false;
  out = items_[--count_];
  return true;
}

}  // namespace vandrel
