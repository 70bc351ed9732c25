#include "integration/WebBrowse.h"

#include <filesystem>
#include <system_error>

#include "platform/TextUtils.h"

namespace vandrel {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kKnownSchemes[] = {"file", "ftp", "gopher", "http", "https"};
// Marks where the address goes while the parameters are split into words; the address itself is put in
// afterwards, so nothing inside it can open a quote or start a new word.
constexpr char kAddressMark = '\x01';

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(path, ec) && !fs::is_directory(path, ec);
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
}

}  // namespace

bool NormalizeAddress(std::string& address) {
  address = std::string(Trim(address));
  const size_t separator = address.find("://");
  if (separator == std::string::npos) {
    if (!FileExists(address)) return false;
    std::error_code ec;
    fs::path absolute = fs::absolute(address, ec);
    address = "file://" + (ec ? address : absolute.lexically_normal().string());
    return true;
  }
  for (size_t i = separator + 3; i < address.size(); ++i) {
    if (address[i] == ' ') {
      address.replace(i, 1, "%20");
      i += 2;
    }
  }
  const std::string scheme = AsciiLowerCase(std::string_view(address).substr(0, separator));
  for (std::string_view known : kKnownSchemes)
    if (scheme == known) return true;
  return false;
}

void SplitCommandLine(std::string_view command, std::string& program, std::string& parameters) {
  program.clear();
  parameters.clear();
  if (command.empty()) return;
  size_t end = command.size();  // one past the program part
  const std::string upper = AsciiUpperCase(command);
  if (size_t exe = upper.find(".EXE"); exe != std::string::npos) {
    end = std::min(command.size(), exe + 5);
  } else if (size_t quote = command.find('"'); quote != std::string_view::npos) {
    size_t closing = command.find('"', quote + 1);
    end = closing == std::string_view::npos ? command.size() : closing + 1;
  } else {
    // Folder names may hold blanks, so the program ends at the first blank after its last separator.
    size_t lastSeparator = command.find_last_of("\\/");
    size_t from = lastSeparator == std::string_view::npos ? 0 : lastSeparator;
    size_t blank = command.find(' ', from);
    end = blank == std::string_view::npos ? command.size() : blank;
  }
  std::string_view part = command.substr(0, end);
  if (!part.empty() && part.front() == '"') part.remove_prefix(1);
  if (!part.empty() && part.back() == '"') part.remove_suffix(1);
  program = std::string(Trim(part));
  parameters = std::string(Trim(command.substr(end)));
}

std::vector<std::string> SplitArgumentWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size() &&
            std::string_view("\"`$\\").find(text[i + 1]) != std::string_view::npos)
          ++i;
        word += text[i];
      }
    } else if (c == '\'') {
      for (++i; i < text.size() && text[i] != '\''; ++i) word += text[i];
    } else if (c == '\\' && i + 1 < text.size()) {
      word += text[++i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::vector<std::string> BrowserArguments(const std::string& address, std::string_view parameters) {
  std::string params;
  for (char c : Trim(parameters))
    if (c != kAddressMark) params += c;
  const std::string mark(1, kAddressMark);
  if (params.empty() || AsciiLowerCase(params).find("-h") != std::string::npos) return {address};
  if (size_t quoted = params.find("\"%1\""); quoted != std::string::npos) {
    params.replace(quoted + 1, 2, mark);
  } else if (size_t plain = params.find("%1"); plain != std::string::npos) {
    params.replace(plain, 2, mark);
  } else {
    params += " \"" + mark + "\"";
  }
  std::vector<std::string> words = SplitArgumentWords(params);
  for (auto& word : words) {
    if (size_t at = word.find(kAddressMark); at != std::string::npos) {
      word.replace(at, 1, address);
      break;
    }
  }
  return words;
}

std::string ExecToCommand(std::string_view exec) {
  std::string command;
  for (size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] != '%' || i + 1 == exec.size()) {
      command += exec[i];
      continue;
    }
    const char code = exec[++i];
    if (code == 'u' || code == 'U' || code == 'f' || code == 'F') {
      command += "%1";
    } else if (code == '%') {
      command += '%';
    }
  }
  return std::string(Trim(command));
}

TWebBrowse::TWebBrowse(IDesktopLauncher& launcher, std::shared_ptr<IRegistryStore> store)
    : launcher_(launcher), store_(std::move(store)) {}

void TWebBrowse::SetForcedBrowser(bool force, std::string command) {
  force_ = force;
  forcedBrowser_ = std::move(command);
}

