// Start-up with the database: the catalogue stored from the bundled definitions, a search run through the
// kernel against the demo store site, and the search still there after a restart.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "data/DemoSite.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/KernelStartFixture.h"
#include "platform/DateTime.h"
#include "platform/RegistryFileStore.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchHistory.h"
#include "storage/CategoryStorage.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class AppKernelStorageIntegration : public test::KernelStartFixture {
 protected:
  // One start of the program: its own runner and action repository, as a fresh process would have.
  struct TProgram {
    TQuorinActionRepository Actions;
    TQuorinApplication Runner;
    TCommandLineProcessor Processor;
    TAppKernel Kernel;
    std::vector<int> Progress;
    explicit TProgram(MainDispatcher& dispatcher)
        : Runner(Actions, MainDispatcher::Default()), Kernel(Processor, dispatcher) {}
    ~TProgram() { Kernel.ShutDown(); }
  };

  TStartResult Start(TProgram& program, TAppConfig* config = nullptr) {
    TAppKernel::THooks hooks;
    hooks.InstallationFolder = (dir_ / "install").string();
    hooks.BuiltDataFolder = test::CompiledDataDir();
    hooks.UserName = "tester";
    hooks.Runner = &program.Runner;
    hooks.Actions = &program.Actions;
    hooks.Config = config;
    hooks.ShowProgress = [&program](int percent, const std::string&) { program.Progress.push_back(percent); };
    TStartOptions options;
    options.RootFolder = (dir_ / "root").string();
    return program.Kernel.Start(options, std::move(hooks));
  }

  static bool WaitIdle(TQuorinApplication& runner) {
    return MainDispatcher::Default().RunUntil(
        [&runner] { return runner.State() == asIdle && !runner.IsBusy() && runner.Queue().Empty(); }, 60s,
        5ms);
  }

  MainDispatcher dispatcher_;
};

TEST_F(AppKernelStorageIntegration, SearchRunThroughTheKernelIsStoredAndSurvivesARestart) {
  test::TDemoSite site;
  ASSERT_NE(site.Port, 0) << "the demo store site did not start";
  int32_t number = -1;
  int32_t matches = 0;
  {
    TProgram program(dispatcher_);
    ASSERT_EQ(Start(program), TStartResult::srRun) << (shown_.empty() ? "" : shown_.front());
    EXPECT_EQ(program.Progress,
              (std::vector<int>{5, 20, 30, 50, 60}));  // first start: refresh and compaction
    TEngineRepository* repository = program.Runner.Repository();
    ASSERT_NE(repository, nullptr);
    TCategoryStorageItem* category = repository->Categories().FindByName("buyelectronics");
    ASSERT_NE(category, nullptr);
    repository->Constants().SetString("DemoStoreAddress", site.Address());

    TAppSearchHistory* compare = program.Kernel.CompareHistory();
    ASSERT_NE(compare, nullptr);
    ASSERT_NE(compare->Item(), nullptr);
    TSearchStorageItem* search = compare->Item()->NewSearch(*category, [](TSearchStorageItem& s) {
      s.GetFields()->AddField("Keywords", TDynamicValue(std::string("volta")));
      s.ResultsPerEngine = 10;
    });
    ASSERT_NE(search, nullptr);
    number = search->Index();
    ASSERT_TRUE(program.Kernel.StartSearch(search, false, true));
    EXPECT_EQ(compare->CurrentSearch(), search);
    ASSERT_TRUE(WaitIdle(program.Runner));
    matches = search->MatchCount;
    EXPECT_GT(matches, 0);
    EXPECT_TRUE(shown_.empty()) << shown_.front();
  }
  EXPECT_TRUE(fs::exists(dir_ / "root/UserData/tester/Compare"));

  TProgram again(dispatcher_);
  ASSERT_EQ(Start(again), TStartResult::srRun);
  // The stored catalogue is used as it stands: no refresh this time.
  EXPECT_EQ(again.Progress, (std::vector<int>{5, 20, 50, 60}));
  ASSERT_NE(again.Runner.Repository(), nullptr);
  EXPECT_NE(again.Runner.Repository()->Categories().FindByName("buyelectronics"), nullptr);
  TAppSearchHistory* compare = again.Kernel.CompareHistory();
  ASSERT_NE(compare, nullptr);
  TSearchStorageList& searches = compare->Item()->GetSearches();
  TSearchStorageItem* stored = nullptr;
  for (size_t i = 0; i < searches.Count(); ++i)
    if (searches.Search(i)->Index() == number) stored = searches.Search(i);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->CatName, "buyelectronics");
  EXPECT_EQ(stored->MatchCount, matches);
  auto results = compare->Item()->GetResultItem(stored);
  ASSERT_NE(results, nullptr);
  EXPECT_GE(results->GetResults().Count(), static_cast<size_t>(matches));
  // The reviews history keeps its searches apart.
  ASSERT_NE(again.Kernel.ReviewsHistory(), nullptr);
  EXPECT_EQ(again.Kernel.ReviewsHistory()->Item()->GetSearches().Count(), 0u);
}

