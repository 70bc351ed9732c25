#include "search/DefinitionFiles.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/TextUtils.h"
#include "script/BaseCompiler.h"
#include "script/Variables.h"

namespace vandrel {

namespace fs = std::filesystem;

namespace {

bool ParseInt(std::string_view text, int64_t& out) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// The next line from `pos` (ending at CR LF, CR or LF, or at the end); false past the end.
bool NextLine(std::string_view text, size_t& pos, std::string_view& line) {
  if (pos >= text.size()) return false;
  size_t end = text.find_first_of("\r\n", pos);
  if (end == std::string_view::npos) end = text.size();
  line = text.substr(pos, end - pos);
  pos = end;
  if (pos < text.size()) pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
  return true;
}

}  // namespace

int32_t ReadDefinitionVersion(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return -1;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || bytes.size() < 4 || UnscrambleBytes(std::string_view(bytes).substr(0, 4)) != "FF01")
    return -1;
  std::string plain = UnscrambleBytes(bytes);
  size_t pos = 0;
  std::string_view line;
  NextLine(plain, pos, line);  // the marker
  int64_t count = 0;
  if (!NextLine(plain, pos, line)) return -1;
  if (!ParseInt(line, count)) count = 0;
  for (int64_t i = 0; i < count; ++i) {
    if (!NextLine(plain, pos, line)) return -1;  // the header claims more lines than the file holds
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !SameText(line.substr(0, eq), "FileVersion")) continue;
    int64_t version = 0;
    if (!ParseInt(line.substr(eq + 1), version)) return 0;
    return static_cast<int32_t>(std::clamp<int64_t>(version, INT32_MIN, INT32_MAX));
  }
  return 0;
}

std::vector<TDefinitionFile> ListDefinitionFiles(const std::string& folder, const std::string& ext) {
  std::vector<TDefinitionFile> files;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string fileName = it->path().filename().string();
    if (fileName.size() <= ext.size() ||
        !SameText(std::string_view(fileName).substr(fileName.size() - ext.size()), ext))
      continue;
    files.push_back({it->path().string(), AsciiLowerCase(fileName.substr(0, fileName.size() - ext.size()))});
  }
  std::sort(files.begin(), files.end(),
            [](const TDefinitionFile& a, const TDefinitionFile& b) { return a.Name < b.Name; });
  return files;
}

std::string FindPathIgnoringCase(const std::string& folder, const std::string& name) {
  std::string exact = folder + name;
  std::error_code ec;
  if (fs::exists(exact, ec)) return exact;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec))
    if (SameText(it->path().filename().string(), name)) return folder + it->path().filename().string();
  return exact;
}

bool RunConstantsScript(TVariableList& constants, const std::string& path) {
  constants.Clear();
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  TBaseCompiler compiler;
  if (!compiler.LoadFromFile(path)) return false;
  compiler.Variables().SetParent(&constants);  // "Global" writes land in the outermost list
  bool ok = compiler.Compile() == 0 && compiler.ExecuteProcedure("Register") == 0;
  if (compiler.Compiled) {
    for (const auto& v : compiler.Variables().Entries()) {
      // The compiler's own built-ins are every script's already.
      if (SameText(v->Name, "True") || SameText(v->Name, "False") || SameText(v->Name, "CompilerVersion") ||
          SameText(v->Name, "FileVersion"))
        continue;
      compiler.Variables().Remove(v->Name);
      constants.Add(v);
    }
  }
  constants.DetachCompiler(&compiler);
  compiler.Variables().SetParent(nullptr);
  return ok;
}

}  // namespace vandrel
