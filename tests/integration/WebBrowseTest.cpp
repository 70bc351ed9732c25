#include "integration/WebBrowse.h"

#include <gtest/gtest.h>

#include <fstream>

#include "TempFolder.h"

namespace vandrel {
namespace {

// Records what would reach the desktop and answers as told.
class TFakeLauncher : public IDesktopLauncher {
 public:
  TShellOpenResult OpenUri(const std::string& uri, std::string& error) override {
    Opened.push_back(uri);
    if (OpenResult != TShellOpenResult::soOpened) error = "refused";
    return OpenResult;
  }
  bool DefaultHandler(std::string_view scheme, TSchemeHandler& out) override {
    if (HttpExec.empty() || scheme != "http") return false;
    out = {"fake.desktop", HttpExec};
    return true;
  }
  bool Spawn(const std::vector<std::string>& argv, std::string& error) override {
    Spawned.push_back(argv);
    if (SpawnFailures > 0) {
      --SpawnFailures;
      error = "cannot start";
      return false;
    }
    return true;
  }

  TShellOpenResult OpenResult = TShellOpenResult::soOpened;
  std::string HttpExec = "/usr/bin/browser --new-tab %u";
  int SpawnFailures = 0;
  std::vector<std::string> Opened;
  std::vector<std::vector<std::string>> Spawned;
};

using Words = std::vector<std::string>;

TEST(WebBrowseTest, NormalizeAddressTurnsBlanksAfterTheSchemeOnlyAndKnowsFiveSchemes) {
  struct Case {
    std::string in, out;
    bool known;
  } cases[] = {
      {"  http://shop.example/a b c  ", "http://shop.example/a%20b%20c", true},
      {"my site://x y", "my site://x%20y", false},
      {"HTTPS://x", "HTTPS://x", true},
      {"ftp://x", "ftp://x", true},
      {"gopher://x", "gopher://x", true},
      {"file://x", "file://x", true},
      {"mailto://someone", "mailto://someone", false},
      {"someone@example.com", "someone@example.com", false},
      {"/no/such/file.htm", "/no/such/file.htm", false},
  };
  for (const auto& c : cases) {
    std::string address = c.in;
    EXPECT_EQ(NormalizeAddress(address), c.known) << c.in;
    EXPECT_EQ(address, c.out) << c.in;
  }
}

TEST(WebBrowseTest, AnExistingFileBecomesItsFileAddress) {
  test::TempFolder dir;
  const std::string page = dir / "list.htm";
  std::ofstream(page) << "<html></html>";
  std::string address = " " + page + " ";
  EXPECT_TRUE(NormalizeAddress(address));
  EXPECT_EQ(address, "file://" + page);
}

TEST(WebBrowseTest, SplitCommandLineFindsTheProgramPart) {
  struct Case {
    std::string command, program, parameters;
  } cases[] = {
      {"", "", ""},
      {"\"C:\\Program Files\\IE\\iexplore.exe\" -nohome", "C:\\Program Files\\IE\\iexplore.exe", "-nohome"},
      {"C:\\NETSCAPE.EXE \"%1\"", "C:\\NETSCAPE.EXE", "\"%1\""},
      {"\"/opt/my browser/run\" --new %1", "/opt/my browser/run", "--new %1"},
      {"/opt/my browser/bin/firefox %1", "/opt/my browser/bin/firefox", "%1"},
      {"firefox-esr %1", "firefox-esr", "%1"},
      {"  /usr/bin/lynx  ", "/usr/bin/lynx", ""},
  };
  for (const auto& c : cases) {
    std::string program, parameters;
    SplitCommandLine(c.command, program, parameters);
    EXPECT_EQ(program, c.program) << c.command;
    EXPECT_EQ(parameters, c.parameters) << c.command;
  }
}

TEST(WebBrowseTest, BrowserArgumentsFollowTheFiveRulesInOrder) {
  const std::string a = "http://x/a%20b";
  struct Case {
    std::string parameters;
    Words words;
  } cases[] = {
      {"", {a}},                                         // no parameters
      {"--new -H %1 extra", {a}},                        // "-h" in any case wins over "%1"
      {"-new \"%1\" %1", {"-new", a, "%1"}},             // the quoted "%1" first
      {"--tab=%1 \"%1\"", {"--tab=%1", a}},              // even when a bare one comes before it
      {"--url=%1 --x %1", {"--url=" + a, "--x", "%1"}},  // else the first "%1"
      {"--new-window", {"--new-window", a}},             // else appended
      {"'one word' \"two \\\"q\\\"\" x\\ y", {"one word", "two \"q\"", "x y", a}},
  };
  for (const auto& c : cases) EXPECT_EQ(BrowserArguments(a, c.parameters), c.words) << c.parameters;
}

TEST(WebBrowseTest, AnAddressCannotBreakOutOfItsWord) {
  const std::string hostile = "http://x/\" --remote-debugging-port=1 '\x01";
  EXPECT_EQ(BrowserArguments(hostile, "\"%1\""), Words{hostile});
  EXPECT_EQ(BrowserArguments(hostile, "%1"), Words{hostile});
  EXPECT_EQ(BrowserArguments(hostile, "--x"), (Words{"--x", hostile}));
}

TEST(WebBrowseTest, ExecFieldCodesBecomeTheAddressParameter) {
  EXPECT_EQ(ExecToCommand("firefox-esr %u"), "firefox-esr %1");
  EXPECT_EQ(ExecToCommand("b %U"), "b %1");
  EXPECT_EQ(ExecToCommand("b --file %f"), "b --file %1");
  EXPECT_EQ(ExecToCommand("b %F"), "b %1");
  EXPECT_EQ(ExecToCommand("b --icon %i --name %c %k 100%% %u"), "b --icon  --name   100% %1");
}

class WebBrowseChainTest : public ::testing::Test {
 protected:
  TFakeLauncher launcher;
  TWebBrowse browse{launcher, nullptr};
};

TEST_F(WebBrowseChainTest, TheDesktopHandlerOpensAPageAndNothingIsStarted) {
  EXPECT_TRUE(browse.OpenUrl("http://x/a b"));
  EXPECT_EQ(launcher.Opened, Words{"http://x/a%20b"});
  EXPECT_TRUE(launcher.Spawned.empty());
  EXPECT_FALSE(browse.NoHandler());
}

TEST_F(WebBrowseChainTest, WithoutAHandlerTheBrowserCommandLineGetsThePage) {
  launcher.OpenResult = TShellOpenResult::soNoHandler;
  EXPECT_TRUE(browse.OpenUrl("https://x/p q"));
  ASSERT_EQ(launcher.Spawned.size(), 1u);
  EXPECT_EQ(launcher.Spawned[0], (Words{"/usr/bin/browser", "--new-tab", "https://x/p%20q"}));
  EXPECT_TRUE(browse.NoHandler());
}

TEST_F(WebBrowseChainTest, AHandlerThatFailsForAnotherReasonIsNotWorkedAround) {
  launcher.OpenResult = TShellOpenResult::soFailed;
  EXPECT_FALSE(browse.OpenUrl("http://x/"));
  EXPECT_TRUE(launcher.Spawned.empty());
}

TEST_F(WebBrowseChainTest, NoHandlerAndNoBrowserFails) {
  launcher.OpenResult = TShellOpenResult::soNoHandler;
  launcher.HttpExec.clear();
  EXPECT_FALSE(browse.OpenUrl("http://x/"));
  EXPECT_TRUE(launcher.Spawned.empty());
}

TEST_F(WebBrowseChainTest, AnAddressWithoutSchemeOrFileGoesToTheShellAsItIs) {
  launcher.OpenResult = TShellOpenResult::soNoHandler;
  EXPECT_FALSE(browse.OpenUrl("  someone@example.com "));
  EXPECT_EQ(launcher.Opened, Words{"someone@example.com"});
  EXPECT_TRUE(launcher.Spawned.empty());
  EXPECT_FALSE(browse.NoHandler()) << "no \"://\", so it is not a missing handler";
}

TEST_F(WebBrowseChainTest, TheForcedBrowserIsStartedWithoutAskingTheDesktop) {
  browse.SetForcedBrowser(true, "\"/opt/nav/navigator\" -h");
  EXPECT_TRUE(browse.OpenUrl("http://x/"));
  EXPECT_TRUE(launcher.Opened.empty());
  ASSERT_EQ(launcher.Spawned.size(), 1u);
  EXPECT_EQ(launcher.Spawned[0], (Words{"/opt/nav/navigator", "http://x/"}));
  browse.SetForcedBrowser(false, "\"/opt/nav/navigator\" -h");
  EXPECT_TRUE(browse.OpenUrl("http://x/"));
  EXPECT_EQ(launcher.Opened.size(), 1u) << "the flag off: the path is kept but not used";
}

TEST_F(WebBrowseChainTest, ShiftHeldLaunchesTheBrowserItself) {
  browse.SetShiftKeyProbe([] { return true; });
  EXPECT_TRUE(browse.OpenUrl("http://x/"));
  EXPECT_TRUE(launcher.Opened.empty());
  ASSERT_EQ(launcher.Spawned.size(), 1u);
  EXPECT_EQ(launcher.Spawned[0], (Words{"/usr/bin/browser", "--new-tab", "http://x/"}));
}

TEST_F(WebBrowseChainTest, OnlyALeadingFileAddressLosesItsExtraSlash) {
  EXPECT_TRUE(browse.ShellOpen("FILE:////tmp/page.htm"));
  EXPECT_TRUE(browse.ShellOpen("file:///tmp/page.htm"));
  EXPECT_TRUE(browse.ShellOpen("http://x/?go=file:////etc/passwd"));
  EXPECT_EQ(launcher.Opened,
            (Words{"FILE:///tmp/page.htm", "file:///tmp/page.htm", "http://x/?go=file:////etc/passwd"}));
}

TEST_F(WebBrowseChainTest, RetryAsksUntilTheUserGivesUpAndRestoresTheCursor) {
  launcher.SpawnFailures = 5;
  int asked = 0;
  Words cursor;
  browse.SetRetryPrompt([&](const std::string& text) {
    EXPECT_EQ(text, TWebBrowse::kRetryText);
    return ++asked < 3;
  });
  browse.SetBusyCursor([&](bool busy) { cursor.push_back(busy ? "busy" : "normal"); });
  browse.LaunchBrowserWithRetry("http://x/");
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(launcher.Spawned.size(), 3u);
  EXPECT_EQ(cursor, (Words{"busy", "normal"}));

  launcher.SpawnFailures = 1;
  asked = 0;
  browse.LaunchBrowserWithRetry("http://x/");
  EXPECT_EQ(asked, 1) << "the retry succeeded";
}

TEST_F(WebBrowseChainTest, DetectionIsCachedUntilTheHandlerChanges) {
  launcher.OpenResult = TShellOpenResult::soNoHandler;
  EXPECT_FALSE(browse.ShellOpen("zzz://x"));
  EXPECT_TRUE(browse.NoHandler());
  TBrowserDetection first = browse.DetectBrowser();
  EXPECT_EQ(first.Command, "/usr/bin/browser --new-tab %1");
  EXPECT_EQ(first.Kind, TBrowserKind::bkUnknown);
  EXPECT_FALSE(browse.NoHandler()) << "a fresh detection clears the flag";
  browse.ShellOpen("zzz://x");
  browse.DetectBrowser();
  EXPECT_TRUE(browse.NoHandler()) << "the same handler: the cached answer leaves the flag";
  launcher.HttpExec = "other %u";
  EXPECT_EQ(browse.DetectBrowser().Command, "other %1");
  EXPECT_FALSE(browse.NoHandler());
}

}  // namespace
}  // namespace vandrel
