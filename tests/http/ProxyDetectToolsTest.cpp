#include "http/ProxyDetectTools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "TempFolder.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

// Writes `text` to `name` under `folder`, making the folders between; returns the file's path.
std::string WriteUnder(const test::TempFolder& folder, const std::string& name, const std::string& text) {
  const std::string full = folder / name;
  fs::create_directories(fs::path(full).parent_path());
  test::WriteWholeFile(full, text);
  return full;
}

using Env = std::map<std::string, std::string>;

// A detector that sees only the given variables and no desktop or browser settings.
struct Isolated {
  explicit Isolated(Env env, const std::string& home = "/nonexistent") : vars(std::move(env)) {
    detector.GetEnv = [this](const char* name) -> const char* {
      auto it = vars.find(name);
      return it == vars.end() ? nullptr : it->second.c_str();
    };
    detector.GSettingsProgram = "/nonexistent/gsettings";
    detector.HomeFolder = home;
  }
  std::map<std::string, std::string> vars;
  TProxyDetector detector;
};

TEST(ProxyDetect, EnvironmentGivesHttpAndSocksProxies) {
  Isolated env(Env{{"http_proxy", "http://user:pw@proxy.lan:3128/"}, {"all_proxy", "socks4://s.lan:1081"}});
  TProxyInfo info;
  ASSERT_TRUE(env.detector.Detect(pkHttp, info));
  EXPECT_EQ(info.Host, "proxy.lan");
  EXPECT_EQ(info.Port, 3128);
  EXPECT_TRUE(info.Enabled);
  ASSERT_TRUE(env.detector.Detect(pkSocks, info));
  EXPECT_EQ(info.Host, "s.lan");
  EXPECT_EQ(info.Port, 1081);

  // An all_proxy without a SOCKS scheme serves HTTP only; a port that is no number gives nothing.
  Isolated plain(Env{{"ALL_PROXY", "proxy.lan:8080"}});
  EXPECT_TRUE(plain.detector.Detect(pkHttp, info));
  EXPECT_EQ(info.Port, 8080);
  EXPECT_FALSE(plain.detector.Detect(pkSocks, info));
  Isolated bad(Env{{"http_proxy", "proxy.lan:80x"}});
  std::string host;
  int port = 0;
  bool enabled = false;
  EXPECT_FALSE(bad.detector.DetectProxy(pkHttp, host, port, enabled));
  Isolated none(Env{});
  EXPECT_FALSE(none.detector.Detect(pkHttp, info));
}

TEST(ProxyDetect, PrefsJsOfTheDefaultFirefoxProfile) {
  test::TempFolder home;
  WriteUnder(home, ".mozilla/firefox/profiles.ini",
             "[Profile1]\nName=other\nIsRelative=1\nPath=aaa.other\n\n"
             "[Profile0]\nName=default\nIsRelative=1\nPath=xyz.default\nDefault=1\n");
  WriteUnder(home, ".mozilla/firefox/xyz.default/prefs.js",
             "# Mozilla User Preferences\n"
             "user_pref(\"network.proxy.http\", \"Web.Lan\");\n"
             "user_pref( \"network.proxy.http_port\" , 3128 );\n"
             "user_pref(\"network.proxy.type\", 1);\n"
             "user_pref(\"network.hosts.socks_server\", \"s.lan\");\n");
  Isolated env(Env{}, home.Path());
  TProxyInfo info;
  ASSERT_TRUE(env.detector.Detect(pkHttp, info));
  EXPECT_EQ(info.Host, "web.lan");
  EXPECT_EQ(info.Port, 3128);
  EXPECT_TRUE(info.Enabled);
  // A SOCKS server without a port gets the SOCKS port.
  ASSERT_TRUE(env.detector.Detect(pkSocks, info));
  EXPECT_EQ(info.Host, "s.lan");
  EXPECT_EQ(info.Port, 1080);

  // The installation's default wins over the profile marked default.
  WriteUnder(home, ".mozilla/firefox/profiles.ini",
             "[Install4F96D1932A9F858E]\nDefault=aaa.other\nLocked=1\n\n"
             "[Profile0]\nIsRelative=1\nPath=xyz.default\nDefault=1\n");
  WriteUnder(home, ".mozilla/firefox/aaa.other/prefs.js",
             "user_pref(\"network.proxy.type\", 5);\nuser_pref(\"network.proxy.socks\", \"new.lan\");\n"
             "user_pref(\"network.proxy.socks_port\", 9050);\n");
  ASSERT_TRUE(env.detector.Detect(pkSocks, info));
  EXPECT_EQ(info.Host, "new.lan");
  EXPECT_EQ(info.Port, 9050);
  EXPECT_FALSE(info.Enabled);  // type 5 is the system's setting, not a manual one
  EXPECT_FALSE(env.detector.Detect(pkHttp, info));
}

TEST(ProxyDetect, GnomeSettingsAreReadThroughGsettings) {
  test::TempFolder dir;
  auto script = WriteUnder(dir, "gsettings",
                           "#!/bin/sh\n"
                           "case \"$2 $3\" in\n"
                           "  'org.gnome.system.proxy mode') echo \"'manual'\";;\n"
                           "  'org.gnome.system.proxy.http host') echo \"'gnome.lan'\";;\n"
                           "  'org.gnome.system.proxy.http port') echo 8081;;\n"
                           "  'org.gnome.system.proxy.socks host') echo \"''\";;\n"
                           "  'org.gnome.system.proxy.socks port') echo 0;;\n"
                           "  *) exit 1;;\n"
                           "esac\n");
  ::chmod(script.c_str(), 0755);
  Isolated env(Env{});
  env.detector.GSettingsProgram = script;
  TProxyInfo info;
  ASSERT_TRUE(env.detector.Detect(pkHttp, info));
  EXPECT_EQ(info.Host, "gnome.lan");
  EXPECT_EQ(info.Port, 8081);
  EXPECT_TRUE(info.Enabled);
  EXPECT_FALSE(env.detector.Detect(pkSocks, info));

  // A settings query that hangs is given up after the time limit.
  auto slow = WriteUnder(dir, "slow", "#!/bin/sh\nsleep 5\n");
  ::chmod(slow.c_str(), 0755);
  env.detector.GSettingsProgram = slow;
  env.detector.CommandTimeoutMs = 100;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(env.detector.Detect(pkHttp, info));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace vandrel
