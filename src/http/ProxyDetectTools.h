// Reads the proxy the user's desktop or browser is set to use, so that the first-run setup can propose it.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace vandrel {

// ORDER/VALUES: callers pass the kind by number.
enum TProxyKind : int { pkHttp = 0, pkSocks = 1 };

struct TProxyInfo {
  std::string Host;
  int Port = 0;
  bool Enabled = false;  // the source has this proxy switched on (not merely written down)
  bool Complete() const { return !Host.empty() && Port > 0; }
};

// Looks, in this order, at the environment (http_proxy, all_proxy), GNOME's proxy settings and the
// default Firefox profile's prefs.js; the first complete proxy of the kind wins. Any failure while
// reading a source counts as "not found" there.
class TProxyDetector {
 public:
  using TGetEnv = std::function<const char*(const char* name)>;

  TProxyDetector();

  // True when a complete proxy (host and a non-zero port) of `kind` was found.
  bool DetectProxy(int kind, std::string& host, int& port, bool& enabled);
  bool Detect(int kind, TProxyInfo& info);

  // Abandons this detector's settings query in progress; other detectors are not affected.
  void Cancel() { canceled_ = true; }

  // Seams, set before detecting.
  TGetEnv GetEnv;                              // default: the process environment
  std::string GSettingsProgram = "gsettings";  // looked up in PATH when it has no "/"
  std::string HomeFolder;                      // default: $HOME
  int CommandTimeoutMs = 3000;

  bool FromEnvironment(int kind, TProxyInfo& info);
  bool FromGnome(int kind, TProxyInfo& info);
  bool FromFirefox(int kind, TProxyInfo& info);

  // A proxy address as environment variables hold it: "[scheme://][user[:pw]@]host[:port][/]".
  static bool ParseProxyUrl(const std::string& value, int defaultPort, TProxyInfo& info);
  // The preferences file of a Netscape-family browser, read line by line.
  static bool ReadPrefsJs(const std::string& path, int kind, TProxyInfo& info);
  // The default profile's folder named by a Firefox profiles.ini, or empty.
  static std::string DefaultProfileFolder(const std::string& profilesIniPath);

 private:
  // Runs `argv` (no shell) and answers its standard output; false when it failed, timed out or was
  // canceled.
  bool RunCommand(const std::vector<std::string>& argv, std::string& output);
  bool GSettingsGet(const std::string& schema, const std::string& key, std::string& value);

  std::atomic<bool> canceled_{false};
};

// The process's own detector over the real environment.
bool DetectProxy(int kind, std::string& host, int& port, bool& enabled);

}  // namespace vandrel
