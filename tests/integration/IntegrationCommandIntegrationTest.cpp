// The integration, open and uninstall commands in child processes with their own XDG folders, checked
// with the desktop's own tools: gio reads the associations, a fake browser records what it was given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "TempFolder.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::WriteWholeFile;

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

class IntegrationCommandIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"config", "data/applications", "run", "root/Web"})
      fs::create_directories(dir / sub);
    fs::permissions(dir / "run", fs::perms::owner_all);
    WriteWholeFile(dir / "root/Web/Welcome.htm", "<html>");
    env = {{"XDG_CONFIG_HOME", dir / "config"},
           {"XDG_DATA_HOME", dir / "data"},
           {"XDG_RUNTIME_DIR", dir / "run"},
           {"XDG_DATA_DIRS", dir / "nowhere"},  // no system handlers: only what the test registers
           {"XDG_CONFIG_DIRS", dir / "nowhere"},
           {"XDG_CURRENT_DESKTOP", ""},
           {"HOME", dir.Path()}};
    // The fake browser writes its arguments, one a line, then a marker line.
    const std::string script = dir / "fake browser.sh";
    WriteWholeFile(script,
                   "#!/bin/sh\nlog=\"$0.log\"\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                   "echo --- >> \"$log\"\n");
    fs::permissions(script, fs::perms::owner_all);
  }

  TRun Run(const std::string& program, const std::vector<std::string>& args, const std::string& input = {}) {
    const std::string out = dir / "out", err = dir / "err", in = dir / "in";
    WriteWholeFile(in, input);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(open(in.c_str(), O_RDONLY), 0);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp(program.c_str(), argv.data());
      _exit(127);
    }
    TRun run;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    run.Out = ReadAll(out);
    run.Err = ReadAll(err);
    return run;
  }
  TRun Cli(const std::vector<std::string>& args) { return Run(VANDREL_CLI, args); }
  static std::string ReadAll(const std::string& path) { return ReadWholeFile(path); }

  // Registers the fake browser as the handler of http with `exec` after its program.
  void RegisterBrowser(const std::string& arguments) {
    WriteWholeFile(dir / "data/applications/fakebrowser.desktop",
                   "[Desktop Entry]\nType=Application\nName=Fake\nExec=\"" + (dir / "fake browser.sh") +
                       "\" " + arguments + "\nMimeType=x-scheme-handler/http;\n");
    WriteWholeFile(dir / "config/mimeapps.list",
                   "[Default Applications]\nx-scheme-handler/http=fakebrowser.desktop\n");
  }
  // The argument lists the fake browser received so far; waits for `count` of them (the browser is
  // started detached).
  std::vector<std::vector<std::string>> BrowserCalls(size_t count) {
    const std::string log = dir / "fake browser.sh.log";
    std::vector<std::vector<std::string>> calls;
    for (int i = 0; i < 100; ++i) {
      calls.clear();
      std::vector<std::string> call;
      std::string text = ReadWholeFile(log), line;
      for (char c : text) {
        if (c != '\n') {
          line += c;
          continue;
        }
        if (line == "---") {
          calls.push_back(call);
          call.clear();
        } else {
          call.push_back(line);
        }
        line.clear();
      }
      if (calls.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return calls;
  }

  test::TempFolder dir;
  std::map<std::string, std::string> env;
};

using Words = std::vector<std::string>;

TEST_F(IntegrationCommandIntegration, GioFindsTheShopHandlerAfterInstallAndNoneAfterRemove) {
  const std::string other =
      "# the user's own\n[Added Associations]\ntext/html=a.desktop;\n\n[Default Applications]\n"
      "text/html=a.desktop\n";
  WriteWholeFile(dir / "config/mimeapps.list", other);
  // gio accepts a handler only when its program exists.
  const std::vector<std::string> install{"integration", "install",   "--root",
                                         dir / "root",  "--program", VANDREL_CLI};
  TRun run = Cli(install);
  ASSERT_EQ(run.Status, 0) << run.Err;
  run = Run("gio", {"mime", "x-scheme-handler/shop"});
  EXPECT_NE(run.Out.find("Default application for “x-scheme-handler/shop”: vandrel-shopper-url.desktop"),
            std::string::npos)
      << run.Out << run.Err;

  const std::string list = ReadWholeFile(dir / "config/mimeapps.list");
  EXPECT_EQ(list, other + "x-scheme-handler/shop=vandrel-shopper-url.desktop\n");
  const std::string handler = ReadWholeFile(dir / "data/applications/vandrel-shopper-url.desktop");
  const std::string launcher = ReadWholeFile(dir / "data/applications/vandrel-shopper.desktop");
  ASSERT_EQ(Cli(install).Status, 0);
  EXPECT_EQ(ReadWholeFile(dir / "config/mimeapps.list"), list);
  EXPECT_EQ(ReadWholeFile(dir / "data/applications/vandrel-shopper-url.desktop"), handler);
  EXPECT_EQ(ReadWholeFile(dir / "data/applications/vandrel-shopper.desktop"), launcher);

  for (const std::string file : {"vandrel-shopper-url.desktop", "vandrel-shopper.desktop"}) {
    run = Run("desktop-file-validate", {dir / "data/applications/" + file});
    EXPECT_EQ(run.Status, 0) << file << run.Out << run.Err;
  }

  // Everything is there but the two context-menu entries an update only ever removes.
  run = Cli({"integration", "status", "--json"});
  EXPECT_EQ(run.Status, 0);
  size_t absent = 0;
  for (size_t at = run.Out.find("\"Present\": false"); at != std::string::npos;
       at = run.Out.find("\"Present\": false", at + 1))
    ++absent;
  EXPECT_EQ(absent, 2u) << run.Out;
  EXPECT_NE(run.Out.find("Find Reviews Using Vandrel Shopper\", \"Present\": false"), std::string::npos);

  ASSERT_EQ(Cli({"integration", "remove"}).Status, 0);
  run = Run("gio", {"mime", "x-scheme-handler/shop"});
  EXPECT_NE(run.Out.find("No default applications"), std::string::npos) << run.Out;
  EXPECT_EQ(ReadWholeFile(dir / "config/mimeapps.list"), other);
  EXPECT_FALSE(fs::exists(dir / "data/applications/vandrel-shopper.desktop"));
  run = Cli({"integration", "status"});
  EXPECT_EQ(run.Out.find("present"), std::string::npos) << run.Out;
}

TEST_F(IntegrationCommandIntegration, PagesReachTheDefaultBrowserByHandlerOrCommandLine) {
  RegisterBrowser("--new-tab %u");
  ASSERT_EQ(Cli({"open", "  http://127.0.0.1:9/a b?q=c d "}).Status, 0);
  // https has no handler: the shell open fails for want of one, and http's command line takes the page.
  ASSERT_EQ(Cli({"open", "https://127.0.0.1:9/x y"}).Status, 0);
  ASSERT_EQ(Cli({"open", "--launch", "http://127.0.0.1:9/launched"}).Status, 0);
  const auto calls = BrowserCalls(3);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], (Words{"--new-tab", "http://127.0.0.1:9/a%20b?q=c%20d"}));
  EXPECT_EQ(calls[1], (Words{"--new-tab", "https://127.0.0.1:9/x%20y"}));
  EXPECT_EQ(calls[2], (Words{"--new-tab", "http://127.0.0.1:9/launched"}));
}

