// The kernel as programs without windows open it: no home page, definitions from a folder of their
// choosing, nothing purged or compacted at start, and a search refused for want of a connection says so.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "actions/AppErrors.h"
#include "data/DemoSite.h"
#include "kernel/AppConfig.h"
#include "kernel/HeadlessKernel.h"
#include "platform/DateTime.h"
#include "platform/RegistryFileStore.h"
#include "search/HttpSearcher.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "storage/CategoryStorage.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HeadlessKernelIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ =
        SetErrorPresenter({[this](TMessageStyle, const std::string& t) { shown_.push_back(t); }, [] {}});
  }
  void TearDown() override { SetErrorPresenter(std::move(previous_)); }

  bool Open(THeadlessKernel& kernel, TAppConfig* config = nullptr, TStartOptions options = {}) {
    TAppKernel::THooks hooks;
    hooks.UserName = "tester";
    hooks.DataFolder = test::CompiledDataDir();
    hooks.RefreshCatalogue = true;
    hooks.Config = config;
    options.RootFolder = root_.Path();
    return kernel.Open(options, std::move(hooks));
  }

  TSearchStorageItem* NewSearch(THeadlessKernel& kernel, const std::string& keywords) {
    TCategoryStorageItem* category = kernel.Catalogue().FindCategory("buyelectronics");
    EXPECT_NE(category, nullptr);
    if (!category) return nullptr;
    return kernel.History(false).Item()->NewSearch(*category, [&](TSearchStorageItem& s) {
      s.GetFields()->AddField("Keywords", TDynamicValue(keywords));
      s.ResultsPerEngine = 5;
    });
  }

  test::TempFolder root_;
  TErrorPresenter previous_;
  std::vector<std::string> shown_;
};

TEST_F(HeadlessKernelIntegration, OpensWithoutAHomePageOnTheGivenDefinitionsAndKeepsOldSearches) {
  TAppConfig config(std::make_shared<TRegistryFileStore>(root_ / "registry"));
  int32_t number = -1;
  {
    THeadlessKernel kernel;
    ASSERT_TRUE(Open(kernel, &config)) << (shown_.empty() ? "" : shown_.front());
    EXPECT_FALSE(fs::exists(root_ / "Web/Welcome.htm"));
    EXPECT_EQ(kernel.Repository().DataFolder(), test::CompiledDataDir() + "/");
    EXPECT_NE(kernel.Catalogue().CategoryEngines("buyelectronics"), nullptr);
    TSearchStorageItem* search = NewSearch(kernel, "volta");
    ASSERT_NE(search, nullptr);
    number = search->Index();
    // A search from long ago: the desktop program would purge it at its next start.
    search->CreationDate = Now() - 400;
    search->RunTransaction(lsUpdating, 0);
  }
  THeadlessKernel again;
  ASSERT_TRUE(Open(again, &config));
  EXPECT_NE(again.History(false).Item()->GetSearches().ItemByKey(number), nullptr);
  EXPECT_EQ(config.GlobalSystem().LastCompactDatabase(), 0.0) << "no compaction at a headless start";
  EXPECT_TRUE(shown_.empty()) << shown_.front();
}

TEST_F(HeadlessKernelIntegration, StartDefinesOutlastAReloadOfTheConstantsScript) {
  THeadlessKernel kernel;
  TStartOptions options;
  options.Defines = {{"DemoStoreAddress", "http://127.0.0.1:9/"}};
  ASSERT_TRUE(Open(kernel, nullptr, options));
  TVariableList& constants = kernel.Repository().Constants();
  EXPECT_EQ(constants.GetString("DemoStoreAddress", ""), "http://127.0.0.1:9/");
  // An update reloads the script: its other constants come back, the start's own stays over its own.
  kernel.Repository().LoadConstants();
  EXPECT_EQ(constants.GetString("DemoStoreAddress", ""), "http://127.0.0.1:9/");
  EXPECT_EQ(constants.GetInteger("KO_OR", -1), 2);
}

TEST_F(HeadlessKernelIntegration, ASearchRefusedForWantOfAConnectionSaysSo) {
  THeadlessKernel kernel;
  ASSERT_TRUE(Open(kernel));
  TSearchStorageItem* search = NewSearch(kernel, "volta");
  ASSERT_NE(search, nullptr);
  kernel.OnStarting = [](TQuorinSearchAction& action) {
    action.DetectConnection = true;
    // A name with a blank fails in the resolver itself; no name server is asked.
    action.Searcher()->Detector().SetLink("no such host");
  };
  EXPECT_FALSE(kernel.RunSearch(*search, false, true, 30s));
  EXPECT_EQ(kernel.Kernel().LastStartError(), aeNotConnected);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], AppErrorText(aeNotConnected));

  // With a connection the same search runs, and the reason is cleared.
  test::TDemoSite site;
  ASSERT_NE(site.Port, 0);
  kernel.Repository().Constants().SetString("DemoStoreAddress", site.Address());
  kernel.OnStarting = nullptr;
  EXPECT_TRUE(kernel.RunSearch(*search, false, false, 60s));
  EXPECT_EQ(kernel.Kernel().LastStartError(), aeNoError);
  EXPECT_GT(search->MatchCount, 0);
}

}  // namespace
}  // namespace vandrel
