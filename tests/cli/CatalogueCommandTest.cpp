// "catalogue": the kernel's catalogue refreshed from a data folder, in the mode's file kinds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempFolder.h"
#include "cli/CliTestSupport.h"
#include "platform/SourceDir.h"

namespace vandrel {
namespace {

using clitest::RunCli;

TEST(CatalogueCommandTest, ListsTheShippedSourcesInDebugModeOnly) {
  test::TempFolder root;
  const std::string data = std::string(VANDREL_SOURCE_DIR) + "/Data";
  auto catalogue = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"catalogue", "--root", root.Path()});
    return RunCli(args);
  };
  const clitest::TCliRun debug = catalogue({"--data", data, "--debug"});
  EXPECT_EQ(debug.Status, 0) << debug.Err;
  EXPECT_NE(debug.Out.find("  buybooks "), std::string::npos);
  EXPECT_NE(debug.Out.find("    bookbarn "), std::string::npos);
  EXPECT_NE(debug.Out.find("The Book Barn"), std::string::npos);

  // The compiled mode looks for compiled files, and the source tree ships none: the stored catalogue
  // follows the folder and loses what the sources had given it.
  const clitest::TCliRun compiled = catalogue({"--data", data});
  EXPECT_EQ(compiled.Status, 0) << compiled.Err;
  EXPECT_EQ(compiled.Out.find("buybooks"), std::string::npos);

  EXPECT_EQ(catalogue({}).Status, 2);
  EXPECT_EQ(catalogue({"--data", data + "/missing"}).Status, 2);
  EXPECT_EQ(catalogue({"--data", data, "extra"}).Status, 2);
}

}  // namespace
}  // namespace vandrel
