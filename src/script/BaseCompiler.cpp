#include "script/BaseCompiler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "script/ScriptChars.h"

namespace vandrel {

namespace {

using namespace script_chars;

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string Hex4(unsigned v) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i) {
    s[static_cast<size_t>(i)] = kDigits[v & 15];
    v >>= 4;
  }
  return s;
}

uint16_t ReadId(std::string_view text) {
  if (text.size() < 4) return 0;
  unsigned v = 0;
  for (size_t i = 0; i < 4; ++i) {
    char c = text[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      d = static_cast<unsigned>(c - 'a' + 10);
    else
      return 0;
    v = v * 16 + d;
  }
  return static_cast<uint16_t>(v);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

int64_t ParseDecimal(std::string_view s, bool& ok) {
  // 18 digits always fit; longer texts are refused before they can overflow.
  ok = !s.empty() && s.size() <= 18;
  if (!ok) return 0;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') {
      ok = false;
      return 0;
    }
    v = v * 10 + (c - '0');
  }
  return ok ? v : 0;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& reason) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    reason = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : errno);
    ::close(fd);
    return false;
  }
  bytes.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

namespace {

// Writes a temporary file beside `path` and renames it over the target, so that a failed write (a full
// disk, a size limit) leaves the old file as it was instead of a torn one.
bool WriteFileReplacing(const std::string& path, std::string_view bytes, std::string& reason) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat old {};
  ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (!ok) reason = std::strerror(errno ? errno : EIO);
  if (::close(fd) != 0 && ok) {
    ok = false;
    reason = std::strerror(errno);
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    reason = std::strerror(errno);
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

std::string ScrambleBytes(std::string_view plain) {
  std::string out(plain.size(), '\0');
  for (size_t i = 0; i < plain.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(static_cast<uint8_t>(plain[i]) ^ 0x6B);
    out[i] = static_cast<char>(static_cast<uint8_t>((b >> 3) | (b << 5)));
  }
  return out;
}

std::string UnscrambleBytes(std::string_view scrambled) {
  std::string out(scrambled.size(), '\0');
  for (size_t i = 0; i < scrambled.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(scrambled[i]);
    b = static_cast<uint8_t>((b << 3) | (b >> 5));
    out[i] = static_cast<char>(b ^ 0x6B);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------------

void TCompilerSyntax::Add(const std::string& name, uint16_t id, TCommandFactory commandClass, uint8_t flags,
                          std::string note) {
  TKeywordItem k;
  k.Name = name;
  k.Id = id;
  if (commandClass) flags |= kfExecutable;
  k.CommandClass = std::move(commandClass);
  k.Flags = flags;
  k.Note = std::move(note);
  std::string key = LowerAscii(name);
  if (auto it = byName_.find(key); it != byName_.end()) {
    keywords_[it->second] = std::move(k);
  } else {
    byName_[key] = keywords_.size();
    keywords_.push_back(std::move(k));
  }
}

void TCompilerSyntax::Rebuild() {
  byId_.clear();
  flagsById_.clear();
  for (size_t i = 0; i < keywords_.size(); ++i) {
    byId_.emplace(keywords_[i].Id, i);
    flagsById_[keywords_[i].Id] |= keywords_[i].Flags;
  }
}

const TKeywordItem* TCompilerSyntax::FindName(std::string_view name) const {
  auto it = byName_.find(LowerAscii(name));
  return it == byName_.end() ? nullptr : &keywords_[it->second];
}

const TKeywordItem* TCompilerSyntax::FindId(uint16_t id) const {
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : &keywords_[it->second];
}

bool TCompilerSyntax::HasFlag(uint16_t id, TKeywordFlag flag) const {
  auto it = flagsById_.find(id);
  return it != flagsById_.end() && (it->second & flag) != 0;
}

// ---------------------------------------------------------------------------------------------------

TCommand::TCommand(TBlock& block, std::string params, int line)
    : Block(block), Params(std::move(params)), Line(line) {}

TCommand::~TCommand() = default;

void TCommand::CompileStep() {
  ++Block.LineCursor;
}

TBaseCompiler& TCommand::Compiler() const {
  return Block.Compiler;
}
TFuncEvaluator& TCommand::Ev() const {
  return Block.Compiler.Evaluator();
}

TEvalItem& TCommand::SlotFor(int slot, std::string_view text) {
  size_t i = static_cast<size_t>(slot);
  if (fixedTexts_ && i < slots_.size() && slots_[i]) return *slots_[i];
  if (slots_.size() <= i) slots_.resize(i + 1);
  if (!slots_[i]) {
    slots_[i] = Ev().NewSlot();
    slots_[i]->SetExpression(text);
  } else if (!fixedTexts_) {
    slots_[i]->SetExpression(text);
  }
  return *slots_[i];
}

bool TCommand::Evaluate(int slot, std::string_view text) {
  return Ev().EvaluateSlot(SlotFor(slot, text));
}

bool TCommand::EvaluateAs(int slot, std::string_view text, uint8_t type) {
  if (!Evaluate(slot, text)) return false;
  TFuncEvaluator& ev = Ev();
  if (ev.Stack.Count() != 1) {
    ev.SetError(kErrMissingOperator, "Missing operator");
    return false;
  }
  if (ev.DataType != type && (ev.DataType == dtString || !FitsType(type, ev.Number))) {
    ev.SetTypeError(ev.DataType, type);
    return false;
  }
  return true;
}

bool TCommand::EvaluateList(int slot, std::string_view text, const std::vector<uint8_t>& types) {
  return Ev().EvaluateSlot(SlotFor(slot, text)) && Ev().CheckList(types);
}

void TCommand::ReportEvalError() {
  RunError(Ev().ErrorCode, Ev().ErrorText);
}

void TCommand::RunError(int code, const std::string& text) {
  Compiler().RunError(code, text, Line);
}

void TCommand::CompileError(int code, const std::string& text, const std::string& symbol) {
  Compiler().AddError(code, text, Line, symbol);
}

std::string TCommand::NextWord() {
  while (Pos < Params.size() && IsBlank(Params[Pos])) ++Pos;
  size_t start = Pos;
  if (Pos >= Params.size()) {
    LastWord.clear();
    return LastWord;
  }
  char c = Params[Pos];
  if (IsNameChar(c)) {
    while (Pos < Params.size() && (IsNameChar(Params[Pos]) || Params[Pos] == '.')) ++Pos;
  } else if (c == '"' || c == '\'') {
    size_t close = Params.find(c, Pos + 1);
    Pos = close == std::string::npos ? Params.size() : close + 1;
  } else if (IsOperatorChar(c)) {
    ++Pos;
  } else {
    while (Pos < Params.size() && !IsBlank(Params[Pos]) && !IsNameChar(Params[Pos]) &&
           !IsOperatorChar(Params[Pos]) && Params[Pos] != '"' && Params[Pos] != '\'')
      ++Pos;
  }
  LastWord = Params.substr(start, Pos - start);
  return LastWord;
}

TBlock* TCommand::CompileBodyUntil(uint16_t endId, int missingCode, const char* missingText) {
  long j = Block.FindEnd(Block.LineCursor, endId);
  if (j < 0) {
    CompileError(missingCode, missingText);
    return nullptr;
  }
  size_t end = static_cast<size_t>(j);
  std::string rest = std::string(Trim(Block.LineParams(end), kAsciiControlsAndSpace));
  if (!rest.empty()) {
    Compiler().AddError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {rest}),
                        Block.Lines[end].Number);
    return nullptr;
  }
  TBlock* body = Block.MakeChild(Block.LineCursor + 1, end);
  Block.LineCursor = end + 1;
  return body;
}

std::string TCommand::RestText() const {
  return std::string(
      Trim(std::string_view(Params).substr(std::min(Pos, Params.size())), kAsciiControlsAndSpace));
}

// ---------------------------------------------------------------------------------------------------

TBlock::TBlock(TBaseCompiler& compiler, TBlock* parent) : Compiler(compiler), Parent(parent) {}

uint16_t TBlock::LineId(size_t i) const {
  return i < Lines.size() ? ReadId(Lines[i].Text) : 0;
}

std::string TBlock::LineParams(size_t i) const {
  return i < Lines.size() && Lines[i].Text.size() > 4 ? Lines[i].Text.substr(4) : std::string();
}

void TBlock::Compile() {
  LineCursor = 0;
  while (LineCursor < Lines.size() && Compiler.Errors.empty()) {
    const TScriptLine& line = Lines[LineCursor];
    uint16_t id = ReadId(line.Text);
    if (id == kwMarker) {
      ++LineCursor;
      continue;
    }
    const TKeywordItem* kw = Compiler.Syntax.FindId(id);
    if (kw && kw->CommandClass) {
      int number = line.Number;
      try {
        std::unique_ptr<TCommand> cmd = kw->CommandClass(*this, LineParams(LineCursor), number);
        size_t before = LineCursor;
        cmd->CompileStep();
        if (LineCursor <= before) LineCursor = before + 1;  // a command must consume its line
        Commands.push_back(std::move(cmd));
      } catch (const std::exception& e) {
        Compiler.AddError(kErrUnknown, std::string("Unknown error\n\r") + e.what(), number);
        return;
      }
    } else if (kw) {
      Compiler.AddError(kErrStatementExpected, Format("Statement expected but '%s' found", {kw->Name}),
                        line.Number, kw->Name);
    } else {
      Compiler.AddError(kErrKeywordNotFound, "Keyword not found: $" + Hex4(id), line.Number);
    }
  }
}

long TBlock::FindEnd(size_t from, uint16_t endId, std::initializer_list<uint16_t> alsoIds) const {
  int depth = 0;
  const TCompilerSyntax& syn = Compiler.Syntax;
  for (size_t i = from + 1; i < Lines.size(); ++i) {
    uint16_t id = LineId(i);
    if (syn.HasFlag(id, kfOpener)) {
      ++depth;
    } else if (depth > 0 && syn.HasFlag(id, kfCloser)) {
      --depth;
    } else if (depth == 0) {
      if (id == endId) return static_cast<long>(i);
      for (uint16_t a : alsoIds)
        if (id == a) return static_cast<long>(i);
    }
  }
  return -1;
}

TBlock* TBlock::MakeChild(size_t from, size_t to) {
  TBlock* b = Compiler.AddBlock(this);
  b->Depth = Depth + 1;
  if (from < to && to <= Lines.size()) b->Lines = Lines.subspan(from, to - from);
  if (b->Depth > TBaseCompiler::kMaxNesting) {
    Compiler.AddError(kErrOverflow, "Overflow",
                      from > 0 && from - 1 < Lines.size() ? Lines[from - 1].Number : 0);
    return b;
  }
  b->Compile();
  return b;
}

void TBlock::Run() {
  TBaseCompiler& c = Compiler;
  if (c.RunDepth >= TBaseCompiler::kMaxNesting) {
    // Unbounded ExecuteProc recursion ends here instead of exhausting the native stack.
    c.RunError(kErrOverflow, "Overflow", Commands.empty() ? 0 : Commands.front()->Line);
    return;
  }
  ++c.RunDepth;
  for (size_t i = 0; i < Commands.size() && !c.Stopped; ++i) {
    TCommand& cmd = *Commands[i];
    if (!c.StepWithinBudget(cmd.Line)) break;
    try {
      cmd.RunStep();
    } catch (const EScriptFault& f) {
      c.RunError(f.Code, FaultText(f.Code, f.what()), cmd.Line);
    } catch (const std::exception& e) {
      c.RunError(kErrUnknown, std::string("Unknown error\n\r") + e.what(), cmd.Line);
    }
  }
  --c.RunDepth;
}

// ---------------------------------------------------------------------------------------------------

TBaseCompiler::TBaseCompiler(std::unique_ptr<TFuncEvaluator> evaluator) : evaluator_(std::move(evaluator)) {
  if (!evaluator_) evaluator_ = std::make_unique<TFuncEvaluator>();
  // The base keyword table; ids are stored in compiled files.
  Syntax.Add("Rem", kwRem, nullptr, kfComment);
  Syntax.Add("Assign", kwAssign, CommandClass<TAssign>(), kfBackward);
  Syntax.Add("If", kwIf, CommandClass<TIf>(), kfOpener);
  Syntax.Add("Else", kwElse, nullptr, 0);
  Syntax.Add("Endif", kwEndif, nullptr, kfCloser);
  Syntax.Add("Procedure", kwProcedure, CommandClass<TProcedure>(), 0);
  Syntax.Add("EndProcedure", kwEndProcedure, nullptr, 0);
  Syntax.Add("ExecuteProc", kwExecuteProc, CommandClass<TExecuteProc>(), 0);
  Syntax.Add("While", kwWhile, CommandClass<TWhile>(), kfOpener);
  Syntax.Add("EndWhile", kwEndWhile, nullptr, kfCloser);
  Syntax.Add("For", kwFor, CommandClass<TFor>(), kfOpener);
  Syntax.Add("EndFor", kwEndFor, nullptr, kfCloser);
  Syntax.Add("ElseIf", kwElseIf, nullptr, 0);
  Syntax.Add("MsgBox", kwMsgBox, CommandClass<TMsgBox>(), kfBackward);
  Syntax.Add("MessageBox", kwMsgBox, CommandClass<TMsgBox>(), 0);
  Syntax.Add("Declare", kwDeclare, CommandClass<TDeclare>(), 0);
  Syntax.Add("WriteOutput", kwWriteOutput, CommandClass<TWriteOutput>(), 0);
  Syntax.Add("//", kwComment, nullptr, kfComment);
  Syntax.Rebuild();
}

TBaseCompiler::~TBaseCompiler() {
  // Wrappers that outlive the compiler (held by hosts) must not reach back into it.
  Variables().DetachCompiler(this);
  Blocks.clear();
}

void TBaseCompiler::ResetVariables() {
  TVariableList& v = Variables();
  v.Clear();
  v.SetInteger("FileVersion", 0, true);
  v.DefineConstant("True", THostValue(true));
  v.DefineConstant("False", THostValue(false));
  v.DefineConstant("CompilerVersion", THostValue(static_cast<int64_t>(kCompilerVersion)));
}

void TBaseCompiler::SetText(std::string_view source) {
  // Blocks look at the lines; they go with them.
  procedures_.clear();
  MainBlock = nullptr;
  Blocks.clear();
  Header.clear();
  Corrupted = false;
  Compiled = false;
  Translated = false;
  Lines.clear();
  int n = 0;
  for (std::string& l : SplitLines(source)) Lines.push_back({std::move(l), ++n});
}

void TBaseCompiler::LoadFromStream(std::string_view bytes) {
  if (bytes.size() < 4 || UnscrambleBytes(bytes.substr(0, 4)) != "FF01") {
    SetText(bytes);
    return;
  }
  SetText({});
  const std::string text = UnscrambleBytes(bytes);
  // Every line of a written file ends with a line break: without one the last statement was cut off and
  // might still read as a different, valid one.
  if (text.back() != '\n' && text.back() != '\r') Corrupted = true;
  std::vector<std::string> lines = SplitLines(text);
  size_t next = 1;
  int64_t headerCount = 0;
  if (lines.size() > 1) {
    bool ok = false;
    headerCount = ParseDecimal(lines[1], ok);
    next = 2;
    // A count beyond what the file holds means it was cut short.
    if (headerCount > static_cast<int64_t>(lines.size() - 2)) {
      Corrupted = true;
      headerCount = static_cast<int64_t>(lines.size() - 2);
    }
  }
  for (int64_t i = 0; i < headerCount; ++i, ++next) {
    const std::string& h = lines[next];
    size_t eq = h.find('=');
    if (eq == std::string::npos)
      Header.emplace_back(h, "");
    else
      Header.emplace_back(h.substr(0, eq), h.substr(eq + 1));
  }
  Lines.push_back({lines[0], 0});
  for (; next < lines.size(); ++next) Lines.push_back({lines[next], 0});
  bool ok = false;
  int64_t cv = ParseDecimal(HeaderValue("CompilerVersion"), ok);
  Variables().SetInteger("CompilerVersion", ok ? cv : 0, false);
  int64_t fv = ParseDecimal(HeaderValue("FileVersion"), ok);
  Variables().SetInteger("FileVersion", ok ? fv : 0, true);
}

bool TBaseCompiler::LoadFromFile(const std::string& fileName, std::string* reason) {
  std::string bytes;
  std::string why;
  if (!ReadWholeFile(fileName, bytes, why)) {
    if (reason) *reason = why;
    return false;
  }
  LoadFromStream(bytes);
  FileName = fileName;
  return true;
}

std::string TBaseCompiler::HeaderValue(std::string_view name) const {
  for (const auto& [n, v] : Header)
    if (SameText(n, name)) return v;
  return "";
}

void TBaseCompiler::SetHeaderValue(const std::string& name, const std::string& value) {
  for (auto& [n, v] : Header)
    if (SameText(n, name)) {
      v = value;
      return;
    }
  Header.emplace_back(name, value);
}

bool TBaseCompiler::HasProcedure(std::string_view name) const {
  return procedures_.count(LowerAscii(name)) > 0;
}

bool TBaseCompiler::IsReserved(std::string_view name) const {
  return Syntax.FindName(name) != nullptr || evaluator_->IsFunctionName(name);
}

void TBaseCompiler::AddError(int code, const std::string& text, int line, const std::string& symbol) {
  TCompilerMsgItem m{code, symbol, FileName, 2, text, line};
  Errors.push_back(m);
  if (OnError) OnError(*this, m);
}

void TBaseCompiler::AddWarning(int code, const std::string& text, int line, const std::string& symbol) {
  TCompilerMsgItem m{code, symbol, FileName, 1, text, line};
  Warnings.push_back(m);
  if (OnWarning) OnWarning(*this, m);
}

void TBaseCompiler::RunError(int code, const std::string& text, int line) {
  AddError(code, text, line);
  Stopped = true;
}

void TBaseCompiler::Output(const std::string& text) {
  if (OnOutput) OnOutput(*this, text);
}

void TBaseCompiler::ShowMessage(const std::string& text) {
  if (OnMessageBox)
    OnMessageBox(*this, text, "Message");
  else
    Output(text);
}

TBlock* TBaseCompiler::AddBlock(TBlock* parent) {
  Blocks.push_back(std::make_unique<TBlock>(*this, parent));
  Blocks.back()->Index = static_cast<int>(Blocks.size()) - 1;
  return Blocks.back().get();
}

void TBaseCompiler::RegisterProcedure(const std::string& name, TBlock* block) {
  procedures_[LowerAscii(name)] = block;
}

std::string TBaseCompiler::NormalizeRest(std::string_view restIn) const {
  std::string rest = std::string(Trim(restIn, kAsciiControlsAndSpace));
  // Cut a "//" comment outside quotes.
  char quote = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '/' && i + 1 < rest.size() && rest[i + 1] == '/') {
      rest.resize(i);
      break;
    }
  }
  // Drop runs of spaces next to an operator character, outside quotes.
  std::string out;
  out.reserve(rest.size());
  quote = 0;
  for (size_t i = 0; i < rest.size();) {
    char c = rest[i];
    if (quote) {
      out += c;
      if (c == quote) quote = 0;
      ++i;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      out += c;
      ++i;
      continue;
    }
    if (c == ' ') {
      size_t j = i;
      while (j < rest.size() && rest[j] == ' ') ++j;
      bool before = !out.empty() && IsOperatorChar(out.back());
      bool after = j < rest.size() && IsOperatorChar(rest[j]);
      if (!before && !after) out.append(j - i, ' ');
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return std::string(Trim(out, kAsciiControlsAndSpace));
}

void TBaseCompiler::Translate() {
  Errors.clear();
  Warnings.clear();
  // Built anew rather than edited in place: erasing line by line made long texts quadratic.
  std::vector<TScriptLine> out;
  out.reserve(Lines.size() + 1);
  out.push_back(TScriptLine{"FF01", 0});
  for (size_t i = 0; i < Lines.size() && Errors.empty(); ++i) {
    const int number = static_cast<int>(i) + 1;
    std::string s = std::string(Trim(Lines[i].Text, kAsciiControlsAndSpace));
    if (s.empty()) continue;
    size_t w = 0;
    if (IsLetter(s[0])) {
      while (w < s.size() && (IsNameChar(s[w]) || s[w] == '.')) ++w;
    } else {
      while (w < s.size() && !IsBlank(s[w]) && !IsLetter(s[w])) ++w;
    }
    if (w == 0) {
      AddError(kErrStatementExpected, Format("Statement expected but '%s' found", {s}), number, s);
      break;
    }
    const TKeywordItem* kw = Syntax.FindName(std::string_view(s).substr(0, w));
    if (kw && (kw->Flags & kfComment)) continue;
    if (kw) {
      out.push_back({Hex4(kw->Id) + NormalizeRest(std::string_view(s).substr(w)), number});
      if (kw->Flags & kfBackward)
        AddWarning(kWarnBackwardCompatibility, "Backward compatibility only", number, kw->Name);
      if (kw->Flags & kfDeprecated) AddWarning(kWarnDeprecated, kw->Note, number, kw->Name);
    } else {
      out.push_back({Hex4(kwAssign) + s, number});
    }
  }
  Lines = std::move(out);
  Translated = true;
}

bool TBaseCompiler::CheckNesting() {
  int depth = 0;
  for (const TScriptLine& line : Lines) {
    uint16_t id = ReadId(line.Text);
    if (Syntax.HasFlag(id, kfOpener)) {
      if (++depth > kMaxNesting) {
        AddError(kErrOverflow, "Overflow", line.Number);
        return false;
      }
    } else if (depth > 0 && Syntax.HasFlag(id, kfCloser)) {
      --depth;
    }
  }
  return true;
}

bool TBaseCompiler::CheckDeadline(int line) {
  if (TClock::now() < deadline_) return true;
  RunError(kErrTimeLimit,
           Format("Script stopped after running %d ms", {static_cast<long long>(RunTimeLimit)}), line);
  return false;
}

int TBaseCompiler::Compile() {
  Errors.clear();
  Warnings.clear();
  Blocks.clear();
  procedures_.clear();
  MainBlock = nullptr;
  Compiled = false;
  if (Lines.empty()) {
    AddError(kErrCorruptedSource, "Corrupted source file", 0);
    return LastErrorCode();
  }
  Translated = ReadId(Lines[0].Text) == kwMarker;
  MainBlock = AddBlock(nullptr);
  if (Corrupted) {
    AddError(kErrCorruptedSource, "Corrupted source file", 0);
    return LastErrorCode();
  }
  if (!Translated && Optimize) Translate();
  if (Errors.empty() && CheckNesting()) {
    MainBlock->Lines = Lines;
    MainBlock->Compile();
  }
  Compiled = Errors.empty();
  return LastErrorCode();
}

int TBaseCompiler::ExecuteProcedure(const std::string& name) {
  if (!Compiled) return LastErrorCode();
  auto it = procedures_.find(LowerAscii(name));
  if (it == procedures_.end()) return 0;
  size_t before = Errors.size();
  Stopped = false;
  // The budget covers the outermost call; procedures it calls run on the same clock.
  const bool outermost = RunDepth == 0;
  if (outermost) {
    deadline_ = RunTimeLimit > 0 ? TClock::now() + std::chrono::milliseconds(RunTimeLimit)
                                 : TClock::time_point::max();
    steps_ = 0;
  }
  it->second->Run();
  if (outermost) deadline_ = TClock::time_point::max();
  // Only this run's errors count: an error left from an earlier run is not this run's result.
  return Errors.size() > before ? Errors.back().Code : 0;
}

int TBaseCompiler::RegisterAndStamp() {
  int r = ExecuteProcedure("Register");
  if (r == 0) {
    SetHeaderValue("CompilerVersion", std::to_string(Variables().GetInteger("CompilerVersion", 0)));
    SetHeaderValue("FileVersion", std::to_string(Variables().GetInteger("FileVersion", 0)));
  }
  return r;
}

std::string TBaseCompiler::SaveToBytes() {
  std::string text = "FF01\r\n" + std::to_string(Header.size()) + "\r\n";
  for (const auto& [n, v] : Header) text += n + "=" + v + "\r\n";
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (i == 0 && ReadId(Lines[0].Text) == kwMarker) continue;
    text += Lines[i].Text + "\r\n";
  }
  return ScrambleBytes(text);
}

int TBaseCompiler::SaveToFile(const std::string& fileName) {
  if (!Compiled) {
    if (Compile() != 0) return LastErrorCode();
  }
  if (!Errors.empty() && !Compiled) return LastErrorCode();
  int r = RegisterAndStamp();
  if (r != 0) return r;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  SetHeaderValue("TimeStamp", stamp);
  std::string reason;
  if (!WriteFileReplacing(fileName, SaveToBytes(), reason)) {
    AddError(kErrStream, "Stream error: cannot write " + fileName + ": " + reason, 0);
    return kErrStream;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------------
// Statements

bool ConditionTruth(TBaseEvaluator& ev, bool& truth) {
  if (IsNumericType(ev.DataType)) {
    truth = ev.AsBoolean();
  } else if (ev.DataType == dtString) {
    truth = !ev.Text.empty();
  } else if (ev.DataType == dtObject) {
    truth = ev.ObjectRef != nullptr;
  } else {
    ev.SetTypeError(ev.DataType, dtBoolean);
    return false;
  }
  return true;
}

bool TDeclare::ParseTarget() {
  size_t p = 0;
  while (p < Params.size() && IsBlank(Params[p])) ++p;
  // Only "Global" written so selects the outermost list.
  if (Params.compare(p, 6, "Global") == 0 && p + 6 < Params.size() && IsBlank(Params[p + 6])) {
    size_t q = p + 6;
    while (q < Params.size() && IsBlank(Params[q])) ++q;
    if (q < Params.size() && IsLetter(Params[q])) {
      Global = true;
      p = q;
    }
  }
  if (p >= Params.size() || !IsLetter(Params[p])) return false;
  size_t end = p;
  ReadVariableRec(Params, p, Target, &end);
  TargetText = Params.substr(p, end - p);
  LowerName = LowerAscii(Target.Name);
  LowerMember = LowerAscii(Target.Member);
  RestTextValue = std::string(Trim(std::string_view(Params).substr(end), kAsciiControlsAndSpace));
  return true;
}

void TDeclare::CompileStep() {
  FixTexts();
  if (!ParseTarget()) {
    CompileError(kErrMissingIdentifier, "Missing identifier");
  } else if (!RestTextValue.empty() && RestTextValue[0] == ',') {
    RestTextValue = std::string(Trim(std::string_view(RestTextValue).substr(1), kAsciiControlsAndSpace));
  }
  ++Block.LineCursor;
}

void TDeclare::RunStep() {
  int64_t type = dtString;
  if (!RestTextValue.empty()) {
    // Only the codes of the type table: a stray number would make a variable no operator accepts.
    if (!EvaluateAs(0, RestTextValue, dtInteger) || Ev().AsInteger() < dtFloat ||
        Ev().AsInteger() > dtVariant)
      return RunError(kErrInvalidDataType, Format("Invalid data type: '%s'", {RestTextValue}));
    type = Ev().AsInteger();
  }
  TVariableList* list = Global ? Ev().Variables()->Outermost() : Ev().Variables();
  TVariable* v = list->Find(Target.Name);
  // Retyping a constant would break every later use of it (`Declare True, 2`).
  if (v && v->ReadOnly) return RunError(kErrReadOnly, Format("Variable '%s' is read-only", {Target.Name}));
  if (!v) {
    auto nv = std::make_shared<TVariable>(Target.Name);
    v = nv.get();
    list->Add(std::move(nv));
  }
  v->DataType = static_cast<uint8_t>(type);
  v->Changed();
}

void TAssign::CompileStep() {
  FixTexts();
  if (!ParseTarget()) {
    CompileError(kErrKeywordNotFound,
                 Format("Keyword not found: '%s'", {std::string(Trim(Params, kAsciiControlsAndSpace))}));
  } else if (!RestTextValue.empty() && RestTextValue[0] == '=') {
    Expression = std::string(Trim(std::string_view(RestTextValue).substr(1), kAsciiControlsAndSpace));
  } else if (Target.ParamCount > 0 || !Target.Member.empty()) {
    CallMode = true;
  } else {
    CompileError(kErrKeywordNotFound, Format("Keyword not found: '%s'", {Target.Name}), Target.Name);
  }
  ++Block.LineCursor;
}

void TAssign::RunStep() {
  if (CallMode) {
    if (!Evaluate(0, TargetText)) ReportEvalError();
    return;
  }
  if (!Evaluate(0, Expression)) return ReportEvalError();
  TFuncEvaluator& ev = Ev();

  TVariableList* current = ev.Variables();
  TVariableList* target = Global ? current->Outermost() : current;
  TVariableList* holder = nullptr;
  TVariable* v = nullptr;
  // Nothing was added or removed along the chain since the last run: the name still means the same
  // variable, which this command holds, so it cannot have been freed meanwhile.
  if (target == cachedList_ && target->ChainVersion() == cachedVersion_ && cachedVar_) {
    v = cachedVar_.get();
    holder = cachedHolder_;
  } else {
    v = target->FindLower(LowerName, holder);
    cachedVar_ = v ? v->shared_from_this() : nullptr;
    cachedHolder_ = holder;
    cachedList_ = target;
    cachedVersion_ = target->ChainVersion();
  }

  enum { kPlain, kIndexed, kProperty } kind = kPlain;
  if (v && v->TakesArguments && (Target.ParamCount > 0 || v->DefaultAccess))
    kind = kIndexed;
  else if (v && v->HasMembers && !Target.Member.empty())
    kind = kProperty;

  // The common case: a plain value into an existing variable of no fixed type.
  if (kind == kPlain && v && !v->ReadOnly && !v->TypeFixed && ev.DataType != dtObject && !v->AsWrapper()) {
    v->ClearError();
    AssignThroughHost(*v, std::move(ev));
    if (v->ErrorCode != 0) RunError(v->ErrorCode, v->ErrorText);
    return;
  }

  TBaseEvalItem value;
  value.DataType = ev.DataType;
  value.Number = ev.Number;
  value.Text = std::move(ev.Text);
  value.ObjectRef = std::move(ev.ObjectRef);
  // A wrapper's write may replace it in its list; keep it alive until the write returns.
  TVariablePtr keep = (v && (v->AsWrapper() || value.DataType == dtObject)) ? v->shared_from_this() : nullptr;
  bool readOnly = false, reserved = false;
  if (v) {
    readOnly = v->ReadOnly;
    v->ClearError();
  } else {
    reserved = Compiler().IsReserved(Target.Name);
  }
  const std::string& member = LowerMember;

  THostValue key, memberArg;
  if (kind == kIndexed) {
    auto evalArg = [&](int slot, const std::string& text, THostValue& out) {
      if (!Evaluate(slot, text)) {
        ReportEvalError();
        return false;
      }
      if (!IsNumericType(ev.DataType) && ev.DataType != dtString) {
        RunError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {text}));
        return false;
      }
      out = ToHostValue(ev);
      return true;
    };
    if (Target.ParamCount > 0 && value.DataType != dtObject && !member.empty() &&
        Target.MemberParamCount == 0) {
      // `Name[key].member = value`: the host may take the key and value as they are.
      if (!Evaluate(1, Target.Params[0])) return ReportEvalError();
      if (!IsNumericType(ev.DataType) && ev.DataType != dtString)
        return RunError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {Target.Params[0]}));
      if (v->SetIndexedItem(ev, member, std::move(value))) {
        if (v->ErrorCode != 0) RunError(v->ErrorCode, v->ErrorText);
        return;
      }
      key = ToHostValue(ev);
    } else if (Target.ParamCount > 0 && !evalArg(1, Target.Params[0], key)) {
      return;
    }
    if (Target.MemberParamCount > 0 && !evalArg(2, Target.MemberParams[0], memberArg)) return;
  }

  auto plainErrors = [&]() {
    if (readOnly) return RunError(kErrReadOnly, Format("Variable '%s' is read-only", {Target.Name})), true;
    if (reserved) return RunError(kErrReservedKeyword, Format("Reserved keyword: '%s'", {Target.Name})), true;
    if (!v && (Target.ParamCount > 0 || !Target.Member.empty()))
      return RunError(kErrUnknownObject, "Unknown object: " + VariableRecText(Target)), true;
    return false;
  };

  if (value.DataType == dtObject) {
    if (kind == kIndexed) {
      v->SetIndexedObject(key, member, value.ObjectRef, memberArg);
    } else if (kind == kProperty) {
      v->SetPropertyObject(member, value.ObjectRef);
    } else {
      if (plainErrors()) return;
      if (v && v->TypeFixed && v->DataType != dtObject)
        return RunError(kErrIncompatibleTypes, Format("Incompatible data types: '%s' and '%s'",
                                                      {DataTypeName(v->DataType), "Object"}));
      TVariableList* list = holder ? holder : target;
      if (v) list->RemoveVariable(v);
      TVariablePtr w = value.ObjectRef ? value.ObjectRef->MakeWrapper(Target.Name, &Compiler()) : nullptr;
      if (!w) {
        w = std::make_shared<TVariable>(Target.Name);
        w->SetObject(value.ObjectRef);
      }
      w->Name = Target.Name;
      list->Add(w);
      return;
    }
  } else if (kind == kIndexed) {
    v->SetIndexed(key, member, ToHostValue(value), memberArg);
  } else if (kind == kProperty) {
    v->SetProperty(member, ToHostValue(value));
  } else {
    if (plainErrors()) return;
    if (v && v->TypeFixed && v->DataType != value.DataType &&
        (v->DataType == dtString || (IsNumericType(v->DataType) && !IsNumericType(value.DataType))))
      return RunError(kErrIncompatibleTypes,
                      Format("Incompatible data types: '%s' and '%s'",
                             {DataTypeName(v->DataType), DataTypeName(value.DataType)}));
    if (v) {
      AssignThroughHost(*v, std::move(value));
    } else {
      auto nv = std::make_shared<TVariable>(Target.Name);
      AssignThroughHost(*nv, std::move(value));
      target->Add(std::move(nv));
    }
  }
  if (v && v->ErrorCode != 0) RunError(v->ErrorCode, v->ErrorText);
}

