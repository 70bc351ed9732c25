#include "presentation/CategoryWindowController.h"

#include <gtest/gtest.h>

#include <map>

#include "presentation/FakeDesktopPorts.h"

namespace vandrel {
namespace {

// Two categories, each with its stores and review sites in memory.
class TTwoCategoryCatalogue : public ISearchCatalogue {
 public:
  TTwoCategoryCatalogue() {
    Fill("buybooks", {"pageturner", "bookbarn", "inkwell"});
    Fill("reviewbooks", {"critic"});
    Fill("buymusic", {"vinylvault"});
  }
  void Fill(const std::string& category, std::vector<std::string> names) {
    TEngineStorageList& list = Lists[category];
    list.BeginTransaction(lsAdding);
    for (const std::string& name : names) {
      TEngineStorageItem* engine = list.NewEngine();
      engine->EngName = name;
      engine->DisplayName = name + " site";
      engine->HomePage = "http://127.0.0.1/" + name;
    }
    list.EndTransaction();
  }
  std::string SearchTypeFile(const std::string&) const override { return {}; }
  std::string EngineFile(const std::string&, const std::string&) const override { return {}; }
  TVariableList* Constants() override { return nullptr; }
  TSearchTypeStorageItem* FindSearchType(const std::string&) override { return nullptr; }
  TCategoryStorageItem* FindCategory(const std::string&) override { return nullptr; }
  TEngineStorageList* CategoryEngines(const std::string& catName) override {
    auto it = Lists.find(catName);
    return it == Lists.end() || it->second.Count() == 0 ? nullptr : &it->second;
  }
  void SaveCategory(TCategoryStorageItem&) override {}
  std::map<std::string, TEngineStorageList> Lists;
};

class CategoryWindowTest : public ::testing::Test {
 protected:
  CategoryWindowTest()
      : window(
            {{"books", "Books", "buybooks", "reviewbooks", ""}, {"music", "Music", "buymusic", "", ""}},
            catalogue, prompts, [this](const std::string& a) { opened.push_back(a); },
            [this](TEngineStorageItem& e) { saved.push_back(e.EngName + (e.Enabled ? "+" : "-")); }) {}

  TTwoCategoryCatalogue catalogue;
  test::TScriptedPrompts prompts;
  std::vector<std::string> opened, saved;
  TCategoryWindowController window;
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
  EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1/bookbarn"});

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
