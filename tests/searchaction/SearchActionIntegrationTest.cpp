#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "SearchTestWorld.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "platform/MainDispatcher.h"
#include "platform/RegistryFileStore.h"
#include "storage/ResultStorage.h"

namespace vandrel::searchtest {
namespace {

// Engines run side by side, so the order in which they found a book is not fixed.
std::vector<std::string> SortedLines(const TStrings& strings) {
  std::vector<std::string> lines = strings.Lines;
  std::sort(lines.begin(), lines.end());
  return lines;
}

int VisibleCount(TResultStorageList& results) {
  TStorageDataListView* view = results.FindView(kDefaultViewName);
  return view ? static_cast<int>(view->Count()) : -1;
}

// Records what a search action tells its observers.
class TActionLog : public ISearchActionObserver {
 public:
  void EngineStarted(TEngineStorageItem* engine) override { Add("started", engine); }
  void EngineDone(TEngineStorageItem* engine) override {
    Add("done", engine);
    if (OnDone) OnDone(engine);
  }
  void EngineError(TEngineStorageItem* engine, const std::string& text) override { Add("error", engine); }
  void EngineResults(TEngineStorageItem* engine, int count) override {
    Add("results " + std::to_string(count), engine);
  }
  void ResultAdded(TResultStorageItem* result) override {
    ++Added;
    if (OnAdded) OnAdded(result);
  }
  void ResultUpdated(TResultStorageItem*) override { ++Updated; }
  void ActionStarted() override { Events.push_back("action started"); }
  void ActionFinished() override { Events.push_back("action finished"); }

  void Add(const std::string& what, TEngineStorageItem* engine) {
    Events.push_back(what + " " + (engine ? engine->EngName : std::string("?")));
  }
  bool Has(const std::string& event) const {
    return std::find(Events.begin(), Events.end(), event) != Events.end();
  }
  std::vector<std::string> Events;
  int Added = 0;
  int Updated = 0;
  std::function<void(TEngineStorageItem*)> OnDone;
  std::function<void(TResultStorageItem*)> OnAdded;
};

class SearchActionIntegration : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    World.Log.Configure = [this](TQuorinSearchAction& action) {
      Action = &action;
      ActionLog = std::make_unique<TActionLog>();
      if (OnDone) ActionLog->OnDone = OnDone;
      if (OnAdded) ActionLog->OnAdded = OnAdded;
      action.AddObserver(ActionLog.get());
    };
  }

  TSearchWorld World{GetParam()};
  TQuorinSearchAction* Action = nullptr;  // the last action started; gone once the runner is idle
  std::unique_ptr<TActionLog> ActionLog;
  std::function<void(TEngineStorageItem*)> OnDone;
  std::function<void(TResultStorageItem*)> OnAdded;
};

