// Fuzzes the script translator, block compiler and expression evaluator with arbitrary source text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "script/BaseCompiler.h"

using namespace vandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  TBaseCompiler c;
  c.ResetVariables();
  c.LoadFromStream(text);
  c.Compile();
  // Save what compiled and read it back: the file format must carry every translated line.
  if (c.Compiled) {
    TBaseCompiler again;
    again.LoadFromStream(c.SaveToBytes());
    again.Compile();
  }
  // Each line as an expression: tokenizer, parser and the operators and functions it reaches. Procedures
  // are not run, since a script may loop for as long as it likes.
  TFuncEvaluator ev;
  ev.Variables()->SetInteger("n", 3);
  ev.Evaluate("CreateCollection");
  if (ev.ObjectRef) ev.Variables()->Add(ev.ObjectRef->MakeWrapper("c", nullptr));
  ev.Evaluate("CreateStringList");
  if (ev.ObjectRef) ev.Variables()->Add(ev.ObjectRef->MakeWrapper("l", nullptr));
  // A second evaluator runs a copy of each line's tokens, as a cloned evaluator would.
  TFuncEvaluator other;
  other.Variables()->SetString("n", "x");
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      ev.Evaluate(std::string_view(text).substr(start, i - start));
      TEvalSlot copy = other.CopySlot(*ev.CurrentSlot());
      other.EvaluateSlot(*copy);
      start = i + 1;
    }
  }
  return 0;
}
