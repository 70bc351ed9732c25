// "parse": one engine definition over a saved page, as a process.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "TempFolder.h"
#include "cli/CliTestSupport.h"
#include "platform/SourceDir.h"

namespace vandrel {
namespace {

using clitest::RunCli;
using CliRun = clitest::TCliRun;

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

// A folder, a file the system refuses to read and a missing file are each named with the reason.
TEST(ParseCliIntegration, InputThatCannotBeReadIsNamedWithItsReason) {
  test::TempFolder dir;
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {dir.Path(), "Is a directory"},
      {"/proc/self/mem", "Input/output error"},
      {dir / "missing.html", "No such file or directory"},
  };
  for (const auto& [input, reason] : inputs) {
    for (const char* option : {"--page", "--engine", "--search-type"}) {
      std::vector<std::string> args = ParseArgs("detail.sen", "detail_page.html");
      *(std::find(args.begin(), args.end(), option) + 1) = input;
      const CliRun run = RunCli(args);
      EXPECT_EQ(run.Status, 2) << option << " " << input << "\n" << run.Err;
      EXPECT_NE(run.Err.find("cannot read " + input + ": " + reason), std::string::npos) << run.Err;
      EXPECT_EQ(run.Err.find("terminate"), std::string::npos) << run.Err;
    }
  }
}

}  // namespace
}  // namespace vandrel
