#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempFolder.h"
#include "platform/SourceDir.h"

namespace vandrel {
namespace {

struct CliRun {
  int Status = -1;
  std::string Out;
};

CliRun RunCli(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 2);
    std::vector<char*> argv{const_cast<char*>(VANDREL_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANDREL_CLI, argv.data());
    _exit(127);
  }
  close(fds[1]);
  CliRun run;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) run.Out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Fixture(const std::string& name) {
  return std::string(VANDREL_SOURCE_DIR) + "/tests/engines/fixtures/" + name;
}

std::vector<std::string> ParseArgs(const std::string& engine, const std::string& page) {
  return {"parse",         "--search-type", Fixture("books.sst"), "--engine",
          Fixture(engine), "--page",        Fixture(page)};
}

TEST(ParseCliIntegration, ItemsCutByMarkersAsJson) {
  auto args = ParseArgs("bookbarn.sen", "bookbarn_results.html");
  args.insert(args.end(), {"--set", "Keywords=garden paths", "--json"});
  CliRun run = RunCli(args);
  ASSERT_EQ(run.Status, 0) << run.Out;
  // Outside the range, excluded, duplicate of a completed address, deleted by the script: all gone.
  EXPECT_EQ(
      run.Out,
      "[\n"
      "  {\"title\": \"The Garden of Forking Paths\", \"author\": \"Jorge Writer\", \"price\": \"12.99\", "
      "\"url\": \"http://www.bookbarn.test/item/101\", \"shipping\": \"in 24 hours\", "
      "\"label\": \"The Garden of Forking Paths / Jorge Writer\"},\n"
      "  {\"title\": \"Gardening & Paths\", \"author\": \"Ann Green\", \"price\": \"8.50\", "
      "\"url\": \"http://www.bookbarn.test/item/102\", \"shipping\": \"Usually ships in 2-3 weeks\", "
      "\"label\": \"Gardening & Paths / Ann Green\"},\n"
      "  {\"title\": \"Free Garden Pamphlet\", \"author\": \"Town Council\", \"price\": \"0.00\", "
      "\"url\": \"http://www.bookbarn.test/item/105\", \"shipping\": \"with the next newsletter\", "
      "\"label\": \"Free Garden Pamphlet / Town Council\", \"_filtered\": true}\n"
      "]\n");
}

TEST(ParseCliIntegration, LinksAndWholePagesAsTables) {
  auto args = ParseArgs("linkmart.sen", "linkmart_results.html");
  args.insert(args.end(), {"--set", "Keywords=hose"});
  CliRun run = RunCli(args);
  ASSERT_EQ(run.Status, 0) << run.Out;
  EXPECT_NE(run.Out.find("Blue Garden Hose"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("http://shop.linkmart.test/p/501?ref=a&src=s"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("19.99"), std::string::npos);
  EXPECT_NE(run.Out.find("LinkMart search"), std::string::npos);
  EXPECT_EQ(run.Out.find("Green Rake again"), std::string::npos);  // the same page once reduced
  EXPECT_EQ(run.Out.find("Reviews"), std::string::npos);
  EXPECT_EQ(run.Out.find("After the table"), std::string::npos);
  EXPECT_NE(run.Out.find("2 record(s)"), std::string::npos) << run.Out;

  auto page = ParseArgs("detail.sen", "detail_page.html");
  page.insert(page.end(), {"--address", "http://www.atlas.test/book/7", "--json"});
  run = RunCli(page);
  ASSERT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out,
            "[\n  {\"title\": \"Atlas of Small Gardens\", \"author\": \"Mia Stone\", \"price\": \"24.00\", "
            "\"url\": \"http://www.atlas.test/book/7\", \"shipping\": \"Sold by MIA STONE\", "
            "\"label\": \"Atlas of Small Gardens / Mia Stone\"}\n]\n");
}

TEST(ParseCliIntegration, DefinitionErrorsAndUsage) {
  CliRun run = RunCli(ParseArgs("broken.sen", "detail_page.html"));
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Out, "error 205: Missing EndIf (line 3)\n");
  test::TempFolder dir;
  test::WriteWholeFile(dir / "bad.sst",
                       "Procedure Register\n  AddOutputField \"x\"\n  x = 1 +\nEndProcedure\n");
  run = RunCli({"parse", "--search-type", dir / "bad.sst", "--engine", Fixture("detail.sen"), "--page",
                Fixture("detail_page.html")});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Out.rfind("error ", 0), 0u) << run.Out;
  EXPECT_NE(run.Out.find("(line 3)"), std::string::npos) << run.Out;
  EXPECT_EQ(RunCli({"parse", "--engine", Fixture("detail.sen")}).Status, 2);
  auto unknown = ParseArgs("detail.sen", "detail_page.html");
  unknown.insert(unknown.end(), {"--set", "Colour=red"});
  EXPECT_EQ(RunCli(unknown).Status, 2);
}

}  // namespace
}  // namespace vandrel
