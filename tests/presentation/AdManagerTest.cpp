// The advertisement manager and strip against a loopback server, on a manual clock.
#include "presentation/AdManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "TempFolder.h"
#include "cli/DemoBanners.h"
#include "http/CookieManager.h"
#include "http/TestOriginServer.h"
#include "presentation/FakeDesktopPorts.h"

namespace vandrel {
namespace {

using test::TestOriginServer;

constexpr const char* kLasting = "; expires=Fri, 01 Jan 2100 00:00:00 GMT; path=/";

std::string Script(const std::string& source, const std::string& target, int rotation, bool cookies) {
  return "Procedure Init\n  SourceUrl = \"" + source + "\"\n  TargetUrl = \"" + target +
         "\"\n  RotationInterval = " + std::to_string(rotation) +
         "\n  UseCookies = " + (cookies ? "True" : "False") + "\n  SetHttpVar \"slot=top\"\nEndProcedure\n";
}

std::vector<std::string> CookieNames(TAdManager& manager) {
  std::vector<std::string> names;
  for (const TCookie& cookie : manager.Downloader().Cookies().Export()) names.push_back(cookie.NameValue);
  return names;
}

struct AdStripWorld : ::testing::Test {
  AdStripWorld() {
    MainDispatcher::Default().AdoptCurrentThread();
    const std::string gif = cli::DemoBannerGif(1);
    Origin.Route("/banner.gif",
                 TestOriginServer::Reply(
                     200, gif, {"Content-Type: image/gif", std::string("Set-Cookie: seen=1") + kLasting}));
    Origin.Route("/click", TestOriginServer::Reply(302, "", {"Location: " + Origin.Url("/hop")}));
    Origin.Route("/hop", TestOriginServer::Reply(302, "", {"Location: " + Origin.Url("/landing")}));
    Origin.Route("/landing", TestOriginServer::Reply(200, "<html>shop</html>", {"Content-Type: text/html"}));
    Origin.Route("/page.gif", TestOriginServer::Reply(
                                  200, "<html>oops</html>",
                                  {"Content-Type: text/html", std::string("Set-Cookie: kept=1") + kLasting}));
    Origin.Route("/broken.gif", [](test::TOriginConnection& c) {
      c.Send(std::string("HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nSet-Cookie: lost=1") + kLasting +
             "\r\nContent-Length: 5000\r\n\r\nGIF89a");
      c.Reset();
    });
    Origin.Route("/click-reset", TestOriginServer::Reply(302, "", {"Location: " + Origin.Url("/hop-reset")}));
    Origin.Route("/hop-reset", TestOriginServer::Reply(302, "", {"Location: " + Origin.Url("/gone")}));
    Origin.Route("/gone", [](test::TOriginConnection& c) { c.Reset(); });
    WriteScript(Script(Origin.Url("/banner.gif"), Origin.Url("/click"), 0, true));
    Open();
  }
  void Open() {
    Strip.reset();
    Manager = std::make_unique<TAdManager>();
    Manager->SetScriptFile(Folder / "shopper.scs");
    Manager->SetCookieFile(Folder / "Cookies.dat");
    Strip = std::make_unique<TAdStrip>(*Manager, Clock);
    Strip->DataFolder = Folder.Path() + "/";
    Strip->ShowBanner = [this](const std::string& bytes) {
      ++Banners;
      Strip->BannerLoaded(true, AreaHeight);
    };
    Strip->SetVisible = [this](bool visible) { Visible = visible; };
    Strip->OpenPage = [this](const std::string& address) { Opened.push_back(address); };
    Strip->ShowLinks = [this] { ++LinksShown; };
  }
  void WriteScript(const std::string& text) { test::WriteWholeFile(Folder / "shopper.scs", text); }
  bool Settle() {
    return MainDispatcher::Default().RunUntil([this] { return !Manager->IsBusy(); },
                                              std::chrono::seconds(10));
  }
  size_t BannerRequests() const {
    size_t n = 0;
    for (const auto& r : Origin.Requests()) n += r.PathAndQuery().rfind("/banner.gif", 0) == 0;
    return n;
  }

  TestOriginServer Origin;
  test::TempFolder Folder;
  test::TManualScheduler Clock;
  std::unique_ptr<TAdManager> Manager;
  std::unique_ptr<TAdStrip> Strip;
  int AreaHeight = 62;
  int Banners = 0;
  int LinksShown = 0;
  bool Visible = false;
  std::vector<std::string> Opened;
};

TEST_F(AdStripWorld, RotatesOnlyWhileActiveAndKeepsTheFirstInterval) {
  EXPECT_EQ(Manager->State(), TAdState::adsReady);
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Banners, 1);
  EXPECT_TRUE(Visible);
  EXPECT_EQ(Manager->RotationInterval(), kAdDefaultRotationMs) << "RotationInterval 0 means 45 seconds";
  EXPECT_EQ(Manager->TargetUrl(), Origin.Url("/click"));
  ASSERT_EQ(Origin.Requests().size(), 1u);
  EXPECT_EQ(Origin.Requests()[0].PathAndQuery(), "/banner.gif?slot=top") << "the script's HttpVars go along";

