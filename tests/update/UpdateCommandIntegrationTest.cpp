// "vandrel-shopper-cli update" against a real vandrel-update-site process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "SavedEnvironment.h"
#include "cli/CliTestSupport.h"
#include "update/UpdateTestWorld.h"

namespace vandrel::updatetest {
namespace {

using clitest::RunCli;
using clitest::TJsonReader;
using clitest::TJsonRecord;

class UpdateCommandIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSmallSite(Site);
    std::filesystem::create_directories(Home / "runtime");
    std::filesystem::permissions(Home / "runtime", std::filesystem::perms::owner_all);
    setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (Home / "runtime").c_str(), 1);
  }

  std::vector<TJsonRecord> Json(const clitest::TCliRun& run) {
    std::vector<TJsonRecord> records;
    EXPECT_TRUE(TJsonReader(run.Out).ReadArray(records)) << run.Out;
    return records;
  }

  testing::TDataFolder Site;
  test::TempFolder Home;
  // The program keeps its settings and its instance lock under these; the test's own go away with it.
  test::TSavedEnvironment Saved{"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};
};

TEST_F(UpdateCommandIntegration, UpdatesARootThenFindsNothingNew) {
  Site.WriteText("site.vui", "[SoftwareUpdates]\r\n0-999999=1|a|b|http://127.0.0.1:9/setup\r\n");
  TSiteProcess site(Site.Path());
  ASSERT_GT(site.Port, 0) << site.Log();
  const std::string root = Home / "root";

  // The root starts with what the installation ships; the small site then replaces and trims it.
  auto check = RunCli({"update", "--site", site.Url(), "--root", root, "--check-only"});
  EXPECT_EQ(check.Status, 0) << check.Err;
  EXPECT_NE(check.Out.find("would be changed search type books"), std::string::npos) << check.Out;
  EXPECT_NE(check.Out.find("would be added engine buybooks/linkmart"), std::string::npos) << check.Out;
  EXPECT_NE(check.Out.find("Updates are available."), std::string::npos) << check.Out;
  EXPECT_FALSE(std::filesystem::exists(root + "/Data/buybooks/linkmart.cen"));

  auto first = RunCli({"update", "--site", site.Url(), "--root", root});
  EXPECT_EQ(first.Status, 0) << first.Err;
  EXPECT_NE(first.Out.find("changed search type books"), std::string::npos) << first.Out;
  EXPECT_NE(first.Out.find("added engine buybooks/linkmart"), std::string::npos) << first.Out;
  EXPECT_NE(first.Out.find("removed category buymusic"), std::string::npos) << first.Out;
  EXPECT_NE(first.Out.find("A software update is available: http://127.0.0.1:9/setup"), std::string::npos);
  EXPECT_NE(first.Out.find("Update completed."), std::string::npos) << first.Out;
  EXPECT_NE(first.Err.find("step 1: Checking for engine updates..."), std::string::npos) << first.Err;
  EXPECT_NE(first.Err.find("step 4: Installing updates..."), std::string::npos) << first.Err;
  EXPECT_TRUE(std::filesystem::exists(root + "/Data/buybooks/linkmart.cen"));

  auto second = RunCli({"update", "--site", site.Url(), "--root", root, "--json"});
  EXPECT_EQ(second.Status, 0) << second.Err;
  const auto records = Json(second);
  ASSERT_EQ(records.size(), 1u) << second.Out;
  EXPECT_EQ(records[0].Text.at("Result"), "unchanged");
  EXPECT_EQ(records[0].Text.at("Message"), "No changes detected.");
  EXPECT_EQ(records[0].Text.at("SoftwareUpdate"), "http://127.0.0.1:9/setup");

  ASSERT_TRUE(Site.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn II"), 3));
  auto third = RunCli({"update", "--site", site.Url(), "--root", root, "--json"});
  EXPECT_EQ(third.Status, 0) << third.Err;
  const auto changed = Json(third);
  ASSERT_EQ(changed.size(), 2u) << third.Out;
  EXPECT_EQ(changed[0].Text.at("Result"), "updated");
  EXPECT_EQ(changed[1].Text.at("Action"), "changed");
  EXPECT_EQ(changed[1].Text.at("Kind"), "engine");
  EXPECT_EQ(changed[1].Text.at("Name"), "buybooks/bookbarn");
}

TEST_F(UpdateCommandIntegration, AFailedUpdateSaysWhyAndExitsWithOne) {
  auto run = RunCli({"update", "--site", "ftp://127.0.0.1/nowhere", "--root", Home / "root"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("Update failed:"), std::string::npos) << run.Out;
  EXPECT_NE(run.Err.find("ftp://127.0.0.1/nowhere"), std::string::npos) << run.Err;
  EXPECT_EQ(RunCli({"update", "--bogus"}).Status, 2);
}

}  // namespace
}  // namespace vandrel::updatetest
