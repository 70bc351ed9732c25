// How the command line behaves towards its user and terminal: help for every command, output that cannot
// be written, numbers that do not fit, text that would steer the terminal, and a missing connection.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "cli/CliTestSupport.h"
#include "data/DemoSite.h"

namespace vandrel {
namespace {

using clitest::RunCli;
using clitest::TCliRun;
using clitest::TJsonReader;
using clitest::TJsonRecord;

bool HasControlBytes(const std::string& text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\n') || c == 0x7f) return true;
  return text.find("\xc2\x9b") != std::string::npos;
}

class CliMannersIntegration : public ::testing::Test {
 protected:
  TCliRun Search(std::vector<std::string> args) const {
    args.insert(args.begin(), {"search", "--root", root.Path(), "--data", test::CompiledDataDir(),
                               "--category", "buyelectronics"});
    return RunCli(args);
  }
  std::vector<TJsonRecord> StoredSearches() const {
    const TCliRun list = RunCli({"history", "list", "--json", "--root", root.Path()});
    std::vector<TJsonRecord> records;
    EXPECT_TRUE(TJsonReader(list.Out).ReadArray(records)) << list.Out << list.Err;
    return records;
  }

  test::TempFolder root;
};

// The command names come from the program's own list, so a command added later is held to this too.
TEST_F(CliMannersIntegration, EveryCommandAnswersHelpWithItsUsage) {
  const TCliRun all = RunCli({"--help"});
  ASSERT_EQ(all.Status, 0);
  std::vector<std::string> names;
  std::istringstream lines(all.Out.substr(all.Out.find("commands:")));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("  ", 0) == 0) names.push_back(line.substr(2, line.find(' ', 2) - 2));
  ASSERT_GE(names.size(), 9u) << all.Out;
  for (const std::string& name : names)
    for (const char* flag : {"--help", "-h"}) {
      const TCliRun run = RunCli({name, flag});
      EXPECT_EQ(run.Status, 0) << name << " " << flag << "\n" << run.Err;
      EXPECT_EQ(run.Out.rfind("usage: vandrel-shopper-cli " + name, 0), 0u) << run.Out;
      EXPECT_TRUE(run.Err.empty()) << run.Err;
    }
  EXPECT_EQ(RunCli({"frobnicate"}).Status, 2);
  EXPECT_EQ(RunCli({}).Status, 2);
}

TEST_F(CliMannersIntegration, OutputThatCannotBeWrittenIsAnError) {
  const std::vector<std::vector<std::string>> commands = {
      {"version"},
      {"--help"},
      {"history", "list", "--root", root.Path()},
      {"config", "--config-dir", root / "config", "list"},
  };
  for (const auto& args : commands) {
    const TCliRun run = RunCli(args, "/dev/full");
    EXPECT_EQ(run.Status, 1) << args.front();
    EXPECT_NE(run.Err.find("cannot write the output: No space left on device"), std::string::npos) << run.Err;
  }
}

TEST_F(CliMannersIntegration, SearchFieldsTakeOnlyNumbersTheirTypeHolds) {
  for (const std::string value : {"abc", "1e300", "nan", "2.5", "99999999999", ""}) {
    const TCliRun run = Search({"--set", "Keywords=volta", "--set", "KeywordOp=" + value});
    EXPECT_EQ(run.Status, 2) << value << "\n" << run.Err;
    EXPECT_TRUE(run.Err.find("not a number") != std::string::npos ||
                run.Err.find("out of range") != std::string::npos)
        << run.Err;
    EXPECT_TRUE(run.Out.empty());
  }
  EXPECT_TRUE(StoredSearches().empty()) << "a refused search is not stored";
}

// Stores and stored searches are strangers' text: shown on a terminal, it must not steer it.
TEST_F(CliMannersIntegration, TextFromStoresAndStoredSearchesIsEscapedOnTheTerminal) {
  const std::string steering = "\x1b]0;owned\x07\x1b[31m\xc2\x9b";
  const TCliRun search = Search({"--set", "Keywords=volta" + steering, "--engines", "voltmart", "--define",
                                 "DemoStoreAddress=http://127.0.0.1:1/"});
  ASSERT_EQ(search.Status, 0) << search.Err;
  EXPECT_FALSE(HasControlBytes(search.Out)) << search.Out;
  EXPECT_FALSE(HasControlBytes(search.Err)) << search.Err;
  EXPECT_NE(search.Err.find("voltmart: error"), std::string::npos) << search.Err;

  const TCliRun list = RunCli({"history", "list", "--root", root.Path()});
  ASSERT_EQ(list.Status, 0) << list.Err;
  EXPECT_FALSE(HasControlBytes(list.Out)) << list.Out;
  EXPECT_NE(list.Out.find("volta\\x1b]0;owned\\x07\\x1b[31m\\u009b"), std::string::npos) << list.Out;
  // JSON keeps the text itself, escaped its own way.
  const std::vector<TJsonRecord> stored = StoredSearches();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].Text.at("Query").find("\x1b]0;owned\x07"), std::string::npos);

  const TCliRun unknown = RunCli({"search", "--root", root.Path(), "--data", test::CompiledDataDir(),
                                  "--category", "x" + steering, "--set", "Keywords=y"});
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_FALSE(HasControlBytes(unknown.Err)) << unknown.Err;
  EXPECT_NE(unknown.Err.find("x\\x1b]0;owned"), std::string::npos) << unknown.Err;
}

// A probe name with a blank fails inside the resolver, without asking any name server.
TEST_F(CliMannersIntegration, AFailedConnectionTestSaysSoAndStoresNothing) {
  for (const bool store : {true, false}) {
    std::vector<std::string> args = {"--set",
                                     "Keywords=volta",
                                     "--detect-connection",
                                     "--connection-probe",
                                     "no such host",
                                     "--define",
                                     "DemoStoreAddress=http://127.0.0.1:1/"};
    if (!store) args.push_back("--no-store");
    const TCliRun run = Search(args);
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Err.find("You must be connected to the Internet to perform this operation."),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(run.Err.find("category"), std::string::npos) << run.Err;
    EXPECT_TRUE(run.Out.empty()) << run.Out;
  }
  EXPECT_TRUE(StoredSearches().empty());
}

}  // namespace
}  // namespace vandrel
