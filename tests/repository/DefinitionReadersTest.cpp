#include "search/DefinitionReaders.h"

#include <gtest/gtest.h>

#include "DataFolderUtil.h"
#include "platform/SourceDir.h"

namespace vandrel {
namespace {

std::string Fixture(const std::string& name) {
  return std::string(VANDREL_SOURCE_DIR) + "/tests/engines/fixtures/" + name;
}

TEST(DefinitionReadersTest, SearchTypeSummaryKeepsWhatTheCatalogueStores) {
  TSearchTypeSummary books;
  std::string error;
  ASSERT_TRUE(ReadSearchTypeDefinition(Fixture("books.sst"), "books", nullptr, books, error)) << error;
  EXPECT_EQ(books.DisplayName, "Books");
  EXPECT_EQ(books.SearchFrame, "booksearch");
  EXPECT_EQ(books.UniqueKey, "url");
  // The default view's keys only; the "compact" view's title key stays out.
  ASSERT_EQ(books.SortKeys.size(), 1u);
  EXPECT_EQ(books.SortKeys[0].Field, "price");
  EXPECT_TRUE(books.SortKeys[0].Ascending);
  ASSERT_EQ(books.InputFields.size(), 2u);
  EXPECT_EQ(books.InputFields[0].DisplayName, "Title or keywords");
  EXPECT_EQ(books.InputFields[1].FieldType, sftInteger);
  ASSERT_EQ(books.OutputFields.size(), 6u);
  const auto& price = books.OutputFields[2];
  EXPECT_EQ(price.Name, "price");
  EXPECT_EQ(price.FieldType, sftMoney);
  EXPECT_EQ(price.Alignment, 2);
  EXPECT_TRUE(books.OutputFields[3].IsUrl);
  EXPECT_TRUE(books.OutputFields[3].Hidden);
}

TEST(DefinitionReadersTest, CategorySummary) {
  std::string error;
  testing::TDataFolder data;
  data.WriteText("buybooks.sca",
                 testing::RegisterBody("DisplayName = \"Books\"\nPriority = 3\nSearchType = \"books\"\n"
                                       "ResultsPerEngine = 20\nTotalResults = 200\nEnabled = False"));
  TCategorySummary category;
  ASSERT_TRUE(ReadCategoryDefinition(data.Path() + "buybooks.sca", category, error)) << error;
  EXPECT_EQ(category.DisplayName, "Books");
  EXPECT_EQ(category.Priority, 3);
  EXPECT_EQ(category.SearchType, "books");
  EXPECT_EQ(category.ResultsPerEngine, 20);
  EXPECT_EQ(category.TotalResults, 200);
  EXPECT_FALSE(category.Enabled);
}

}  // namespace
}  // namespace vandrel
