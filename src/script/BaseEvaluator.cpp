#include "script/BaseEvaluator.h"

#include <atomic>
#include <charconv>
#include <cmath>

#include "platform/Format.h"
#include "script/CollectionWrappers.h"
#include "script/Collections.h"
#include "script/ScriptChars.h"

namespace vandrel {

namespace {

using namespace script_chars;

// Splits a bracket group starting at `pos` (an opening bracket) into its comma-separated arguments.
// Returns the position after the closing bracket (or the end of the text).
size_t ReadGroup(std::string_view t, size_t pos, std::vector<std::string>& params) {
  params.clear();
  int depth = 0;
  size_t start = pos + 1;
  size_t i = pos;
  char quote = 0;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(' || c == '[') {
      ++depth;
    } else if (c == ')' || c == ']') {
      if (--depth == 0) {
        params.push_back(std::string(Trim(t.substr(start, i - start), kAsciiControlsAndSpace)));
        ++i;
        break;
      }
    } else if (c == ',' && depth == 1) {
      params.push_back(std::string(Trim(t.substr(start, i - start), kAsciiControlsAndSpace)));
      start = i + 1;
    }
  }
  if (depth > 0) params.push_back(std::string(Trim(t.substr(start), kAsciiControlsAndSpace)));
  // An empty group has no arguments: `x()` is not `x("")`.
  if (params.size() == 1 && params[0].empty()) params.clear();
  return i;
}

// Offset of a bracket group after optional blanks, or npos.
size_t GroupAfter(std::string_view t, size_t pos) {
  while (pos < t.size() && static_cast<unsigned char>(t[pos]) <= 32) ++pos;
  if (pos < t.size() && (t[pos] == '(' || t[pos] == '[')) return pos;
  return std::string_view::npos;
}

}  // namespace

size_t ReadVariableRec(std::string_view t, size_t pos, TVariableRec& rec, size_t* endOfReference) {
  rec = TVariableRec();
  size_t i = pos;
  while (i < t.size() && IsNameChar(t[i])) ++i;
  size_t nameEnd = i;
  rec.Name = std::string(t.substr(pos, i - pos));
  size_t after = nameEnd;
  if (size_t g = GroupAfter(t, nameEnd); g != std::string_view::npos) {
    after = ReadGroup(t, g, rec.Params);
    rec.ParamCount = static_cast<int>(rec.Params.size());
  }
  if (after + 1 < t.size() && t[after] == '.' && IsNameChar(t[after + 1])) {
    size_t m = after + 1;
    while (m < t.size() && (IsNameChar(t[m]) || t[m] == '.')) ++m;
    rec.Member = std::string(t.substr(after + 1, m - after - 1));
    after = m;
    if (size_t g = GroupAfter(t, m); g != std::string_view::npos) {
      after = ReadGroup(t, g, rec.MemberParams);
      rec.MemberParamCount = static_cast<int>(rec.MemberParams.size());
    }
  }
  if (endOfReference) *endOfReference = after;
  return nameEnd;
}

std::string FaultText(int code, const std::string& message) {
  switch (code) {
    case kErrDivisionByZero:
      return "Division by zero";
    case kErrInvalidFloatOperation:
      return "Invalid floating point operation";
    case kErrOverflow:
      return "Overflow";
    case kErrAccessViolation:
      return "Access violation";
    case kErrInvalidObjectOperation:
      return "Invalid object operation";
    case kErrIndexOutOfRange:
      return "Index out of range: " + message;
    case kErrConvert:
      return "Convert error: " + message;
    case kErrStream:
      return "Stream error: " + message;
    case kErrList:
      return "List error: " + message;
    default:
      return message;
  }
}

namespace {
// Stamps for function tables; never reused, so a slot can tell a table it was not tokenized with.
std::atomic<uint64_t> gTableStamp{0};
uint64_t NewTableStamp() {
  return gTableStamp.fetch_add(1) + 1;
}
}  // namespace

void TEvalItem::SetExpression(std::string_view text) {
  if (Tokenized && text == expression_) return;  // the same text tokenizes to the same tokens
  expression_ = std::string(text);
  Tokenized = false;
  postfixValid_ = false;
  resolvedList_ = nullptr;
}

// ---------------------------------------------------------------------------------------------------

TBaseEvaluator::TBaseEvaluator(TVariableList* variables)
    : variables_(variables), tableStamp_(NewTableStamp()) {
  if (!variables_) {
    ownedVariables_ = std::make_unique<TVariableList>();
    variables_ = ownedVariables_.get();
  }
  defaultSlot_ = std::make_shared<TEvalItem>();
  currentSlot_ = defaultSlot_;
  // The operator table; kinds decide whether a text is looked for after an operand or before one.
  operators_ = {
      {",", opSeparator, tkSeparator, okBinary, false},
      {"+", opPlus, tkBopl, okBinary, false},
      {"-", opMinus, tkBopl, okBinary, false},
      {"-", opUnaryMinus, tkUop, okUnary, false},
      {"*", opTimes, tkBoph, okBinary, false},
      {"/", opDivide, tkBoph, okBinary, false},
      {"^", opExponentiate, tkBoph, okBinary, false},
      {"(", opOpen, tkOpen, okBracket, false},
      {"[", opOpen, tkOpen, okBracket, false},
      {")", opClose, tkClose, okBracket, true},
      {"]", opClose, tkClose, okBracket, true},
      {">", opGreater, tkBoph, okBinary, false},
      {">=", opGreaterEqual, tkBoph, okBinary, false},
      {"<", opLower, tkBoph, okBinary, false},
      {"<=", opLowerEqual, tkBoph, okBinary, false},
      {"=", opEqual, tkBoph, okBinary, false},
      {"<>", opNotEqual, tkBoph, okBinary, false},
      {"and", opAnd, tkBoph, okBinary, false},
      {"or", opOr, tkBoph, okBinary, false},
      {"xor", opXor, tkBoph, okBinary, false},
      {"bit_and", opBitAnd, tkBoph, okBinary, false},
      {"bit_or", opBitOr, tkBoph, okBinary, false},
      {"bit_xor", opBitXor, tkBoph, okBinary, false},
      {"mod", opMod, tkBoph, okBinary, false},
      {"div", opDiv, tkBoph, okBinary, false},
  };

  auto truthArg = [](TBaseEvaluator& ev, bool& value) {
    if (ev.Stack.Empty()) {
      ev.SetError(kErrMissingParameter, "Missing parameter");
      return false;
    }
    const TStackItem& top = ev.Stack.Top();
    if (top.DataType == dtString) {
      value = !top.Text.empty();
    } else if (top.DataType == dtUnknown) {
      ev.SetError(kErrIncompatibleTypes, Format("Incompatible data type: '%s'", {"Unknown"}));
      return false;
    } else {
      value = top.AsBoolean();
    }
    ev.Stack.Pop();
    return true;
  };
  AddFunction("not", {dtBoolean}, [truthArg](TBaseEvaluator& ev) {
    bool v = false;
    if (truthArg(ev, v)) ev.Stack.PushBoolean(!v);
  });
  AddFunction("boolean", {dtString}, [truthArg](TBaseEvaluator& ev) {
    bool v = false;
    if (truthArg(ev, v)) ev.Stack.PushBoolean(v);
  });
  AddFunction("bit_not", {dtInteger}, [](TBaseEvaluator& ev) {
    if (!ev.CheckArgs({dtInteger})) return;
    double x = ev.Stack.PopFloat();
    int64_t i = 0;
    if (!DoubleToInt64(x, i)) throw EScriptFault(kErrOverflow, "");
    ev.Stack.PushInteger(~i);
  });
  AddFunction("string", {dtFloat}, [](TBaseEvaluator& ev) {
    if (ev.Stack.Empty()) return ev.SetError(kErrMissingParameter, "Missing parameter");
    TStackItem& top = ev.Stack.Top();
    if (IsNumericType(top.DataType)) {
      top.SetString(FormatGeneral(top.Number));
    } else if (top.DataType != dtString) {
      ev.SetTypeError(top.DataType, dtFloat);
    }
  });
  auto toFloat = [](TBaseEvaluator& ev) {
    if (ev.Stack.Empty()) return ev.SetError(kErrMissingParameter, "Missing parameter");
    TStackItem& top = ev.Stack.Top();
    if (IsNumericType(top.DataType))
      return ev.SetError(kErrIncompatibleTypes, Format("Incompatible data type: '%s'", {"Unknown"}));
    std::string t = std::string(Trim(top.Text, kAsciiControlsAndSpace));
    double v = 0;
    auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size())
      throw EScriptFault(kErrConvert, "'" + top.Text + "' is not a valid floating point value");
    top.SetFloat(v);
  };
  AddFunction("float", {dtString}, toFloat);
  AddFunction("numeric", {dtString}, toFloat);
  auto newCollection = [](TBaseEvaluator& ev) {
    auto collection = std::make_shared<TZnCollection>();
    ev.Variables()->RegisterScriptObject(collection);
    ev.Stack.PushObject(Carry(std::move(collection), &TZnCollectionWrapper::Make));
  };
  AddFunction("CreateCollection", {}, newCollection);
  AddFunction("CreateArray", {}, newCollection);
  AddFunction("CreateStringList", {}, [](TBaseEvaluator& ev) {
    ev.Stack.PushObject(Carry(std::make_shared<TZnStringList>(), &TZnStringListWrapper::Make));
  });
}

