#include "integration/IETools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "platform/TextUtils.h"

namespace vandrel {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMenuExtKey = "\\Software\\Microsoft\\Internet Explorer\\MenuExt\\";
constexpr std::string_view kExtensionsKey = "\\SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\";
constexpr std::string_view kExplorerBarsKey = "\\Software\\Microsoft\\Internet Explorer\\Explorer Bars\\";
constexpr std::string_view kRunProgramClass = "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}";
constexpr std::string_view kOpenBarClass = "{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}";
constexpr std::string_view kPageHostClass = "{4D5C8C2A-D075-11D0-B416-00C04FB90376}";
constexpr std::string_view kHorizontalBars = "{00021494-0000-0000-C000-000000000046}";
constexpr std::string_view kVerticalBars = "{00021493-0000-0000-C000-000000000046}";

std::string Cat(std::string_view a, std::string_view b) {
  return std::string(a) + std::string(b);
}

std::string EnvFolder(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return {};
  std::string folder(value);
  if (folder.back() != '/') folder += '/';
  return folder;
}

// Lines of a text with their end-of-line bytes, so that joining them gives the text back unchanged.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

bool IsGroupHeader(std::string_view line) {
  std::string_view t = Trim(line);
  return !t.empty() && t.front() == '[';
}

bool IsOurLine(std::string_view line, std::string_view ours) {
  std::string_view t = Trim(line);
  if (!t.empty() && t.back() == ';') t.remove_suffix(1);
  return t == ours;
}

// The range [begin, end) of lines in the default-applications group; begin is the header's index.
bool FindDefaultGroup(const std::vector<std::string_view>& lines, size_t& begin, size_t& end) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Trim(lines[i]) != kDefaultApplicationsGroup) continue;
    begin = i;
    end = i + 1;
    while (end < lines.size() && !IsGroupHeader(lines[end])) ++end;
    return true;
  }
  return false;
}

std::string LauncherText(std::string_view target, std::string_view exec) {
  std::string folder = fs::path(std::string(target)).parent_path().string();
  std::string text = "[Desktop Entry]\nType=Application\nName=Vandrel Shopper\n";
  text += "Comment=Compare prices and reviews of many online stores at once\n";
  text += "Exec=" + std::string(exec) + "\n";
  if (!folder.empty() && !DesktopExecQuote(folder).empty()) {
    std::string value;
    for (char c : folder) value += c == '\\' ? std::string("\\\\") : std::string(1, c);
    text += "Path=" + value + "\n";
  }
  text += "Icon=" + std::string(kIconName) + "\nTerminal=false\nCategories=Network;\n";
  return text;
}

}  // namespace

TDesktopPlaces DefaultDesktopPlaces() {
  const std::string home = EnvFolder("HOME");
  std::string data = EnvFolder("XDG_DATA_HOME");
  if (data.empty() && !home.empty()) data = home + ".local/share/";
  std::string config = EnvFolder("XDG_CONFIG_HOME");
  if (config.empty() && !home.empty()) config = home + ".config/";
  TDesktopPlaces places;
  if (!data.empty()) places.ApplicationsFolder = data + "applications/";
  if (!config.empty()) places.MimeAppsList = config + "mimeapps.list";
  return places;
}

std::string MimeDefaultLine(std::string_view protocol, std::string_view desktopFile) {
  return "x-scheme-handler/" + std::string(protocol) + "=" + std::string(desktopFile);
}

bool HasMimeDefault(std::string_view text, std::string_view line) {
  const auto lines = SplitLines(text);
  size_t begin = 0, end = 0;
  if (!FindDefaultGroup(lines, begin, end)) return false;
  for (size_t i = begin + 1; i < end; ++i)
    if (IsOurLine(lines[i], line)) return true;
  return false;
}

std::string AddMimeDefault(std::string_view text, std::string_view line) {
  if (HasMimeDefault(text, line)) return std::string(text);
  const auto lines = SplitLines(text);
  size_t begin = 0, end = 0;
  std::string out;
  if (!FindDefaultGroup(lines, begin, end)) {
    out = std::string(text);
    if (!out.empty() && out.back() != '\n') out += '\n';
    return out + std::string(kDefaultApplicationsGroup) + "\n" + std::string(line) + "\n";
  }
  // After the group's last line that is not blank, so the blank line before the next group stays there.
  size_t insertAt = end;
  while (insertAt > begin + 1 && Trim(lines[insertAt - 1]).empty()) --insertAt;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == insertAt) out += std::string(line) + "\n";
    out += lines[i];
    if (i + 1 == insertAt && out.back() != '\n') out += '\n';
  }
  if (insertAt == lines.size()) out += std::string(line) + "\n";
  return out;
}

std::string RemoveMimeDefault(std::string_view text, std::string_view line) {
  const auto lines = SplitLines(text);
  size_t begin = 0, end = 0;
  if (!FindDefaultGroup(lines, begin, end)) return std::string(text);
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i)
    if (i <= begin || i >= end || !IsOurLine(lines[i], line)) out += lines[i];
  return out;
}