void TIf::CompileStep() {
  FixTexts();
  struct TRange {
    std::string Text;
    int Line;
    size_t From, To;
    bool Else;
  };
  std::vector<TRange> ranges;
  size_t i = Block.LineCursor;
  std::string text = Params;
  int line = Line;
  bool elseSeen = false;
  for (;;) {
    long j = Block.FindEnd(i, kwEndif, {kwElseIf, kwElse});
    if (j < 0) return CompileError(kErrMissingEndIf, "Missing EndIf");
    size_t ju = static_cast<size_t>(j);
    uint16_t id = Block.LineId(ju);
    std::string rest = std::string(Trim(Block.LineParams(ju), kAsciiControlsAndSpace));
    int jline = Block.Lines[ju].Number;
    ranges.push_back({text, line, i + 1, ju, elseSeen});
    if (id == kwEndif) {
      if (!rest.empty())
        return Compiler().AddError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {rest}), jline);
      Block.LineCursor = ju + 1;
      break;
    }
    // After Else, a further ElseIf or Else ends the statement without its Endif.
    if (elseSeen) return Compiler().AddError(kErrMissingEndIf, "Missing EndIf", jline);
    if (id == kwElse) {
      if (!rest.empty())
        return Compiler().AddError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {rest}), jline);
      elseSeen = true;
    } else {
      text = rest;
      line = jline;
    }
    i = ju;
  }
  for (const TRange& r : ranges) {
    TBlock* body = Block.MakeChild(r.From, r.To);
    if (!Compiler().Errors.empty()) return;
    if (r.Else)
      ElseBlock = body;
    else
      Conditions.push_back({r.Text, r.Line, body});
  }
}