TBaseEvaluator::~TBaseEvaluator() = default;

void TBaseEvaluator::SetVariables(TVariableList* list) {
  if (!list) return;
  variables_ = list;
  ownedVariables_.reset();
}

TFunctionItem& TBaseEvaluator::AddFunction(const std::string& name, std::vector<uint8_t> paramTypes,
                                           TFunctionProc proc) {
  auto item = std::make_unique<TFunctionItem>();
  item->Name = name;
  item->ParamTypes = std::move(paramTypes);
  item->Proc = std::move(proc);
  TFunctionItem& added = *item;
  // A replaced entry is freed and a new name may shadow a variable: tokens made before are stale.
  functions_[LowerAscii(name)] = std::move(item);
  tableStamp_ = NewTableStamp();
  return added;
}

TEvalSlot TBaseEvaluator::CopySlot(const TEvalItem& source) const {
  auto slot = std::make_shared<TEvalItem>();
  slot->expression_ = source.expression_;
  if (!source.Tokenized) return slot;
  slot->Tokens = source.Tokens;
  slot->varTokens_ = source.varTokens_;
  bool bound = true;
  for (TToken& t : slot->Tokens) {
    t.Var.reset();
    t.ParsedFlags = 0;
    if (t.Kind == tkFunction) {
      t.Func = FindFunction(t.LowerName);
      bound = bound && t.Func;
    }
  }
  // A function this evaluator lacks: tokenizing again reports the name as it would for any text.
  slot->Tokenized = bound;
  slot->tableStamp_ = tableStamp_;
  return slot;
}

