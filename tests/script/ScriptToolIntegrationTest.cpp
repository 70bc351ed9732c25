// Runs the vandrel-script binary and checks its output and exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include "TempFolder.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

namespace vandrel {
namespace {

struct TToolResult {
  int Code = -1;
  std::string Out;
  std::string Err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Arguments are ours (no quotes inside), so a shell line is safe here.
TToolResult RunTool(const std::string& args) {
  std::string dir = vandrel::test::ProcessTempDir();
  std::string out = dir + "/tool.out", err = dir + "/tool.err";
  std::string cmd = std::string(VANDREL_SCRIPT_TOOL) + " " + args + " >" + out + " 2>" + err;
  int status = std::system(cmd.c_str());
  TToolResult r;
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = ReadAll(out);
  r.Err = ReadAll(err);
  return r;
}

std::string WriteFile(const std::string& name, const std::string& text) {
  std::string path = vandrel::test::ProcessTempDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(ScriptToolIntegration, RunPrintsOutputAndDumps) {
  std::string src =
      WriteFile("tool_run.scs",
                "Procedure Register\nFileVersion = 3\nEndProcedure\n"
                "Procedure First\nWriteOutput \"n is\", n, name\nMsgBox \"box\"\nEndProcedure\n"
                "Procedure Second\ntotal = n * 2\nratio = total / 4\nbig = 9780345391803\nEndProcedure\n");
  TToolResult r =
      RunTool("run " + src +
              " First Second --set n=21 --set name=abc --set f=2.5 --dump total --dump ratio --dump name"
              " --dump f --dump big --dump missing");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "n is 21 abc\nbox\ntotal: Integer 42\nratio: Float 10.5\nname: String abc\nf: Float 2.5\n"
            "big: Integer 9780345391803\nmissing: Unknown\n");
  EXPECT_EQ(r.Err, "");
}

TEST(ScriptToolIntegration, ErrorsAndExitCodes) {
  std::string bad = WriteFile("tool_bad.scs", "Procedure Main\nIf 1\nEndProcedure\n");
  TToolResult c = RunTool("run " + bad + " Main");
  EXPECT_EQ(c.Code, 2);
  EXPECT_EQ(c.Err, "error 205: Missing EndIf (line 2)\n");

  std::string fails = WriteFile("tool_fail.scs",
                                "Procedure Main\nWriteOutput 1\nx = 1 / 0\nEndProcedure\n"
                                "Procedure Later\nWriteOutput 2\nEndProcedure\n");
  TToolResult f = RunTool("run " + fails + " Main Later");
  EXPECT_EQ(f.Code, 1);
  EXPECT_EQ(f.Out, "1\n");
  EXPECT_EQ(f.Err, "error 104: Division by zero (line 3)\n");

  EXPECT_EQ(RunTool("run").Code, 2);
  EXPECT_EQ(RunTool("run /nonexistent/file.scs Main").Code, 2);
  EXPECT_EQ(RunTool("frobnicate").Code, 2);
}

TEST(ScriptToolIntegration, CompileShowAndRunTheCompiledFile) {
  std::string src =
      WriteFile("tool_src.scs",
                "Procedure Register\nFileVersion = 5\nEndProcedure\n"
                "Procedure Main\n  // note\n  For i = 1 to 2\n    WriteOutput \"i =\", i\n  EndFor\n"
                "EndProcedure\n");
  std::string out = vandrel::test::ProcessTempDir() + "/tool_out.ccs";
  TToolResult c = RunTool("compile " + src + " " + out);
  ASSERT_EQ(c.Code, 0) << c.Err;
  TToolResult s = RunTool("show " + out);
  EXPECT_EQ(s.Code, 0);
  EXPECT_EQ(s.Out.rfind("FF01\n3\nCompilerVersion=4000\nFileVersion=5\nTimeStamp=", 0), 0u) << s.Out;
  EXPECT_NE(
      s.Out.find("\n0015Register\n0011FileVersion = 5\n0016\n0015Main\n001Ai=1 to 2\n001F\"i =\",i\n001B\n"),
      std::string::npos)
      << s.Out;
  TToolResult fromSource = RunTool("run " + src + " Main");
  TToolResult fromCompiled = RunTool("run " + out + " Main");
  EXPECT_EQ(fromCompiled.Code, 0);
  EXPECT_EQ(fromCompiled.Out, "i = 1\ni = 2\n");
  EXPECT_EQ(fromCompiled.Out, fromSource.Out);
  EXPECT_EQ(RunTool("show " + src).Code, 2) << "a source file is no compiled file";

  std::string badRegister = WriteFile("tool_reg.scs", "Procedure Register\nx = nosuch\nEndProcedure\n");
  TToolResult r = RunTool("compile " + badRegister + " " + out + ".2");
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Err, "error 117: Unknown identifier: nosuch (line 2)\n");
}

TEST(ScriptToolIntegration, BadInputIsAnErrorWithItsReason) {
  std::string src = WriteFile("tool_two.scs", "Procedure Main\nWriteOutput 1\nEndProcedure\n");
  TToolResult missing = RunTool("run " + src + " Main NoSuchProc");
  EXPECT_EQ(missing.Code, 2);
  EXPECT_EQ(missing.Out, "") << "nothing runs when a named procedure is missing";
  EXPECT_EQ(missing.Err, "vandrel-script: " + src + " has no procedure NoSuchProc\n");

  const std::string dir = vandrel::test::ProcessTempDir();
  for (const char* cmd : {"run", "show", "compile"}) {
    std::string args = std::string(cmd) + " " + dir + (std::string(cmd) == "run" ? " Main" : "") +
                       (std::string(cmd) == "compile" ? " " + dir + "/never.ccs" : "");
    TToolResult r = RunTool(args);
    EXPECT_EQ(r.Code, 2) << cmd;
    EXPECT_EQ(r.Err, "vandrel-script: cannot read " + dir + ": Is a directory\n") << cmd;
  }
  TToolResult absent = RunTool("show " + dir + "/absent.ccs");
  EXPECT_EQ(absent.Code, 2);
  EXPECT_EQ(absent.Err, "vandrel-script: cannot read " + dir + "/absent.ccs: No such file or directory\n");

  // A compiled file cut short is refused, not shown in part.
  std::string out = dir + "/tool_cut.ccs";
  ASSERT_EQ(RunTool("compile " + src + " " + out).Code, 0);
  std::string bytes = ReadAll(out);
  std::string cut = WriteFile("tool_cut2.ccs", bytes.substr(0, bytes.size() - 5));
  TToolResult shown = RunTool("show " + cut);
  EXPECT_EQ(shown.Code, 1);
  EXPECT_EQ(shown.Out, "");
  EXPECT_EQ(shown.Err, "vandrel-script: " + cut + " is truncated\n");
  EXPECT_NE(RunTool("run " + cut + " Main").Code, 0);
}

TEST(ScriptToolIntegration, LoopingScriptsStopAtTheTimeLimit) {
  std::string src = WriteFile("tool_loop.scs", "Procedure Main\nWhile 1 = 1\nEndWhile\nEndProcedure\n");
  TToolResult r = RunTool("run " + src + " Main --time-limit 300");
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Err, "error 213: Script stopped after running 300 ms (line 2)\n");
  for (const char* bad : {"-1", "abc", "1.5", ""}) {
    TToolResult b = RunTool("run " + src + " Main --time-limit '" + bad + "'");
    EXPECT_EQ(b.Code, 2) << bad;
  }
}

// The options are read as every other program of ours reads them: in any place, with "=", and a
// mistake is named.
TEST(ScriptToolIntegration, OptionsStandAnywhereAndMistakesAreNamed) {
  std::string src = WriteFile("tool_options.scs", "Procedure Main\ntotal = n * 2\nEndProcedure\n");
  TToolResult r = RunTool("run --set=n=4 --dump total " + src + " Main --time-limit=500");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "total: Integer 8\n");
  TToolResult unknown = RunTool("run " + src + " Main --frobnicate");
  EXPECT_EQ(unknown.Code, 2);
  EXPECT_EQ(unknown.Err.rfind("vandrel-script: unknown option --frobnicate\n", 0), 0u) << unknown.Err;
  TToolResult twice = RunTool("run " + src + " Main --time-limit 1 --time-limit 2");
  EXPECT_EQ(twice.Code, 2);
  EXPECT_NE(twice.Err.find("--time-limit given twice"), std::string::npos) << twice.Err;
  EXPECT_EQ(RunTool("run " + src + " Main --set novalue").Code, 2);
  EXPECT_EQ(RunTool("show " + src + " extra").Code, 2);
  EXPECT_EQ(RunTool("compile " + src).Code, 2);
}

TEST(ScriptToolIntegration, EveryCommandHasItsHelp) {
  for (const char* cmd : {"run", "compile", "show"}) {
    TToolResult r = RunTool(std::string(cmd) + " --help");
    EXPECT_EQ(r.Code, 0) << cmd;
    EXPECT_EQ(r.Out.rfind(std::string("usage: vandrel-script ") + cmd, 0), 0u) << r.Out;
    EXPECT_EQ(r.Err, "");
  }
  TToolResult all = RunTool("--help");
  EXPECT_EQ(all.Code, 0);
  EXPECT_NE(all.Out.find("vandrel-script show"), std::string::npos);
}

}  // namespace
}  // namespace vandrel
