// Statement compiler: keyword table, source translation, compiled script files, blocks, commands and
// procedures.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "script/FuncEvaluator.h"

namespace vandrel {

class TBaseCompiler;
class TBlock;

// One line of a script: its text and its 1-based source line (0 for lines read from a compiled file).
struct TScriptLine {
  std::string Text;
  int Number = 0;
};

struct TCompilerMsgItem {
  int Code = 0;
  std::string Symbol;
  std::string File;
  int Severity = 2;  // 1 warning, 2 error
  std::string Text;
  int Line = 0;
};

class TCommand;
using TCommandFactory = std::function<std::unique_ptr<TCommand>(TBlock& block, std::string params, int line)>;

template <class T>
TCommandFactory CommandClass() {
  return [](TBlock& b, std::string p, int l) -> std::unique_ptr<TCommand> {
    return std::make_unique<T>(b, std::move(p), l);
  };
}

// Keyword flags. Derived compilers combine them when they register their own keywords.
enum TKeywordFlag : uint8_t {
  kfExecutable = 1 << 0,  // set automatically when a command class is given
  kfOpener = 1 << 1,      // opens a nested block (If, While, For): ends are found by depth counting
  kfCloser = 1 << 2,      // closes one (Endif, EndWhile, EndFor)
  kfComment = 1 << 3,     // the line is dropped by the translation
  kfBackward = 1 << 4,    // translation warns 401 "Backward compatibility only"
  kfDeprecated = 1 << 5,  // translation warns 410 with Note
};

struct TKeywordItem {
  std::string Name;
  uint16_t Id = 0;
  TCommandFactory CommandClass;  // empty for keywords that only mark block structure
  uint8_t Flags = 0;
  std::string Note;  // text of warning 410
};

// Keyword ids are stored in compiled files. The base ids below 4096 belong to every compiler; derived
// compilers number theirs from 4096 upward. Never renumber.
enum TBaseKeywordId : uint16_t {
  kwRem = 16,
  kwAssign = 17,
  kwIf = 18,
  kwElse = 19,
  kwEndif = 20,
  kwProcedure = 21,
  kwEndProcedure = 22,
  kwExecuteProc = 23,
  kwWhile = 24,
  kwEndWhile = 25,
  kwFor = 26,
  kwEndFor = 27,
  kwElseIf = 28,
  kwMsgBox = 29,
  kwDeclare = 30,
  kwWriteOutput = 31,
  kwComment = 32,
  kwFirstDerived = 4096,
  kwMarker = 0xFF01,  // first line of a translated text: "FF01"
};

class TCompilerSyntax {
 public:
  // A later keyword of the same name replaces the earlier one. Call Rebuild after registering.
  void Add(const std::string& name, uint16_t id, TCommandFactory commandClass, uint8_t flags,
           std::string note = {});
  void Rebuild();
  const TKeywordItem* FindName(std::string_view name) const;
  // The first keyword registered with that id.
  const TKeywordItem* FindId(uint16_t id) const;
  bool HasFlag(uint16_t id, TKeywordFlag flag) const;
  const std::vector<TKeywordItem>& Keywords() const { return keywords_; }

 private:
  std::vector<TKeywordItem> keywords_;
  std::unordered_map<std::string, size_t> byName_;  // lower-cased name
  std::unordered_map<uint16_t, size_t> byId_;
  std::unordered_map<uint16_t, uint8_t> flagsById_;  // union of the flags of an id's keywords
};

// A statement. Derived compilers add commands by deriving from TCommand:
// - CompileStep consumes the command's line (and, for block statements, the lines up to its end) and
//   leaves Block.LineCursor after them; report problems with CompileError.
// - RunStep does the work. Evaluate expressions through Evaluate / EvaluateAs / EvaluateList: each
//   expression index keeps its own slot, so the text is tokenized once for all runs.
// - Commands with several comma-separated arguments use EvaluateList and read Ev().Stack.At(i).
// - Errors go through RunError (or ReportEvalError), which stops the procedure.
class TCommand {
 public:
  TCommand(TBlock& block, std::string params, int line);
  virtual ~TCommand();
  TCommand(const TCommand&) = delete;
  TCommand& operator=(const TCommand&) = delete;