void TBaseEvaluator::CopyFrom(const TBaseEvaluator& other) {
  if (&other == this) return;
  Assign(other);
  ErrorCode = other.ErrorCode;
  ErrorText = other.ErrorText;
  Stack.CopyFrom(other.Stack);
  defaultSlot_ = CopySlot(*other.defaultSlot_);
  currentSlot_ = other.currentSlot_ == other.defaultSlot_ ? defaultSlot_ : CopySlot(*other.currentSlot_);
}

const TFunctionItem* TBaseEvaluator::FindFunction(std::string_view name) const {
  auto it = functions_.find(LowerAscii(name));
  return it == functions_.end() ? nullptr : it->second.get();
}

const TOperatorDecl* TBaseEvaluator::FindOperator(std::string_view name, bool binary) const {
  for (const TOperatorDecl& d : operators_) {
    if (d.Kind == okBracket || (d.Kind == okBinary) == binary) {
      if (d.Name.size() == name.size() && SameText(d.Name, name)) return &d;
    }
  }
  return nullptr;
}

void TBaseEvaluator::SetError(int code, const std::string& text) {
  if (ErrorCode != 0) return;
  ErrorCode = code;
  ErrorText = text;
}

void TBaseEvaluator::SetTypeError(uint8_t actual, uint8_t expected) {
  SetError(kErrIncompatibleTypes,
           Format("Incompatible data types: '%s' and '%s'", {DataTypeName(actual), DataTypeName(expected)}));
}

namespace {
// TValueStack::CheckSignature from the top, inlined: operators and functions check their operands at
// every run.
inline bool Compatible(uint8_t actual, uint8_t expected) {
  if (actual == expected || actual == dtVariant || expected == dtVariant) return true;
  return !(actual == dtUnknown || expected == dtUnknown || actual == dtString || expected == dtString);
}

inline int CheckFromTop(const TValueStack& stack, const uint8_t* types, int highIndex) {
  const size_t count = stack.Count();
  if (count == 0 || static_cast<int64_t>(count) <= highIndex) return -1;
  for (int i = 0; i <= highIndex; ++i)
    if (!Compatible(stack.At(count - 1 - static_cast<size_t>(i)).DataType, types[i])) return i + 1;
  return 0;
}
}  // namespace

// Inline: the operators check their operands at every run.
inline bool TBaseEvaluator::CheckTop(std::initializer_list<uint8_t> topFirst) {
  int r = CheckFromTop(Stack, topFirst.begin(), static_cast<int>(topFirst.size()) - 1);
  if (r == 0) return true;
  ReportMismatch(r, topFirst.begin());
  return false;
}

void TBaseEvaluator::ReportMismatch(int check, const uint8_t* topFirst) {
  if (check < 0)
    SetError(kErrMissingParameter, "Missing parameter");
  else
    SetTypeError(Stack.PeekType(static_cast<size_t>(check)), topFirst[check - 1]);
}

bool TBaseEvaluator::CheckArgs(std::initializer_list<uint8_t> argTypes) {
  uint8_t rev[16];
  int n = static_cast<int>(argTypes.size());
  if (n == 0) return true;
  for (int i = 0; i < n && i < 16; ++i) rev[i] = argTypes.begin()[n - 1 - i];
  int r = Stack.CheckSignature(rev, n - 1, true);
  if (r == 0) return true;
  if (r < 0)
    SetError(kErrMissingParameter, "Missing parameter");
  else
    SetTypeError(Stack.PeekType(static_cast<size_t>(r)), rev[r - 1]);
  return false;
}

void TBaseEvaluator::SetExpression(std::string_view text) {
  currentSlot_->SetExpression(text);
}

bool TBaseEvaluator::Evaluate(std::string_view text) {
  currentSlot_->SetExpression(text);
  return Evaluate();
}

