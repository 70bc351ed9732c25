// Find in results: which fields are searched, letter case, the grouped walk, wrapping, the find window,
// and a deleted or reloaded current result.
#include <gtest/gtest.h>

#include "presentation/FindContext.h"
#include "presentation/PresentationTestSupport.h"

namespace vandrel {
namespace {

using presentationtest::PresentationTest;

class FindContextTest : public PresentationTest {
 protected:
  void SetUp() override {
    PresentationTest::SetUp();
    DefineFields(Type.OutputFieldDefinitions);
    Type.OutputFieldDefinitions.FindOutput("ADDRESS")->Layout.Flags = lfHidden;
    Type.OutputFieldDefinitions.FindOutput("SUMMARY")->Layout.Flags = lfSummary;
    View = Results.GetResultView("ResultViewFrame");
    Find.Bind(View);
    Find.SetSearchType(&Type);
    Find.OnFound = [this](TFindContext&, TStorageDataItem* item) { Log.push_back(Title(item)); };
    Find.OnFinished = [this](TFindContext&, const std::string& text) { Log.push_back("finished " + text); };
  }
  std::vector<std::string> Walk(const std::string& text, size_t steps) {
    Log.clear();
    Find.Start(text);
    for (size_t i = 1; i < steps; ++i) Find.FindNext();
    return Log;
  }
  TSearchTypeStorageItem Type;
  TResultStorageListView* View = nullptr;
  TFindContext Find;
  std::vector<std::string> Log;
};

TEST_F(FindContextTest, MatchCaseDecidesWhetherLetterCaseCounts) {
  Add({.Title = "SONY Walkman"});
  Add({.Title = "Radio"});
  EXPECT_EQ(Walk("sony", 2), (std::vector<std::string>{"SONY Walkman", "finished sony"}));
  Find.MatchCase = true;
  Log.clear();
  EXPECT_EQ(Find.Start("sony"), nullptr);
  EXPECT_EQ(Log, (std::vector<std::string>{"finished sony"}));
  EXPECT_NE(Find.Start("SONY"), nullptr);
}

TEST_F(FindContextTest, HiddenFieldsAreNotSearchedButTheSummaryIs) {
  Add({.Title = "one", .Address = "http://shop/needle"});
  Add({.Title = "two", .Summary = "a needle in the summary"});
  EXPECT_EQ(Walk("needle", 2), (std::vector<std::string>{"two", "finished needle"}));
  // Once the layout hides the title too, the title is no longer searched.
  Type.OutputFieldLayout.Clear();
  auto* title = static_cast<TStorageFieldDefinitionLayoutItem*>(Type.OutputFieldLayout.Add());
  title->Name = "TITLE";
  title->Layout.Flags = lfHidden;
  EXPECT_EQ(Walk("one", 1), (std::vector<std::string>{"finished one"}));
}

TEST_F(FindContextTest, AGroupedViewIsWalkedGroupByGroupAndWrapsAfterTheLastHit) {
  Add({.Title = "A hit 1", .Checked = true});
  Add({.Title = "B hit", .Checked = false});
  Add({.Title = "A hit 2", .Checked = true});
  View->SetGroupDefinition(std::make_unique<TCheckGroupDefinition>());
  View->SetGrouped(true);
  ASSERT_EQ(View->GroupCount(), 2u);
  EXPECT_EQ(Walk("hit", 5),
            (std::vector<std::string>{"A hit 1", "A hit 2", "B hit", "finished hit", "A hit 1"}));

  Find.OnePerGroup = true;
  EXPECT_EQ(Walk("hit", 3), (std::vector<std::string>{"A hit 1", "B hit", "finished hit"}));
}

TEST_F(FindContextTest, ADeletedOrReloadedCurrentResultIsForgotten) {
  Add({.Title = "x 1"});
  TResultStorageItem* second = Add({.Title = "x 2"});
  Add({.Title = "x 3"});
  Find.Start("x");
  Find.FindNext();
  ASSERT_EQ(Find.Current(), second);
  Results.BeginTransaction(lsRewriting);
  second->Delete();
  Results.EndTransaction();
  EXPECT_EQ(Find.Current(), nullptr);
  Log.clear();
  Find.FindNext();
  EXPECT_EQ(Log, (std::vector<std::string>{"x 1"})) << "starts again from the top";

  Results.ClearItems();
  Add({.Title = "x 4"});
  EXPECT_EQ(Find.Current(), nullptr);
  Log.clear();
  Find.FindNext();
  EXPECT_EQ(Log, (std::vector<std::string>{"x 4"}));
}

TEST_F(FindContextTest, TheFindWindowRemembersItsTextAndContinuesUnlessToldToStartOver) {
  Add({.Title = "lamp 1"});
  Add({.Title = "lamp 2"});
  TFindDialogModel::LastText().clear();
  TFindDialogModel first(Find);
  EXPECT_FALSE(first.FindNextEnabled());
  EXPECT_EQ(first.CancelCaption(), "Cancel");
  first.Text = "lamp";
  EXPECT_EQ(Title(first.FindNext()), "lamp 1");
  EXPECT_EQ(first.CancelCaption(), "&Close");
  EXPECT_FALSE(first.StartFromTop);
  EXPECT_EQ(Title(first.FindNext()), "lamp 2");

  TFindDialogModel second(Find);
  EXPECT_EQ(second.Text, "lamp");
  EXPECT_TRUE(second.StartFromTop);
  EXPECT_EQ(Title(second.FindNext()), "lamp 1") << "starting from the top";
  second.MatchCase = true;
  EXPECT_EQ(Title(second.FindNext()), "lamp 2");
  EXPECT_TRUE(Find.MatchCase);
  Find.Bind(nullptr);
  EXPECT_FALSE(Find.CanFindNext());
  EXPECT_FALSE(Find.MatchCase);
}

}  // namespace
}  // namespace vandrel
