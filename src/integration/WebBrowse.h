// Opens pages in the user's own web browser: the desktop's handler for the address first, then the default
// browser's command line with the address put in.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DesktopLauncher.h"
#include "platform/RegistryStore.h"

namespace vandrel {

// VALUES: the proxy detection chooses where to read browser settings by these numbers.
enum class TBrowserKind : int {
  bkUnknown = 0,
  bkExplorer = 1,    // or NeoPlanet
  bkNavigator3 = 2,  // settings in the store
  bkNavigator4 = 3,  // settings in the profile's prefs.js
};

struct TBrowserDetection {
  TBrowserKind Kind = TBrowserKind::bkUnknown;
  std::string Command;         // the http handler's command line, its address parameter written "%1"
  std::string DdeApplication;  // always empty here: no browser speaks DDE on this desktop
};

// Trims `address`. With "://": true for the schemes file, ftp, gopher, http and https, and every blank
// after the "://" becomes "%20". Without: an existing file becomes its "file://" address (absolute) and
// the answer is true; anything else is left trimmed and the answer is false.
bool NormalizeAddress(std::string& address);

// Splits a handler's command line into the program and its parameters (both trimmed).
void SplitCommandLine(std::string_view command, std::string& program, std::string& parameters);

// The words a browser is started with after its program, from the handler's parameters: the address
// alone (no parameters, or a "-h" among them), put in place of the first quoted "%1" or else the first
// "%1", or added after the parameters. The address is always inside one word, whatever bytes it holds.
std::vector<std::string> BrowserArguments(const std::string& address, std::string_view parameters);

// Splits parameters into words the way a desktop file's Exec line is split: blanks separate, double and
// single quotes group, a backslash escapes the next byte (inside double quotes only before " ` $ \).
std::vector<std::string> SplitArgumentWords(std::string_view text);

// A desktop file's Exec line as a handler command: %u %U %f %F become "%1", %% becomes %, the other
// field codes go.
std::string ExecToCommand(std::string_view exec);

// The module's state and operations. Main thread only; no operation throws, every failure is false.
class TWebBrowse {
 public:
  TWebBrowse(IDesktopLauncher& launcher, std::shared_ptr<IRegistryStore> store);

  // The preferences ForceNavigatorUse and NavigatorExeName; set at start-up and when the options change.
  void SetForcedBrowser(bool force, std::string command);
  // The front end's answers: whether Shift is held, whether to retry after a failed launch (true: Retry),
  // and the busy cursor. Each may be empty (Shift up, no retry, no cursor).
  void SetShiftKeyProbe(std::function<bool()> probe) { shiftDown_ = std::move(probe); }
  void SetRetryPrompt(std::function<bool(const std::string& text)> prompt) { askRetry_ = std::move(prompt); }
  void SetBusyCursor(std::function<void(bool busy)> cursor) { busyCursor_ = std::move(cursor); }

  bool OpenUrl(std::string address);
  bool LaunchBrowser(std::string address);
  void LaunchBrowserWithRetry(const std::string& address);
  TBrowserDetection DetectBrowser();
  // The installed Navigator program the store names, when that file exists.
  std::string GetNavigatorPath();

  bool ShellOpen(std::string address);
  bool RunBrowserCommand(const std::string& address, const std::string& command);
  // A DDE conversation never gets an answer here, so this is the command line of `command`.
  bool DdeOpenUrl(const std::string& address, const std::string& command);
  // The desktop's default handler of `protocol`; outputs stay unchanged when there is none.
  void ReadProtocolHandler(std::string_view protocol, std::string& command, std::string& ddeApplication);

  // The last shell open failed because nothing handles the address.
  bool NoHandler() const { return noHandler_; }
  // Why the last operation failed, for the command line's message.
  const std::string& LastError() const { return lastError_; }

  static constexpr std::string_view kRetryText =
      "An error occurred while opening the requested Web document.\r\n\r\nYour default system browser might "
      "not be configured properly.";

 private:
  IDesktopLauncher& launcher_;
  std::shared_ptr<IRegistryStore> store_;
  bool force_ = false;
  std::string forcedBrowser_;
  bool noHandler_ = false;
  std::optional<TBrowserDetection> cache_;  // the last detection, kept while the handler stays the same
  std::function<bool()> shiftDown_;
  std::function<bool(const std::string&)> askRetry_;
  std::function<void(bool)> busyCursor_;
  std::string lastError_;
};

// The process's module over DesktopLauncher() and SystemRegistry().
TWebBrowse& WebBrowse();

}  // namespace vandrel