TEST_P(SearchActionIntegration, RunsStoreRefreshAndStopMarkResultsAsFoundAgainNewRemainingOrOutdated) {
  // First run: four stores, one book (b) found by two of them.
  World.Pages.Set("alpha", {{"a", 10}, {"b", 11}, {"f", 15}});
  World.Pages.Set("beta", {{"b", 12}, {"c", 13}});
  World.Pages.Set("gamma", {{"g", 17}});
  World.Pages.Set("delta", {{"h", 18}});
  TSearchStorageItem* search = World.NewSearch("garden", {"alpha", "beta", "gamma", "delta"});
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->DisplayValue, "garden");
  ASSERT_TRUE(World.Run(search));

  TResultStorageList& results = World.Results(search);
  ASSERT_EQ(results.Count(), 6u);
  EXPECT_EQ(ActionLog->Added, 6);
  TResultStorageItem* b = World.Find(search, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Occurences, 2);
  EXPECT_EQ(SortedLines(b->FoundBy), (std::vector<std::string>{"alpha", "beta"}));
  for (size_t i = 0; i < results.Count(); ++i) {
    EXPECT_FALSE(results.Result(i)->New) << "nothing is new on a first run";
    EXPECT_EQ(results.Result(i)->FilterState, 0);
    EXPECT_EQ(results.Result(i)->Date, search->UpdateDate);
  }
  EXPECT_EQ(search->MatchCount, 6);
  EXPECT_EQ(World.Catalogue.CategorySaves, 1);
  EXPECT_GT(World.Catalogue.FindCategory("buybooks")->LastSearchDate, 0);

  // The user deletes c; a later refresh must not undo that.
  World.Compare->Item()->GetResultItem(search)->MarkDeleted(World.Find(search, "c"));
  EXPECT_EQ(VisibleCount(results), 5);

  // Second run: delta left the search, gamma fails, alpha and beta bring changes.
  World.Pages.Set("alpha", {{"a", 9}, {"d", 14}});
  World.Pages.Set("beta", {{"e", 16}});
  World.Pages.Fail("gamma", 500);
  search->Engines.Lines = {"alpha", "beta", "gamma"};
  ASSERT_TRUE(World.Run(search));

  EXPECT_TRUE(ActionLog->Has("error gamma"));
  EXPECT_EQ(ActionLog->Added, 2);
  EXPECT_EQ(ActionLog->Updated, 1);
  ASSERT_EQ(results.Count(), 7u);
  TResultStorageItem* a = World.Find(search, "a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->FilterState, 0) << "found again";
  EXPECT_FALSE(a->New);
  EXPECT_FALSE(World.Find(search, "d")->New) << "alpha lists everything, so nothing of it is new";
  EXPECT_TRUE(World.Find(search, "e")->New) << "beta lists only new items";
  EXPECT_EQ(World.Find(search, "b")->FilterState, rfsOutdated) << "both engines looked; beta lists only new";
  EXPECT_EQ(World.Find(search, "c")->FilterState, rfsDeleted | rfsOutdated) << "the user's mark stays";
  EXPECT_EQ(World.Find(search, "f"), nullptr) << "alpha looked in full and it was gone";
  EXPECT_EQ(World.Find(search, "g")->FilterState, rfsRemains) << "gamma failed: nothing was checked";
  EXPECT_EQ(World.Find(search, "h")->FilterState, rfsRemains) << "delta took no part";
  EXPECT_EQ(search->MatchCount, 5);
  EXPECT_EQ(VisibleCount(results), 5);
  if (World.Store) {
    EXPECT_GE(World.Store->Loads, 2);
    EXPECT_EQ(World.Store->Rows[search->Index()].size(), 7u) << "the store holds what memory holds";
    EXPECT_EQ(World.ResultsFolder, World.Compare->Item()->GetFolder()->Path())
        << "results live beside their search, where deleting it finds them";
  }

  // Third run: beta hangs and the user stops once alpha is done.
  World.Pages.Set("alpha", {{"a", 9}});
  World.Pages.Stall("beta");
  search->Engines.Lines = {"alpha", "beta"};
  OnDone = [this](TEngineStorageItem* engine) {
    if (engine && engine->EngName == "alpha") World.Runner->Stop(true);
  };
  ASSERT_TRUE(World.Run(search));
  EXPECT_TRUE(ActionLog->Has("done alpha"));
  EXPECT_EQ(World.Find(search, "d"), nullptr);
  TResultStorageItem* e = World.Find(search, "e");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->FilterState, rfsRemains) << "beta was stopped: its results stay visible";
  EXPECT_FALSE(e->New) << "New is cleared at each run";
  EXPECT_EQ(World.Find(search, "b")->FilterState, rfsOutdated);
  EXPECT_EQ(World.Find(search, "c")->FilterState, rfsDeleted | rfsOutdated | rfsRemains);
  EXPECT_EQ(search->MatchCount, VisibleCount(results));
  EXPECT_EQ(search->MatchCount, 4);  // a, e, g, h
}

