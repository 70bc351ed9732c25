// vandrel-script: compile, run and inspect script files for engine authors.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
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

bool WantsHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  return false;
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

// Whole milliseconds from 0 to a day; false for anything else.
bool ParseTimeLimit(const std::string& text, int& out) {
  int v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || v < 0 || v > 86400000)
    return false;
  out = v;
  return true;
}

int Run(int argc, char** argv) {
  if (argc < 4) return Usage();
  std::string file = argv[2];
  std::vector<std::string> procs;
  std::vector<std::pair<std::string, std::string>> sets;
  std::vector<std::string> dumps;
  int timeLimit = kDefaultRunTimeLimitMs;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--set" || a == "--dump" || a == "--time-limit") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "--time-limit") {
        if (!ParseTimeLimit(v, timeLimit)) {
          std::fprintf(stderr, "vandrel-script: --time-limit wants milliseconds from 0 to 86400000\n");
          return 2;
        }
        continue;
      }
      if (a == "--dump") {
        dumps.push_back(v);
        continue;
      }
      size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) return Usage();
      sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      procs.push_back(a);
    }
  }
  if (procs.empty()) return Usage();
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
  c.RunTimeLimit = timeLimit;
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
  for (const std::string& d : dumps) {
    TVariable* v = c.Variables().Find(d);
    std::string value = v ? RenderValue(*v) : "";
    std::cout << d << ": " << DataTypeName(v ? static_cast<int>(v->DataType) : 0)
              << (value.empty() ? "" : " " + value) << "\n";
  }
  return rc;
}

int Compile(int argc, char** argv) {
  if (argc != 4) return Usage();
  TToolCompiler tool(argv[2]);
  TBaseCompiler& c = *tool;
  c.OnOutput = [](TBaseCompiler&, const std::string& text) { std::cout << text << "\n"; };
  if (!Load(tool, argv[2])) return 2;
  if (c.Compile() != 0) {
    for (const auto& m : c.Errors) PrintError(m);
    return 2;
  }
  size_t before = c.Errors.size();
  if (c.SaveToFile(argv[3]) != 0) {
    if (c.Errors.size() > before) PrintError(c.Errors[before]);
    return 1;
  }
  return 0;
}

int Show(int argc, char** argv) {
  if (argc != 3) return Usage();
  const std::string file = argv[2];
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
    int (*Run)(int, char**);
  };
  static const TCommandEntry kCommands[] = {
      {"run", kRunUsage, &Run}, {"compile", kCompileUsage, &Compile}, {"show", kShowUsage, &Show}};
  for (const TCommandEntry& c : kCommands) {
    if (cmd != c.Name) continue;
    if (WantsHelp(argc, argv)) {
      std::fputs(c.Usage, stdout);
      return 0;
    }
    return c.Run(argc, argv);
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