void TIf::RunStep() {
  int slot = 0;
  for (TCondition& c : Conditions) {
    bool truth = false;
    if (!Evaluate(slot++, c.Text) || !ConditionTruth(Ev(), truth))
      return Compiler().RunError(Ev().ErrorCode, Ev().ErrorText, c.Line);
    if (truth) return c.Body->Run();
  }
  if (ElseBlock) ElseBlock->Run();
}

void TWhile::CompileStep() {
  FixTexts();
  Body = CompileBodyUntil(kwEndWhile, kErrMissingEndWhile, "Missing EndWhile");
}

void TWhile::RunStep() {
  TBaseCompiler& c = Compiler();
  while (!c.Stopped) {
    bool truth = false;
    if (!Evaluate(0, Params) || !ConditionTruth(Ev(), truth)) return ReportEvalError();
    if (!truth || !c.StepWithinBudget(Line)) break;
    Body->Run();
  }
}

void TFor::CompileStep() {
  FixTexts();
  std::string w = NextWord();
  if (SameText(w, "each")) {
    Each = true;
    VarName = NextWord();
    if (VarName.empty() || !IsLetter(VarName[0]) || !SameText(NextWord(), "in"))
      return CompileError(kErrSyntax, "Syntax error");
    std::string part;
    for (std::string x = NextWord(); !x.empty(); x = NextWord()) part += (part.empty() ? "" : " ") + x;
    if (part.empty()) return CompileError(kErrSyntax, "Syntax error");
    CollectionText = part;
  } else {
    VarName = w;
    if (VarName.empty() || !IsLetter(VarName[0]) || NextWord() != "=")
      return CompileError(kErrSyntax, "Syntax error");
    std::string start, end;
    bool sawTo = false;
    for (std::string x = NextWord(); !x.empty(); x = NextWord()) {
      if (!sawTo && (SameText(x, "to") || SameText(x, "downto"))) {
        sawTo = true;
        Downto = SameText(x, "downto");
        continue;
      }
      std::string& dst = sawTo ? end : start;
      dst += (dst.empty() ? "" : " ") + x;
    }
    if (!sawTo || start.empty() || end.empty()) return CompileError(kErrSyntax, "Syntax error");
    StartText = start;
    EndText = end;
  }
  Body = CompileBodyUntil(kwEndFor, kErrMissingEndFor, "Missing EndFor");
}

