#include "search/CategoryList.h"

#include <gtest/gtest.h>

#include "DataFolderUtil.h"
#include "actions/AppErrors.h"

namespace vandrel {
namespace {

class CategoryListTest : public ::testing::Test, public ICategoryListObserver {
 protected:
  void SetUp() override {
    Previous =
        SetErrorPresenter({[this](TMessageStyle, const std::string& text) { Messages.push_back(text); },
                           [this] { ++Terminations; }});
  }
  void TearDown() override { SetErrorPresenter(Previous); }
  void CategoriesChanged(TCategoryList&) override { ++Changes; }

  TCategoryStorageItem* Add(const std::string& name, int priority, const std::string& displayName) {
    Categories.BeginTransaction(lsAdding);
    TCategoryStorageItem* item = Categories.NewCategory();
    item->CatName = name;
    item->Priority = priority;
    item->DisplayName = displayName;
    Categories.EndTransaction();
    return item;
  }
  void Icons(const std::string& base) {
    for (const char* suffix : TCategoryList::kIconSuffixes) Data.WriteText(base + suffix, "BM");
  }

  TErrorPresenter Previous;
  std::vector<std::string> Messages;
  int Terminations = 0;
  int Changes = 0;
  testing::TDataFolder Data;
  TCategoryStorageList Categories;
};

TEST_F(CategoryListTest, PairsBuyAndReviewCategoriesInPriorityOrder) {
  Add("buybooks", 2, "Books");
  Add("reviewbooks", 2, "Book reviews");
  Add("BuyMusic", 1, "Music");
  Add("reviewmusic", 1, "Music reviews");
  Add("buyzebras", 2, "Zebras");
  Add("reviewzebras", 2, "Zebra reviews");
  Add("weather", 0, "Not a shop category");
  for (const char* base : {"books", "music", "zebras"}) Icons(base);

  TCategoryList list(Categories, Data.Path());
  list.AddObserver(this);
  ASSERT_TRUE(list.Load());
  EXPECT_TRUE(Messages.empty());
  EXPECT_EQ(Changes, 1);
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Items(0).BaseName, "music");
  // Equal priorities go by display name with letter case counting: "Books" < "Zebras".
  EXPECT_EQ(list.Items(1).BaseName, "books");
  EXPECT_EQ(list.Items(2).BaseName, "zebras");
  EXPECT_EQ(list.Items(2).Position, 2);
  EXPECT_EQ(list.Items(1).DisplayName(), "Books");

  TCategoryItem* books = list.Find("Books");
  ASSERT_NE(books, nullptr);
  EXPECT_EQ(books->PriceCategory->CatName, "buybooks");
  EXPECT_EQ(books->ReviewCategory->CatName, "reviewbooks");
  EXPECT_EQ(list.Find("buybooks"), books);
  EXPECT_EQ(list.Find("ReviewBooks"), books);
  EXPECT_EQ(list.Find("weather"), nullptr);
  EXPECT_TRUE(list.IsReviewCategory("reviewbooks"));
  EXPECT_FALSE(list.IsReviewCategory("buybooks"));
  EXPECT_FALSE(list.IsReviewCategory("nothing"));
  list.RemoveObserver(this);
}

TEST_F(CategoryListTest, AnIncompletePairOrMissingIconIsFatal) {
  struct Case {
    std::vector<std::string> Names;
    bool WithIcons;
    std::string Message;
  } cases[] = {
      {{"reviewbooks"}, true, "Price engines for category \"books\" not found."},
      {{"buybooks"}, true, "Review engines for category \"books\" not found."},
      {{"buybooks", "reviewbooks"}, false, "An error occured when trying to open "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    testing::TDataFolder data;
    if (c.WithIcons)
      for (const char* suffix : TCategoryList::kIconSuffixes)
        data.WriteText(std::string("books") + suffix, "BM");
    TCategoryStorageList categories;
    categories.BeginTransaction(lsAdding);
    for (const std::string& name : c.Names) categories.NewCategory()->CatName = name;
    categories.EndTransaction();
    Messages.clear();
    Terminations = 0;
    TCategoryList list(categories, data.Path());
    EXPECT_FALSE(list.Load());
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].substr(0, c.Message.size()), c.Message);
    EXPECT_EQ(Terminations, 1);
  }
  EXPECT_NE(Messages[0].find("books16ImageIcon.bmp"), std::string::npos);
}

TEST_F(CategoryListTest, FollowsTheStoredCategories) {
  Add("buybooks", 1, "Books");
  TCategoryStorageItem* review = Add("reviewbooks", 1, "Book reviews");
  Icons("books");
  TCategoryList list(Categories, Data.Path());
  ASSERT_TRUE(list.Load());
  list.AddObserver(this);

  // A stored category deleted in memory is no longer referenced.
  Categories.BeginTransaction(lsRewriting);
  review->Delete();
  EXPECT_EQ(list.Find("books")->ReviewCategory, nullptr);
  Categories.EndTransaction();  // the commit reloads: books has lost its review half
  EXPECT_EQ(Terminations, 1);

  // Reloading the stored list rebuilds the category list (memory only: it comes back empty).
  Messages.clear();
  ASSERT_TRUE(Categories.Load());
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_TRUE(Messages.empty());
  EXPECT_GE(Changes, 1);
  list.RemoveObserver(this);
}

}  // namespace
}  // namespace vandrel
