#include "http/ProxyDetectTools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include "platform/TextUtils.h"

extern char** environ;

namespace vandrel {

namespace {

// A whole decimal number; anything else answers false.
bool ToInt(const std::string& text, int& value) {
  std::string_view t = Trim(text);
  if (t.empty()) return false;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  return ec == std::errc() && end == t.data() + t.size();
}

std::string Unquote(std::string s) {
  s = std::string(Trim(s));
  if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front())
    s = s.substr(1, s.size() - 2);
  return s;
}

bool IsSocksScheme(const std::string& scheme) {
  return scheme.rfind("socks", 0) == 0;
}

}  // namespace

TProxyDetector::TProxyDetector()
    : GetEnv([](const char* name) { return static_cast<const char*>(std::getenv(name)); }) {}

bool TProxyDetector::DetectProxy(int kind, std::string& host, int& port, bool& enabled) {
  TProxyInfo info;
  if (!Detect(kind, info)) return false;
  host = info.Host;
  port = info.Port;
  enabled = info.Enabled;
  return true;
}

bool TProxyDetector::Detect(int kind, TProxyInfo& info) {
  canceled_ = false;
  // A proxy that is switched on wins over one that is only written down somewhere.
  TProxyInfo firstComplete;
  using Source = bool (TProxyDetector::*)(int, TProxyInfo&);
  for (Source source :
       {&TProxyDetector::FromEnvironment, &TProxyDetector::FromGnome, &TProxyDetector::FromFirefox}) {
    if (canceled_) break;
    TProxyInfo found;
    bool ok = false;
    try {
      ok = (this->*source)(kind, found);
    } catch (...) {
      ok = false;
    }
    if (!ok || !found.Complete()) continue;
    if (found.Enabled) {
      info = found;
      return true;
    }
    if (!firstComplete.Complete()) firstComplete = found;
  }
  if (!firstComplete.Complete()) return false;
  info = firstComplete;
  return true;
}

bool TProxyDetector::ParseProxyUrl(const std::string& value, int defaultPort, TProxyInfo& info) {
  std::string rest(Trim(value));
  auto scheme = rest.find("://");
  if (scheme != std::string::npos) rest.erase(0, scheme + 3);
  auto slash = rest.find('/');
  if (slash != std::string::npos) rest.erase(slash);
  auto at = rest.rfind('@');
  if (at != std::string::npos) rest.erase(0, at + 1);
  std::string host, portText;
  if (!rest.empty() && rest.front() == '[') {
    auto close = rest.find(']');
    if (close == std::string::npos) return false;
    host = rest.substr(1, close - 1);
    if (close + 1 < rest.size() && rest[close + 1] == ':') portText = rest.substr(close + 2);
  } else {
    auto colon = rest.rfind(':');
    host = rest.substr(0, colon);
    if (colon != std::string::npos) portText = rest.substr(colon + 1);
  }
  int port = defaultPort;
  if (!portText.empty() && !ToInt(portText, port)) port = 0;
  info.Host = host;
  info.Port = port;
  return info.Complete();
}

bool TProxyDetector::FromEnvironment(int kind, TProxyInfo& info) {
  auto get = [this](const char* name) -> std::string {
    const char* v = GetEnv ? GetEnv(name) : nullptr;
    return v ? std::string(Trim(v)) : std::string();
  };
  auto schemeOf = [](const std::string& v) {
    auto p = v.find("://");
    return p == std::string::npos ? std::string() : AsciiLowerCase(v.substr(0, p));
  };
  std::vector<std::string> candidates;
  if (kind == pkHttp) {
    for (const char* name : {"http_proxy", "HTTP_PROXY"}) candidates.push_back(get(name));
    for (const char* name : {"all_proxy", "ALL_PROXY"}) {
      auto v = get(name);
      if (!IsSocksScheme(schemeOf(v))) candidates.push_back(v);
    }
  } else if (kind == pkSocks) {
    for (const char* name : {"all_proxy", "ALL_PROXY", "socks_proxy", "SOCKS_PROXY"}) {
      auto v = get(name);
      if (IsSocksScheme(schemeOf(v))) candidates.push_back(v);
    }
  }
  for (const auto& value : candidates) {
    if (value.empty()) continue;
    TProxyInfo found;
    if (!ParseProxyUrl(value, kind == pkSocks ? 1080 : 80, found)) continue;
    found.Enabled = true;  // a variable that is set is in force
    info = found;
    return true;
  }
  return false;
}

bool TProxyDetector::RunCommand(const std::vector<std::string>& argv, std::string& output) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    return false;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CommandTimeoutMs);
  bool complete = false;
  char buffer[4096];
  while (!canceled_ && std::chrono::steady_clock::now() < deadline) {
    pollfd p{pipeFds[0], POLLIN, 0};
    int ready = ::poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      complete = true;
      break;
    }
    if (output.size() < 65536) output.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  // A settings query that hangs is our own child: it is ended by its id so that it leaves no zombie.
  if (!complete) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return complete && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool TProxyDetector::GSettingsGet(const std::string& schema, const std::string& key, std::string& value) {
  std::string out;
  if (!RunCommand({GSettingsProgram, "get", schema, key}, out)) return false;
  value = std::string(Trim(out));
  // Typed numbers print with their type ("uint32 8080").
  auto space = value.rfind(' ');
  if (space != std::string::npos && value.front() != '\'') value = value.substr(space + 1);
  value = Unquote(value);
  return true;
}