void TFor::RunStep() {
  if (Each)
    RunEach();
  else
    RunCounting();
}

void TFor::RunCounting() {
  if (!EvaluateAs(0, StartText, dtInteger)) return ReportEvalError();
  int64_t first = Ev().AsInteger();
  if (!EvaluateAs(1, EndText, dtInteger)) return ReportEvalError();
  int64_t last = Ev().AsInteger();
  // The count is fixed before the first pass: the body cannot lengthen or shorten the loop.
  long double span = Downto ? static_cast<long double>(first) - last : static_cast<long double>(last) - first;
  if (span < 0) return;
  uint64_t count = static_cast<uint64_t>(span) + 1;
  TBaseCompiler& c = Compiler();
  TVariableList* list = Ev().Variables();
  const std::string lowerVar = LowerAscii(VarName);
  TVariablePtr v;
  uint64_t version = 0;
  for (uint64_t k = 0; k < count && !c.Stopped; ++k) {
    // The body may remove or replace the counter; look it up again only when the lists changed.
    if (!v || list->ChainVersion() != version) {
      v = list->FindShared(lowerVar);
      if (!v) {
        v = std::make_shared<TVariable>(VarName);
        list->Add(v);
      }
      version = list->ChainVersion();
    }
    if (v->ReadOnly) return RunError(kErrReadOnly, Format("Variable '%s' is read-only", {VarName}));
    int64_t value = Downto ? first - static_cast<int64_t>(k) : first + static_cast<int64_t>(k);
    v->SetInteger(value);
    if (!c.StepWithinBudget(Line)) break;
    Body->Run();
  }
}