bool TWebBrowse::ShellOpen(std::string address) {
  // The shell is given "file:///" and an absolute path; an address that arrives with one slash too many
  // loses it, and only at its start.
  if (StartsWithText(address, "file:////")) address.erase(7, 1);
  lastError_.clear();
  const TShellOpenResult result = launcher_.OpenUri(address, lastError_);
  noHandler_ = result == TShellOpenResult::soNoHandler && address.find("://") != std::string::npos;
  return result == TShellOpenResult::soOpened;
}

bool TWebBrowse::RunBrowserCommand(const std::string& address, const std::string& command) {
  if (address.empty() || command.empty()) return false;
  std::string program, parameters;
  SplitCommandLine(command, program, parameters);
  if (program.empty()) return false;
  std::vector<std::string> argv{program};
  for (auto& word : BrowserArguments(address, parameters)) argv.push_back(std::move(word));
  lastError_.clear();
  return launcher_.Spawn(argv, lastError_);
}

bool TWebBrowse::DdeOpenUrl(const std::string& address, const std::string& command) {
  // Linking to the service's WWW_Activate topic is where a conversation would start; no server ever
  // answers on this desktop, and that failure starts the command line instead.
  return RunBrowserCommand(address, command);
}

void TWebBrowse::ReadProtocolHandler(std::string_view protocol, std::string& command,
                                     std::string& ddeApplication) {
  TSchemeHandler handler;
  if (launcher_.DefaultHandler(protocol, handler)) command = ExecToCommand(handler.Exec);
}

TBrowserDetection TWebBrowse::DetectBrowser() {
  TBrowserDetection found;
  ReadProtocolHandler("http", found.Command, found.DdeApplication);
  if (cache_ && cache_->Command == found.Command && cache_->DdeApplication == found.DdeApplication)
    return *cache_;
  const std::string dde = AsciiLowerCase(found.DdeApplication);
  if (dde.find("iexplore") != std::string::npos || dde.find("neoplanet") != std::string::npos) {
    found.Kind = TBrowserKind::bkExplorer;
  } else if (dde.find("nsshell") != std::string::npos) {
    found.Kind = TBrowserKind::bkNavigator4;
  } else if (dde.find("netscape") != std::string::npos) {
    found.Kind = TBrowserKind::bkNavigator3;
  }
  // Programs here carry no version resource, so the kind stays as the DDE name decided.
  cache_ = found;
  noHandler_ = false;
  return found;
}

bool TWebBrowse::OpenUrl(std::string address) {
  if (shiftDown_ && shiftDown_()) return LaunchBrowser(std::move(address));
  if (!NormalizeAddress(address)) return ShellOpen(address);
  if (force_ && !forcedBrowser_.empty()) return DdeOpenUrl(address, forcedBrowser_);
  const TBrowserDetection browser = DetectBrowser();
  const bool navigator =
      browser.Kind == TBrowserKind::bkNavigator3 || browser.Kind == TBrowserKind::bkNavigator4;
  if (noHandler_ && navigator) return DdeOpenUrl(address, browser.Command);
  if (ShellOpen(address)) return true;
  if (!noHandler_) return false;
  const std::string shellError = lastError_;
  const bool started =
      navigator ? DdeOpenUrl(address, browser.Command) : RunBrowserCommand(address, browser.Command);
  if (!started && lastError_.empty()) lastError_ = shellError;
  return started;
}

bool TWebBrowse::LaunchBrowser(std::string address) {
  if (!NormalizeAddress(address)) return ShellOpen(address);
  if (force_ && !forcedBrowser_.empty()) return RunBrowserCommand(address, forcedBrowser_);
  TBrowserDetection browser = DetectBrowser();
  if (browser.DdeApplication == "NeoPlanet") ReplaceAll(browser.Command, "\"%1\"", "%1");
  if (browser.Command.empty()) lastError_ = "no default browser is set for http addresses";
  return RunBrowserCommand(address, browser.Command);
}

void TWebBrowse::LaunchBrowserWithRetry(const std::string& address) {
  if (busyCursor_) busyCursor_(true);
  while (!LaunchBrowser(address)) {
    if (!askRetry_ || !askRetry_(std::string(kRetryText))) break;
  }
  if (busyCursor_) busyCursor_(false);
}

std::string TWebBrowse::GetNavigatorPath() {
  if (!store_) return {};
  TRegistryKey key(store_, TRegRoot::rrLocalMachine);
  if (!key.OpenKeyReadOnly("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Netscape.exe"))
    return {};
  std::string path(Trim(key.ReadString("")));
  return FileExists(path) ? path : std::string();
}

TWebBrowse& WebBrowse() {
  static TWebBrowse module(DesktopLauncher(), SystemRegistry());
  return module;
}

}  // namespace vandrel
