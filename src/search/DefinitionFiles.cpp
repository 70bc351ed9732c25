#include "search/DefinitionFiles.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

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

namespace {

// The header is a few lines at the front of a file.
constexpr size_t kHeaderFront = 4096;

// The version from the start of a compiled file's bytes; nullopt when `bytes` may end before the header
// does and the rest of the file is needed.
std::optional<int32_t> HeaderVersion(std::string_view bytes, bool whole) {
  if (bytes.size() < 4) return whole ? std::optional<int32_t>(-1) : std::nullopt;
  if (UnscrambleBytes(bytes.substr(0, 4)) != "FF01") return -1;
  const std::string plain = UnscrambleBytes(bytes);
  size_t pos = 0;
  std::string_view line;
  // A line is only known whole once its end is seen, or the file's end.
  auto next = [&](std::string_view& out) {
    if (!NextLine(plain, pos, out)) return false;
    return whole || pos < plain.size() || (!plain.empty() && (plain.back() == '\n' || plain.back() == '\r'));
  };
  if (!next(line)) return whole ? std::optional<int32_t>(-1) : std::nullopt;  // the marker
  int64_t count = 0;
  if (!next(line)) return whole ? std::optional<int32_t>(-1) : std::nullopt;
  if (!ParseInt(line, count)) count = 0;
  for (int64_t i = 0; i < count; ++i) {
    // The header claims more lines than the file holds.
    if (!next(line)) return whole ? std::optional<int32_t>(-1) : std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !SameText(line.substr(0, eq), "FileVersion")) continue;
    int64_t version = 0;
    if (!ParseInt(line.substr(eq + 1), version)) return 0;
    return static_cast<int32_t>(std::clamp<int64_t>(version, INT32_MIN, INT32_MAX));
  }
  return 0;
}

}  // namespace

int32_t DefinitionVersionOf(std::string_view bytes) {
  if (const std::optional<int32_t> version =
          HeaderVersion(bytes.substr(0, kHeaderFront), bytes.size() <= kHeaderFront))
    return *version;
  return *HeaderVersion(bytes, true);
}

int32_t ReadDefinitionVersion(const std::string& path) {
  // A catalogue refresh asks this of every file: only the front is read unless the header runs on.
  std::ifstream in(path, std::ios::binary);
  if (!in) return -1;
  std::string bytes(kHeaderFront, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (in.bad()) return -1;
  const bool whole = bytes.size() < kHeaderFront;
  if (const std::optional<int32_t> version = HeaderVersion(bytes, whole)) return *version;
  in.clear();
  bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return -1;
  return *HeaderVersion(bytes, true);
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
