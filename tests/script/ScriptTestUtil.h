// Helpers for script tests: evaluate one expression, or compile a source and run procedures.
#pragma once

#include <string>
#include <vector>

#include "script/BaseCompiler.h"

namespace vandrel::testing {

// A compiler with reset variables whose WriteOutput and MsgBox texts are collected.
struct TScriptRun {
  TBaseCompiler Compiler;
  std::vector<std::string> Output;
  int CompileCode = 0;

  explicit TScriptRun(const std::string& source) {
    Compiler.OnOutput = [this](TBaseCompiler&, const std::string& t) { Output.push_back(t); };
    Compiler.OnMessageBox = [this](TBaseCompiler&, const std::string& t, const std::string& title) {
      Output.push_back(title + ":" + t);
    };
    Compiler.ResetVariables();
    Compiler.LoadFromStream(source);
    CompileCode = Compiler.Compile();
  }
  int Run(const std::string& proc) { return Compiler.ExecuteProcedure(proc); }
  std::string LastErrorText() const { return Compiler.Errors.empty() ? "" : Compiler.Errors.back().Text; }
  TVariable* Var(const std::string& name) { return Compiler.Variables().Find(name); }
};

// The lines of a procedure "Main" wrapped around `body`.
inline std::string MainProc(const std::string& body) {
  return "Procedure Main\n" + body + "\nEndProcedure\n";
}

}  // namespace vandrel::testing
