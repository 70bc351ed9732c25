// The progress window's model: rows following the engines, the overall bar that neither passes 100 nor
// goes back, the failure summary once per search, and the close rules.
#include "presentation/ProgressModel.h"

#include <gtest/gtest.h>

#include <memory>

#include "actions/AppErrors.h"
#include "presentation/FakeDesktopPorts.h"
#include "storage/EngineStorage.h"

namespace vandrel {
namespace {

class TRecordingWindow : public IProgressWindow {
 public:
  void RowsReset() override { ++Resets; }
  void RowChanged(size_t row) override { Changed.push_back(row); }
  void StateChanged() override { ++States; }
  void SetShown(bool shown) override { Shown = shown; }
  int Resets = 0, States = 0;
  std::vector<size_t> Changed;
  bool Shown = false;
};

class ProgressModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ =
        SetErrorPresenter({[this](TMessageStyle, const std::string& t) { Errors.push_back(t); }, [] {}});
    for (const char* name : {"alpha", "beta", "gamma"}) {
      auto engine = std::make_unique<TEngineStorageItem>();
      engine->EngName = name;
      engine->DisplayName = std::string("Store ") + name;
      engine->HomePage = std::string("http://127.0.0.1:1/") + name;
      Engines.push_back(std::move(engine));
    }
    TProgressContext context;
    context.Window = &Window;
    context.Scheduler = &Scheduler;
    context.Prompts = &Prompts;
    context.RunnerIdle = [this] { return !Busy; };
    context.RunnerBusy = [this] { return Busy; };
    context.StopSearch = [this] { return ++StopAsked, AllowStop; };
    context.PromptEngineError = [this] { return PromptFlag; };
    context.SetPromptEngineError = [this](bool v) { PromptFlag = v; };
    context.OpenUrl = [this](const std::string& url) { Opened.push_back(url); };
    context.OverallProgress = [this](int percent) { Percents.push_back(percent); };
    Model = std::make_unique<TProgressModel>(context);
  }
  void TearDown() override { SetErrorPresenter(std::move(previous_)); }

  ISearchActionObserver& Attach(size_t engines = 3) {
    std::vector<TEngineStorageItem*> list;
    for (size_t i = 0; i < engines; ++i) list.push_back(Engines[i].get());
    return Model->AttachSearch(list, "Electronics", "volta");
  }
  TEngineStorageItem* E(size_t i) { return Engines[i].get(); }

  std::vector<std::unique_ptr<TEngineStorageItem>> Engines;
  TRecordingWindow Window;
  test::TManualScheduler Scheduler;
  test::TScriptedPrompts Prompts;
  bool Busy = true, AllowStop = true, PromptFlag = true;
  int StopAsked = 0;
  std::vector<std::string> Opened, Errors;
  std::vector<int> Percents;
  std::unique_ptr<TProgressModel> Model;
  TErrorPresenter previous_;
};

TEST_F(ProgressModelTest, RowsFollowTheirEnginesAndTheBarCountsFinishedOnes) {
  ISearchActionObserver& o = Attach();
  EXPECT_TRUE(Window.Shown);
  EXPECT_EQ(Model->Caption(), "Search Progress - volta (Electronics)");
  EXPECT_EQ(Model->Label(), kProgressSearching);
  EXPECT_TRUE(Model->StopEnabled());
  ASSERT_EQ(Model->Rows().size(), 3u);
  EXPECT_EQ(Model->Rows()[1].Caption, "Store beta");

  o.EngineStarted(E(0));
  o.EngineProgress(E(0), 40);
  o.EngineResults(E(0), 7);
  o.EngineStarted(nullptr);  // ignored
  const TEngineProgressRow& a = Model->Rows()[0];
  EXPECT_TRUE(a.Active);
  EXPECT_TRUE(a.Started);
  EXPECT_EQ(a.Progress, 40);
  EXPECT_EQ(a.MatchCount, 7);
  o.EngineDone(E(0));
  EXPECT_FALSE(a.Active);
  EXPECT_TRUE(a.Started) << "started stays set";
  EXPECT_EQ(Model->Overall(), 33);

  o.EngineStarted(E(1));
  o.EngineError(E(1), "Cannot connect");
  EXPECT_TRUE(Model->Rows()[1].HasErrors);
  o.EngineDone(E(1));
  o.EngineDone(E(2));
  EXPECT_EQ(Model->Overall(), 100);
  EXPECT_EQ(Model->Label(), kProgressCompleted);
  EXPECT_FALSE(Model->StopEnabled());
  EXPECT_EQ(Percents, (std::vector<int>{33, 66, 100}));
}

TEST_F(ProgressModelTest, TheOverallBarNeverPasses100NorGoesBack) {
  ISearchActionObserver& o = Attach(2);
  TEngineStorageItem stranger;  // an engine without a row still finishes
  o.EngineDone(E(0));
  o.EngineDone(E(0));  // told twice: still one engine
  EXPECT_EQ(Model->Overall(), 50);
  o.EngineDone(&stranger);
  EXPECT_EQ(Model->Overall(), 100);
  o.EngineDone(E(1));
  EXPECT_EQ(Model->Overall(), 100);
  for (int p : Percents) {
    EXPECT_LE(p, 100);
    EXPECT_GE(p, 50);
  }
  EXPECT_TRUE(std::is_sorted(Percents.begin(), Percents.end()));
  // A new search starts from zero.
  Attach(2);
  EXPECT_EQ(Model->Overall(), 0);
  EXPECT_EQ(Model->FinishedCount(), 0);
}