// ---------------------------------------------------------------------------------------------------
// Tokenizer

void TBaseEvaluator::Tokenize(TEvalItem& slot) {
  slot.Tokens.clear();
  slot.postfixValid_ = false;
  std::string src = std::string(Trim(slot.expression_, kAsciiControlsAndSpace));
  if (src.empty()) return;
  bool afterOperand = false;
  int pending = 0;
  vrecs_.Clear();
  size_t i = 0;
  const size_t n = src.size();
  while (i < n && ErrorCode == 0) {
    char c = src[i];
    if (c == ' ') {
      ++i;
      continue;
    }
    if (c == '.' && pending > 0) {
      TVariableRec rec;
      vrecs_.Pop(rec);
      TToken t;
      t.Kind = tkMember;
      t.Text = rec.Member;
      t.LowerName = LowerAscii(rec.Member);
      t.MemberParamCount = rec.MemberParamCount;
      slot.Tokens.push_back(std::move(t));
      i += 1 + rec.Member.size();
      --pending;
      continue;
    }
    if (IsOperatorChar(c)) {
      const TOperatorDecl* best = nullptr;
      size_t len = 1;
      const TOperatorDecl* d = FindOperator(std::string_view(src).substr(i, len), afterOperand);
      while (d) {
        best = d;
        if (i + len >= n || !IsOperatorChar(src[i + len])) break;
        ++len;
        d = FindOperator(std::string_view(src).substr(i, len), afterOperand);
      }
      if (best) {
        TToken t;
        t.Kind = best->TokenClass;
        t.Op = best->Op;
        slot.Tokens.push_back(std::move(t));
        afterOperand = best->OperandAfter;
        i += best->Name.size();
      } else {
        ++i;  // an operator where none fits is skipped: `+5` is 5
      }
      continue;
    }
    if (c == '.' || IsDigit(c)) {
      size_t j = i;
      while (j < n && (IsDigit(src[j]) || src[j] == '.')) ++j;
      // A text with several dots reads as far as it is a number ("1.2.3" is 1.2).
      std::string_view num(src.data() + i, j - i);
      double v = 0;
      if (num[0] == '.') {
        std::string withZero(1, '0');
        withZero.append(num);
        std::from_chars(withZero.data(), withZero.data() + withZero.size(), v);
      } else {
        std::from_chars(num.data(), num.data() + num.size(), v);
      }
      TToken t;
      t.Kind = tkNumber;
      t.Value = v;
      t.Text = std::string(num);
      slot.Tokens.push_back(std::move(t));
      afterOperand = true;
      i = j;
      continue;
    }
    if (IsLetter(c)) {
      TToken t;
      size_t nameEnd = ReadVariableRec(src, i, t.Ref);
      const std::string& name = t.Ref.Name;
      if (const TOperatorDecl* op = FindOperator(name, afterOperand); op && op->Kind != okBracket) {
        t.Kind = op->TokenClass;
        t.Op = op->Op;
        afterOperand = op->OperandAfter;
        t.Ref = TVariableRec();
        slot.Tokens.push_back(std::move(t));
      } else if (const TFunctionItem* f = FindFunction(name)) {
        t.Kind = tkFunction;
        t.Func = f;
        t.LowerName = LowerAscii(name);
        t.Ref = TVariableRec();
        afterOperand = true;
        slot.Tokens.push_back(std::move(t));
      } else {
        t.LowerName = LowerAscii(name);
        TVariable* v = variables_->FindLower(t.LowerName);
        if (!v) {
          SetError(kErrUnknownIdentifier, "Unknown identifier: " + VariableRecText(t.Ref));
          break;
        }
        if (!t.Ref.Member.empty()) {
          vrecs_.Push(t.Ref);
          ++pending;
        }
        t.Kind = tkVariable;
        afterOperand = true;
        slot.Tokens.push_back(std::move(t));
      }
      i = nameEnd;
      continue;
    }
    if (c == '"' || c == '\'') {
      size_t close = src.find(c, i + 1);
      if (close == std::string::npos) {
        SetError(kErrUnterminatedString, "Unterminated string");
        break;
      }
      TToken t;
      t.Kind = tkQuote;
      t.Text = src.substr(i + 1, close - i - 1);
      slot.Tokens.push_back(std::move(t));
      afterOperand = true;
      i = close + 1;
      continue;
    }
    ++i;  // tabs, "!", "#", ";" and the like are not part of the language
  }
  if (ErrorCode == 0) slot.Tokens.push_back(TToken());  // the end token
  slot.varTokens_.clear();
  for (size_t k = 0; k < slot.Tokens.size(); ++k)
    if (slot.Tokens[k].Kind == tkVariable) slot.varTokens_.push_back(static_cast<uint32_t>(k));
}

// ---------------------------------------------------------------------------------------------------
// Parser

namespace {
uint8_t ParseFlags(const TVariable* v) {
  return static_cast<uint8_t>((v->TakesArguments ? 1 : 0) | (v->HasMembers ? 2 : 0));
}
}  // namespace

