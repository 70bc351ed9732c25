// The result page controller over a real history and runner: selector, layouts, columns, check marks,
// opening, the address list, deleting with its questions, and references that must not outlive results.
#include <gtest/gtest.h>

#include "currency/CurrencyConverters.h"
#include "presentation/FakeDesktopPorts.h"
#include "presentation/ResultFrameController.h"
#include "searchaction/SearchTestWorld.h"
#include "storage/CategoryStorage.h"

namespace vandrel {
namespace {

using searchtest::TSearchWorld;

class TRecordingList : public IResultListWidget {
 public:
  void SetRowCount(size_t rows) override { Rows = rows; }
  void RedrawAll() override {}
  void RedrawRow(size_t) override {}
  void ScrollIntoView(size_t row) override { Scrolled = static_cast<int>(row); }
  void SetBusy(bool busy) override { BusyShown |= busy; }
  size_t Rows = 0;
  int Scrolled = -1;
  bool BusyShown = false;
};

class ResultFrameControllerTest : public ::testing::Test {
 protected:
  explicit ResultFrameControllerTest(bool storeResults = true) : World(storeResults) {}

  void SetUp() override {
    World.Catalogue.FindCategory("buybooks")->DisplayName = "Books";
    RegisterPresentationClasses();
  }
  void TearDown() override {
    if (Frame) Frame->Detach();
  }

  void Open(TResultFrameKind kind = TResultFrameKind::rfkPrices) {
    Frame = std::make_unique<TResultFrameController>(
        kind, *World.Compare, TResultFrameController::TPorts{List, Prompts, Clock, Settings},
        &World.Catalogue, World.Runner.get());
    Frame->Navigate = [this](const std::string& url) { Navigated.push_back(url); };
    Frame->OpenExternally = [this](const std::string& url) { External.push_back(url); };
    Frame->OpenSearchWizard = [this](const TSearchWizardRequest& r) { Requests.push_back(r); };
    Frame->Attach();
  }

  // A search with results at /item/<id> for each id, priced by position.
  TSearchStorageItem* SearchWith(const std::string& keywords, const std::vector<std::string>& ids) {
    TSearchStorageItem* search = World.NewSearch(keywords, {"alpha"});
    TResultStorageList& results = World.Results(search);
    results.BeginTransaction(lsAdding);
    float price = 10;
    for (const std::string& id : ids) {
      TResultStorageItem* r = results.NewResult();
      r->ResultFields()->AddResultField("title", TDynamicValue("Book " + id), "Book " + id);
      TCurrencyMap map;
      map.FromAmount = {"USD", price};
      price += 10;
      r->ResultFields()->AddResultField("price", TDynamicValue(map.Serialize()));
      r->ResultFields()->AddResultField("url", TDynamicValue("http://shop.test/item/" + id));
      r->FoundBy.Lines = {"alpha"};
    }
    results.EndTransaction();
    return search;
  }

  void Show(TSearchStorageItem* search) {
    World.Compare->SetCurrentSearch(search);
    Clock.Advance(0);
  }

  std::vector<size_t> ResultRows() const {
    std::vector<size_t> rows;
    for (size_t i = 0; i < Frame->View().RowCount(); ++i)
      if (Frame->ResultAt(i)) rows.push_back(i);
    return rows;
  }

  std::vector<std::string> ColumnNames() const {
    std::vector<std::string> names;
    for (const TResultColumn& c : Frame->View().Columns()) names.push_back(c.FieldName);
    return names;
  }

