#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempFolder.h"

namespace vandrel {
namespace {

using test::ReadWholeFile;
using test::TempFolder;

struct CliRun {
  int Status = -1;
  std::string Out;
};

// Runs the CLI binary with `args` (no shell involved) and collects its standard output.
CliRun RunCli(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VANDREL_CLI));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANDREL_CLI, argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  CliRun run;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) run.Out.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

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