void TFor::RunEach() {
  TFuncEvaluator& ev = Ev();
  TVariableList* list = ev.Variables();
  TVariablePtr holder;
  bool plainName = !CollectionText.empty() && IsLetter(CollectionText[0]);
  for (char ch : CollectionText) plainName = plainName && IsNameChar(ch);
  if (plainName) {
    TVariablePtr cv = list->FindShared(CollectionText);
    if (cv && cv->AsCollection()) holder = cv;
  }
  if (!holder) {
    if (!Evaluate(0, CollectionText)) return ReportEvalError();
    if (ev.DataType != dtObject || !ev.ObjectRef)
      return RunError(kErrIncompatibleTypes, Format("Incompatible data types: '%s' and '%s'",
                                                    {DataTypeName(ev.DataType), "Object"}));
    holder = ev.ObjectRef->MakeWrapper("Collection" + VarName, &Compiler());
    if (!holder || !holder->AsCollection())
      return RunError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {CollectionText}));
  }
  TBaseCollectionWrapper* coll = holder->AsCollection();
  if (coll->InForEach)
    return RunError(kErrNestedForEach,
                    Format("Cannot use '%s' collection in nested for each statement", {CollectionText}));
  coll->InForEach = true;
  list->Remove(VarName);
  struct TCleanup {
    TVariableList* List;
    TBaseCollectionWrapper* Coll;
    const std::string& Name;
    ~TCleanup() {
      List->Remove(Name);
      Coll->InForEach = false;
    }
  } cleanup{list, coll, VarName};
  TBaseCompiler& c = Compiler();
  for (bool more = coll->First(); more && !c.Stopped; more = coll->Next()) {
    TVariablePtr element = coll->Current();
    if (!element) break;
    element->Name = VarName;
    list->AddShared(VarName, element);
    if (!c.StepWithinBudget(Line)) break;
    Body->Run();
  }
}

