// Scripts that must not take their host down: run budgets, deep nesting, torn files, stray types.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "ScriptTestUtil.h"
#include "TempFolder.h"
#include "script/BaseCompiler.h"
#include "script/FuncEvaluator.h"

namespace vandrel {
namespace {

using testing::MainProc;
using testing::TScriptRun;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(ScriptLimits, EveryKindOfLoopStopsAtTheRunBudget) {
  const char* loops[] = {
      "While 1 = 1\nEndWhile",
      "While True\nx = x + 1\nEndWhile",
      "For i = 1 to 2000000000\nFor j = 1 to 2000000000\nEndFor\nEndFor",
      "ExecuteProc Spin",
  };
  for (const char* body : loops) {
    TScriptRun r(MainProc(body) + "Procedure Spin\nWhile 1\nEndWhile\nEndProcedure\n");
    ASSERT_EQ(r.CompileCode, 0) << body;
    r.Compiler.Variables().SetInteger("x", 0);
    r.Compiler.RunTimeLimit = 200;
    auto start = Clock::now();
    EXPECT_EQ(r.Run("Main"), kErrTimeLimit) << body;
    long ms = ElapsedMs(start);
    EXPECT_GE(ms, 200) << body;
    EXPECT_LT(ms, 5000) << body;  // stopped, not merely slowed (wide: the machine may be loaded)
    EXPECT_EQ(r.LastErrorText(), "Script stopped after running 200 ms") << body;
    EXPECT_EQ(r.Compiler.RunDepth, 0) << body;
  }
  // Each outermost run has a budget of its own: a later quick run is not charged for an earlier one.
  TScriptRun r(MainProc("x = 1") + "Procedure Slow\nWhile 1\nEndWhile\nEndProcedure\n");
  r.Compiler.RunTimeLimit = 100;
  EXPECT_EQ(r.Run("Slow"), kErrTimeLimit);
  EXPECT_EQ(r.Run("Main"), 0);
  // Without a limit a long but finite loop finishes.
  TScriptRun unlimited(MainProc("For i = 1 to 300000\nx = i\nEndFor"));
  EXPECT_EQ(unlimited.Run("Main"), 0);
  EXPECT_EQ(unlimited.Var("x")->AsInteger(), 300000);
}

// Compiles `source` in a child process and reports its peak resident size, the compile's result and how
// long it took, so that the test's own memory does not blur the measure.
struct TChildCompile {
  int Code = -1;
  long PeakKb = 0;
  long CpuMs = 0;  // user and system time of the child
};

TChildCompile CompileInChild(const std::string& source) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int code = 0;
    {
      TBaseCompiler c;
      c.LoadFromStream(source);
      code = c.Compile();
    }
    ssize_t n = write(fds[1], &code, sizeof code);
    _exit(n == sizeof code ? 0 : 1);
  }
  close(fds[1]);
  TChildCompile out;
  if (read(fds[0], &out.Code, sizeof out.Code) != sizeof out.Code) out.Code = -1;
  close(fds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  out.PeakKb = usage.ru_maxrss;
  out.CpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
  return out;
}

TEST(ScriptLimits, DeepNestingCompilesInMemoryLinearInTheText) {
  // What a child process costs before it compiles anything (the sanitizers' shadow memory included).
  TChildCompile baseline = CompileInChild(MainProc("x = 1"));
  ASSERT_EQ(baseline.Code, 0);

  // A megabyte of nested Ifs, far deeper than allowed: refused before any block is built. Every level
  // used to get its own copy of the lines below it, gigabytes before the depth was noticed.
  std::string deep = "Procedure Main\n";
  std::string closers;
  while (deep.size() + closers.size() < 1000000) {
    deep += "If 1\n";
    closers += "Endif\n";
  }
  deep += closers + "EndProcedure\n";
  TChildCompile refused = CompileInChild(deep);
  EXPECT_EQ(refused.Code, kErrOverflow);

  // As deep as allowed, with its statements at the bottom: the levels share the lines.
  std::string body;
  while (body.size() < 200000) body += "x = x + 1\n";
  std::string nested = "Procedure Main\n";
  for (int i = 0; i < TBaseCompiler::kMaxNesting - 1; ++i) nested += "If 1\n";
  nested += body;
  for (int i = 0; i < TBaseCompiler::kMaxNesting - 1; ++i) nested += "Endif\n";
  nested += "EndProcedure\n";
  TChildCompile compiled = CompileInChild(nested);
  EXPECT_EQ(compiled.Code, 0);

  std::printf(
      "[ measure  ] peak RSS: baseline %ld KiB; %zu bytes of nested Ifs refused with %d after %ld ms of "
      "CPU at %ld KiB; %zu bytes nested %d deep compiled after %ld ms of CPU at %ld KiB\n",
      baseline.PeakKb, deep.size(), refused.Code, refused.CpuMs, refused.PeakKb, nested.size(),
      TBaseCompiler::kMaxNesting - 1, compiled.CpuMs, compiled.PeakKb);
  EXPECT_LT(refused.PeakKb - baseline.PeakKb, 64 * 1024);
  EXPECT_LT(compiled.PeakKb - baseline.PeakKb, 64 * 1024);
}

TEST(ScriptFiles, AFailedWriteLeavesTheOldFile) {
  const std::string path = vandrel::test::ProcessTempDir() + "/kept.ccs";
  const std::string old(2000, 'o');
  std::ofstream(path, std::ios::binary) << old;
  // A script whose compiled form is larger than the file size limit the child runs under.
  std::string source = "Procedure Register\nEndProcedure\nProcedure Main\n";
  while (source.size() < 10000) source += "x = \"a long enough line of text\"\n";
  source += "EndProcedure\n";
  pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      1000, 1000
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    TScriptRun r(source);
    _exit(r.Compiler.SaveToFile(path) == kErrStream ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write should have failed with a stream error";
  EXPECT_EQ(ReadFile(path), old) << "the old file was torn";
  // Nothing is left beside it.
  TScriptRun ok(source);
  ASSERT_EQ(ok.Compiler.SaveToFile(path), 0);
  EXPECT_EQ(ReadFile(path), ok.Compiler.SaveToBytes());
}

TEST(ScriptFiles, TruncatedCompiledFilesAreCorrupted) {
  TScriptRun good(MainProc("x = 12345"));
  std::string bytes = good.Compiler.SaveToBytes();
  std::string plain = UnscrambleBytes(bytes);
  // Cut inside the last statement: "x=12" would still compile, to the wrong value.
  std::string cut = plain.substr(0, plain.find("12345") + 2);
  TScriptRun t("");
  t.Compiler.LoadFromStream(ScrambleBytes(cut));
  EXPECT_TRUE(t.Compiler.Corrupted);
  EXPECT_EQ(t.Compiler.Compile(), kErrCorruptedSource);
}

TEST(ScriptStatements, DeclareRefusesConstantsAndStrayTypes) {
  struct {
    const char* Body;
    int Code;
    const char* Text;
  } cases[] = {
      {"Declare True, 2", kErrReadOnly, "Variable 'True' is read-only"},
      {"Declare CompilerVersion", kErrReadOnly, "Variable 'CompilerVersion' is read-only"},
      {"Declare x, 10", kErrInvalidDataType, "Invalid data type: '10'"},
      {"Declare x, 200", kErrInvalidDataType, "Invalid data type: '200'"},
      {"Declare x, -1", kErrInvalidDataType, "Invalid data type: '-1'"},
      {"Declare x, 0", kErrInvalidDataType, "Invalid data type: '0'"},
  };
  for (const auto& c : cases) {
    TScriptRun r(MainProc(c.Body));
    EXPECT_EQ(r.Run("Main"), c.Code) << c.Body;
    EXPECT_EQ(r.LastErrorText(), c.Text) << c.Body;
  }
  // The constant keeps its type, so comparisons with it still work.
  TScriptRun r(MainProc("Declare True, 2\n") +
               "Procedure Later\nx = 1\nIf x = True\nok = 1\nEndif\nEndProcedure\n");
  EXPECT_EQ(r.Run("Main"), kErrReadOnly);
  EXPECT_EQ(r.Run("Later"), 0) << r.LastErrorText();
  ASSERT_NE(r.Var("ok"), nullptr);
  // Every type of the table is accepted.
  TScriptRun all(MainProc("Declare a, 1\nDeclare b, 9\nDeclare c, 7"));
  EXPECT_EQ(all.Run("Main"), 0) << all.LastErrorText();
  EXPECT_EQ(all.Var("a")->DataType, dtFloat);
  EXPECT_EQ(all.Var("b")->DataType, dtVariant);
  EXPECT_EQ(all.Var("c")->DataType, dtMoney);
}

TEST(ScriptStrFormat, NeedsAValueForEveryDirective) {
  struct {
    const char* Expr;
    const char* Result;  // null: a convert error
  } cases[] = {
      {"StrFormat(\"%d items\", Trunc(3))", "3 items"},  {"StrFormat(\"%d of %d\", Trunc(3))", nullptr},
      {"StrFormat(\"%s and %s\", \"a\")", nullptr},      {"StrFormat(\"%0:s and %0:s\", \"a\")", "a and a"},
      {"StrFormat(\"%d%% done\", Trunc(5))", "5% done"}, {"StrFormat(\"%.2f %x\", 1.5)", nullptr},
  };
  for (const auto& c : cases) {
    TScriptRun r(MainProc(std::string("s = ") + c.Expr));
    int code = r.Run("Main");
    if (c.Result) {
      ASSERT_EQ(code, 0) << c.Expr << " " << r.LastErrorText();
      EXPECT_EQ(r.Var("s")->AsString(), c.Result) << c.Expr;
    } else {
      EXPECT_EQ(code, kErrConvert) << c.Expr;
      EXPECT_EQ(r.LastErrorText().rfind("Convert error: ", 0), 0u) << r.LastErrorText();
    }
  }
}

}  // namespace
}  // namespace vandrel