  TSearchWorld World;
  TRecordingList List;
  test::TScriptedPrompts Prompts;
  test::TManualScheduler Clock;
  TResultFrameSettings Settings;
  std::unique_ptr<TResultFrameController> Frame;
  std::vector<std::string> Navigated, External;
  std::vector<TSearchWizardRequest> Requests;
};

TEST_F(ResultFrameControllerTest, SelectorListsSearchesAndSaysNoSearchWithoutACurrentOne) {
  Open();
  EXPECT_EQ(Frame->SelectorText(), "No search");
  EXPECT_EQ(Frame->SelectorIndex(), -1);
  TSearchStorageItem* one = SearchWith("one", {"1"});
  SearchWith("two", {"2"});
  World.Compare->NotifySearchAdded(one);
  Show(one);
  const std::vector<std::string> items = Frame->SelectorItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(Frame->SelectorText(), "one  (Books)");
  EXPECT_EQ(items[static_cast<size_t>(Frame->SelectorIndex())], "one  (Books)");
  const size_t other = Frame->SelectorIndex() == 0 ? 1 : 0;
  Frame->ChooseSearch(other);
  EXPECT_EQ(World.Compare->CurrentSearch()->DisplayValue, "two");
  EXPECT_EQ(Frame->SelectorText(), "two  (Books)");
  EXPECT_EQ(List.Rows, 1u);
}

TEST_F(ResultFrameControllerTest, EveryLayoutGetsThePageColumnsWithTheStoreLastAndTheyAreStored) {
  Open();
  Show(SearchWith("cols", {"1", "2"}));
  const std::vector<std::string> names = ColumnNames();
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 3),
            (std::vector<std::string>{"ReviewBtn", "CompareBtn", "CHECK"}));
  EXPECT_EQ(names.back(), "Engine");
  EXPECT_EQ(Frame->View().Columns().back().Caption, "Store");
  EXPECT_EQ(Frame->View().Columns()[2].Caption, "Check Marked State");
  TResultRow row = Frame->View().Row(0);
  EXPECT_EQ(Frame->CellText(row, names.size() - 1), "alpha");
  EXPECT_EQ(Frame->CellText(row, 3), "Book 1");

  // The reviews page names the engine column its own way; the stored layout already has the columns, so
  // none is added twice.
  Frame->Detach();
  Open(TResultFrameKind::rfkReviews);
  EXPECT_EQ(ColumnNames(), names);
  EXPECT_EQ(Frame->View().Columns().back().Caption, "Reviewed by");
}

TEST_F(ResultFrameControllerTest, SpaceTogglesEachCheckMarkAndTheMarksAreStored) {
  Open();
  TSearchStorageItem* search = SearchWith("checks", {"1", "2", "3"});
  Show(search);
  ASSERT_EQ(ResultRows().size(), 3u);
  Frame->SetSelection({0});
  Frame->ToggleChecks();
  ASSERT_TRUE(Frame->ResultAt(0)->Checked);
  Frame->SetSelection({0, 1, 2});
  Frame->ToggleChecks();
  int checked = 0;
  for (size_t row : ResultRows()) checked += Frame->ResultAt(row)->Checked ? 1 : 0;
  EXPECT_EQ(checked, 2);

  // What the back end holds agrees after a reload.
  World.Compare->ReloadResults();
  checked = 0;
  TResultStorageList& results = World.Results(search);
  for (size_t i = 0; i < results.Count(); ++i)
    checked += static_cast<TResultStorageItem*>(results.Item(i))->Checked;
  EXPECT_EQ(checked, 2);

  // A press on a check cell toggles that row alone.
  const size_t checkColumn = 2;
  const bool before = Frame->RowChecked(0);
  EXPECT_TRUE(Frame->ClickCell(0, checkColumn, false));
  EXPECT_NE(Frame->RowChecked(0), before);
}

TEST_F(ResultFrameControllerTest, OpeningSwitchesToTheSplitLayoutMarksVisitedAndNewWindowsDoNot) {
  Open();
  Show(SearchWith("open", {"1", "2"}));
  EXPECT_EQ(Frame->Mode(), TResultLayout::rlResults);
  EXPECT_FALSE(Frame->BrowserVisible());

  TResultStorageItem* second = Frame->ResultAt(1);
  Frame->OpenResult(second, true);
  EXPECT_EQ(Frame->Mode(), TResultLayout::rlResults);
  ASSERT_EQ(External.size(), 1u);
  EXPECT_EQ(External[0], "http://shop.test/item/2");

  Frame->SetSelection({0});
  Frame->OpenSelected(false);
  EXPECT_EQ(Frame->Mode(), TResultLayout::rlResultsAndBrowser);
  EXPECT_EQ(Settings.BrowserLayout, 0);
  ASSERT_EQ(Navigated.size(), 1u) << "switching layouts while opening does not open twice";
  EXPECT_EQ(Navigated[0], "http://shop.test/item/1");
  EXPECT_TRUE(Frame->ResultAt(0)->Visited);
  EXPECT_EQ(Frame->BrowserResult(), Frame->ResultAt(0));
  EXPECT_TRUE(Frame->SplitterVisible());
  EXPECT_EQ(Frame->ResultPartHeight(600), 200);
  Frame->SetSplitHeight(250);
  EXPECT_EQ(Frame->ResultPartHeight(600), 250);

  Frame->OpenResult(nullptr, false);
  EXPECT_EQ(Navigated.back(), "about:blank");
}