void TProcedure::CompileStep() {
  TBaseCompiler& c = Compiler();
  if (&Block != c.MainBlock)
    return CompileError(kErrStatementExpected, Format("Statement expected but '%s' found", {"Procedure"}));
  std::string name = NextWord();
  if (name.empty() || c.IsReserved(name))
    return CompileError(kErrInvalidProcedureName, Format("Invalid procedure name: '%s'", {name}));
  std::string rest = RestText();
  if (!rest.empty()) return CompileError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {rest}));
  size_t j = Block.LineCursor + 1;
  while (j < Block.Lines.size() && Block.LineId(j) != kwEndProcedure) ++j;
  if (j >= Block.Lines.size()) return CompileError(kErrMissingEndProcedure, "Missing EndProcedure");
  std::string endRest = std::string(Trim(Block.LineParams(j), kAsciiControlsAndSpace));
  if (!endRest.empty())
    return c.AddError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {endRest}),
                      Block.Lines[j].Number);
  if (c.HasProcedure(name))
    return CompileError(kErrAlreadyDeclared, Format("'%s' is already declared'", {name}));
  TBlock* body = Block.MakeChild(Block.LineCursor + 1, j);
  c.RegisterProcedure(name, body);
  Block.LineCursor = j + 1;
}

void TExecuteProc::CompileStep() {
  ProcName = NextWord();
  if (ProcName.empty()) {
    CompileError(kErrMissingParameter, "Missing parameter");
  } else if (std::string rest = RestText(); !rest.empty()) {
    CompileError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {rest}));
  }
  ++Block.LineCursor;
}

void TExecuteProc::RunStep() {
  Compiler().ExecuteProcedure(ProcName);
}

bool TMsgBox::JoinValues(const std::string& separator, std::string& out) {
  if (!Evaluate(0, Params)) {
    ReportEvalError();
    return false;
  }
  const TValueStack& st = Ev().Stack;
  out.clear();
  for (size_t i = 0; i < st.Count(); ++i) {
    if (i) out += separator;
    const TStackItem& it = st.At(i);
    if (it.DataType == dtString)
      out += it.Text;
    else if (IsNumericType(it.DataType))
      out += FormatGeneral(it.Number);
  }
  return true;
}

void TMsgBox::CompileStep() {
  FixTexts();
  TCommand::CompileStep();
}

void TMsgBox::RunStep() {
  std::string text;
  if (JoinValues("\n", text)) Compiler().ShowMessage(text);
}

void TWriteOutput::RunStep() {
  if (!Compiler().OutputEnabled) return;
  std::string text;
  if (JoinValues(" ", text)) Compiler().Output(text);
}

}  // namespace vandrel