bool TBaseEvaluator::ResolveVariables(TEvalItem& slot, bool& changed) {
  changed = false;
  for (TToken& t : slot.Tokens) {
    if (t.Kind != tkVariable) continue;
    TVariable* v = variables_->FindLower(t.LowerName);
    if (!v) {
      SetError(kErrUnknownIdentifier, "Unknown identifier: " + VariableRecText(t.Ref));
      return false;
    }
    if (t.Var.get() != v) {
      t.Var = v->shared_from_this();
      changed = true;
    }
    if (t.ParsedFlags != ParseFlags(v)) changed = true;
  }
  return true;
}

int TBaseEvaluator::ParseNext(TEvalItem& slot, int context) {
  ++slot.Cursor;
  if (slot.Cursor >= static_cast<int>(slot.Tokens.size())) return ctxFail;
  return ParseToken(slot, context);
}

int TBaseEvaluator::ParseLoop(TEvalItem& slot) {
  int ctx = ctxStart;
  do {
    ctx = ParseNext(slot, ctx);
  } while (ErrorCode == 0 && ctx != ctxEnd && ctx != ctxClose && ctx != ctxFail);
  return ctx;
}

int TBaseEvaluator::ParseToken(TEvalItem& slot, int k) {
  // Brackets and operator chains recurse; a hostile text must not exhaust the native stack.
  if (++depth_ > kMaxParseDepth) {
    --depth_;
    SetError(kErrOverflow, "Overflow");
    return ctxFail;
  }
  struct DepthGuard {
    int& d;
    ~DepthGuard() { --d; }
  } guard{depth_};

  const int self = slot.Cursor;
  TToken& t = slot.Tokens[self];
  auto emitSelf = [&]() { slot.postfix_.push_back(static_cast<uint32_t>(self)); };
  auto operandOr = [&](int kk) { return kk == ctxAdditiveRight ? ctxAdditiveRight : ctxOperand; };
  switch (t.Kind) {
    case tkNull:
      return ctxEnd;
    case tkNumber:
    case tkQuote:
      emitSelf();
      return operandOr(k);
    case tkFunction:
    case tkMember: {
      bool hasParams = t.Kind == tkFunction ? !t.Func->ParamTypes.empty() : t.MemberParamCount > 0;
      if (!hasParams) {
        emitSelf();
        return ctxOperand;
      }
      if (ParseNext(slot, ctxStart) == ctxFail) return ctxFail;
      emitSelf();
      return operandOr(k);
    }
    case tkVariable: {
      TVariable* v = t.Var.get();
      t.ParsedFlags = ParseFlags(v);
      if (v->TakesArguments && t.Ref.ParamCount > 0) {
        if (ParseNext(slot, ctxStart) == ctxFail) return ctxFail;
      }
      t.InlineMember = false;
      if (v->HasMembers && !t.Ref.Member.empty()) {
        // A member without arguments would only push its name; the access takes it from the member
        // token instead. Not at the last allowed depth, where parsing the member reports the overflow.
        const size_t next = static_cast<size_t>(slot.Cursor) + 1;
        if (next < slot.Tokens.size() && slot.Tokens[next].Kind == tkMember &&
            slot.Tokens[next].MemberParamCount == 0 && depth_ < kMaxParseDepth) {
          ++slot.Cursor;
          t.InlineMember = true;
          t.Text = slot.Tokens[next].LowerName;
        } else if (ParseNext(slot, ctxStart) == ctxFail) {
          return ctxFail;
        }
      }
      emitSelf();
      return operandOr(k);
    }
    case tkBoph: {
      int r = ParseNext(slot, k);
      if (r != ctxFail) emitSelf();
      return (k == ctxAdditiveRight && r != ctxFail) ? ctxAdditiveRight : r;
    }
    case tkUop: {
      int r = ParseNext(slot, k);
      if (r != ctxFail) emitSelf();
      return r;
    }
    case tkBopl: {
      if (k == ctxOperand) {
        int r;
        do {
          r = ParseNext(slot, ctxAdditiveRight);
        } while (r == ctxAdditiveRight && ErrorCode == 0);
        emitSelf();
        return r;
      }
      if (k == ctxAdditiveRight) {
        --slot.Cursor;
        return ctxOperand;
      }
      SetError(kErrSyntax, "Syntax error");
      return ctxFail;
    }
    case tkOpen:
      ParseLoop(slot);
      return operandOr(k);
    case tkClose:
      if (k == ctxStart || k == ctxOperand || k == ctxAdditiveRight) return ctxClose;
      SetError(kErrParenthesisNotClosed, "Parenthesis not closed");
      return ctxClose;
    case tkSeparator:
      if (k == ctxAdditiveRight) {
        --slot.Cursor;
        return ctxOperand;
      }
      return k;
  }
  return ctxFail;
}

// ---------------------------------------------------------------------------------------------------
// Running

bool TBaseEvaluator::Evaluate() {
  return Run(*currentSlot_);
}