TEST_F(ResultFrameControllerTest, AddressListStepsAndOpensOnlyTheLastEntryHalfASecondAfterTheLastClick) {
  Open();
  Show(SearchWith("nav", {"1", "2", "3", "4"}));
  EXPECT_EQ(Frame->NavigationItems().size(), 4u);
  Frame->SetMode(TResultLayout::rlBrowser);
  EXPECT_TRUE(Frame->NavigationBarVisible());
  EXPECT_FALSE(Frame->ResultsVisible());
  ASSERT_EQ(Frame->NavigationIndex(), 0);
  EXPECT_EQ(Frame->NavigationItems()[0].substr(0, 3), "1. ");
  EXPECT_FALSE(Frame->BackEnabled());
  Navigated.clear();
  Frame->Forward();
  Frame->Forward();
  Frame->Forward();
  EXPECT_EQ(Frame->NavigationIndex(), 3);
  EXPECT_FALSE(Frame->ForwardEnabled());
  Clock.Advance(499);
  EXPECT_TRUE(Navigated.empty());
  Clock.Advance(1);
  ASSERT_EQ(Navigated.size(), 1u);
  const std::string last = Navigated[0];
  Frame->Back();
  Clock.Advance(500);
  ASSERT_EQ(Navigated.size(), 2u);
  EXPECT_NE(Navigated[1], last);

  // Back to the list: the entry's result is the selection there.
  Frame->SetMode(TResultLayout::rlResults);
  ASSERT_EQ(Frame->SelectedResults().size(), 1u);
  EXPECT_EQ(Frame->SelectedResults()[0], Frame->BrowserResult());
}

TEST_F(ResultFrameControllerTest, DeletingAsksUnderTheFlagAndCountsTheSelection) {
  Open();
  Show(SearchWith("del", {"1", "2", "3"}));
  Frame->SetSelection({0});
  Prompts.Queue(TPromptAnswer::paNo);
  Frame->DeleteSelection();
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Text, "Are you sure you want to delete this result?");
  EXPECT_TRUE(Prompts.Asked[0].OfferDontAskAgain);
  EXPECT_EQ(ResultRows().size(), 3u);

  Frame->SetSelection({0, 1});
  Prompts.Queue(TPromptAnswer::paYes, true);
  Frame->DeleteSelection();
  EXPECT_EQ(Prompts.Asked.back().Text, "Are you sure you want to delete these results?");
  EXPECT_EQ(ResultRows().size(), 1u);
  EXPECT_FALSE(Settings.PromptDelete);

  Frame->SetSelection({0});
  Frame->DeleteSelection();
  EXPECT_EQ(Prompts.Asked.size(), 2u) << "not asked again";
  EXPECT_EQ(ResultRows().size(), 0u);
}

TEST_F(ResultFrameControllerTest, DeletingTheCurrentSearchHandsOverToItsNeighbour) {
  Settings.PromptDelete = false;
  Open();
  TSearchStorageItem* a = SearchWith("a", {"1"});
  TSearchStorageItem* b = SearchWith("b", {"2"});
  TSearchStorageItem* c = SearchWith("c", {"3"});
  // Newest first: c, b, a.
  a->AccessDate = 1;
  b->AccessDate = 2;
  c->AccessDate = 3;
  World.Compare->NotifySearchAdded(c);
  Show(b);
  ASSERT_EQ(Frame->SelectorItems()[0], "c  (Books)");
  Frame->DeleteCurrentSearch();
  Clock.Advance(0);
  EXPECT_EQ(World.Compare->CurrentSearch(), a) << "the one after it";
  EXPECT_EQ(Frame->SelectorItems().size(), 2u);
  EXPECT_EQ(Frame->SelectorText(), "a  (Books)");
  Frame->DeleteCurrentSearch();
  EXPECT_EQ(World.Compare->CurrentSearch(), c) << "the last one: the one before it";
  Frame->DeleteCurrentSearch();
  EXPECT_EQ(World.Compare->CurrentSearch(), nullptr);
  EXPECT_EQ(Frame->SelectorText(), "No search");
  EXPECT_EQ(Frame->SelectorItems().size(), 0u);
  EXPECT_FALSE(Frame->CanDeleteSearch());
  EXPECT_FALSE(Frame->FilterButtonEnabled());
  EXPECT_EQ(List.Rows, 0u);
}

