// Helpers for repository tests: a data folder filled with definition files written from source text.
#pragma once

#include <filesystem>
#include <string>

#include "TempFolder.h"
#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"

namespace vandrel::testing {

inline std::string RegisterBody(const std::string& body) {
  return "Procedure Register\n" + body + "\nEndProcedure\n";
}

// A data folder in a temporary directory. Paths given relative to it; folders are created as needed.
class TDataFolder {
 public:
  std::string Path() const { return Dir.Path() + "/"; }

  void WriteText(const std::string& relative, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(Path() + relative).parent_path());
    test::WriteWholeFile(Path() + relative, text);
  }

  // A compiled engine or category file whose header carries `version`. Returns whether it was written.
  bool WriteCompiledEngine(const std::string& relative, const std::string& registerBody, int version) {
    std::filesystem::create_directories(std::filesystem::path(Path() + relative).parent_path());
    TEngineCompiler compiler;
    compiler.SetText(RegisterBody("FileVersion = " + std::to_string(version) + "\n" + registerBody));
    return compiler.SaveToFile(Path() + relative) == 0;
  }

  // `constants` (may be null) are visible to the script while it is saved.
  bool WriteCompiledSearchType(const std::string& relative, const std::string& registerBody, int version,
                               TVariableList* constants = nullptr) {
    TSearchTypeReader reader;
    if (constants) reader.Variables.SetParent(constants);
    reader.Compiler().SetText(RegisterBody("FileVersion = " + std::to_string(version) + "\n" + registerBody));
    bool ok = reader.Compiler().SaveToFile(Path() + relative) == 0;
    reader.Variables.SetParent(nullptr);
    return ok;
  }

  void Remove(const std::string& relative) { std::filesystem::remove_all(Path() + relative); }

  test::TempFolder Dir;
};

}  // namespace vandrel::testing
