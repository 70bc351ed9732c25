// The update window's controller against a real update site and a stalling one, on a manual clock.
#include "presentation/UpdaterWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "http/TestOriginServer.h"
#include "presentation/FakeDesktopPorts.h"
#include "update/UpdateTestWorld.h"

namespace vandrel {
namespace {

using updatetest::TSiteProcess;
using updatetest::TUpdateClient;

// Moves the manual clock one wait tick at a time (real time passes too, for the site's answers) until the
// window has closed or `limit` of real time went by.
bool RunWindow(TUpdaterWindow& window, test::TManualScheduler& clock,
               std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!window.Finished() && std::chrono::steady_clock::now() < deadline) {
    clock.Advance(TUpdaterWindow::kWaitTickMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return window.Finished();
}

struct TWindowWorld {
  TUpdateClient Client;
  test::TManualScheduler Clock;
  test::TScriptedPrompts Prompts;
  std::vector<TUpdaterWindowResult> Closed;

  std::unique_ptr<TUpdaterWindow> Open(const std::string& address, bool fullMode = true) {
    Client.Settings.Address = address;
    auto window = std::make_unique<TUpdaterWindow>(Client.Updater, Clock, Prompts);
    window->FullMode = fullMode;
    window->OnClose = [this](TUpdaterWindowResult r) { Closed.push_back(r); };
    return window;
  }
};

TEST(UpdaterWindowIntegration, InstallsChangesThenFindsNothingNewAndAsksAboutANewVersion) {
  testing::TDataFolder site;
  updatetest::WriteSmallSite(site);
  site.WriteText("site.vui", "[SoftwareUpdates]\r\n0-999999=1|a|b|http://127.0.0.1:9/setup\r\n");
  TSiteProcess process(site.Path());
  ASSERT_GT(process.Port, 0) << process.Log();
  TWindowWorld world;

  auto window = world.Open(process.Url());
  std::string opened;
  window->AskSoftwareUpdate = true;
  window->OpenPage = [&](const std::string& address) { opened = address; };
  world.Prompts.Queue(TPromptAnswer::paYes);
  EXPECT_EQ(window->ButtonText(), "Cancel");
  EXPECT_EQ(window->Status(), "Preparing update...");
  window->Shown();
  world.Clock.Advance(TUpdaterWindow::kStartDelayMs - 1);
  EXPECT_FALSE(window->Started()) << "the window paints before the update starts";
  ASSERT_TRUE(RunWindow(*window, world.Clock));
  EXPECT_EQ(world.Closed, std::vector{TUpdaterWindowResult::uwrOk});
  EXPECT_EQ(window->Status(), "Update completed.");
  EXPECT_EQ(window->Progress(), 100);
  EXPECT_EQ(world.Client.Settings.LastChannelWrites, 1);
  EXPECT_TRUE(world.Client.Exists("buybooks/linkmart.cen"));
  ASSERT_EQ(world.Prompts.Asked.size(), 1u);
  EXPECT_EQ(world.Prompts.Asked[0].Text,
            "A new version of Vandrel Shopper is now available.\n\nWould you like to update your current "
            "version?");
  EXPECT_EQ(opened, "http://127.0.0.1:9/setup");
  MainDispatcher::Default().RunUntil([&] { return world.Client.Runner.State() == asIdle; },
                                     std::chrono::seconds(10));

  // The same site again: nothing to fetch; declining the new version opens nothing.
  world.Closed.clear();
  opened.clear();
  world.Prompts.Queue(TPromptAnswer::paNo);
  window = world.Open(process.Url());
  window->AskSoftwareUpdate = true;
  window->OpenPage = [&](const std::string& address) { opened = address; };
  window->Shown();
  ASSERT_TRUE(RunWindow(*window, world.Clock));
  EXPECT_EQ(window->Status(), "No changes detected.");
  EXPECT_EQ(world.Closed, std::vector{TUpdaterWindowResult::uwrOk});
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(world.Client.Settings.LastChannelWrites, 2);
}

// The bar follows the whole update: each download step from 0, then the install with its catalogue
// commits, rising to 100 without running back.
TEST(UpdaterWindowIntegration, ProgressFollowsTheInstallToTheEnd) {
  testing::TDataFolder site;
  updatetest::WriteSmallSite(site);
  for (int i = 0; i < 12; ++i)
    site.WriteCompiledEngine("buybooks/shop" + std::to_string(i) + ".cen",
                             updatetest::EngineBody("Shop " + std::to_string(i)), 1);
  TSiteProcess process(site.Path());
  ASSERT_GT(process.Port, 0) << process.Log();
  TWindowWorld world;
  auto window = world.Open(process.Url());
  std::vector<int> installing;
  bool stepStartedAtZero = true;
  std::string lastStatus;
  window->OnChanged = [&] {
    if (window->Status() != lastStatus && window->Status() != "Update completed.")
      stepStartedAtZero = stepStartedAtZero && window->Progress() == 0;
    lastStatus = window->Status();
    if (window->Installing() && (installing.empty() || installing.back() != window->Progress()))
      installing.push_back(window->Progress());
  };
  window->Shown();
  ASSERT_TRUE(RunWindow(*window, world.Clock));
  EXPECT_EQ(window->Status(), "Update completed.");
  EXPECT_TRUE(stepStartedAtZero);
  ASSERT_GE(installing.size(), 4u) << "the install moved the bar only " << installing.size() << " times";
  EXPECT_TRUE(std::is_sorted(installing.begin(), installing.end()));
  EXPECT_EQ(installing.back(), 100);
  EXPECT_FALSE(window->Installing());
  EXPECT_EQ(window->Progress(), 100);
  EXPECT_TRUE(world.Client.Exists("buybooks/shop11.cen"));
}

// A site that accepts the request and never answers: the window must wait in ticks, never spin, and Skip
// must end it without recording anything.
struct UpdaterWindowStall : ::testing::Test {
  UpdaterWindowStall() {
    Origin.SetFallback([](test::TOriginConnection& c) { c.Stall(std::chrono::seconds(20)); });
  }
  // Ticks the window until the site has the update's first request.
  bool TickUntilRequested() {
    for (int i = 0; i < 400 && Origin.Requests().empty(); ++i) {
      World.Clock.Advance(TUpdaterWindow::kWaitTickMs);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !Origin.Requests().empty();
  }
  test::TestOriginServer Origin;
  TWindowWorld World;
};

TEST_F(UpdaterWindowStall, SkipDuringTheDownloadClosesWithCancelOnceTheRunnerIsIdle) {
  auto window = World.Open(Origin.Url("/update-info/013"), false);
  EXPECT_EQ(window->ButtonText(), "&Skip");
  window->Shown();
  ASSERT_TRUE(TickUntilRequested());
  const int before = window->WaitTicks();
  for (int i = 0; i < 20; ++i) World.Clock.Advance(TUpdaterWindow::kWaitTickMs);
  EXPECT_FALSE(window->Finished());
  EXPECT_EQ(window->Status(), "Checking for engine updates...");
  // One look per tick of the clock, never more.
  EXPECT_EQ(window->WaitTicks() - before, 20);
  EXPECT_EQ(World.Clock.Pending(), 1u) << "exactly one timer waits at any time";

  window->CancelPressed();
  ASSERT_TRUE(RunWindow(*window, World.Clock, std::chrono::seconds(20)));
  EXPECT_EQ(World.Closed, std::vector{TUpdaterWindowResult::uwrCancel});
  EXPECT_EQ(World.Client.Settings.LastChannelWrites, 0);
  MainDispatcher::Default().RunUntil([&] { return World.Client.Runner.State() == asIdle; },
                                     std::chrono::seconds(10));
  EXPECT_EQ(World.Client.Runner.State(), asIdle);
}

TEST_F(UpdaterWindowStall, AWindowThatCannotBeShownLeavesTheRunnerIdle) {
  // Failing before the update began starts nothing.
  auto early = World.Open(Origin.Url("/update-info/013"));
  early->ShowFailed();
  EXPECT_EQ(World.Closed, std::vector{TUpdaterWindowResult::uwrCancel});
  EXPECT_EQ(World.Client.Runner.State(), asIdle);
  EXPECT_TRUE(World.Client.Runner.Queue().Empty());

  // Failing while the update waits on the site stops it; the runner is idle when the call returns.
  World.Closed.clear();
  auto window = World.Open(Origin.Url("/update-info/013"));
  window->Shown();
  ASSERT_TRUE(TickUntilRequested());
  EXPECT_NE(World.Client.Runner.State(), asIdle);
  window->ShowFailed();
  EXPECT_EQ(World.Client.Runner.State(), asIdle);
  EXPECT_EQ(World.Closed, std::vector{TUpdaterWindowResult::uwrCancel});
  EXPECT_EQ(World.Client.Settings.LastChannelWrites, 0);
  EXPECT_EQ(World.Clock.Pending(), 0u);

  // A later update can run: nothing was left behind.
  auto again = World.Open("http://127.0.0.1:9/update-info/013");
  again->Shown();
  ASSERT_TRUE(RunWindow(*again, World.Clock, std::chrono::seconds(30)));
  EXPECT_EQ(again->Status(), "No changes detected.");
}

TEST_F(UpdaterWindowStall, TheWaitGivesUpAfterItsLimit) {
  auto window = World.Open(Origin.Url("/update-info/013"));
  window->Limit = std::chrono::milliseconds(10 * TUpdaterWindow::kWaitTickMs);
  window->Shown();
  ASSERT_TRUE(RunWindow(*window, World.Clock, std::chrono::seconds(20)));
  EXPECT_EQ(World.Closed, std::vector{TUpdaterWindowResult::uwrCancel});
  EXPECT_EQ(World.Client.Settings.LastChannelWrites, 0);
}

TEST(UpdaterWindow, CancelBeforeTheStartClosesAtOnce) {
  TWindowWorld world;
  auto window = world.Open("http://127.0.0.1:9/update-info/013");
  window->Shown();
  window->CancelPressed();
  EXPECT_EQ(world.Closed, std::vector{TUpdaterWindowResult::uwrCancel});
  EXPECT_FALSE(window->Started());
  EXPECT_EQ(world.Clock.Pending(), 0u);
}

}  // namespace
}  // namespace vandrel
