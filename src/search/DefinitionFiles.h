// Definition files in the data folder: finding them, reading their header version, the constants script.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

class TVariableList;

// The version a definition file's compiled header carries ("FileVersion", 0 when the header has none);
// -1 when the file cannot be read or is not a compiled file, since a source text has no header.
int32_t ReadDefinitionVersion(const std::string& path);
// The same for a file's bytes in memory.
int32_t DefinitionVersionOf(std::string_view bytes);

// One definition file of a folder.
struct TDefinitionFile {
  std::string Path;
  std::string Name;  // file name without extension, lower case
};

// Regular files of `folder` whose name ends with `ext` (letter case ignored), sorted by name so a refresh
// visits them in the same order everywhere. A missing folder has none.
std::vector<TDefinitionFile> ListDefinitionFiles(const std::string& folder, const std::string& ext);

// `folder` + `name`: the existing entry whose name matches without regard to letter case when there is
// no exact one (files may arrive in either case), else the exact path.
std::string FindPathIgnoringCase(const std::string& folder, const std::string& name);

// Empties `constants`, then runs the "Register" procedure of the script at `path` when it exists and
// compiles. What the script assigns, plainly or as "Global", stays in `constants`.
// They stay writable: definitions declare some of the same names "Global" themselves.
// Returns whether the script ran without error.
bool RunConstantsScript(TVariableList& constants, const std::string& path);

}  // namespace vandrel