bool TBaseEvaluator::EvaluateIn(TEvalItem& slot, std::string_view text) {
  slot.SetExpression(text);
  return Run(slot);
}

// A variable's own value by its type; a Money value goes as a Float, and types without a value push
// nothing.
inline void TBaseEvaluator::PushOwnValue(const TVariable& v) {
  switch (v.DataType) {
    case dtBoolean:
      Stack.PushBoolean(v.AsBoolean());
      break;
    case dtInteger:
    case dtByte:
      Stack.PushInteger(v.AsInteger());
      break;
    case dtFloat:
    case dtMoney:
      Stack.PushFloat(v.Number);
      break;
    case dtString:
      Stack.PushString(v.Text);
      break;
    case dtObject:
      Stack.PushObject(v.ObjectRef);
      break;
    default:
      break;
  }
}

inline void TBaseEvaluator::RunVariable(TToken& t) {
  TVariable* v = t.Var.get();
  // A plain value, the common case, goes without host values. Wrappers always have one of the flags or
  // answer AsWrapper.
  if (!v->HasMembers && !v->TakesArguments && !v->DefaultAccess && !v->AsWrapper()) {
    PushOwnValue(*v);
    return;
  }
  RunObjectAccess(t);
}

void TBaseEvaluator::PushMember(const TToken& t) {
  if (t.MemberParamCount > 0) {
    std::string s = "!";
    s += static_cast<char>(t.MemberParamCount & 0xFF);
    Stack.PushString(s + t.Text);
  } else {
    Stack.PushString(t.Text);
  }
}

void TBaseEvaluator::RunFunction(const TFunctionItem& f) {
  if (!f.CheckTypes.empty()) {
    int r = CheckFromTop(Stack, f.CheckTypes.data(), static_cast<int>(f.CheckTypes.size()) - 1);
    if (r < 0) return SetError(kErrMissingParameter, "Missing parameter");
    if (r > 0)
      return SetTypeError(Stack.PeekType(static_cast<size_t>(r)), f.CheckTypes[static_cast<size_t>(r - 1)]);
  }
  f.Proc(*this);
}

// Inline into the run loop: literals and plain variables are most of what a postfix holds.
inline void TBaseEvaluator::RunToken(TToken& t) {
  switch (t.Kind) {
    case tkNumber:
      Stack.PushFloat(t.Value);
      break;
    case tkQuote:
      Stack.PushString(t.Text);
      break;
    case tkMember:
      PushMember(t);
      break;
    case tkFunction:
      RunFunction(*t.Func);
      break;
    case tkVariable:
      RunVariable(t);
      break;
    case tkBoph:
    case tkBopl:
    case tkUop:
      RunOperator(t.Op);
      break;
    default:
      break;
  }
}

bool TBaseEvaluator::Run(TEvalItem& slot) {
  Stack.Clear();
  slot.Cursor = -1;
  ClearError();
  Phase = 0;
  try {
    if (!slot.Tokenized || slot.tableStamp_ != tableStamp_) {
      Phase = 1;
      Tokenize(slot);
      slot.tableStamp_ = tableStamp_;
      slot.resolvedList_ = nullptr;
      if (ErrorCode == 0) slot.Tokenized = true;
    }
    bool changed = false;
    if (ErrorCode == 0) {
      uint64_t version = variables_->ChainVersion();
      bool cached =
          slot.postfixValid_ && slot.resolvedList_ == variables_ && slot.resolvedVersion_ == version;
      // Nothing was added or removed since the last run: the same names resolve to the same variables,
      // unless a token was never bound (its earlier run stopped on an error), which needs a fresh look-up.
      for (size_t k = 0; cached && k < slot.varTokens_.size(); ++k) {
        const TToken& token = slot.Tokens[slot.varTokens_[k]];
        if (!token.Var)
          cached = false;
        else if (token.ParsedFlags != ParseFlags(token.Var.get()))
          changed = true;
      }
      if (!cached && ResolveVariables(slot, changed)) {
        slot.resolvedList_ = variables_;
        slot.resolvedVersion_ = version;
      }
    }
    Phase = 2;
    if (ErrorCode == 0 && (changed || !slot.postfixValid_)) {
      slot.postfix_.clear();
      slot.postfixValid_ = false;
      depth_ = 0;
      if (!slot.Tokens.empty()) ParseLoop(slot);
      // A postfix built without error is the same for the same variables: keep it.
      if (ErrorCode == 0) slot.postfixValid_ = true;
    }
    Phase = 3;
    if (ErrorCode == 0) {
      for (uint32_t idx : slot.postfix_) {
        RunToken(slot.Tokens[idx]);
        if (ErrorCode != 0) break;
      }
    }
  } catch (const EScriptFault& f) {
    SetError(f.Code, FaultText(f.Code, f.what()));
  } catch (const std::out_of_range& e) {
    SetError(kErrIndexOutOfRange, FaultText(kErrIndexOutOfRange, e.what()));
  } catch (const std::length_error& e) {
    SetError(kErrList, FaultText(kErrList, e.what()));
  }
  TakeResult();
  Phase = 0;
  return ErrorCode == 0;
}