bool TProxyDetector::FromGnome(int kind, TProxyInfo& info) {
  if (kind != pkHttp && kind != pkSocks) return false;
  std::string mode, host, portText;
  if (!GSettingsGet("org.gnome.system.proxy", "mode", mode)) return false;
  std::string schema = kind == pkHttp ? "org.gnome.system.proxy.http" : "org.gnome.system.proxy.socks";
  if (!GSettingsGet(schema, "host", host) || !GSettingsGet(schema, "port", portText)) return false;
  TProxyInfo found;
  found.Host = host;
  if (!ToInt(portText, found.Port)) found.Port = 0;
  found.Enabled = mode == "manual";
  if (!found.Complete()) return false;
  info = found;
  return true;
}

bool TProxyDetector::ReadPrefsJs(const std::string& path, int kind, TProxyInfo& info) {
  if (kind != pkHttp && kind != pkSocks) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string typeKey = "user_pref(\"network.proxy.type\",";
  // The older browsers' keys first; current ones write the SOCKS proxy under network.proxy.
  std::vector<std::string> hostKeys, portKeys;
  if (kind == pkHttp) {
    hostKeys = {"user_pref(\"network.proxy.http\","};
    portKeys = {"user_pref(\"network.proxy.http_port\","};
  } else {
    hostKeys = {"user_pref(\"network.hosts.socks_server\",", "user_pref(\"network.proxy.socks\","};
    portKeys = {"user_pref(\"network.hosts.socks_serverport\",", "user_pref(\"network.proxy.socks_port\","};
  }
  auto valueAfter = [](const std::string& line, const std::string& key, std::string& value) {
    auto p = line.find(key);
    if (p == std::string::npos) return false;
    auto start = p + key.size();
    auto end = line.find(')', start);
    value = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
  };
  bool haveType = false, haveHost = false, havePort = false;
  int type = 0;
  TProxyInfo found;
  std::string raw;
  while (!(haveType && haveHost && havePort) && std::getline(in, raw)) {
    std::string line;
    for (char c : raw)
      if (c != ' ' && c != '\t' && c != '\r') line += c;
    line = AsciiLowerCase(line);
    std::string value;
    if (!haveType && valueAfter(line, typeKey, value)) haveType = ToInt(value, type);
    for (const auto& key : hostKeys)
      if (!haveHost && valueAfter(line, key, value)) {
        found.Host = Unquote(value);
        haveHost = true;
      }
    for (const auto& key : portKeys)
      if (!havePort && valueAfter(line, key, value)) havePort = ToInt(value, found.Port);
  }
  if (kind == pkSocks && haveType && haveHost && !havePort) found.Port = 1080;
  found.Enabled = haveType && type == 1;
  if (!found.Complete()) return false;
  info = found;
  return true;
}

std::string TProxyDetector::DefaultProfileFolder(const std::string& profilesIniPath) {
  std::ifstream in(profilesIniPath);
  if (!in) return {};
  std::string folder = profilesIniPath.substr(0, profilesIniPath.find_last_of('/') + 1);
  struct Section {
    std::string name, path, def;
    bool relative = true;
  };
  std::vector<Section> sections;
  std::string raw;
  while (std::getline(in, raw)) {
    std::string line(Trim(raw));
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      sections.push_back(Section{line.substr(1, line.size() - 2), {}, {}, true});
      continue;
    }
    if (sections.empty()) continue;
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    auto key = AsciiLowerCase(Trim(std::string_view(line).substr(0, eq)));
    std::string value(Trim(std::string_view(line).substr(eq + 1)));
    auto& s = sections.back();
    if (key == "path") s.path = value;
    if (key == "default") s.def = value;
    if (key == "isrelative") s.relative = value != "0";
  }
  auto resolve = [&](const std::string& path, bool relative) {
    if (path.empty()) return std::string();
    return relative && path.front() != '/' ? folder + path : path;
  };
  // Newer releases name the profile of each installation; older ones mark the default profile.
  for (const auto& s : sections)
    if (s.name.rfind("Install", 0) == 0 && !s.def.empty()) return resolve(s.def, true);
  for (const auto& s : sections)
    if (s.name.rfind("Profile", 0) == 0 && s.def == "1") return resolve(s.path, s.relative);
  for (const auto& s : sections)
    if (s.name.rfind("Profile", 0) == 0) return resolve(s.path, s.relative);
  return {};
}

bool TProxyDetector::FromFirefox(int kind, TProxyInfo& info) {
  std::string home = HomeFolder;
  if (home.empty()) {
    const char* h = GetEnv ? GetEnv("HOME") : nullptr;
    if (!h || !*h) return false;
    home = h;
  }
  if (home.back() != '/') home += '/';
  auto profile = DefaultProfileFolder(home + ".mozilla/firefox/profiles.ini");
  if (profile.empty()) return false;
  if (profile.back() != '/') profile += '/';
  return ReadPrefsJs(profile + "prefs.js", kind, info);
}

bool DetectProxy(int kind, std::string& host, int& port, bool& enabled) {
  TProxyDetector detector;
  return detector.DetectProxy(kind, host, port, enabled);
}

}  // namespace vandrel
