// Turns an expression text into a value: tokenizer, two-level postfix builder and stack machine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "script/EvalTypes.h"
#include "script/Variables.h"

namespace vandrel {

class TBaseEvaluator;

// A fault raised inside a function, a wrapper or an operator. The evaluator turns it into its error:
// 104 "Division by zero", 121 "Invalid floating point operation", 122 "Overflow", 123 "Access
// violation", 125 "Invalid object operation", and, followed by Message, 124 "Index out of range: ",
// 126 "Convert error: ", 127 "Stream error: ", 128 "List error: ".
class EScriptFault : public std::runtime_error {
 public:
  EScriptFault(int code, const std::string& message) : std::runtime_error(message), Code(code) {}
  int Code;
};
// The error text of a fault as the evaluator reports it.
std::string FaultText(int code, const std::string& message);

// Token kinds: number and string literals, brackets, the comma, the two binary precedence levels (Boph
// binds tighter than Bopl), unary minus, functions, variable references and members.
enum TTokenKind : uint8_t {
  tkNull,
  tkNumber,
  tkQuote,
  tkOpen,
  tkClose,
  tkSeparator,
  tkBoph,
  tkBopl,
  tkUop,
  tkFunction,
  tkVariable,
  tkMember,
};

enum TOperatorId : uint8_t {
  opNone,
  opSeparator,
  opPlus,
  opMinus,
  opUnaryMinus,
  opTimes,
  opDivide,
  opExponentiate,
  opOpen,
  opClose,
  opGreater,
  opGreaterEqual,
  opLower,
  opLowerEqual,
  opEqual,
  opNotEqual,
  opAnd,
  opOr,
  opXor,
  opBitAnd,
  opBitOr,
  opBitXor,
  opMod,
  opDiv,
};

enum TOperatorKind : uint8_t { okBracket = 0, okBinary = 1, okUnary = 2 };

struct TOperatorDecl {
  std::string Name;
  TOperatorId Op;
  TTokenKind TokenClass;
  TOperatorKind Kind;
  bool OperandAfter;  // the token counts as an operand for what follows: only ")" and "]"
};

// A function runs with the evaluator: it sees the whole stack, checks its arguments (CheckArgs), pops
// them (last argument first) and pushes one result, or sets an error and pushes nothing.
using TFunctionProc = std::function<void(TBaseEvaluator& ev)>;

struct TFunctionItem {
  std::string Name;
  // Only whether the list is empty matters to the parser: a function with parameters takes the next
  // operand (normally its bracket group) as its arguments.
  std::vector<uint8_t> ParamTypes;
  // Run-time argument types, last argument first, checked from the top of the stack before Proc runs
  // (113 or 106 on a mismatch); empty when Proc checks its arguments itself.
  std::vector<uint8_t> CheckTypes;
  TFunctionProc Proc;
};

struct TToken {
  TTokenKind Kind = tkNull;
  TOperatorId Op = opNone;
  double Value = 0;                     // number literal
  std::string Text;                     // string literal, member name, or a variable's inline member
  int MemberParamCount = 0;             // member token
  const TFunctionItem* Func = nullptr;  // function token: an entry of the tokenizing evaluator's table
  TVariableRec Ref;                     // variable token: the whole reference
  std::string LowerName;                // variable and function tokens: the name lower-cased
  TVariablePtr Var;                     // variable token: resolved again at every evaluation
  uint8_t ParsedFlags = 0;              // variable token: the flags the cached postfix was built with
  // Variable token whose member takes no arguments: the postfix leaves the member token out and the
  // access reads the name, lower-cased, from Text instead of from the stack.
  bool InlineMember = false;
};

// An expression slot: a text with its tokens and the postfix sequence built from them. Statements and
// field formulas each keep their own slot, so a text is tokenized once however often it runs. Variable
// tokens resolve their name at every evaluation, so a variable replaced meanwhile is never used stale.
// Function tokens point into the function table of the evaluator that tokenized them: a slot run by
// another evaluator (a rule formula made by the engine's evaluator runs in the field evaluator), or after
// that table changed, is tokenized again rather than trusted.
class TEvalItem {
 public:
  void SetExpression(std::string_view text);
  const std::string& Expression() const { return expression_; }

  int Cursor = -1;
  bool Tokenized = false;
  std::vector<TToken> Tokens;

 private:
  friend class TBaseEvaluator;
  std::string expression_;
  std::vector<uint32_t> postfix_;    // indexes into Tokens
  std::vector<uint32_t> varTokens_;  // indexes of the variable tokens
  bool postfixValid_ = false;
  const TVariableList* resolvedList_ = nullptr;  // the variables the tokens were last resolved against
  uint64_t resolvedVersion_ = 0;                 // and their chain version then
  uint64_t tableStamp_ = 0;                      // function table the tokens were made with
};
using TEvalSlot = std::shared_ptr<TEvalItem>;

// Main thread only; not re-entrant while an evaluation runs.
class TBaseEvaluator : public TBaseEvalItem {
 public:
  // Without a list the evaluator makes and owns an empty one.
  explicit TBaseEvaluator(TVariableList* variables = nullptr);
  ~TBaseEvaluator() override;
  TBaseEvaluator(const TBaseEvaluator&) = delete;
  TBaseEvaluator& operator=(const TBaseEvaluator&) = delete;