TEST_F(ProgressModelTest, TheSummaryComesOnlyWhenEveryEngineThatRanFailed) {
  struct TCase {
    const char* Name;
    std::vector<const char*> ErrorsOfEngines;  // nullptr: ended well
    bool LastStillActive;                      // the last engine ended through a script error
    std::string Expected;
  } cases[] = {
      {"one fails, one finds", {nullptr, "Cannot connect"}, false, ""},
      {"all fail alike",
       {"Cannot connect", "Cannot connect"},
       false,
       "The following error occurred while searching on 2 engine(s):\r\nCannot connect."},
      {"all fail differently", {"Cannot connect", "Time-out"}, false, "2 error(s) occurred"},
      {"a script error still ran", {"Cannot connect", nullptr}, true, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ISearchActionObserver& o = Attach(c.ErrorsOfEngines.size());
    for (size_t i = 0; i < c.ErrorsOfEngines.size(); ++i) {
      o.EngineStarted(E(i));
      if (c.ErrorsOfEngines[i]) o.EngineError(E(i), c.ErrorsOfEngines[i]);
      if (!(c.LastStillActive && i + 1 == c.ErrorsOfEngines.size())) o.EngineDone(E(i));
    }
    if (c.LastStillActive) {
      EXPECT_LT(Model->Overall(), 100);
    }
    EXPECT_EQ(Model->SummaryText(), c.Expected);
  }
  // Nothing started (no connection): no summary.
  Attach();
  EXPECT_EQ(Model->SummaryText(), "");
}

TEST_F(ProgressModelTest, TheEndOfASearchSummarisesOnceUnderItsFlagAndHides) {
  ISearchActionObserver& o = Attach(1);
  o.EngineStarted(E(0));
  o.EngineError(E(0), "Cannot connect");
  o.EngineDone(E(0));
  o.ActionFinished();
  EXPECT_TRUE(Prompts.Asked.empty()) << "deferred past the action's own notification";
  Prompts.Queue(TPromptAnswer::paOk, /*dontAskAgain=*/true);
  Scheduler.Advance(0);
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_TRUE(Prompts.Asked[0].OfferDontAskAgain);
  EXPECT_FALSE(Window.Shown);
  EXPECT_FALSE(PromptFlag);

  // Switched off: the same failure shows nothing.
  ISearchActionObserver& again = Attach(1);
  again.EngineStarted(E(0));
  again.EngineError(E(0), "Cannot connect");
  again.EngineDone(E(0));
  again.ActionFinished();
  Scheduler.Advance(0);
  EXPECT_EQ(Prompts.Asked.size(), 1u);
}

TEST_F(ProgressModelTest, ClosingAsksToStopAndALaterEndShowsNothingMore) {
  ISearchActionObserver& o = Attach(1);
  o.EngineStarted(E(0));
  o.EngineError(E(0), "Cannot connect");
  o.EngineDone(E(0));
  AllowStop = false;
  EXPECT_FALSE(Model->RequestClose());
  EXPECT_TRUE(Window.Shown);
  AllowStop = true;
  EXPECT_TRUE(Model->RequestClose());
  EXPECT_EQ(StopAsked, 2);
  EXPECT_FALSE(Window.Shown);
  Scheduler.Advance(0);
  EXPECT_EQ(Prompts.Asked.size(), 1u) << "the summary at once";
  o.ActionFinished();
  Scheduler.Advance(0);
  EXPECT_EQ(Prompts.Asked.size(), 1u) << "once per search";

  // Idle: closing does not ask; Hide only hides.
  Busy = false;
  Attach(1);
  EXPECT_FALSE(Model->StopEnabled());
  EXPECT_TRUE(Model->RequestClose());
  EXPECT_EQ(StopAsked, 2);
  Model->Show();
  Model->Hide();
  EXPECT_FALSE(Window.Shown);
  EXPECT_EQ(Scheduler.Pending(), 1u) << "only the close posted an end of search";
}

TEST_F(ProgressModelTest, ClicksOpenTheHomePageOrTellTheErrorAndAStatusHides) {
  ISearchActionObserver& o = Attach(2);
  o.EngineError(E(1), "Cannot connect");
  Model->RowClicked(0, /*shift=*/true, false);
  EXPECT_EQ(Opened, std::vector<std::string>{"http://127.0.0.1:1/alpha"});
  Model->RowClicked(0, false, /*ctrl=*/true);
  Model->RowClicked(1, false, false);
  EXPECT_TRUE(Errors.empty()) << "no error text, or a plain click";
  Model->RowClicked(1, false, true);
  EXPECT_EQ(Errors, std::vector<std::string>{AppErrorText(aeGeneral, {"Cannot connect"})});

  o.SearchStatus(5, "No connection");
  EXPECT_FALSE(Window.Shown);
  EXPECT_EQ(Errors.back(), AppErrorText(aeSearchError, {"No connection", 5}));
}

}  // namespace
}  // namespace vandrel