  virtual void CompileStep();
  virtual void RunStep() = 0;

  TBaseCompiler& Compiler() const;
  TFuncEvaluator& Ev() const;
  // Evaluates `text` in this command's slot number `slot`; false (error not yet reported) on failure.
  bool Evaluate(int slot, std::string_view text);
  bool EvaluateAs(int slot, std::string_view text, uint8_t type);
  bool EvaluateList(int slot, std::string_view text, const std::vector<uint8_t>& types);
  // Reports the evaluator's error at this command's line.
  void ReportEvalError();
  void RunError(int code, const std::string& text);
  void CompileError(int code, const std::string& text, const std::string& symbol = {});

  // Word scanner over Params: names, quoted texts, single operator characters, other runs.
  std::string NextWord();
  std::string RestText() const;  // what follows the scanner position, trimmed
  // For loop statements: compiles the lines up to the matching `endId` line (which must carry no text)
  // as the body and moves past that line; null after reporting an error.
  TBlock* CompileBodyUntil(uint16_t endId, int missingCode, const char* missingText);

  TBlock& Block;
  std::string Params;  // the line after the 4-digit keyword id
  int Line;            // source line number (0 from a compiled file)
  size_t Pos = 0;      // word scanner position in Params
  std::string LastWord;

 protected:
  // Declares that each slot number always evaluates the same text, so a run need not compare it with
  // the slot's text. The base statements fix their texts when they compile.
  void FixTexts() { fixedTexts_ = true; }

 private:
  TEvalItem& SlotFor(int slot, std::string_view text);

  std::vector<TEvalSlot> slots_;
  bool fixedTexts_ = false;
};

class TBlock {
 public:
  TBlock(TBaseCompiler& compiler, TBlock* parent);

  // Compiles every line into commands; stops at the first error.
  void Compile();
  // Runs the commands in order until the end or the compiler's Stopped flag.
  void Run();
  // The keyword id of line i: its first four characters read as hexadecimal, 0 when they are not.
  uint16_t LineId(size_t i) const;
  std::string LineParams(size_t i) const;
  // Index of the first line after `from` at nesting depth 0 whose id is `endId` or one of `alsoIds`
  // (openers count up, closers down); -1 when there is none.
  long FindEnd(size_t from, uint16_t endId, std::initializer_list<uint16_t> alsoIds = {}) const;
  // A compiled child block of the lines [from, to).
  TBlock* MakeChild(size_t from, size_t to);

  TBaseCompiler& Compiler;
  // A stretch of the compiler's lines, never a copy: nested blocks share them, so compiling costs memory
  // in proportion to the text however deep it nests. Valid until the compiler's text changes.
  std::span<const TScriptLine> Lines;
  std::vector<std::unique_ptr<TCommand>> Commands;
  TBlock* Parent;
  int Index = 0;          // position in the compiler's block list
  size_t LineCursor = 0;  // while compiling
  int Depth = 0;          // nesting below the main block
};

// A loaded script. Hosts: load a file, Compile, set variables, ExecuteProcedure by name, read variables
// back. Main thread only.
//
// Deriving compilers (search types, engines):
// - Register keywords in the constructor with Syntax.Add (ids from kwFirstDerived, flags as needed;
//   command classes through CommandClass<T>()), then call Syntax.Rebuild(). A base constructor cannot
//   reach an override, so there is no virtual hook for it.
// - Add functions with Evaluator().AddFunction; a function sees the whole stack.
// - Variables that act when assigned derive from TVariable and override Changed.
// - Hosts write variables that scripts may only read through Variables().SetValue / DefineConstant,
//   which ignore ReadOnly.
// - Formulas that run many times keep a slot from Evaluator().NewSlot() and select it with
//   SetCurrentSlot before each evaluation.
class TBaseCompiler {
 public:
  static constexpr int kCompilerVersion = 4000;
  // Nested blocks and procedure calls deeper than this stop with 122 "Overflow".
  static constexpr int kMaxNesting = 400;

