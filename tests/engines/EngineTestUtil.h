// Helpers for engine tests: fixture paths, and definitions written from source text.
#pragma once

#include <memory>
#include <string>

#include "TempFolder.h"
#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/SourceDir.h"

namespace vandrel::testing {

inline std::string Fixture(const std::string& name) {
  return std::string(VANDREL_SOURCE_DIR) + "/tests/engines/fixtures/" + name;
}

inline std::string RegisterProc(const std::string& body) {
  return "Procedure Register\n" + body + "\nEndProcedure\n";
}

// A search type loaded from source text; `ok` tells whether it loaded.
struct TTypeFromSource {
  test::TempFolder Dir;
  TSearchTypeReader Reader;
  bool Ok = false;
  explicit TTypeFromSource(const std::string& source, const std::string& file = "shoes.sst") {
    test::WriteWholeFile(Dir / file, source);
    Ok = Reader.Load(Dir / file);
  }
  std::string LastError() {
    auto& e = Reader.Compiler().Errors;
    return e.empty() ? "" : e.back().Text;
  }
};

// The books fixture with an instance and an engine compiler attached to it.
struct TBooksSearch {
  TSearchTypeReader Type;
  std::unique_ptr<TSearchTypeInstance> Instance;
  TEngineCompiler Engine;
  bool Ok = false;
  TBooksSearch() {
    Ok = Type.Load(Fixture("books.sst"));
    Instance = std::make_unique<TSearchTypeInstance>(&Type);
    Engine.SetInstance(Instance.get());
    Engine.ResultsParser.Reset();
  }
  // Compiles `source` into the engine and runs `proc`; returns the error code.
  int Run(const std::string& source, const std::string& proc) {
    Engine.LoadFromStream(source);
    if (int code = Engine.Compile()) return code;
    return Engine.ExecuteProcedure(proc);
  }
  std::string LastError() const { return Engine.Errors.empty() ? "" : Engine.Errors.back().Text; }
};

}  // namespace vandrel::testing
