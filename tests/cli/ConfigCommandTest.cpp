// "config" across processes: settings that persist, and requests that are refused before anything is
// written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "cli/CliTestSupport.h"

namespace vandrel {
namespace {

using clitest::RunCli;
using CliRun = clitest::TCliRun;
using test::ReadWholeFile;
using test::TempFolder;

class ConfigCliIntegration : public ::testing::Test {
 protected:
  TempFolder dir;
  CliRun Config(std::vector<std::string> words) {
    words.insert(words.begin(), {"config", "--config-dir", dir.Path()});
    return RunCli(words);
  }
};

TEST_F(ConfigCliIntegration, SettingsPersistAcrossProcesses) {
  EXPECT_EQ(Config({"get", "MaxTransfers"}).Out, "8\n");
  EXPECT_EQ(Config({"set", "MaxTransfers", "9"}).Status, 0);
  EXPECT_NE(ReadWholeFile(dir / "user.reg").find("\"MaxTransfers\"=dword:00000009"), std::string::npos);
  const CliRun later = Config({"get", "Preferences.MaxTransfers"});
  EXPECT_EQ(later.Status, 0);
  EXPECT_EQ(later.Out, "9\n");

  EXPECT_EQ(Config({"set", "MaxTransfers", "8"}).Status, 0);  // the default: no value is kept
  EXPECT_EQ(ReadWholeFile(dir / "user.reg").find("MaxTransfers"), std::string::npos);
  EXPECT_EQ(Config({"get", "maxtransfers"}).Out, "8\n");

  // A scrambled secret written by one process is read back by the next.
  EXPECT_EQ(Config({"set", "ProxyPassword", "p\xc3\xa4ss word"}).Status, 0);
  EXPECT_EQ(ReadWholeFile(dir / "machine.reg").find("ss word"), std::string::npos);
  EXPECT_EQ(Config({"get", "ProxyPassword"}).Out, "p\xc3\xa4ss word\n");
  EXPECT_EQ(Config({"set", "ShowToolbar", "no"}).Status, 0);
  EXPECT_EQ(Config({"get", "ShowToolbar"}).Out, "false\n");
}

TEST_F(ConfigCliIntegration, BadRequestsFailAndWriteNothing) {
  EXPECT_EQ(Config({"get", "NoSuchSetting"}).Status, 1);
  EXPECT_EQ(Config({"set", "MaxTransfers", "nine"}).Status, 2);
  EXPECT_EQ(Config({"set", "MaxTransfers", "99999999999"}).Status, 2);
  EXPECT_EQ(Config({"set", "AppConfigured", "maybe"}).Status, 2);
  EXPECT_EQ(Config({"set", "MaxTransfers"}).Status, 2);
  EXPECT_EQ(Config({"get", "Network.MaxTransfers"}).Status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "user.reg"));
}

TEST_F(ConfigCliIntegration, UsageErrorsAndValuesOutsideASettingsRangeAreRefused) {
  struct TCase {
    std::vector<std::string> Words;
    const char* Says;  // on stderr
  };
  const std::vector<TCase> refused = {
      {{"--frobnicate", "get", "MaxTransfers"}, "unknown option --frobnicate"},
      {{"get", ""}, "empty setting name"},
      {{"get"}, "needs a setting"},
      {{"list", "extra"}, "unexpected argument 'extra'"},
      {{"set", "MaxTransfers", "-5"}, "out of range (1 to 32)"},
      {{"set", "MaxTransfers", "33"}, "out of range (1 to 32)"},
      {{"set", "Timeout", "2"}, "out of range (3 to 300)"},
      {{"set", "ProxyPort", "65536"}, "out of range (1 to 65535)"},
      {{"frobnicate"}, "unknown action 'frobnicate'"},
  };
  for (const TCase& c : refused) {
    const CliRun run = Config(c.Words);
    EXPECT_EQ(run.Status, 2) << c.Says;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "user.reg"));
  EXPECT_FALSE(std::filesystem::exists(dir / "machine.reg"));
  // The ends of a range are values of the setting.
  EXPECT_EQ(Config({"set", "MaxTransfers", "32"}).Status, 0);
  EXPECT_EQ(Config({"set", "Timeout", "3"}).Status, 0);
  EXPECT_EQ(Config({"get", "MaxTransfers"}).Out, "32\n");

  const CliRun version = RunCli({"version", "now"});
  EXPECT_EQ(version.Status, 2);
  EXPECT_TRUE(version.Out.empty());
}

TEST_F(ConfigCliIntegration, AWriteThatCannotReachTheStoreIsReported) {
  test::WriteWholeFile(dir / "file", "x");
  const CliRun run = RunCli({"config", "--config-dir", dir / "file/store", "set", "MaxTransfers", "9"});
  EXPECT_EQ(run.Status, 1);
}

TEST_F(ConfigCliIntegration, ADamagedStoreStartsWithDefaultsAndIsKeptAside) {
  for (const std::string& damage :
       {std::string("REGEDIT4\n[HKEY_CURRENT_USER\\Soft"), std::string("\x01\xff garbage")}) {
    test::WriteWholeFile(dir / "user.reg", damage);
    const CliRun run = Config({"get", "MaxTransfers"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "8\n");
    EXPECT_EQ(Config({"set", "MaxTransfers", "9"}).Status, 0);
    EXPECT_EQ(Config({"get", "MaxTransfers"}).Out, "9\n");
    std::filesystem::remove(dir / "user.reg");
  }
  EXPECT_EQ(ReadWholeFile(dir / "user.reg.damaged-1"), "REGEDIT4\n[HKEY_CURRENT_USER\\Soft");
  EXPECT_EQ(ReadWholeFile(dir / "user.reg.damaged-2"), "\x01\xff garbage");
}

}  // namespace
}  // namespace vandrel