  // Without an evaluator the compiler makes a TFuncEvaluator; it owns it either way.
  explicit TBaseCompiler(std::unique_ptr<TFuncEvaluator> evaluator = nullptr);
  virtual ~TBaseCompiler();
  TBaseCompiler(const TBaseCompiler&) = delete;
  TBaseCompiler& operator=(const TBaseCompiler&) = delete;

  TFuncEvaluator& Evaluator() { return *evaluator_; }
  TVariableList& Variables() { return *evaluator_->Variables(); }

  // Clears the variables and defines FileVersion, True, False and CompilerVersion.
  virtual void ResetVariables();

  // Source text or compiled bytes. A compiled file whose header claims more lines than it holds, or
  // whose last line has no line break, is kept as corrupted and fails to compile with 201.
  void LoadFromStream(std::string_view bytes);
  // False, with the system's reason when asked for, when the file cannot be read (a folder cannot).
  bool LoadFromFile(const std::string& fileName, std::string* reason = nullptr);
  void SetText(std::string_view source);

  int Compile();
  // Runs a procedure when the last compile succeeded; an unknown name runs nothing. Returns the code of
  // the last error this run reported, 0 when it reported none.
  int ExecuteProcedure(const std::string& name);
  int RegisterAndStamp();
  // Translates and compiles when needed, runs "Register", then writes the compiled file. Nothing is
  // written after an error. Returns the last error code.
  int SaveToFile(const std::string& fileName);
  // The compiled file's bytes (after RegisterAndStamp has been run by the caller).
  std::string SaveToBytes();

  int LastErrorCode() const { return Errors.empty() ? 0 : Errors.back().Code; }
  bool HasProcedure(std::string_view name) const;
  // Keyword or function name.
  bool IsReserved(std::string_view name) const;
  std::string HeaderValue(std::string_view name) const;
  void SetHeaderValue(const std::string& name, const std::string& value);

  // Reporting, used by blocks and commands.
  void AddError(int code, const std::string& text, int line, const std::string& symbol = {});
  void AddWarning(int code, const std::string& text, int line, const std::string& symbol = {});
  void RunError(int code, const std::string& text, int line);
  void Output(const std::string& text);
  void ShowMessage(const std::string& text);
  TBlock* AddBlock(TBlock* parent);
  void RegisterProcedure(const std::string& name, TBlock* block);

  std::vector<TScriptLine> Lines;
  TCompilerSyntax Syntax;
  std::vector<std::unique_ptr<TBlock>> Blocks;
  TBlock* MainBlock = nullptr;
  std::vector<std::pair<std::string, std::string>> Header;  // Name=Value lines of a compiled file
  std::vector<TCompilerMsgItem> Errors;
  std::vector<TCompilerMsgItem> Warnings;
  std::string FileName;
  bool Translated = false;
  bool Compiled = false;
  bool Stopped = false;
  bool Optimize = true;       // translate source text when compiling
  bool OutputEnabled = true;  // WriteOutput reaches OnOutput
  bool Corrupted = false;     // the loaded compiled file was truncated

  std::function<void(TBaseCompiler&, const TCompilerMsgItem&)> OnError;
  std::function<void(TBaseCompiler&, const TCompilerMsgItem&)> OnWarning;
  std::function<void(TBaseCompiler&, const std::string&)> OnOutput;
  // MsgBox: text and title ("Message"). Without a handler the text goes to OnOutput.
  std::function<void(TBaseCompiler&, const std::string& text, const std::string& title)> OnMessageBox;

  int RunDepth = 0;  // nested block runs of the current call chain
  // Longest one outermost ExecuteProcedure may run, the procedures it calls included, in milliseconds;
  // 0 = no limit. A run over it stops with kErrTimeLimit, so a looping script cannot hold up its host.
  int RunTimeLimit = 0;

