// A program root per test and the demo store site per suite, for tests that search and then look at the
// stored searches through separate runs of the command line.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "cli/CliTestSupport.h"
#include "data/DemoSite.h"

namespace vandrel::clitest {

inline std::vector<TJsonRecord> Records(const TCliRun& run) {
  std::vector<TJsonRecord> records;
  EXPECT_TRUE(TJsonReader(run.Out).ReadArray(records)) << run.Out << run.Err;
  return records;
}

class TDemoHistoryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Site = new test::TDemoSite(); }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }
  // A fresh root named after the suite and the test.
  void SetUp() override {
    ASSERT_NE(Site->Port, 0) << "the demo store site did not start";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    Root = test::ProcessTempDir() + "/" + info->test_suite_name() + "-" + info->name();
    std::filesystem::remove_all(Root);
  }

  // `search ARGS --json` with the bundled definitions pointed at the demo site.
  TCliRun Search(std::vector<std::string> args) const {
    args.insert(args.begin(), {"search", "--root", Root, "--data", test::CompiledDataDir(), "--define",
                               "DemoStoreAddress=" + Site->Address(), "--json"});
    return RunCli(args);
  }
  // `history ARGS`, its stores at `address` (the demo site unless named).
  TCliRun History(std::vector<std::string> args, const std::string& address = {}) const {
    args.insert(args.begin(), {"history"});
    args.insert(args.end(), {"--root", Root, "--data", test::CompiledDataDir(), "--define",
                             "DemoStoreAddress=" + (address.empty() ? Site->Address() : address)});
    return RunCli(args);
  }

  static inline test::TDemoSite* Site = nullptr;
  std::string Root;
};

}  // namespace vandrel::clitest