TEST_P(SearchActionIntegration, StoredResultsWhoseKeysNowCoincideBecomeOneAndNoneTakesAnothersData) {
  World.Pages.Set("alpha", {{"a", 10}, {"b", 11}, {"c", 12}, {"d", 13}});
  TSearchStorageItem* search = World.NewSearch("garden", {"alpha"});
  ASSERT_TRUE(World.Run(search));
  ASSERT_EQ(World.Results(search).Count(), 4u);
  // c's stored address now reduces to b's, as after an update of the search type's reduction.
  TResultStorageItem* c = World.Find(search, "c");
  c->FindField("url")->SetValue(TDynamicValue("http://www.shop.test/item/b"));
  c->RunTransaction(lsUpdating, kResultUpdateState);

  World.Pages.Set("alpha", {{"b", 21}, {"d", 23}});
  ASSERT_TRUE(World.Run(search));
  TResultStorageList& results = World.Results(search);
  // One stored result per item: d's new data went to d's result, not to the one after b, and no stale
  // copy of d is left beside it.
  auto endsWith = [](const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  };
  int ds = 0, bs = 0;
  for (size_t i = 0; i < results.Count(); ++i) {
    const std::string url = results.Result(i)->FindField("url")->Value().AsString();
    ds += endsWith(url, "/item/d");
    bs += endsWith(url, "/item/b");
  }
  EXPECT_EQ(ds, 1);
  EXPECT_EQ(bs, 1) << "the coinciding result went";
  EXPECT_EQ(results.Count(), 2u);
  if (World.Store) {
    EXPECT_EQ(World.Store->Rows[search->Index()].size(), 2u);
  }
}

TEST_P(SearchActionIntegration, ADeletionMarkDuringTheRunJoinsItAndEveryResultIsStored) {
  World.Pages.Set("alpha", {{"a", 10}, {"b", 11}, {"c", 12}});
  World.Pages.Set("beta", {{"d", 13}, {"e", 14}});
  TSearchStorageItem* search = World.NewSearch("garden", {"alpha", "beta"});
  TResultStorageItem* marked = nullptr;
  OnAdded = [&](TResultStorageItem* result) {
    if (marked) return;
    marked = result;
    World.Compare->Item()->GetResultItem(search)->MarkDeleted(result);
  };
  ASSERT_TRUE(World.Run(search));
  ASSERT_NE(marked, nullptr);
  TResultStorageList& results = World.Results(search);
  ASSERT_EQ(results.Count(), 5u);
  EXPECT_TRUE(marked->HasFilterState(rfsDeleted));
  EXPECT_EQ(search->MatchCount, 4);
  if (World.Store) {
    EXPECT_EQ(World.Store->Rows[search->Index()].size(), 5u) << "the run was committed";
    results.Load();
    int deleted = 0;
    for (size_t i = 0; i < results.Count(); ++i) deleted += results.Result(i)->HasFilterState(rfsDeleted);
    EXPECT_EQ(deleted, 1);
  }
}

TEST(SearchActionStorage, AFailedWriteOfTheRunIsReportedAndTheCountStaysWithTheStoredRows) {
  TSearchWorld world(true);
  world.Pages.Set("alpha", {{"a", 10}, {"b", 11}, {"c", 12}});
  TSearchStorageItem* search = world.NewSearch("garden", {"alpha"});
  ASSERT_TRUE(world.Run(search));
  EXPECT_TRUE(world.Log.StorageFailure.empty());
  ASSERT_EQ(search->MatchCount, 3);

  world.Pages.Set("alpha", {{"a", 10}, {"b", 11}, {"c", 12}, {"d", 13}, {"e", 14}});
  world.Store->FailWrites = true;
  ASSERT_TRUE(world.Run(search));
  EXPECT_FALSE(world.Log.StorageFailure.empty());
  EXPECT_EQ(world.Store->Rows[search->Index()].size(), 3u);
  EXPECT_EQ(search->MatchCount, 3) << "the count describes the stored rows, not the lost run";
  EXPECT_EQ(world.Results(search).Count(), 3u);

  world.Store->FailWrites = false;
  ASSERT_TRUE(world.Run(search));
  EXPECT_TRUE(world.Log.StorageFailure.empty());
  EXPECT_EQ(world.Store->Rows[search->Index()].size(), 5u);
  EXPECT_EQ(search->MatchCount, 5);
}

