// vandrel-script: compile, run and inspect script files for engine authors.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/CommandLineOptions.h"
#include "platform/Format.h"
#include "script/BaseCompiler.h"

using namespace vandrel;

namespace {

constexpr const char* kRunUsage =
    "usage: vandrel-script run FILE PROC [PROC...] [--set NAME=VALUE]... [--dump NAME]... [--time-limit MS]\n"
    "  Runs the procedures in order and stops at the first error. --time-limit bounds each procedure's run\n"
    "  (default 10000 ms, 0 for none), as engines are bounded during a search.\n";
constexpr const char* kCompileUsage =
    "usage: vandrel-script compile SOURCE OUT\n"
    "  Compiles SOURCE, runs its Register procedure and writes the compiled file OUT.\n";
constexpr const char* kShowUsage =
    "usage: vandrel-script show COMPILED\n"
    "  Prints a compiled file as text.\n";

// A script run of the tool gets the budget an engine gets during a search.
constexpr int kDefaultRunTimeLimitMs = 10000;

int Usage() {
  std::fprintf(stderr, "%s%s%s", kRunUsage, kCompileUsage, kShowUsage);
  return 2;
}

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "vandrel-script: %s\n", problem.c_str());
  return Usage();
}

int CannotRead(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "vandrel-script: cannot read %s: %s\n", file.c_str(), reason.c_str());
  return 2;
}

void PrintError(const TCompilerMsgItem& m) {
  std::cerr << "error " << m.Code << ": " << m.Text << " (line " << m.Line << ")\n";
}

// A whole number becomes an Integer, another number a Float, anything else a String.
THostValue ParseValue(const std::string& text) {
  int64_t i = 0;
  auto ri = std::from_chars(text.data(), text.data() + text.size(), i);
  if (!text.empty() && ri.ec == std::errc() && ri.ptr == text.data() + text.size()) return THostValue(i);
  double d = 0;
  auto rd = std::from_chars(text.data(), text.data() + text.size(), d, std::chars_format::fixed);
  if (!text.empty() && rd.ec == std::errc() && rd.ptr == text.data() + text.size()) {
    int64_t whole = 0;
    // Whole numbers too large for the integer reading stay exact as Floats.
    if (DoubleToInt64(d, whole) && static_cast<double>(whole) == d && text.find('.') == std::string::npos)
      return THostValue(whole);
    return THostValue(d);
  }
  return THostValue(text);
}

std::string RenderValue(const TBaseEvalItem& v) {
  if (IsNumericType(v.DataType)) return FormatGeneral(v.Number);
  if (v.DataType == dtString) return v.Text;
  return "";
}

// Search types and engines (categories too) have keywords of their own whose ids a compiled file stores,
// so each kind must be read and written by its own compiler; the file's extension says which.
class TToolCompiler {
 public:
  explicit TToolCompiler(const std::string& file) {
    const size_t dot = file.find_last_of('.');
    const size_t slash = file.find_last_of('/');
    const std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                                ? std::string()
                                : AsciiLowerCase(file.substr(dot + 1));
    if (ext == "sst" || ext == "cst") {
      searchType_ = std::make_unique<TSearchTypeReader>();
      compiler_ = &searchType_->Compiler();
    } else if (ext == "sen" || ext == "cen" || ext == "sca" || ext == "cca") {
      engine_ = std::make_unique<TEngineCompiler>();
      compiler_ = engine_.get();
    } else {
      base_ = std::make_unique<TBaseCompiler>();
      compiler_ = base_.get();
    }
  }
  TBaseCompiler& operator*() { return *compiler_; }
  // Back to the kind's own starting variables; an engine's live in its own reset, not the base one.
  void ResetVariables() {
    if (engine_)
      engine_->ResetEngineVariables();
    else
      compiler_->ResetVariables();
  }

 private:
  std::unique_ptr<TSearchTypeReader> searchType_;
  std::unique_ptr<TEngineCompiler> engine_;
  std::unique_ptr<TBaseCompiler> base_;
  TBaseCompiler* compiler_ = nullptr;
};

bool Load(TToolCompiler& tool, const std::string& file) {
  tool.ResetVariables();
  TBaseCompiler& c = *tool;
  std::string reason;
  if (!c.LoadFromFile(file, &reason)) {
    CannotRead(file, reason);
    return false;
  }
  return true;
}