TEST_F(AppKernelStorageIntegration, CompactionIsRecordedAndWaitsForItsDelay) {
  TAppConfig config(std::make_shared<TRegistryFileStore>((dir_ / "registry").string()));
  {
    TProgram program(dispatcher_);
    ASSERT_EQ(Start(program, &config), TStartResult::srRun);
  }
  // Never compacted before: the first start does it and notes the day.
  EXPECT_NEAR(config.GlobalSystem().LastCompactDatabase(), Now(), 1.0);

  const TDateTime fourteenDaysAgo = Now() - 14;
  config.GlobalSystem().SetLastCompactDatabase(fourteenDaysAgo);
  {
    TProgram program(dispatcher_);
    ASSERT_EQ(Start(program, &config), TStartResult::srRun);
  }
  EXPECT_DOUBLE_EQ(config.GlobalSystem().LastCompactDatabase(), fourteenDaysAgo);
  EXPECT_TRUE(shown_.empty()) << shown_.front();
}

TEST_F(AppKernelStorageIntegration, FilesAnUpgradedInstallationBringsAreReadIntoTheCatalogue) {
  TAppConfig config(std::make_shared<TRegistryFileStore>((dir_ / "registry").string()));
  {
    TProgram program(dispatcher_);
    ASSERT_EQ(Start(program, &config), TStartResult::srRun);
  }
  // A file missing from the root (an update may have removed it) is filled in without a refresh.
  fs::remove(dir_ / "root/Data/buytoys.cca");
  {
    TProgram program(dispatcher_);
    ASSERT_EQ(Start(program, &config), TStartResult::srRun);
    EXPECT_EQ(program.Progress, (std::vector<int>{5, 20, 50, 60})) << "nothing newer: no refresh";
  }
  EXPECT_TRUE(fs::exists(dir_ / "root/Data/buytoys.cca"));
  // A newer package's definition, with compaction due at the same start.
  fs::create_directories(dir_ / "install/Data");
  const fs::path brought = dir_ / "install/Data/buytoys.cca";
  fs::copy_file(fs::path(test::CompiledDataDir()) / "buytoys.cca", brought);
  fs::last_write_time(brought, fs::file_time_type::clock::now() + std::chrono::hours(1));
  config.GlobalSystem().SetLastCompactDatabase(Now() - 14);
  TProgram program(dispatcher_);
  ASSERT_EQ(Start(program, &config), TStartResult::srRun);
  EXPECT_EQ(program.Progress, (std::vector<int>{5, 20, 30, 50, 60}));
  EXPECT_EQ(fs::last_write_time(dir_ / "root/Data/buytoys.cca"), fs::last_write_time(brought));
  ASSERT_NE(program.Runner.Repository(), nullptr);
  EXPECT_NE(program.Runner.Repository()->Categories().FindByName("buytoys"), nullptr);
  EXPECT_TRUE(shown_.empty()) << shown_.front();
}

}  // namespace
}  // namespace vandrel