void TBaseEvaluator::TakeResult() {
  if (!Stack.Empty() && ErrorCode == 0) {
    const TStackItem& b = Stack.At(0);
    Number = b.Number;
    // Most results are numbers with no text: clearing costs no copy call.
    if (b.Text.empty())
      Text.clear();
    else
      Text = b.Text;
    ObjectRef = b.ObjectRef;
    DataType = b.DataType;
  } else {
    DataType = dtUnknown;
    ObjectRef.reset();
  }
}

bool TBaseEvaluator::EvaluateAs(std::string_view text, uint8_t type) {
  currentSlot_->SetExpression(text);
  return EvaluateAs(type);
}

bool TBaseEvaluator::EvaluateAs(uint8_t type) {
  if (!Evaluate()) return false;
  if (Stack.Count() != 1) {
    SetError(kErrMissingOperator, "Missing operator");
    return false;
  }
  if (DataType != type && (DataType == dtString || !FitsType(type, Number))) {
    SetTypeError(DataType, type);
    return false;
  }
  return true;
}

bool TBaseEvaluator::EvaluateList(std::string_view text, const std::vector<uint8_t>& types) {
  return Evaluate(text) && CheckList(types);
}

bool TBaseEvaluator::CheckList(const std::vector<uint8_t>& types) {
  if (types.empty()) return true;
  int r = Stack.CheckSignature(types.data(), static_cast<int>(types.size()) - 1, false);
  if (r < 0) {
    SetTypeError(dtUnknown, dtUnknown);
    return false;
  }
  if (r > 0) {
    SetTypeError(Stack.At(static_cast<size_t>(r - 1)).DataType, types[r - 1]);
    return false;
  }
  return true;
}

namespace {
// Floating results that the original arithmetic reported as faults.
// Out of line and cold, so that the checks around it inline into the operators.
[[noreturn, gnu::cold, gnu::noinline]] void Fault(int code) {
  throw EScriptFault(code, "");
}

inline double CheckedFloat(double r) {
  if (std::isnan(r)) Fault(kErrInvalidFloatOperation);
  if (std::isinf(r)) Fault(kErrOverflow);
  return r;
}

inline int64_t CheckedInt(double x) {
  int64_t i = 0;
  if (!DoubleToInt64(x, i)) Fault(kErrOverflow);
  return i;
}

// IsNumericType, inlined for the operators' hot path.
inline bool Numeric(uint8_t code) {
  return code == dtFloat || code == dtInteger || code == dtBoolean || code == dtByte || code == dtMoney;
}

bool TruthOf(const TStackItem& it) {
  return it.DataType == dtString ? !it.Text.empty() : it.AsBoolean();
}
}  // namespace