TEST_F(ResultFrameControllerTest, ADeletedOrReloadedResultIsNoLongerTheBrowsersFindsOrAddressListsCurrent) {
  Settings.PromptDelete = false;
  Open();
  Show(SearchWith("refs", {"1", "2", "3"}));
  Frame->SetSelection({0});
  Frame->OpenSelected(false);
  TResultStorageItem* shown = Frame->BrowserResult();
  ASSERT_NE(shown, nullptr);
  ASSERT_EQ(Frame->Find().Start("Book"), shown);

  Frame->SetSelection({static_cast<size_t>(Frame->View().View()->ItemRow(shown))});
  Frame->DeleteSelection();
  EXPECT_EQ(Frame->BrowserResult(), nullptr);
  EXPECT_EQ(Frame->Find().Current(), nullptr);
  Clock.Advance(0);
  EXPECT_EQ(Frame->NavigationIndex(), -1) << "its address is gone from the list";

  // A reload replaces every result object.
  Frame->OpenResult(Frame->ResultAt(0), false);
  ASSERT_NE(Frame->BrowserResult(), nullptr);
  ASSERT_NE(Frame->Find().FindNext(), nullptr);
  World.Compare->ReloadResults();
  EXPECT_EQ(Frame->BrowserResult(), nullptr);
  EXPECT_EQ(Frame->Find().Current(), nullptr);
  EXPECT_EQ(ResultRows().size(), 2u);
}

TEST_F(ResultFrameControllerTest, DeletingInTheBrowserLayoutTakesTheWholeAddressAndKeepsThePosition) {
  Settings.PromptDelete = false;
  Open();
  Show(SearchWith("nav-del", {"1", "2", "3"}));
  Frame->SetMode(TResultLayout::rlBrowser);
  Frame->ChooseNavigation(1);
  const std::string third = Frame->NavigationItems()[2].substr(3);
  Frame->DeleteSelection();
  Clock.Advance(0);
  ASSERT_EQ(Frame->NavigationItems().size(), 2u);
  EXPECT_EQ(Frame->NavigationIndex(), 1);
  EXPECT_EQ(Frame->NavigationItems()[1].substr(3), third);
  EXPECT_FALSE(Frame->CanDeleteSearch()) << "not from the browser layout";
}

TEST_F(ResultFrameControllerTest, FindingForAResultFillsTheFormOrAsksTheOtherKindByTitle) {
  Open();
  Show(SearchWith("find", {"1"}));
  TResultStorageItem* result = Frame->ResultAt(0);
  Frame->FindFor(result, false);
  ASSERT_EQ(Requests.size(), 1u);
  EXPECT_EQ(Requests[0].Kind, TWizardRequestKind::wrkFromResult);
  EXPECT_EQ(Requests[0].CatName, "buybooks");
  ASSERT_FALSE(Requests[0].Fields.empty());
  // No input field is named like a result field: the first takes the result's first field.
  EXPECT_EQ(Requests[0].Fields[0], (std::pair<std::string, std::string>{"Keywords", "Book 1"}));

  Frame->FindFor(result, true);
  ASSERT_EQ(Requests.size(), 2u);
  EXPECT_EQ(Requests[1].Kind, TWizardRequestKind::wrkCategory);
  EXPECT_TRUE(Requests[1].IsReviews);
  EXPECT_EQ(Requests[1].Query, "Book 1");

  EXPECT_TRUE(Frame->ClickCell(0, 0, false)) << "the review button";
  EXPECT_TRUE(Requests.back().IsReviews);
}