std::string DesktopExecQuote(std::string_view path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string value;
  for (char c : quoted) {
    if (c == '\\') value += '\\';
    if (c == '%') value += '%';
    value += c;
  }
  return value;
}

bool ReadTextFile(const std::string& path, std::string& text) {
  text.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return errno == ENOENT;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool ReplaceFileContents(const std::string& path, std::string_view text, unsigned mode) {
  std::error_code ec;
  // A mimeapps.list kept as a link into a dotfiles folder stays a link: the file it names is replaced.
  fs::path target = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    target = fs::weakly_canonical(target, ec);
    if (ec) return false;
  }
  if (::stat(target.c_str(), &info) == 0) mode = info.st_mode & 07777;
  fs::create_directories(target.parent_path(), ec);
  std::string temp = target.string() + ".vandrel-new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

TIETools::TIETools(std::shared_ptr<IRegistryStore> store, TDesktopPlaces places)
    : store_(std::move(store)), places_(std::move(places)) {}

bool TIETools::Fail(std::string what) {
  lastError_ = std::move(what);
  return false;
}

bool TIETools::DeleteKeyIfPresent(TRegRoot root, const std::string& path) {
  if (!store_ || !store_->KeyExists(root, path)) return true;
  store_->DeleteKey(root, path);
  if (store_->KeyExists(root, path)) return Fail("could not delete key " + path);
  return true;
}

bool TIETools::RemoveFile(const std::string& path, bool* existed) {
  struct stat info {};
  const bool present = ::lstat(path.c_str(), &info) == 0;
  if (existed) *existed = present;
  if (!present) return true;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return Fail("could not remove " + path + ": " + std::strerror(errno));
  return true;
}

bool TIETools::WriteUrlProtocol(std::string_view protocol, std::string_view description,
                                std::string_view command) {
  TRegistryKey key(store_, TRegRoot::rrClassesRoot);
  if (key.OpenKey(Cat(protocol, "\\shell\\open\\command"), true) && !key.WriteString("", command))
    return Fail("could not write the protocol's command");
  if (key.OpenKey(protocol, true) &&
      (!key.WriteString("", description) || !key.WriteString("URL Protocol", "")))
    return Fail("could not write the protocol's key");
  return true;
}

bool TIETools::DeleteUrlProtocol(std::string_view protocol) {
  const std::string base(protocol);
  for (const char* sub : {"\\shell\\open\\command", "\\shell\\open", "\\shell", ""})
    if (!DeleteKeyIfPresent(TRegRoot::rrClassesRoot, base + sub)) return false;
  return true;
}

bool TIETools::WriteSchemeHandler(std::string_view protocol, std::string_view description,
                                  std::string_view programPath) {
  if (places_.ApplicationsFolder.empty()) return Fail("the applications folder is unknown");
  if (places_.MimeAppsList.empty()) return Fail("the location of mimeapps.list is unknown");
  const std::string exec = DesktopExecQuote(programPath);
  if (exec.empty()) return Fail("the program path cannot stand in a desktop file");
  std::string text = "[Desktop Entry]\nType=Application\nName=Vandrel Shopper\n";
  text += "Comment=" + std::string(description) + "\n";
  text += "Exec=" + exec + " %u\n";
  text += "Icon=" + std::string(kIconName) + "\n";
  text += "MimeType=x-scheme-handler/" + std::string(protocol) + ";\n";
  text += "NoDisplay=true\nTerminal=false\n";
  const std::string file = places_.ApplicationsFolder + std::string(kShopHandlerFile);
  if (!ReplaceFileContents(file, text)) return Fail("could not write " + file);
  std::string list;
  if (!ReadTextFile(places_.MimeAppsList, list)) return Fail("could not read " + places_.MimeAppsList);
  const std::string changed = AddMimeDefault(list, MimeDefaultLine(protocol, kShopHandlerFile));
  if (changed != list && !ReplaceFileContents(places_.MimeAppsList, changed))
    return Fail("could not write " + places_.MimeAppsList);
  return true;
}

bool TIETools::DeleteSchemeHandler(std::string_view protocol) {
  if (!places_.MimeAppsList.empty()) {
    std::string list;
    if (!ReadTextFile(places_.MimeAppsList, list)) return Fail("could not read " + places_.MimeAppsList);
    const std::string changed = RemoveMimeDefault(list, MimeDefaultLine(protocol, kShopHandlerFile));
    if (changed != list && !ReplaceFileContents(places_.MimeAppsList, changed))
      return Fail("could not write " + places_.MimeAppsList);
  }
  if (places_.ApplicationsFolder.empty()) return true;
  return RemoveFile(places_.ApplicationsFolder + std::string(kShopHandlerFile));
}

bool TIETools::WriteMenuExtension(std::string_view name, std::string_view target) {
  TRegistryKey key(store_, TRegRoot::rrCurrentUser);
  if (!key.OpenKey(Cat(kMenuExtKey, name), true)) return true;
  const char flags[4] = {0, 0, 0, 0};
  key.DeleteValue("Contexts");
  if (!key.WriteString("", target) || !key.WriteBinaryData("Flags", flags, sizeof flags))
    return Fail("could not write the context-menu entry");
  return true;
}

bool TIETools::DeleteMenuExtension(std::string_view name) {
  return DeleteKeyIfPresent(TRegRoot::rrCurrentUser, Cat(kMenuExtKey, name));
}

bool TIETools::WriteToolsMenuItem(std::string_view id, std::string_view menuText, std::string_view statusText,
                                  std::string_view programPath) {
  TRegistryKey key(store_, TRegRoot::rrLocalMachine);
  if (!key.OpenKey(Cat(kExtensionsKey, id), true)) return true;
  if (!key.WriteString("MenuCustomize", "Tools") || !key.WriteString("MenuText", menuText) ||
      !key.WriteString("MenuStatusBar", statusText) || !key.WriteString("CLSID", kRunProgramClass) ||
      !key.WriteString("Exec", programPath))
    return Fail("could not write the Tools-menu item");
  return true;
}

bool TIETools::WriteToolbarButton(std::string_view id, std::string_view buttonText, std::string_view toolTip,
                                  std::string_view icon, std::string_view hotIcon, std::string_view barId) {
  TRegistryKey key(store_, TRegRoot::rrLocalMachine);
  if (!key.OpenKey(Cat(kExtensionsKey, id), true)) return true;
  if (!key.WriteString("ButtonText", buttonText) || !key.WriteString("Icon", icon) ||
      !key.WriteString("HotIcon", hotIcon) || !key.WriteString("ToolTip", toolTip) ||
      !key.WriteString("Default Visible", "Yes") || !key.WriteString("CLSID", kOpenBarClass) ||
      !key.WriteString("BandCLSID", barId))
    return Fail("could not write the tool-bar button");
  return true;
}

bool TIETools::DeleteBrowserExtension(std::string_view id) {
  return DeleteKeyIfPresent(TRegRoot::rrLocalMachine, Cat(kExtensionsKey, id));
}

bool TIETools::WriteBrowserBar(std::string_view id, std::string_view name, std::string_view url,
                               int64_t barSize, std::string_view systemFolder) {
  const std::string k = Cat("\\CLSID\\", id);
  TRegistryKey key(store_, TRegRoot::rrClassesRoot);
  auto fail = [this] { return Fail("could not write the browser bar"); };
  if (key.OpenKey(k, true) && !key.WriteString("", name)) return fail();
  if (key.OpenKey(k + "\\Instance", true) && !key.WriteString("CLSID", kPageHostClass)) return fail();
  if (key.OpenKey(k + "\\InProcServer32", true) &&
      (!key.WriteString("", Cat(systemFolder, "\\SHDOCVW.DLL")) ||
       !key.WriteString("ThreadingModel", "Apartment")))
    return fail();
  if (key.OpenKey(k + "\\Instance\\InitPropertyBag", true) && !key.WriteString("Url", url)) return fail();
  key.OpenKey(k + "\\Implemented Categories\\" + std::string(kHorizontalBars), true);
  TRegistryKey bars(store_, TRegRoot::rrLocalMachine);
  if (bars.OpenKey(Cat(kExplorerBarsKey, id), true)) {
    unsigned char size[8];
    for (int i = 0; i < 8; ++i)
      size[i] = static_cast<unsigned char>(static_cast<uint64_t>(barSize) >> (8 * i));
    if (!bars.WriteBinaryData("BarSize", size, sizeof size)) return fail();
  }
  return true;
}

bool TIETools::DeleteBrowserBar(std::string_view id) {
  const std::string k = Cat("\\CLSID\\", id);
  const std::string order[] = {k + "\\Instance\\InitPropertyBag",
                               k + "\\Instance",
                               k + "\\Implemented Categories\\" + std::string(kVerticalBars),
                               k + "\\Implemented Categories\\" + std::string(kHorizontalBars),
                               k + "\\Implemented Categories",
                               k + "\\InProcServer32",
                               k + "\\LocalServer32",
                               k};
  for (const auto& path : order)
    if (!DeleteKeyIfPresent(TRegRoot::rrClassesRoot, path)) return false;
  return DeleteKeyIfPresent(TRegRoot::rrLocalMachine, Cat(kExplorerBarsKey, id));
}

bool TIETools::UpdateQuickLaunchShortcut(TShortcutMode mode, std::string_view fileName,
                                         std::string_view target) {
  // Without a known folder the file would land relative to wherever the program was started.
  const std::string folder = GetQuickLaunchFolder();
  if (folder.empty() || fileName.empty()) return false;
  const std::string path = folder + std::string(fileName);
  struct stat info {};
  const bool exists = ::lstat(path.c_str(), &info) == 0;
  if (mode == TShortcutMode::smDelete) {
    bool existed = false;
    RemoveFile(path, &existed);
    return existed;
  }
  if (exists) return false;
  const std::string exec = DesktopExecQuote(target);
  if (exec.empty()) return false;
  return ReplaceFileContents(path, LauncherText(target, exec));
}

}  // namespace vandrel
