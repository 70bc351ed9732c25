#include "search/DefinitionFiles.h"

#include <gtest/gtest.h>

#include "DataFolderUtil.h"
#include "script/Variables.h"
#include "search/QuorinUpdateReport.h"

namespace vandrel {
namespace {

using testing::TDataFolder;

TEST(DefinitionFilesTest, VersionComesFromTheCompiledHeaderOrIsMinusOne) {
  TDataFolder data;
  ASSERT_TRUE(data.WriteCompiledEngine("shop.cen", "DisplayName = \"Shop\"", 7));
  ASSERT_TRUE(data.WriteCompiledEngine("zero.cen", "", 0));
  data.WriteText("source.sen", "Procedure Register\nEndProcedure\n");
  data.WriteText("empty.cen", "");
  EXPECT_EQ(ReadDefinitionVersion(data.Path() + "shop.cen"), 7);
  EXPECT_EQ(ReadDefinitionVersion(data.Path() + "zero.cen"), 0);
  EXPECT_EQ(ReadDefinitionVersion(data.Path() + "source.sen"), -1);  // no header in a source text
  EXPECT_EQ(ReadDefinitionVersion(data.Path() + "empty.cen"), -1);
  EXPECT_EQ(ReadDefinitionVersion(data.Path() + "missing.cen"), -1);

  // A header that claims more lines than the file holds cannot be trusted.
  std::string bytes = test::ReadWholeFile(data.Path() + "shop.cen");
  std::string plain = UnscrambleBytes(bytes);
  size_t second = plain.find('\n') + 1;
  plain.replace(second, plain.find('\r', second) - second, "999");
  std::string firstLines = plain.substr(0, plain.find("FileVersion"));
  data.WriteText("cut.cen", ScrambleBytes(firstLines));
  EXPECT_EQ(ReadDefinitionVersion(data.Path() + "cut.cen"), -1);
}

// Only the front of a file is read for its version unless the header runs on past it: a version line
// anywhere in a long header, even one cut by where the front ends, is still found, on disk and in memory.
TEST(DefinitionFilesTest, VersionsOfLongHeadersAreReadWhole) {
  TDataFolder data;
  ASSERT_TRUE(data.WriteCompiledEngine("shop.cen", "DisplayName = \"Shop\"", 12345));
  const std::string plain = UnscrambleBytes(test::ReadWholeFile(data.Path() + "shop.cen"));
  const size_t countAt = plain.find('\n') + 1;
  const size_t countEnd = plain.find('\r', countAt);
  const int count = std::stoi(plain.substr(countAt, countEnd - countAt));
  const size_t linesAt = countEnd + 2;
  const std::string head = plain.substr(0, countAt) + std::to_string(count + 1) + "\r\n";
  // A filler line first pushes the version line (two lines on) across the end of the front; a version cut
  // there would read as a smaller number.
  for (size_t front = 4060; front <= 4100; front += 3) {
    SCOPED_TRACE(front);
    const std::string filler = "Note=" + std::string(front - head.size() - 7, 'n') + "\r\n";
    const std::string bytes = ScrambleBytes(head + filler + plain.substr(linesAt));
    data.WriteText("long.cen", bytes);
    EXPECT_EQ(ReadDefinitionVersion(data.Path() + "long.cen"), 12345);
    EXPECT_EQ(DefinitionVersionOf(bytes), 12345);
  }
  const std::string whole = test::ReadWholeFile(data.Path() + "shop.cen");
  EXPECT_EQ(DefinitionVersionOf(whole), 12345);
  EXPECT_EQ(DefinitionVersionOf(whole.substr(0, 3)), -1);
  EXPECT_EQ(DefinitionVersionOf("Procedure Register"), -1);
}

TEST(DefinitionFilesTest, ListingMatchesTheExtensionWithoutCaseAndSkipsFolders) {
  TDataFolder data;
  data.WriteText("Books.CEN", "x");
  data.WriteText("music.cen", "x");
  data.WriteText("music.cenx", "x");
  data.WriteText(".cen", "x");  // no name at all
  std::filesystem::create_directories(data.Path() + "folder.cen");
  auto files = ListDefinitionFiles(data.Path(), ".cen");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].Name, "books");
  EXPECT_EQ(files[0].Path, data.Path() + "Books.CEN");
  EXPECT_EQ(files[1].Name, "music");
  EXPECT_TRUE(ListDefinitionFiles(data.Path() + "none/", ".cen").empty());

  EXPECT_EQ(FindPathIgnoringCase(data.Path(), "books.cen"), data.Path() + "Books.CEN");
  EXPECT_EQ(FindPathIgnoringCase(data.Path(), "other.cen"), data.Path() + "other.cen");
}

TEST(DefinitionFilesTest, ConstantsScriptFillsTheConstants) {
  TDataFolder data;
  TVariableList constants;
  constants.SetInteger("Stale", 1);
  EXPECT_FALSE(RunConstantsScript(constants, data.Path() + "constants.scs"));
  EXPECT_EQ(constants.Count(), 0u);  // emptied even without a script

  data.WriteText("constants.scs", testing::RegisterBody("Global TAX = 8\nSHIPPING = \"free\""));
  EXPECT_TRUE(RunConstantsScript(constants, data.Path() + "constants.scs"));
  EXPECT_EQ(constants.GetInteger("TAX", 0), 8);
  EXPECT_EQ(constants.GetString("SHIPPING", ""), "free");
  EXPECT_EQ(constants.Find("CompilerVersion"), nullptr);

  // A script that does not compile leaves nothing behind.
  data.WriteText("constants.scs", testing::RegisterBody("If"));
  EXPECT_FALSE(RunConstantsScript(constants, data.Path() + "constants.scs"));
  EXPECT_EQ(constants.Count(), 0u);
}

TEST(QuorinUpdateReportTest, ItemsNameTheirDefinitionAndSortByKind) {
  TQuorinUpdateReport report;
  report.AddAdded(ukEngine, "books/bookbarn");
  report.AddAdded(ukCategory, "buybooks");
  report.AddChangedScript("currencies");
  report.AddAdded(ukSearchType, "books");
  ASSERT_EQ(report.Count(), 4u);
  EXPECT_EQ(report.Items(0).Category, "books");
  EXPECT_EQ(report.Items(0).Name, "bookbarn");
  EXPECT_EQ(report.Items(0).FullName(), "books/bookbarn");

  report.SortByKind();
  EXPECT_EQ(report.Items(0).Kind, ukSharedScript);
  EXPECT_EQ(report.Items(0).Action, uaChanged);
  EXPECT_EQ(report.Items(1).Kind, ukSearchType);
  EXPECT_EQ(report.Items(2).Kind, ukCategory);
  EXPECT_EQ(report.Items(3).Kind, ukEngine);
  report.Delete(0);
  report.Delete(99);
  EXPECT_EQ(report.Count(), 3u);
  report.Clear();
  EXPECT_EQ(report.Count(), 0u);
}

}  // namespace
}  // namespace vandrel