TEST_P(SearchActionIntegration, EnginesNoLongerInTheCategoryFallBackToTheEnabledOnes) {
  World.Pages.Set("alpha", {{"a", 10}});
  World.Pages.Set("beta", {{"b", 11}});
  World.Catalogue.Engines.FindByName("gamma")->Enabled = false;
  World.Catalogue.Engines.FindByName("delta")->Enabled = false;
  TSearchStorageItem* search = World.NewSearch("garden", {"retired"});
  ASSERT_TRUE(World.Run(search));
  ASSERT_NE(Action, nullptr);
  EXPECT_EQ(World.Results(search).Count(), 2u);
  EXPECT_TRUE(World.Server.Requests().size() == 2);
}

TEST_P(SearchActionIntegration, TheFallBackTakesTheEnginesInTheOrderTheyAreListedNotStored) {
  const std::pair<const char*, const char*> displayNames[] = {
      {"alpha", "zulu"}, {"beta", "Bravo"}, {"gamma", "charlie"}, {"delta", "Alpha"}};
  for (const auto& [name, display] : displayNames) {
    World.Catalogue.Engines.FindByName(name)->DisplayName = display;
    World.Pages.Set(name, {{name, 10}});
  }
  std::vector<std::string> order;
  OnDone = [&](TEngineStorageItem*) {
    if (order.empty())
      for (TEngineStorageItem* engine : Action->SelectedEngines()) order.push_back(engine->EngName);
  };
  ASSERT_TRUE(World.Run(World.NewSearch("garden", {"retired"})));
  EXPECT_EQ(order, (std::vector<std::string>{"delta", "beta", "gamma", "alpha"}));
}

TEST_P(SearchActionIntegration, TwoQueuedSearchesRunOneAfterTheOtherInOneBusySpell) {
  World.Pages.Set("alpha", {{"a", 10}});
  World.Pages.Set("beta", {{"b", 11}});
  TSearchStorageItem* first = World.NewSearch("first", {"alpha"});
  TSearchStorageItem* second = World.NewSearch("second", {"beta"});

  TCommandLineProcessor processor;
  TAppKernel kernel(processor, MainDispatcher::Default());
  kernel.SetSearchContext(
      World.Runner.get(), nullptr,
      TAppSearchHistoryPtr(World.Compare.release(), [](TAppSearchHistory* h) { delete h; }),
      TAppSearchHistoryPtr(nullptr, nullptr));
  ASSERT_TRUE(kernel.StartSearch(first, false, false));
  // The first is still under way: the second waits its turn instead of being refused.
  ASSERT_TRUE(kernel.StartSearch(second, false, true));
  EXPECT_EQ(World.Runner->Queue().Count(), 1u);
  ASSERT_TRUE(World.WaitIdle());

  EXPECT_EQ(std::count(World.Log.Events.begin(), World.Log.Events.end(), "busy"), 1);
  EXPECT_EQ(std::count(World.Log.Events.begin(), World.Log.Events.end(), "idle"), 1);
  EXPECT_EQ(std::count(World.Log.Events.begin(), World.Log.Events.end(), "finished"), 2);
  EXPECT_EQ(World.Log.Events.front(), "starting");
  EXPECT_EQ(World.Log.Events.back(), "idle");
  EXPECT_EQ(first->MatchCount, 1);
  EXPECT_EQ(second->MatchCount, 1);
  EXPECT_EQ(kernel.CompareHistory()->CurrentSearch(), first) << "the queued search does not take over";
}