void TBaseEvaluator::RunOperator(TOperatorId op) {
  switch (op) {
    case opPlus: {
      if (Stack.Count() < 2) return SetError(kErrMissingParameter, "Missing parameter");
      TStackItem& r = Stack.Top();
      TStackItem& l = Stack.At(Stack.Count() - 2);
      if (Numeric(l.DataType) && Numeric(r.DataType)) {
        double v = CheckedFloat(l.Number + r.Number);
        Stack.Pop();
        Stack.Top().SetFloat(v);
      } else if (l.DataType == dtString && r.DataType == dtString) {
        l.Text += r.Text;
        Stack.Pop();
      } else {
        SetTypeError(r.DataType, l.DataType);
      }
      return;
    }
    case opMinus:
    case opTimes:
    case opDivide:
    case opExponentiate:
    case opGreater:
    case opGreaterEqual:
    case opLower:
    case opLowerEqual: {
      if (!CheckTop({dtFloat, dtFloat})) return;
      double r = Stack.PopFloat();
      TStackItem& lt = Stack.Top();
      double l = lt.Number;
      switch (op) {
        case opMinus:
          lt.SetFloat(CheckedFloat(l - r));
          break;
        case opTimes:
          lt.SetFloat(CheckedFloat(l * r));
          break;
        case opDivide:
          if (r == 0) return SetError(kErrDivisionByZero, "Division by zero");
          lt.SetFloat(CheckedFloat(l / r));
          break;
        case opExponentiate:
          lt.SetFloat(CheckedFloat(std::pow(l, r)));
          break;
        case opGreater:
          lt.SetBoolean(l > r);
          break;
        case opGreaterEqual:
          lt.SetBoolean(l >= r);
          break;
        case opLower:
          lt.SetBoolean(l < r);
          break;
        default:
          lt.SetBoolean(l <= r);
          break;
      }
      return;
    }
    case opEqual:
    case opNotEqual: {
      if (Stack.Count() < 2) return SetError(kErrMissingParameter, "Missing parameter");
      TStackItem& r = Stack.Top();
      TStackItem& l = Stack.At(Stack.Count() - 2);
      bool eq;
      if (Numeric(l.DataType) && Numeric(r.DataType)) {
        eq = l.Number == r.Number;
      } else if (l.DataType == dtString && r.DataType == dtString) {
        eq = l.Text == r.Text;
      } else if (op == opEqual && l.DataType == dtObject && r.DataType == dtObject) {
        const TScriptObject* a = l.ObjectRef ? l.ObjectRef->Identity() : nullptr;
        const TScriptObject* b = r.ObjectRef ? r.ObjectRef->Identity() : nullptr;
        eq = a == b;
      } else {
        return SetTypeError(l.DataType, r.DataType);
      }
      Stack.Pop();
      Stack.Top().ObjectRef.reset();
      Stack.Top().SetBoolean(op == opEqual ? eq : !eq);
      return;
    }
    case opAnd:
    case opOr:
    case opXor: {
      if (Stack.Count() < 2) return SetError(kErrMissingParameter, "Missing parameter");
      TStackItem& r = Stack.Top();
      TStackItem& l = Stack.At(Stack.Count() - 2);
      if (l.DataType == dtUnknown || r.DataType == dtUnknown)
        return SetError(kErrIncompatibleTypes, Format("Incompatible data type: '%s'", {"Unknown"}));
      bool a = TruthOf(l), b = TruthOf(r);
      bool v = op == opAnd ? (a && b) : op == opOr ? (a || b) : (a != b);
      Stack.Pop();
      Stack.Top().ObjectRef.reset();
      Stack.Top().SetBoolean(v);
      return;
    }
    case opBitAnd:
    case opBitOr:
    case opBitXor:
    case opMod:
    case opDiv: {
      if (!CheckTop({dtInteger, dtInteger})) return;
      int64_t r = CheckedInt(Stack.PopFloat());
      TStackItem& lt = Stack.Top();
      int64_t l = CheckedInt(lt.Number);
      int64_t v;
      switch (op) {
        case opBitAnd:
          v = l & r;
          break;
        case opBitOr:
          v = l | r;
          break;
        case opBitXor:
          v = l ^ r;
          break;
        default:
          if (r == 0) throw EScriptFault(kErrDivisionByZero, "");
          if (r == -1 && l == INT64_MIN) throw EScriptFault(kErrOverflow, "");
          v = op == opMod ? l % r : l / r;
          break;
      }
      lt.SetInteger(v);
      return;
    }
    case opUnaryMinus: {
      if (!CheckTop({dtFloat})) return;
      TStackItem& t = Stack.Top();
      t.SetFloat(-t.Number);
      return;
    }
    default:
      return;
  }
}

void TBaseEvaluator::RunObjectAccess(TToken& t) {
  TVariable* v = t.Var.get();
  TBaseObjectWrapper* w = v->AsWrapper();
  TVariablePtr keep = t.Var;  // the access may replace the variable in its list
  if (w) w->Arguments().Clear();
  v->ClearError();
  std::string popped;
  const std::string* memberName = &popped;
  if (v->HasMembers && !t.Ref.Member.empty()) {
    if (t.InlineMember) {
      memberName = &t.Text;
    } else {
      popped = Stack.PopString();
      for (char& c : popped) c = AsciiLower(c);
      if (popped.size() > 2 && popped[0] == '!') {
        int count = static_cast<unsigned char>(popped[1]);
        popped.erase(0, 2);
        for (int i = 0; i < count; ++i) {
          THostValue a = Stack.PopHostValue();
          if (w) w->Arguments().PushHostValue(a);
        }
      }
    }
  }
  const std::string& member = *memberName;
  bool hasArgs = t.Ref.ParamCount > 0;
  THostValue fetched;
  bool caseA = !v->TakesArguments || (!hasArgs && (!t.Ref.Member.empty() || !v->DefaultAccess));
  if (caseA) {
    if (!member.empty() || v->DefaultAccess) {
      fetched = v->GetProperty(member);
    } else if (w) {
      w->GetObject();
    }
  } else {
    if (hasArgs && !member.empty() && !Stack.Empty()) {
      // The key on top becomes the value read, as popping it and pushing the value would.
      if (const TBaseEvalItem* item = v->IndexedItem(Stack.Top(), member)) {
        CopyThroughHost(Stack.ReplaceTop(), *item);
        if (v->ErrorCode != 0) SetError(v->ErrorCode, v->ErrorText);
        return;
      }
    }
    THostValue key;
    if (hasArgs) key = Stack.PopHostValue();
    fetched = v->GetIndexed(key, member);
  }
  bool pushed = false;
  if (fetched.IsEmpty()) {
    if (v->HasObject && v->ObjectValue) {
      Stack.PushObject(v->ObjectValue);
      pushed = true;
    }
  } else {
    Stack.PushHostValue(fetched);
    pushed = true;
  }
  if (!pushed) PushOwnValue(*v);
  if (v->ErrorCode != 0) SetError(v->ErrorCode, v->ErrorText);
}

}  // namespace vandrel