TEST_F(ResultFrameControllerTest, HeaderMenuSortsGroupsAndUngroups) {
  Open();
  Show(SearchWith("menu", {"1", "2", "3", "4"}));
  EXPECT_TRUE(Frame->HeaderMenu(0).empty()) << "none for a button column";
  size_t title = 0, price = 0;
  for (size_t i = 0; i < Frame->View().Columns().size(); ++i) {
    if (Frame->View().Columns()[i].FieldName == "title") title = i;
    if (Frame->View().Columns()[i].FieldName == "price") price = i;
  }
  std::vector<TFrameMenuEntry> menu = Frame->HeaderMenu(price);
  std::vector<std::string> captions;
  for (const auto& e : menu) captions.push_back(e.Caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"Sort Ascending", "Sort Descending", "-",
                                                "Group By This Field", "No Group", "-", "Remove This Column",
                                                "Columns...", "Best Fit", "Appearence..."}));
  EXPECT_TRUE(menu[4].Checked);
  EXPECT_FALSE(menu[6].Enabled);

  Frame->ChooseHeaderMenu(price, 1);
  EXPECT_EQ(Frame->CellText(Frame->View().Row(0), title), "Book 4");
  Frame->ChooseHeaderMenu(price, 0);
  EXPECT_EQ(Frame->CellText(Frame->View().Row(0), title), "Book 1");

  Frame->ChooseHeaderMenu(price, 3);
  ASSERT_TRUE(Frame->View().View()->Grouped());
  EXPECT_TRUE(Frame->HeaderMenu(price)[3].Checked);
  EXPECT_FALSE(Frame->HeaderMenu(price)[4].Checked);
  EXPECT_TRUE(Frame->View().Row(0).IsGroup);
  Frame->ChooseHeaderMenu(price, 4);
  EXPECT_FALSE(Frame->View().View()->Grouped());

  // The sort menu lists the named columns and the direction.
  std::vector<TFrameMenuEntry> sort = Frame->SortMenu();
  ASSERT_GE(sort.size(), 3u);
  EXPECT_EQ(sort.back().Caption, "Ascending");
  EXPECT_TRUE(sort.back().Checked);
  Frame->ChooseSortMenu(sort.size() - 1);
  EXPECT_EQ(Frame->CellText(Frame->View().Row(0), title), "Book 4");
}

TEST_F(ResultFrameControllerTest, OwnColumnsSortByCheckMarkAndStore) {
  Open();
  Show(SearchWith("own", {"1", "2", "3"}));
  Frame->SetSelection({1});
  Frame->ToggleChecks();
  TResultStorageItem* checked = Frame->ResultAt(1);
  Frame->View().ClickHeader(2);  // CHECK starts descending: checked first
  EXPECT_EQ(Frame->ResultAt(0), checked);
  Frame->View().ClickHeader(2);
  EXPECT_EQ(Frame->ResultAt(2), checked);
}

TEST_F(ResultFrameControllerTest, PropertiesListTheShownFieldsAndTheDetails) {
  Open();
  Show(SearchWith("props", {"7"}));
  TResultStorageItem* result = Frame->ResultAt(0);
  TResultProperties p = Frame->Properties(*result);
  EXPECT_EQ(p.Title, "Book 7");
  ASSERT_FALSE(p.General.empty());
  EXPECT_EQ(p.General[0].Label.back(), ':');
  EXPECT_EQ(p.DateVisited, "n/a");
  EXPECT_EQ(p.FoundBy, "alpha");
  EXPECT_EQ(p.Address, "http://shop.test/item/7");
  Frame->OpenResult(result, true);
  EXPECT_NE(Frame->Properties(*result).DateVisited, "n/a");
}

TEST_F(ResultFrameControllerTest, ASearchThatFindsNothingOrFailsLeavesSelectorCountAndButtonsTrue) {
  Open();
  World.Pages.Fail("alpha", 500);
  TSearchStorageItem* search = World.NewSearch("nothing", {"alpha"});
  World.Compare->NotifySearchAdded(search);
  Show(search);
  bool busySeen = false;
  Frame->OnEnablingChanged = [&] { busySeen |= !Frame->FilterButtonEnabled(); };
  size_t reported = 99;
  Frame->OnStatus = [&](size_t results, size_t) { reported = results; };
  ASSERT_TRUE(World.Run(search));
  Clock.Advance(0);
  EXPECT_TRUE(busySeen) << "the filter button is off while the runner works";
  EXPECT_EQ(reported, 0u);
  EXPECT_EQ(Frame->SelectorText(), "nothing  (Books)");
  EXPECT_TRUE(Frame->FilterButtonEnabled());
  EXPECT_TRUE(Frame->CanDeleteSearch());
  EXPECT_TRUE(Frame->RunnerIdle());
  EXPECT_EQ(Frame->NavigationItems(), (std::vector<std::string>{"No result"}));

  // The next run finds something: the count follows.
  World.Pages.Set("alpha", {{"a1", 5.0}, {"a2", 6.0}});
  ASSERT_TRUE(World.Run(search));
  Clock.Advance(0);
  EXPECT_EQ(reported, 2u);
  EXPECT_EQ(List.Rows, 2u);
  EXPECT_EQ(Frame->NavigationItems().size(), 2u);
}

}  // namespace
}  // namespace vandrel