int Run(TCommandLine& line) {
  const std::vector<std::string>& words = line.Positionals();
  if (words.size() < 2) return UsageError("run needs a FILE and at least one procedure");
  const std::string& file = words[0];
  const std::vector<std::string> procs(words.begin() + 1, words.end());
  std::optional<int64_t> timeLimit;
  if (!line.Integer("time-limit", 0, 86400000, timeLimit)) {
    std::fprintf(stderr, "vandrel-script: --time-limit wants milliseconds from 0 to 86400000\n");
    return 2;
  }
  std::vector<std::pair<std::string, std::string>> sets;
  for (const std::string& set : line.Values("set")) {
    const size_t eq = set.find('=');
    if (eq == std::string::npos || eq == 0) return UsageError("--set takes NAME=VALUE");
    sets.emplace_back(set.substr(0, eq), set.substr(eq + 1));
  }
  TToolCompiler tool(file);
  TBaseCompiler& c = *tool;
  c.OnOutput = [](TBaseCompiler&, const std::string& text) { std::cout << text << "\n"; };
  c.OnMessageBox = [](TBaseCompiler&, const std::string& text, const std::string&) {
    std::cout << text << "\n";
  };
  if (!Load(tool, file)) return 2;
  if (c.Compile() != 0) {
    for (const auto& m : c.Errors) PrintError(m);
    return 2;
  }
  for (const std::string& p : procs) {
    if (!c.HasProcedure(p)) {
      std::fprintf(stderr, "vandrel-script: %s has no procedure %s\n", file.c_str(), p.c_str());
      return 2;
    }
  }
  c.RunTimeLimit = static_cast<int>(timeLimit.value_or(kDefaultRunTimeLimitMs));
  for (const auto& [name, value] : sets) c.Variables().SetValue(name, ParseValue(value));
  int rc = 0;
  for (const std::string& p : procs) {
    size_t before = c.Errors.size();
    if (c.ExecuteProcedure(p) != 0) {
      if (c.Errors.size() > before) PrintError(c.Errors[before]);
      rc = 1;
      break;
    }
  }
  std::cout.flush();
  for (const std::string& d : line.Values("dump")) {
    TVariable* v = c.Variables().Find(d);
    std::string value = v ? RenderValue(*v) : "";
    std::cout << d << ": " << DataTypeName(v ? static_cast<int>(v->DataType) : 0)
              << (value.empty() ? "" : " " + value) << "\n";
  }
  return rc;
}

int Compile(TCommandLine& line) {
  const std::vector<std::string>& words = line.Positionals();
  if (words.size() != 2) return UsageError("compile needs a SOURCE and an OUT file");
  TToolCompiler tool(words[0]);
  TBaseCompiler& c = *tool;
  c.OnOutput = [](TBaseCompiler&, const std::string& text) { std::cout << text << "\n"; };
  if (!Load(tool, words[0])) return 2;
  if (c.Compile() != 0) {
    for (const auto& m : c.Errors) PrintError(m);
    return 2;
  }
  size_t before = c.Errors.size();
  if (c.SaveToFile(words[1]) != 0) {
    if (c.Errors.size() > before) PrintError(c.Errors[before]);
    return 1;
  }
  return 0;
}

int Show(TCommandLine& line) {
  if (line.Positionals().size() != 1) return UsageError("show needs one COMPILED file");
  const std::string& file = line.Positionals()[0];
  std::string bytes, reason;
  if (!ReadWholeFile(file, bytes, reason)) return CannotRead(file, reason);
  if (bytes.size() < 4 || UnscrambleBytes(bytes.substr(0, 4)) != "FF01") {
    std::fprintf(stderr, "vandrel-script: %s is not a compiled script\n", file.c_str());
    return 2;
  }
  // What the compiler's own loader refuses to run is refused here as well.
  TBaseCompiler probe;
  probe.LoadFromStream(bytes);
  if (probe.Corrupted) {
    std::fprintf(stderr, "vandrel-script: %s is truncated\n", file.c_str());
    return 1;
  }
  std::string text = UnscrambleBytes(bytes);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  std::cout << out;
  std::cout.flush();
  if (!std::cout) {
    std::fprintf(stderr, "vandrel-script: cannot write the output\n");
    return 1;
  }
  return 0;
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::fprintf(stdout, "%s%s%s", kRunUsage, kCompileUsage, kShowUsage);
    return 0;
  }
  struct TCommandEntry {
    const char* Name;
    const char* Usage;
    std::vector<TOptionDef> Options;
    int (*Run)(TCommandLine& line);
  };
  static const TCommandEntry kCommands[] = {
      {"run",
       kRunUsage,
       {{"set", TOptionKind::Repeated}, {"dump", TOptionKind::Repeated}, {"time-limit", TOptionKind::Value}},
       &Run},
      {"compile", kCompileUsage, {}, &Compile},
      {"show", kShowUsage, {}, &Show}};
  for (const TCommandEntry& c : kCommands) {
    if (cmd != c.Name) continue;
    TCommandLine line(c.Options);
    if (!line.Parse(std::vector<std::string>(argv + 2, argv + argc))) return UsageError(line.Error());
    if (line.HelpAsked()) {
      std::fputs(c.Usage, stdout);
      return 0;
    }
    return c.Run(line);
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  // The last resort: nothing escapes main, whatever a loader or a script host throws.
  try {
    return Dispatch(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vandrel-script: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vandrel-script: unexpected error\n");
  }
  return 1;
}
