// "vandrel-shopper-cli search" runs the engine update that is due first, against a real vandrel-update-site
// process, and then searches the demo stores.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>

#include "SavedEnvironment.h"
#include "cli/CliTestSupport.h"
#include "data/DemoSite.h"
#include "update/UpdateTestWorld.h"

namespace vandrel::updatetest {
namespace {

namespace fs = std::filesystem;
using clitest::RunCli;
using clitest::TCliRun;
using clitest::TJsonReader;
using clitest::TJsonRecord;

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

class SearchUpdateIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Stores = new test::TDemoSite(); }
  static void TearDownTestSuite() {
    delete Stores;
    Stores = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(Stores->Port, 0) << "the demo store site did not start";
    fs::create_directories(Home / "runtime");
    fs::permissions(Home / "runtime", fs::perms::owner_all);
    setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (Home / "runtime").c_str(), 1);
    // The search's definitions and the site's are copies of the bundled ones; the site has one more
    // electronics store, a second Volt Mart under a name of its own.
    fs::copy(test::CompiledDataDir(), Data, fs::copy_options::recursive);
    fs::copy(test::CompiledDataDir(), SiteData, fs::copy_options::recursive);
    fs::copy_file(SiteData / "buyelectronics" / "voltmart.cen", SiteData / "buyelectronics" / "voltcopy.cen");
  }

  TCliRun Search(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"search",
                                     "--root",
                                     Home / "root",
                                     "--data",
                                     Data,
                                     "--define",
                                     "DemoStoreAddress=" + Stores->Address(),
                                     "--category",
                                     "buyelectronics",
                                     "--set",
                                     "Keywords=volta",
                                     "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  }

  static std::vector<TJsonRecord> Results(const TCliRun& run) {
    std::vector<TJsonRecord> records;
    EXPECT_TRUE(TJsonReader(run.Out).ReadArray(records)) << run.Out << run.Err;
    return records;
  }

  static inline test::TDemoSite* Stores = nullptr;
  test::TempFolder Home;
  test::TempFolder DataRoot;
  fs::path Data = fs::path(DataRoot.Path()) / "data";
  fs::path SiteData = fs::path(DataRoot.Path()) / "site";
  // The program keeps its settings and its instance lock under these; the test's own go away with it.
  test::TSavedEnvironment Saved{"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};
};

// A fresh root has never been updated: the first search brings the new store and can already name it;
// the next one finds nothing due and asks the site nothing.
TEST_F(SearchUpdateIntegration, ADueUpdateRunsFirstAndANotDueOneAsksNothing) {
  TSiteProcess site(SiteData.string());
  ASSERT_GT(site.Port, 0) << site.Log();

  const TCliRun first = Search({"--engines", "voltcopy", "--update-site", site.Url()});
  ASSERT_EQ(first.Status, 0) << first.Err;
  EXPECT_NE(first.Err.find("step 1: Checking for engine updates..."), std::string::npos) << first.Err;
  EXPECT_NE(first.Err.find("step 4: Installing updates..."), std::string::npos) << first.Err;
  EXPECT_NE(first.Err.find("added engine buyelectronics/voltcopy"), std::string::npos) << first.Err;
  EXPECT_NE(first.Err.find("Update completed."), std::string::npos) << first.Err;
  EXPECT_LT(first.Err.find("Update completed."), first.Err.find("voltcopy: done")) << first.Err;
  EXPECT_TRUE(fs::exists(Data / "buyelectronics" / "voltcopy.cen"));
  const auto found = Results(first);
  ASSERT_FALSE(found.empty()) << first.Out << first.Err;
  for (const TJsonRecord& record : found)
    EXPECT_EQ(record.List.at("FoundBy"), std::vector<std::string>{"voltcopy"});
  const size_t asked = CountOf(site.Log(), " POST ");
  EXPECT_GE(asked, 2u) << site.Log();

  const TCliRun second = Search({"--update-site", site.Url()});
  ASSERT_EQ(second.Status, 0) << second.Err;
  EXPECT_EQ(second.Err.find("step 1:"), std::string::npos) << second.Err;
  EXPECT_FALSE(Results(second).empty());
  EXPECT_EQ(CountOf(site.Log(), " POST "), asked) << site.Log();
}

// Skipping asks the site nothing even when an update is due; a site that cannot be reached is reported
// and the search still runs on the definitions there are.
TEST_F(SearchUpdateIntegration, ASkippedOrFailedUpdateLeavesTheSearchToRun) {
  TSiteProcess site(SiteData.string());
  ASSERT_GT(site.Port, 0) << site.Log();

  const TCliRun skipped = Search({"--no-update", "--update-site", site.Url()});
  ASSERT_EQ(skipped.Status, 0) << skipped.Err;
  EXPECT_EQ(skipped.Err.find("step 1:"), std::string::npos) << skipped.Err;
  EXPECT_FALSE(Results(skipped).empty());
  EXPECT_EQ(CountOf(site.Log(), " POST "), 0u) << site.Log();

  const TCliRun failed = Search({"--update-site", "http://127.0.0.1:1/update-info/013"});
  ASSERT_EQ(failed.Status, 0) << failed.Err;
  EXPECT_NE(failed.Err.find("vandrel-shopper-cli search: Update failed:"), std::string::npos) << failed.Err;
  EXPECT_FALSE(Results(failed).empty());
  EXPECT_FALSE(fs::exists(Data / "buyelectronics" / "voltcopy.cen"));

  // Still due after the failure: the next search tries again, and this time it works.
  const TCliRun again = Search({"--engines", "voltcopy", "--update-site", site.Url()});
  ASSERT_EQ(again.Status, 0) << again.Err;
  EXPECT_NE(again.Err.find("Update completed."), std::string::npos) << again.Err;
}

// A rerun is a search: it runs the due update first, takes the same two options, and the other history
// actions refuse them.
TEST_F(SearchUpdateIntegration, ARerunRunsTheDueUpdateFirst) {
  TSiteProcess site(SiteData.string());
  ASSERT_GT(site.Port, 0) << site.Log();
  const TCliRun stored = Search({"--no-update"});
  ASSERT_EQ(stored.Status, 0) << stored.Err;
  const std::string root = Home / "root";
  auto history = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {
        "history", "--root", root, "--data", Data, "--define", "DemoStoreAddress=" + Stores->Address()};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  };

  const TCliRun skipped = history({"rerun", "1", "--no-update", "--update-site", site.Url(), "--json"});
  ASSERT_EQ(skipped.Status, 0) << skipped.Err;
  EXPECT_EQ(skipped.Err.find("step 1:"), std::string::npos) << skipped.Err;
  EXPECT_EQ(CountOf(site.Log(), " POST "), 0u) << site.Log();

  const TCliRun rerun = history({"rerun", "1", "--update-site", site.Url(), "--json"});
  ASSERT_EQ(rerun.Status, 0) << rerun.Err;
  EXPECT_NE(rerun.Err.find("step 1: Checking for engine updates..."), std::string::npos) << rerun.Err;
  EXPECT_NE(rerun.Err.find("added engine buyelectronics/voltcopy"), std::string::npos) << rerun.Err;
  EXPECT_NE(rerun.Err.find("Update completed."), std::string::npos) << rerun.Err;
  EXPECT_TRUE(fs::exists(Data / "buyelectronics" / "voltcopy.cen"));
  EXPECT_GE(CountOf(site.Log(), " POST "), 2u) << site.Log();
  EXPECT_FALSE(Results(rerun).empty()) << rerun.Out << rerun.Err;

  // Nothing is due any more: the next rerun asks the site nothing.
  const size_t asked = CountOf(site.Log(), " POST ");
  const TCliRun again = history({"rerun", "1", "--update-site", site.Url(), "--json"});
  ASSERT_EQ(again.Status, 0) << again.Err;
  EXPECT_EQ(again.Err.find("step 1:"), std::string::npos) << again.Err;
  EXPECT_EQ(CountOf(site.Log(), " POST "), asked) << site.Log();

  const TCliRun show = history({"show", "1", "--no-update"});
  EXPECT_EQ(show.Status, 2);
  EXPECT_NE(show.Err.find("--no-update is for rerun only"), std::string::npos) << show.Err;
}

}  // namespace
}  // namespace vandrel::updatetest
