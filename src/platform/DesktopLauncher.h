// Opens addresses with the desktop's default handlers, reads the default handler of a scheme and starts
// programs detached: the stand-in for the system shell, built on GIO.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

enum class TShellOpenResult {
  soOpened,
  soNoHandler,  // nothing on this desktop handles the address
  soFailed,     // a handler exists but could not be started
};

struct TSchemeHandler {
  std::string DesktopId;  // "firefox-esr.desktop"
  std::string Exec;       // its command line as the desktop file writes it, field codes included
};

class IDesktopLauncher {
 public:
  virtual ~IDesktopLauncher() = default;
  // Hands `uri` to the handler the desktop's MIME associations name for it. `error` receives the reason of
  // a failure.
  virtual TShellOpenResult OpenUri(const std::string& uri, std::string& error) = 0;
  // The default handler of `scheme` ("http"); false when there is none.
  virtual bool DefaultHandler(std::string_view scheme, TSchemeHandler& out) = 0;
  // Starts argv[0] (searched on PATH when it holds no "/") with the other words as its arguments, detached:
  // nobody waits for it and it never passes through a shell.
  virtual bool Spawn(const std::vector<std::string>& argv, std::string& error) = 0;
};

// The process's launcher over GIO. GIO reads the XDG folders once per process, so a test that needs its
// own associations runs a child process.
IDesktopLauncher& DesktopLauncher();

}  // namespace vandrel