  // Counts a step of the current run; false (and the run stopped with kErrTimeLimit, reported at `line`)
  // once the run is over its time limit. Blocks and loops call it at every step.
  bool StepWithinBudget(int line) {
    if (deadline_ == TClock::time_point::max() || (++steps_ & 255) != 0) return true;
    return CheckDeadline(line);
  }

 protected:
  // Source translation into keyword-numbered lines.
  void Translate();
  std::string NormalizeRest(std::string_view rest) const;

 private:
  using TClock = std::chrono::steady_clock;
  bool CheckDeadline(int line);
  // Refuses a text whose blocks nest deeper than kMaxNesting before any block is compiled.
  bool CheckNesting();

  TClock::time_point deadline_ = TClock::time_point::max();  // of the current run
  uint32_t steps_ = 0;                                       // of the current run, for sampling the clock
  std::unique_ptr<TFuncEvaluator> evaluator_;
  std::map<std::string, TBlock*> procedures_;  // lower-cased name
};

// The whole file; false with the system's reason otherwise. A folder opens like a file and fails on the
// first read, so it is refused up front.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& reason);

// Scrambling of compiled files, byte by byte.
std::string ScrambleBytes(std::string_view plain);
std::string UnscrambleBytes(std::string_view scrambled);

// The base statements.
class TDeclare : public TCommand {
 public:
  using TCommand::TCommand;
  void CompileStep() override;
  void RunStep() override;

  TVariableRec Target;
  bool Global = false;
  std::string TargetText;
  std::string LowerName;      // Target.Name lower-cased, for lookups
  std::string LowerMember;    // Target.Member lower-cased, as wrappers expect it
  std::string RestTextValue;  // type expression (Declare) or what follows the reference

 protected:
  bool ParseTarget();
};

class TAssign : public TDeclare {
 public:
  using TDeclare::TDeclare;
  void CompileStep() override;
  void RunStep() override;

  bool CallMode = false;
  std::string Expression;

 private:
  // The target as last looked up, valid while the list chain's version is unchanged.
  TVariablePtr cachedVar_;
  TVariableList* cachedHolder_ = nullptr;
  const TVariableList* cachedList_ = nullptr;
  uint64_t cachedVersion_ = 0;
};

class TIf : public TCommand {
 public:
  using TCommand::TCommand;
  void CompileStep() override;
  void RunStep() override;

  struct TCondition {
    std::string Text;
    int Line = 0;
    TBlock* Body = nullptr;
  };
  std::vector<TCondition> Conditions;
  TBlock* ElseBlock = nullptr;
};

class TWhile : public TCommand {
 public:
  using TCommand::TCommand;
  void CompileStep() override;
  void RunStep() override;
  TBlock* Body = nullptr;
};

class TFor : public TCommand {
 public:
  using TCommand::TCommand;
  void CompileStep() override;
  void RunStep() override;

  bool Each = false;
  bool Downto = false;
  std::string VarName;
  std::string CollectionText;
  std::string StartText;
  std::string EndText;
  TBlock* Body = nullptr;

 private:
  void RunCounting();
  void RunEach();
};

class TProcedure : public TCommand {
 public:
  using TCommand::TCommand;
  void CompileStep() override;
  void RunStep() override {}
};

class TExecuteProc : public TCommand {
 public:
  using TCommand::TCommand;
  void CompileStep() override;
  void RunStep() override;
  std::string ProcName;
};

// Joins the evaluated comma list: strings as they are, numbers in "%g" form, others empty.
class TMsgBox : public TCommand {
 public:
  using TCommand::TCommand;
  void CompileStep() override;
  void RunStep() override;

 protected:
  bool JoinValues(const std::string& separator, std::string& out);
};

class TWriteOutput : public TMsgBox {
 public:
  using TMsgBox::TMsgBox;
  void RunStep() override;
};

// Truth of a condition value: numeric by value, String when not empty, Object when present; false and
// error 106 for other types.
bool ConditionTruth(TBaseEvaluator& ev, bool& truth);

}  // namespace vandrel
