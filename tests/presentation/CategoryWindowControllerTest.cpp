#include "presentation/CategoryWindowController.h"

#include <gtest/gtest.h>

#include "presentation/FakeDesktopPorts.h"
#include "presentation/MemoryCatalogue.h"

namespace vandrel {
namespace {

class CategoryWindowTest : public ::testing::Test {
 protected:
  CategoryWindowTest() {
    catalogue.Fill("buybooks", {"pageturner", "bookbarn", "inkwell"});
    catalogue.Fill("reviewbooks", {"critic"});
    catalogue.Fill("buymusic", {"vinylvault"});
  }

  test::TMemoryCatalogue catalogue;
  test::TScriptedPrompts prompts;
  std::vector<std::string> opened, saved;
  TCategoryWindowController window{
      {{"books", "Books", "buybooks", "reviewbooks", ""}, {"music", "Music", "buymusic", "", ""}},
      catalogue,
      prompts,
      [this](const std::string& a) { opened.push_back(a); },
      [this](TEngineStorageItem& e) { saved.push_back(e.EngName + (e.Enabled ? "+" : "-")); }};
};

// With three enabled stores, two can be switched off, each saved at once; the third is refused.
TEST_F(CategoryWindowTest, TheLastEnabledEngineCannotBeSwitchedOff) {
  EXPECT_EQ(window.EngineLabel(), "&Store:");
  ASSERT_EQ(window.EngineCount(), 3u);
  EXPECT_TRUE(window.Toggle({0}));
  EXPECT_TRUE(window.Toggle({2}));
  EXPECT_EQ(saved, (std::vector<std::string>{"pageturner-", "inkwell-"}));
  EXPECT_TRUE(prompts.Asked.empty());

  EXPECT_FALSE(window.Toggle({1}));
  EXPECT_TRUE(window.Engine(1)->Enabled);
  ASSERT_EQ(prompts.Asked.size(), 1u);
  EXPECT_EQ(prompts.Asked[0].Text,
            "To perform your search, at least one store must be active in the selected category.");
  EXPECT_EQ(saved.size(), 2u);

  // Space on several rows: the row that switches one on comes first, so the last one may go off.
  EXPECT_TRUE(window.Toggle({0, 1}));
  EXPECT_TRUE(window.Engine(0)->Enabled);
  EXPECT_FALSE(window.Engine(1)->Enabled);
  // In the other order the second row is refused and the run stops there.
  EXPECT_FALSE(window.Toggle({0, 2}));
  EXPECT_TRUE(window.Engine(0)->Enabled);
  EXPECT_FALSE(window.Engine(2)->Enabled);

  window.SwitchTab();
  EXPECT_EQ(window.EngineLabel(), "Review &site:");
  ASSERT_EQ(window.EngineCount(), 1u);
  EXPECT_FALSE(window.Toggle({0}));
  EXPECT_EQ(prompts.Asked.back().Text,
            "To perform your search, at least one review site must be active in the selected category.");
}

TEST_F(CategoryWindowTest, CheckAllAndUncheckAllIgnoreTheMinimum) {
  window.SetAll(false);
  EXPECT_EQ(window.EnabledCount(), 0u);
  EXPECT_EQ(saved.size(), 3u);
  window.SetAll(true);
  EXPECT_EQ(window.EnabledCount(), 3u);
  window.SetAll(true);  // nothing changes, nothing is written
  EXPECT_EQ(saved.size(), 6u);
  EXPECT_TRUE(prompts.Asked.empty());
}

TEST_F(CategoryWindowTest, HomePageOfOneRowAndCategoriesByName) {
  EXPECT_FALSE(window.CanOpenHomePage({0, 1}));
  window.OpenHomePage({0, 1});
  window.OpenHomePage({1});
  EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:9/bookbarn"});

  ASSERT_TRUE(window.SelectCategory(std::string("BuyMusic")));
  EXPECT_EQ(window.CategoryIndex(), 1);
  EXPECT_EQ(window.EngineCount(), 1u);
  window.SetReviews(true);  // music has no review category
  EXPECT_EQ(window.Engines(), nullptr);
  EXPECT_TRUE(window.Toggle({0}));  // no row, nothing to do
  EXPECT_FALSE(window.SelectCategory(std::string("games")));
  window.SelectCategory(7);
  EXPECT_EQ(window.EngineCount(), 0u);
}

}  // namespace
}  // namespace vandrel
