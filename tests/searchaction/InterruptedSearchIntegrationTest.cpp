// Searches of the command line killed at random moments: whatever the history holds afterwards agrees
// with itself, and a rerun repairs the search.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliTestSupport.h"
#include "data/DemoSite.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

using clitest::RunCli;
using clitest::StartCli;
using clitest::TCliRun;
using clitest::TJsonReader;
using clitest::TJsonRecord;

std::vector<TJsonRecord> Records(const TCliRun& run) {
  std::vector<TJsonRecord> records;
  EXPECT_TRUE(TJsonReader(run.Out).ReadArray(records)) << run.Out << run.Err;
  return records;
}

TEST(InterruptedSearchIntegration, AKilledSearchLeavesACountThatAgreesWithItsRowsAndRerunRepairsIt) {
  test::TDemoSite site;
  ASSERT_NE(site.Port, 0) << "the demo store site did not start";
  const std::string root = test::ProcessTempDir() + "/interrupted-root";
  fs::remove_all(root);
  const std::vector<std::string> common = {
      "--root", root, "--data", test::CompiledDataDir(), "--define", "DemoStoreAddress=" + site.Address()};
  auto history = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "history");
    args.insert(args.end(), common.begin(), common.end());
    return RunCli(args);
  };
  // Every stored search shows as many results as it claims: no count without its rows.
  auto checkHistory = [&](int round) {
    const TCliRun list = history({"list", "--json"});
    ASSERT_EQ(list.Status, 0) << "round " << round << ": " << list.Err;
    for (const TJsonRecord& search : Records(list)) {
      const long number = search.Number.at("Number");
      const TCliRun show = history({"show", std::to_string(number), "--json"});
      ASSERT_EQ(show.Status, 0) << "round " << round << ", search " << number << ": " << show.Err;
      EXPECT_EQ(static_cast<long>(Records(show).size()), search.Number.at("Results"))
          << "round " << round << ", search " << number;
    }
  };

  std::mt19937 random(20261209);  // fixed: a failure can be replayed
  // A search under the sanitizers takes a few seconds: kills land before, during and after its run.
  std::uniform_int_distribution<int> delayMs(300, 6000);
  for (int round = 0; round < 6; ++round) {
    std::vector<std::string> args = {"search", "--category", "buybooks", "--set", "Title=glass"};
    args.insert(args.end(), common.begin(), common.end());
    const pid_t pid = StartCli(args);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    checkHistory(round);
  }

  const std::vector<TJsonRecord> searches = Records(history({"list", "--json"}));
  ASSERT_FALSE(searches.empty()) << "no search got as far as being stored";
  const std::string last = std::to_string(searches.back().Number.at("Number"));
  const TCliRun rerun = history({"rerun", last, "--json"});
  ASSERT_EQ(rerun.Status, 0) << rerun.Err;
  // The stores answer the query: a repaired search shows what they found, and says it has as many.
  const std::vector<TJsonRecord> repaired = Records(rerun);
  EXPECT_FALSE(repaired.empty()) << rerun.Err;
  for (const TJsonRecord& search : Records(history({"list", "--json"}))) {
    if (std::to_string(search.Number.at("Number")) != last) continue;
    EXPECT_EQ(search.Number.at("Results"), static_cast<long>(repaired.size()));
  }
  checkHistory(-1);
}

}  // namespace
}  // namespace vandrel