  // A later script cannot change the rhythm.
  WriteScript(Script(Origin.Url("/banner.gif"), Origin.Url("/click"), 5000, true));
  Strip->SetActive(false);
  Clock.Advance(3 * kAdDefaultRotationMs);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(BannerRequests(), 1u) << "no banner while the main window is inactive";
  Strip->SetActive(true);
  Clock.Advance(kAdDefaultRotationMs);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(BannerRequests(), 2u);
  EXPECT_EQ(Banners, 2);
  EXPECT_EQ(Strip->TimerInterval(), kAdDefaultRotationMs);
  Clock.Advance(5000);
  EXPECT_EQ(BannerRequests(), 2u);
}

TEST_F(AdStripWorld, AShortStripAreaHidesTheBanner) {
  AreaHeight = 31;
  Visible = true;
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Banners, 1);
  EXPECT_FALSE(Visible);
  EXPECT_TRUE(Strip->TimerRunning()) << "the rotation goes on while hidden";
}

TEST_F(AdStripWorld, ClicksFollowRedirectionsOrShowTheLinksInInfoMode) {
  Strip->Click(false);
  EXPECT_FALSE(Strip->Busy()) << "no banner yet: nothing to follow, no busy cursor left";
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());

  Strip->Click(false);
  EXPECT_TRUE(Strip->Busy());
  Strip->Click(false);  // while the first click runs: nothing more
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Opened, std::vector<std::string>{Origin.Url("/landing")});
  EXPECT_EQ(Manager->ClickUrl(), Origin.Url("/landing"));
  EXPECT_FALSE(Strip->Busy());

  Strip->Click(true);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(LinksShown, 1);
  EXPECT_EQ(Opened.size(), 1u) << "info mode shows the addresses instead of opening the browser";
  EXPECT_FALSE(Strip->InfoMode());
}

TEST_F(AdStripWorld, AClickThatFailsAfterTwoRedirectionsOpensTheThirdAddress) {
  WriteScript(Script(Origin.Url("/banner.gif"), Origin.Url("/click-reset"), 0, true));
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());
  Strip->Click(false);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Opened, std::vector<std::string>{Origin.Url("/gone")});
}

TEST_F(AdStripWorld, OutcomesCommitOrRollBackTheCookies) {
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(CookieNames(*Manager), std::vector<std::string>{"seen=1"});

  // A banner cut off mid-answer fails and takes back what its answer set.
  WriteScript(Script(Origin.Url("/broken.gif"), Origin.Url("/click"), 0, true));
  Clock.Advance(kAdDefaultRotationMs);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(CookieNames(*Manager), std::vector<std::string>{"seen=1"});
  EXPECT_EQ(Banners, 1);
  EXPECT_TRUE(Strip->TimerRunning());
  EXPECT_EQ(Manager->State(), TAdState::adsReady);

  // A banner answered with a page is a failed request, but the server's cookies are kept, the old ones too.
  WriteScript(Script(Origin.Url("/page.gif"), Origin.Url("/elsewhere"), 0, true));
  Clock.Advance(kAdDefaultRotationMs);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(CookieNames(*Manager), (std::vector<std::string>{"kept=1", "seen=1"}));
  EXPECT_EQ(Banners, 1);
  EXPECT_EQ(Manager->TargetUrl(), Origin.Url("/click")) << "the shown banner's target stays";
  EXPECT_TRUE(Strip->TimerRunning());
}

TEST_F(AdStripWorld, PersistentCookiesOutliveTheManager) {
  Origin.Route("/session.gif", TestOriginServer::Reply(200, cli::DemoBannerGif(2),
                                                       {"Content-Type: image/gif", "Set-Cookie: brief=1"}));
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());
  WriteScript(Script(Origin.Url("/session.gif"), Origin.Url("/click"), 0, true));
  Clock.Advance(kAdDefaultRotationMs);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(CookieNames(*Manager).size(), 2u);
  Strip.reset();
  Manager.reset();
  const std::string saved = test::ReadWholeFile(Folder / "Cookies.dat");
  EXPECT_NE(saved.find("seen=1;expires="), std::string::npos) << saved;
  EXPECT_EQ(saved.find("brief"), std::string::npos) << "session cookies are not kept";

  Open();
  WriteScript(Script(Origin.Url("/banner.gif"), Origin.Url("/click"), 0, true));
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Origin.Requests().back().Header("Cookie"), "seen=1");
}

TEST_F(AdStripWorld, AFailingScriptStopsTheBannersForGood) {
  WriteScript("Procedure Init\n  SourceUrl = NoSuchFunction(1)\nEndProcedure\n");
  Strip->SetAdContext(nullptr);
  EXPECT_EQ(Manager->State(), TAdState::adsScriptFailed);
  WriteScript(Script(Origin.Url("/banner.gif"), Origin.Url("/click"), 0, true));
  Clock.Advance(10 * kAdDefaultRotationMs);
  Strip->SetAdContext(nullptr);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Origin.Requests().size(), 0u);
  EXPECT_FALSE(Manager->RequestBanner(nullptr));

  // A script without a picture address leaves the manager downloading until StopAds.
  TAdManager other;
  other.SetScriptFile(Folder / "empty.scs");
  test::WriteWholeFile(Folder / "empty.scs", Script("", Origin.Url("/click"), 0, false));
  EXPECT_FALSE(other.RequestBanner(nullptr));
  EXPECT_EQ(other.State(), TAdState::adsDownloading);
  other.StopAds();
  EXPECT_EQ(other.State(), TAdState::adsReady);
}

}  // namespace
}  // namespace vandrel
