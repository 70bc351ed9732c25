#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>
#include "platform/SourceDir.h"

namespace vandrel {
namespace {

struct CatalogueRun {
  int Status = -1;
  std::string Out;
};

CatalogueRun RunCatalogue(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 2);
    std::vector<char*> argv{const_cast<char*>(VANDREL_CLI), const_cast<char*>("catalogue")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANDREL_CLI, argv.data());
    _exit(127);
  }
  close(fds[1]);
  CatalogueRun run;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) run.Out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(CatalogueCommandTest, ListsTheShippedSourcesInDebugModeOnly) {
  const std::string data = std::string(VANDREL_SOURCE_DIR) + "/Data";
  CatalogueRun debug = RunCatalogue({"--data", data, "--debug"});
  EXPECT_EQ(debug.Status, 0);
  EXPECT_NE(debug.Out.find("  buybooks "), std::string::npos);
  EXPECT_NE(debug.Out.find("    bookbarn "), std::string::npos);
  EXPECT_NE(debug.Out.find("The Book Barn"), std::string::npos);

  // The compiled mode looks for compiled files, and the source tree ships none.
  CatalogueRun compiled = RunCatalogue({"--data", data});
  EXPECT_EQ(compiled.Status, 0);
  EXPECT_EQ(compiled.Out.find("buybooks"), std::string::npos);

  EXPECT_EQ(RunCatalogue({}).Status, 2);
  EXPECT_EQ(RunCatalogue({"--data", data + "/missing"}).Status, 2);
}

}  // namespace
}  // namespace vandrel