  void SetExpression(std::string_view text);
  // Runs the current slot; true when no error was set. After success the evaluator holds the value of
  // the BOTTOM stack item (Unknown when the stack is empty).
  bool Evaluate();
  bool Evaluate(std::string_view text);
  // Evaluates `text` in `slot` without making it the current slot (statements keep one slot each).
  bool EvaluateIn(TEvalItem& slot, std::string_view text);
  // Evaluates the text the slot holds, without making it the current slot.
  bool EvaluateSlot(TEvalItem& slot) { return Run(slot); }
  // Evaluate, then exactly one value that fits `type` (118 "Missing operator", 106).
  bool EvaluateAs(uint8_t type);
  bool EvaluateAs(std::string_view text, uint8_t type);
  // Evaluate, then check the stack from the bottom against `types` (commands with several arguments
  // read the values with Stack.At(i) afterwards).
  bool EvaluateList(std::string_view text, const std::vector<uint8_t>& types);
  // The check of EvaluateList on the values of the last evaluation.
  bool CheckList(const std::vector<uint8_t>& types);

  TVariableList* Variables() const { return variables_; }
  // Uses `list` without owning it (drops an owned list).
  void SetVariables(TVariableList* list);

  // Long-lived slots for formulas: make one, keep it, select it before each evaluation.
  TEvalSlot NewSlot() { return std::make_shared<TEvalItem>(); }
  // A slot of this evaluator with the text and tokens of `source`, which may belong to another evaluator
  // (even one already gone): functions are bound by name in this evaluator's table and variables resolve
  // by name in this evaluator's list when it first runs. Nothing is shared with `source`.
  TEvalSlot CopySlot(const TEvalItem& source) const;
  // Makes this evaluator a clone of `other` for the same kind of script: the value, the error, the stack
  // and a copy of the current slot. Its own variable list and function table stay.
  void CopyFrom(const TBaseEvaluator& other);
  void SetCurrentSlot(TEvalSlot slot) { currentSlot_ = slot ? std::move(slot) : defaultSlot_; }
  const TEvalSlot& CurrentSlot() const { return currentSlot_; }

  void ClearError() {
    ErrorCode = 0;
    ErrorText.clear();
  }
  // The first error wins.
  void SetError(int code, const std::string& text);
  bool HasError() const { return ErrorCode != 0; }

  // Declaration tables. Names are case-insensitive; a later function replaces an earlier one.
  TFunctionItem& AddFunction(const std::string& name, std::vector<uint8_t> paramTypes, TFunctionProc proc);
  const TFunctionItem* FindFunction(std::string_view name) const;
  bool IsFunctionName(std::string_view name) const { return FindFunction(name) != nullptr; }
  const TOperatorDecl* FindOperator(std::string_view name, bool binary) const;

  // For functions: CheckSignature of the top values against the argument types written in argument
  // order; sets 113 or 106 and returns false on a mismatch.
  bool CheckArgs(std::initializer_list<uint8_t> argTypes);
  // Sets 106 "Incompatible data types: '%s' and '%s'".
  void SetTypeError(uint8_t actual, uint8_t expected);

  int ErrorCode = 0;  // first error of the current evaluation, 0 = none
  std::string ErrorText;
  int Phase = 0;  // 0 idle, 1 tokenizing, 2 parsing, 3 running
  TValueStack Stack;

  // Deepest bracket and operator nesting the parser follows before it reports 122 "Overflow".
  static constexpr int kMaxParseDepth = 800;

 private:
  enum TContext { ctxStart = 0, ctxOperand = 1, ctxEnd = 2, ctxClose = 3, ctxAdditiveRight = 4, ctxFail = 6 };

  void Tokenize(TEvalItem& slot);
  bool ResolveVariables(TEvalItem& slot, bool& changed);
  bool Run(TEvalItem& slot);
  int ParseLoop(TEvalItem& slot);
  int ParseNext(TEvalItem& slot, int context);
  int ParseToken(TEvalItem& slot, int context);
  void Emit(TEvalItem& slot) { slot.postfix_.push_back(static_cast<uint32_t>(slot.Cursor)); }
  // The inline ones are the run loop's hot path, defined where the loop is.
  inline void RunToken(TToken& token);
  void RunFunction(const TFunctionItem& f);
  void PushMember(const TToken& token);
  void RunOperator(TOperatorId op);
  inline void RunVariable(TToken& token);
  void RunObjectAccess(TToken& token);
  inline void PushOwnValue(const TVariable& v);
  inline bool CheckTop(std::initializer_list<uint8_t> topFirst);
  void ReportMismatch(int check, const uint8_t* topFirst);
  void TakeResult();

  TVariableList* variables_;
  std::unique_ptr<TVariableList> ownedVariables_;
  TEvalSlot defaultSlot_;
  TEvalSlot currentSlot_;
  std::vector<TOperatorDecl> operators_;
  std::unordered_map<std::string, std::unique_ptr<TFunctionItem>> functions_;  // by lower-cased name
  TVRecStack vrecs_;
  int depth_ = 0;
  uint64_t tableStamp_;  // unique to this evaluator's function table as it is now; renewed by AddFunction
};

// Reads a variable reference starting at `pos` (a letter or "_"): the name, its bracketed arguments and
// one member with its own arguments. Returns the position just after the name.
size_t ReadVariableRec(std::string_view text, size_t pos, TVariableRec& rec,
                       size_t* endOfReference = nullptr);

}  // namespace vandrel
