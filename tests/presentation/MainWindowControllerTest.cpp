// The main window's tables, enabling rules, status texts, close protocol and held-back command lines,
// without a display.
#include "presentation/MainWindowController.h"

#include <gtest/gtest.h>

#include <set>

#include "presentation/FakeDesktopPorts.h"

namespace vandrel {
namespace {

using enum TMainCommand;

TEST(MainWindowTables, EveryCommandAppearsOnceAndShortcutsDoNotCollide) {
  std::set<TMainCommand> commands;
  std::set<std::string_view> shortcuts;
  for (const TMenuItemSpec& item : MainMenuItems()) {
    EXPECT_TRUE(commands.insert(item.Command).second) << item.Caption;
    if (!item.Shortcut.empty()) {
      EXPECT_TRUE(shortcuts.insert(item.Shortcut).second) << item.Shortcut;
    }
  }
  // Every command but the status bar's link has a menu item, and each tool-bar button mirrors one.
  EXPECT_EQ(commands.size(), static_cast<size_t>(mcSoftwareUpdate));
  for (const TToolButtonSpec& button : ToolBarButtons())
    EXPECT_NE(FindMenuItem(button.Command), nullptr) << button.Caption;
  EXPECT_EQ(ToolBarButtons().size(), 6u);
  EXPECT_EQ(FindMenuItem(mcSoftwareUpdate), nullptr);
}

TEST(MainWindowTables, ShortcutsAndRoutesOfTheMenus) {
  struct Case {
    TMainCommand command;
    std::string_view shortcut;
    TCommandRoute route;
  } cases[] = {
      {mcGoHome, "Ctrl+1", TCommandRoute::crWindow},
      {mcGoPrices, "Ctrl+3", TCommandRoute::crWindow},
      {mcNewSearch, "Ctrl+N", TCommandRoute::crWindowOfItsOwn},
      {mcFindReviews, "Ctrl+R", TCommandRoute::crWindowOfItsOwn},
      {mcFindPrices, "Ctrl+I", TCommandRoute::crWindowOfItsOwn},
      {mcModifySearch, "F2", TCommandRoute::crWindowOfItsOwn},
      {mcDuplicateSearch, "F9", TCommandRoute::crWindowOfItsOwn},
      {mcUpdateSearch, "Ctrl+U", TCommandRoute::crWindow},
      {mcProperties, "Alt+Return", TCommandRoute::crFrame},
      {mcSummaries, "Ctrl+Shift+S", TCommandRoute::crFrame},
      {mcLayoutBrowser, "Alt+3", TCommandRoute::crFrame},
      {mcSearchProgress, "Ctrl+Shift+P", TCommandRoute::crWindowOfItsOwn},
      {mcExport, "", TCommandRoute::crNotAvailable},
      {mcHelpTopics, "", TCommandRoute::crNotAvailable},
  };
  for (const Case& c : cases) {
    const TMenuItemSpec* item = FindMenuItem(c.command);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Shortcut, c.shortcut) << item->Caption;
    EXPECT_EQ(item->Route, c.route) << item->Caption;
  }
}

TEST(MainWindowRules, RunnerStateAndPageDecideWhatIsEnabled) {
  TMainWindowState idleHome;
  TMainWindowState busyPrices;
  busyPrices.Page = TPageKind::pkPrices;
  busyPrices.RunnerIdle = false;
  busyPrices.HasCurrentSearch = true;
  TMainWindowState idlePrices = busyPrices;
  idlePrices.RunnerIdle = true;
  TMainWindowState idlePricesNoSearch = idlePrices;
  idlePricesNoSearch.HasCurrentSearch = false;

  struct Case {
    TMainCommand command;
    bool home, busy, idle, noSearch;
  } cases[] = {
      {mcFindReviews, true, false, true, true},
      {mcFindPrices, true, false, true, true},
      {mcNewSearch, true, false, true, true},
      {mcStopSearch, false, true, false, false},
      {mcUpdateSearch, false, false, true, false},
      {mcCheckUpdates, true, false, true, true},
      {mcOptions, true, false, true, true},
      {mcCategories, true, false, true, true},
      {mcUseLocalCurrency, false, false, true, true},
      {mcCopy, false, true, true, true},
      {mcExit, true, true, true, true},
  };
  for (const Case& c : cases) {
    const std::string name(FindMenuItem(c.command)->Caption);
    EXPECT_EQ(CommandState(c.command, idleHome).Enabled, c.home) << name;
    EXPECT_EQ(CommandState(c.command, busyPrices).Enabled, c.busy) << name;
    EXPECT_EQ(CommandState(c.command, idlePrices).Enabled, c.idle) << name;
    EXPECT_EQ(CommandState(c.command, idlePricesNoSearch).Enabled, c.noSearch) << name;
  }
  // "New Search" is never enabled together with "Stop".
  for (const TMainWindowState& s : {idleHome, busyPrices, idlePrices})
    EXPECT_NE(CommandState(mcNewSearch, s).Enabled, CommandState(mcStopSearch, s).Enabled);
}

TEST(MainWindowRules, VisibilityAndChecks) {
  TMainWindowState state;
  EXPECT_FALSE(CommandState(mcSoftwareUpdate, state).Visible);
  state.SoftwareUpdateAddressSet = true;
  EXPECT_TRUE(CommandState(mcSoftwareUpdate, state).Visible);
  state.RunnerIdle = false;
  EXPECT_FALSE(CommandState(mcSoftwareUpdate, state).Enabled);

  EXPECT_FALSE(CommandState(mcGoHotDeals, state).Visible);
  EXPECT_FALSE(CommandState(mcSummaries, state).Visible);
  state.Page = TPageKind::pkReviews;
  EXPECT_TRUE(CommandState(mcSummaries, state).Visible);
  EXPECT_TRUE(CommandState(mcGoReviews, state).Checked);
  EXPECT_FALSE(CommandState(mcGoHome, state).Checked);

  EXPECT_FALSE(CommandState(mcSearchProgress, state).Enabled);
  state.ProgressWindowExists = true;
  state.ProgressWindowVisible = true;
  EXPECT_TRUE(CommandState(mcSearchProgress, state).Enabled);
  EXPECT_TRUE(CommandState(mcSearchProgress, state).Checked);

  state.Layout = TFrameLayout::flBrowser;
  EXPECT_TRUE(CommandState(mcLayoutBrowser, state).Checked);
  EXPECT_FALSE(CommandState(mcLayoutResults, state).Checked);
}

TEST(MainWindowRules, PagesCycleBothWays) {
  EXPECT_EQ(NextPage(TPageKind::pkPrices), TPageKind::pkHome);
  EXPECT_EQ(NextPage(TPageKind::pkHome), TPageKind::pkReviews);
  EXPECT_EQ(PreviousPage(TPageKind::pkHome), TPageKind::pkPrices);
  EXPECT_EQ(PreviousPage(TPageKind::pkReviews), TPageKind::pkHome);
}

TEST(MainWindowTexts, StatusPanels) {
  EXPECT_EQ(ResultCountText(-1, 0), "");
  EXPECT_EQ(ResultCountText(0, 0), "No results");
  EXPECT_EQ(ResultCountText(1, 0), "1 result");
  EXPECT_EQ(ResultCountText(1, 1), "1 result (1 selected)");
  EXPECT_EQ(ResultCountText(12, 0), "12 results");
  EXPECT_EQ(ResultCountText(12, 3), "12 results (3 selected)");
  EXPECT_EQ(LocalCurrencyText("EUR"), "Local Currency (EUR)");
  EXPECT_EQ(StatusTextPanelWidth(800, 100, 150, 120), 370);
  EXPECT_EQ(StatusTextPanelWidth(200, 100, 150, 120), 0);
  EXPECT_FALSE(ShowsLoadProgress(0));
  EXPECT_TRUE(ShowsLoadProgress(1));
  EXPECT_TRUE(ShowsLoadProgress(99));
  EXPECT_FALSE(ShowsLoadProgress(100));
  EXPECT_EQ(LoadPercent(5, 0), 0);
  EXPECT_EQ(LoadPercent(1, 3), 33);
  EXPECT_EQ(LoadPercent(7, 3), 100);
}

TEST(MainWindowTexts, AddressesAndArguments) {
  EXPECT_EQ(RedirectAddress(RedirectDestination(mcReportBug)),
            "https://vandrelsoft.example/go?dest=shopperreportbug");
  EXPECT_EQ(RedirectDestination(mcInviteFriend), "shopperfriend");
  EXPECT_EQ(RedirectDestination(mcAbout), "");
  EXPECT_EQ(SoftwareUpdateAddress("ED", "ENG", "0957"),
            "https://vandrelsoft.example/go?dest=shopperhome&edition=ED&language=ENG&buildnumber=0957");
  EXPECT_EQ(AboutVersionText("0.95", "0957"), "Version 0.95 Build 0957");
  EXPECT_EQ(AboutVersionHint("ED", "ENG", "0957"), "ED (ENG) Build 0957");
  EXPECT_EQ(HomeEntryIndex("1", 3), 0u);
  EXPECT_EQ(HomeEntryIndex("3", 3), 2u);
  for (std::string_view bad : {"0", "4", "-1", "", "2x", " 2", "99999999999999999999999"})
    EXPECT_FALSE(HomeEntryIndex(bad, 3)) << bad;
  EXPECT_FALSE(HomeEntryIndex("1", 0));
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(SplitCategoryAndQuery("books harry potter"), P("books", "harry potter"));
  EXPECT_EQ(SplitCategoryAndQuery("  music   "), P("music", ""));
  EXPECT_EQ(SplitCategoryAndQuery(""), P("", ""));
}

TEST(MainWindowTexts, PlacementRoundTripsAndRejectsDamage) {
  const TWindowPlacement placement{-20, 40, 1024, 700, true};
  const std::string text = FormatWindowPlacement(placement);
  EXPECT_EQ(text, "-20,40,1024,700,1");
  auto back = ParseWindowPlacement(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Left, -20);
  EXPECT_EQ(back->Height, 700);
  EXPECT_TRUE(back->Maximized);
  for (std::string_view bad : {"", "1,2,3", "1,2,300,400", "1,2,300,400,0,", "1,2,300,400,0,5",
                               "a,2,300,400,0", "1,2,30,400,0", "1, 2,300,400,0", "1,2,300,99999999999,0"})
    EXPECT_FALSE(ParseWindowPlacement(bad)) << bad;
}

TEST(MainWindowTexts, SandboxIsSwitchedOffOnlyForRootAndOnlyWhenStillOn) {
  EXPECT_FALSE(BrowserSandboxMustBeSwitchedOff(false, "", ""));
  EXPECT_TRUE(BrowserSandboxMustBeSwitchedOff(true, "", ""));
  EXPECT_TRUE(BrowserSandboxMustBeSwitchedOff(true, "0", "--disable-gpu"));
  EXPECT_FALSE(BrowserSandboxMustBeSwitchedOff(true, "1", ""));
  EXPECT_FALSE(BrowserSandboxMustBeSwitchedOff(true, "", "--disable-gpu --no-sandbox"));
  EXPECT_TRUE(BrowserSandboxMustBeSwitchedOff(true, "", "--no-sandboxing"));
}

// A window with a runner that stays busy until told, and a record of what the closer did.
struct CloserRig {
  test::TManualScheduler clock;
  bool runnerIdle = false;
  bool adsIdle = true;
  bool splashDone = true;
  bool agreeToStop = true;
  int asked = 0, stops = 0, closed = 0;
  TMainWindowCloser closer{
      clock,
      {[this] { return runnerIdle; }, [this] { return adsIdle; }, [this] { return splashDone; },
       [this] {
         ++asked;
         return agreeToStop;
       },
       [this] { ++stops; }, nullptr, [this] { ++closed; }}};
};

TEST(MainWindowCloser, RefusedStopKeepsTheWindowAndNothingIsScheduled) {
  CloserRig rig;
  rig.agreeToStop = false;
  EXPECT_FALSE(rig.closer.CloseRequested());
  EXPECT_EQ(rig.asked, 1);
  EXPECT_EQ(rig.clock.Pending(), 0u);
  rig.clock.Advance(1000);
  EXPECT_EQ(rig.closed, 0);
  EXPECT_EQ(rig.stops, 0);
}

TEST(MainWindowCloser, AgreedStopClosesOnceTheRunnerIsIdle) {
  CloserRig rig;
  EXPECT_FALSE(rig.closer.CloseRequested());
  EXPECT_TRUE(rig.closer.Waiting());
  // A second request while waiting neither asks again nor starts a second timer.
  EXPECT_FALSE(rig.closer.CloseRequested());
  EXPECT_EQ(rig.asked, 1);
  EXPECT_EQ(rig.clock.Pending(), 1u);

  rig.clock.Advance(149);
  EXPECT_EQ(rig.stops, 0);
  rig.clock.Advance(1);
  EXPECT_EQ(rig.stops, 1);  // each tick stops the runner again
  rig.clock.Advance(300);
  EXPECT_EQ(rig.stops, 3);
  EXPECT_EQ(rig.closed, 0);
  rig.runnerIdle = true;
  rig.clock.Advance(150);
  EXPECT_EQ(rig.closed, 1);
  EXPECT_FALSE(rig.closer.Waiting());
  EXPECT_TRUE(rig.closer.CloseRequested());
}

TEST(MainWindowCloser, IdleWindowClosesAtOnceButWaitsForSplashAndAds) {
  CloserRig rig;
  rig.runnerIdle = true;
  EXPECT_TRUE(rig.closer.CloseRequested());

  rig.splashDone = false;
  rig.adsIdle = false;
  EXPECT_FALSE(rig.closer.CloseRequested());
  EXPECT_EQ(rig.asked, 0);  // nothing is searching: no question
  rig.splashDone = true;
  rig.clock.Advance(150);
  EXPECT_EQ(rig.closed, 0);
  rig.adsIdle = true;
  rig.clock.Advance(150);
  EXPECT_EQ(rig.closed, 1);
}

TEST(CommandLineQueue, LinesWaitForTheModalWindowAndKeepTheirOrder) {
  test::TManualScheduler clock;
  bool modal = true;
  std::vector<std::string> ran;
  TCommandLineQueue queue(
      clock, [&] { return modal; }, [&](const std::string& line) { ran.push_back(line); });
  queue.Submit("prices");
  queue.Submit("home");
  clock.Advance(500);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(queue.Pending(), 2u);
  modal = false;
  clock.Advance(TCommandLineQueue::kRetryMs);
  EXPECT_EQ(ran, (std::vector<std::string>{"prices", "home"}));
  queue.Submit("reviews");
  EXPECT_EQ(ran.back(), "reviews");  // no modal window: at once
}

TEST(CommandLineQueue, ALineArrivingWhileAHandlerShowsAModalWindowRunsAfterIt) {
  test::TManualScheduler clock;
  bool modal = false;
  std::vector<std::string> ran;
  TCommandLineQueue* self = nullptr;
  TCommandLineQueue queue(
      clock, [&] { return modal; },
      [&](const std::string& line) {
        ran.push_back(line);
        if (line == "new tv") {
          modal = true;  // the wizard is open; a later start's line arrives meanwhile
          self->Submit("prices");
          EXPECT_EQ(ran.size(), 1u);
          modal = false;
        }
      });
  self = &queue;
  queue.Submit("new tv");
  EXPECT_EQ(ran, (std::vector<std::string>{"new tv", "prices"}));
}

}  // namespace
}  // namespace vandrel