TEST_F(IntegrationCommandIntegration, TheForcedBrowsersParametersFollowTheRules) {
  const std::string browser = "\"" + (dir / "fake browser.sh") + "\"";
  const std::pair<std::string, Words> cases[] = {
      {browser + " --Home -x", {"http://127.0.0.1:9/p"}},
      {browser + " -x \"%1\" %1", {"-x", "http://127.0.0.1:9/p", "%1"}},
      {browser + " --url=%1", {"--url=http://127.0.0.1:9/p"}},
      {browser + " --private", {"--private", "http://127.0.0.1:9/p"}},
  };
  ASSERT_EQ(Cli({"config", "set", "Preferences.ForceNavigatorUse", "true"}).Status, 0);
  for (const auto& [command, expected] : cases) {
    ASSERT_EQ(Cli({"config", "set", "Preferences.NavigatorExeName", command}).Status, 0);
    TRun run = Cli({"open", "http://127.0.0.1:9/p"});
    ASSERT_EQ(run.Status, 0) << run.Err;
  }
  const auto calls = BrowserCalls(4);
  ASSERT_EQ(calls.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(calls[i], cases[i].second) << cases[i].first;
}

TEST_F(IntegrationCommandIntegration, WithoutAnyBrowserOpeningFailsAndSaysSo) {
  TRun run = Cli({"open", "http://127.0.0.1:9/"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("could not open"), std::string::npos);
}

TEST_F(IntegrationCommandIntegration, UninstallFromTheTerminalKeepsOrRemovesTheUsersData) {
  const std::string root = dir / "root";
  fs::create_directories(root + "/UserData/Default User");
  fs::create_directories(root + "/Data");
  WriteWholeFile(root + "/Data/x.cen", "x");
  ASSERT_EQ(Cli({"integration", "install", "--root", root, "--program", VANDREL_CLI}).Status, 0);
  TRun run = Cli({"uninstall", "--keep-user-data", "--root", root});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(fs::exists(root + "/UserData/Default User"));
  EXPECT_FALSE(fs::exists(root + "/Data"));
  EXPECT_FALSE(fs::exists(dir / "data/applications/vandrel-shopper-url.desktop"));
  EXPECT_FALSE(fs::exists(dir / "config/VandrelSoft/classes.reg") &&
               ReadWholeFile(dir / "config/VandrelSoft/classes.reg").find("[shop]") != std::string::npos);

  // Without a terminal nobody can answer, so the searches stay unless the command line says otherwise.
  run = Cli({"uninstall", "--root", root});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(fs::exists(root + "/UserData"));
  run = Cli({"uninstall", "--remove-user-data", "--root", root});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_FALSE(fs::exists(root + "/UserData"));

  run = Cli({"uninstall", "--remove-user-data", "--root", "relative/root"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("not an absolute path"), std::string::npos) << run.Err;
}

}  // namespace
}  // namespace vandrel