TEST(SearchKernel, StopAsksUnlessToldNotToAndDropsTheQueuedSearches) {
  TSearchWorld world;
  test::TempFolder registry;
  TAppConfig config(std::make_shared<TRegistryFileStore>(registry.Path()));
  config.Prompts().SetPromptStopMsg(true);
  world.Pages.Stall("alpha");
  world.Pages.Set("beta", {{"b", 11}});
  TSearchStorageItem* first = world.NewSearch("first", {"alpha"});
  TSearchStorageItem* second = world.NewSearch("second", {"beta"});

  TCommandLineProcessor processor;
  TAppKernel kernel(processor, MainDispatcher::Default());
  kernel.SetSearchContext(
      world.Runner.get(), &config,
      TAppSearchHistoryPtr(world.Compare.release(), [](TAppSearchHistory* h) { delete h; }),
      TAppSearchHistoryPtr(nullptr, nullptr));
  int asked = 0;
  kernel.SetSearchHooks({nullptr, [&asked] {
                           ++asked;
                           return TStopAnswer{false, true};
                         }});
  ASSERT_TRUE(kernel.StartSearch(first, false, false));
  ASSERT_TRUE(kernel.StartSearch(second, false, false));
  // The downloader hands its work to the main thread, so the wait must pump.
  ASSERT_TRUE(MainDispatcher::Default().RunUntil([&] { return !world.Server.Requests().empty(); },
                                                 std::chrono::seconds(5), std::chrono::milliseconds(5)));

  EXPECT_FALSE(kernel.StopSearch()) << "the user said no";
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(config.Prompts().PromptStopMsg()) << "don't ask again is stored inverted";
  EXPECT_FALSE(kernel.Stopping());
  EXPECT_EQ(world.Runner->Queue().Count(), 1u);

  EXPECT_TRUE(kernel.StopSearch());
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(kernel.Stopping());
  EXPECT_EQ(world.Runner->Queue().Count(), 0u);
  ASSERT_TRUE(world.WaitIdle());
  EXPECT_EQ(std::count(world.Log.Events.begin(), world.Log.Events.end(), "finished"), 1);
  EXPECT_EQ(second->MatchCount, 0) << "the queued search was dropped";
}

// The connection test pumps messages: the user may stop, or queue another search, while it runs.
class SearchKernelConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    world.Pages.Set("alpha", {{"a", 10}});
    world.Pages.Set("beta", {{"b", 11}});
    first = world.NewSearch("first", {"alpha"});
    second = world.NewSearch("second", {"beta"});
    kernel.SetSearchContext(
        world.Runner.get(), nullptr,
        TAppSearchHistoryPtr(world.Compare.release(), [](TAppSearchHistory* h) { delete h; }),
        TAppSearchHistoryPtr(nullptr, nullptr));
    // Only the first search tests the connection, and its test answers "no connection" after a while
    // unless it is cancelled first.
    world.Log.Configure = [this](TQuorinSearchAction& action) {
      if (action.Search() != first) return;
      action.DetectConnection = true;
      action.Searcher()->Detector().SetResolver([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return 11001;
      });
    };
  }

  TSearchWorld world;
  TCommandLineProcessor processor;
  TAppKernel kernel{processor, MainDispatcher::Default()};
  TSearchStorageItem* first = nullptr;
  TSearchStorageItem* second = nullptr;
};

TEST_F(SearchKernelConnection, AStopDuringTheConnectionTestEndsTheSearchQuietly) {
  MainDispatcher::Default().Post([this] { kernel.StopSearch(); });
  EXPECT_FALSE(kernel.StartSearch(first, false, false));
  EXPECT_TRUE(kernel.Stopping());
  EXPECT_EQ(world.Runner->State(), asIdle);
  EXPECT_TRUE(world.Server.Requests().empty());
  EXPECT_EQ(first->MatchCount, 0);
}

TEST_F(SearchKernelConnection, ASearchQueuedDuringAFailedConnectionTestStillRuns) {
  bool queued = false;
  MainDispatcher::Default().Post([&] { queued = kernel.StartSearch(second, false, false); });
  EXPECT_FALSE(kernel.StartSearch(first, false, false)) << "no connection";
  EXPECT_TRUE(queued) << "the runner was busy starting: the second search waits its turn";
  ASSERT_TRUE(world.WaitIdle());
  EXPECT_EQ(second->MatchCount, 1);
  EXPECT_EQ(first->MatchCount, 0);
}

// Without a back end the lists are their own store; with one, every run reloads its results first and
// must find its way back from the seeded masters to the reloaded items.
INSTANTIATE_TEST_SUITE_P(Storage, SearchActionIntegration, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Reloaded" : "InMemory"; });

}  // namespace
}  // namespace vandrel::searchtest
