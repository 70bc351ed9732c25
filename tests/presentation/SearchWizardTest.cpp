// The search wizard over the bundled definitions: pages and Back/Next, the ways it opens, which history a
// search lands in, running unseen, and a busy runner.
#include "presentation/SearchWizard.h"

#include <gtest/gtest.h>

#include "TempFolder.h"
#include "actions/AppErrors.h"
#include "data/DemoSite.h"
#include "kernel/HeadlessKernel.h"
#include "presentation/FakeDesktopPorts.h"
#include "presentation/SearchFrameTestSupport.h"
#include "search/CategoryList.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchHistory.h"
#include "storage/SearchStorage.h"

namespace vandrel {
namespace {

class TFakeStarter : public ISearchStarter {
 public:
  bool Busy() const override { return IsBusy; }
  bool StartSearch(TSearchStorageItem* search, bool isReviews, bool isNew) override {
    Started.push_back({search, isReviews, isNew});
    return true;
  }
  struct TCall {
    TSearchStorageItem* Search;
    bool Reviews, New;
  };
  bool IsBusy = false;
  std::vector<TCall> Started;
};

class SearchWizardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Root = new test::TempFolder;
    Kernel = new THeadlessKernel;
    TAppKernel::THooks hooks;
    hooks.UserName = "tester";
    hooks.DataFolder = test::CompiledDataDir();
    hooks.RefreshCatalogue = true;
    TStartOptions options;
    options.RootFolder = Root->Path();
    ASSERT_TRUE(Kernel->Open(options, std::move(hooks)));
    Categories = new TCategoryList(Kernel->Repository().Categories(), Kernel->Repository().DataFolder());
    ASSERT_TRUE(Categories->Load());
  }
  static void TearDownTestSuite() {
    delete Categories;
    delete Kernel;
    delete Root;
  }
  void SetUp() override {
    previous_ =
        SetErrorPresenter({[this](TMessageStyle, const std::string& t) { Shown.push_back(t); }, [] {}});
  }
  void TearDown() override { SetErrorPresenter(std::move(previous_)); }

  TSearchWizard Wizard(TSearchWizardOptions options) {
    return TSearchWizard({Categories, &Kernel->Catalogue(), &Kernel->History(false), &Kernel->History(true),
                          &Starter, &Prompts, &Settings, Kernel->Repository().DataFolder()},
                         std::move(options));
  }
  size_t Stored(bool reviews) { return Kernel->History(reviews).Item()->GetSearches().Count(); }

  static test::TempFolder* Root;
  static THeadlessKernel* Kernel;
  static TCategoryList* Categories;
  TFakeStarter Starter;
  test::TScriptedPrompts Prompts;
  test::TMemorySearchSettings Settings;
  std::vector<std::string> Shown;
  TErrorPresenter previous_;
};
test::TempFolder* SearchWizardTest::Root = nullptr;
THeadlessKernel* SearchWizardTest::Kernel = nullptr;
TCategoryList* SearchWizardTest::Categories = nullptr;

TEST_F(SearchWizardTest, PagesTextsAndBackNext) {
  TSearchWizard wizard = Wizard({});
  EXPECT_EQ(wizard.Page(), TWizardPage::wpCategory);
  EXPECT_EQ(wizard.SelectedCategory(), 0) << "the first category when none is named";
  EXPECT_EQ(wizard.PageText(), kWizardCategoryText);
  EXPECT_EQ(wizard.HeaderImageFile(), "");
  EXPECT_EQ(wizard.NextCaption(), "&Next >");
  EXPECT_FALSE(wizard.BackEnabled());
  wizard.SelectCategory(-1);
  EXPECT_FALSE(wizard.NextEnabled());
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(wizard.Page(), TWizardPage::wpCategory);

  wizard.SelectCategory(static_cast<int>(Categories->Count()) - 1);
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(wizard.Page(), TWizardPage::wpChoice);
  EXPECT_EQ(wizard.PageText(), kWizardChoiceText);
  EXPECT_EQ(wizard.HeaderImageFile(),
            Kernel->Repository().DataFolder() + Categories->Items(Categories->Count() - 1).BaseName + ".bmp");
  wizard.SetReviews(true);
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(wizard.Page(), TWizardPage::wpForm);
  EXPECT_EQ(wizard.PageText(), "I want to find reviews for:");
  EXPECT_EQ(wizard.NextCaption(), "&Search");
  ASSERT_NE(wizard.Frame(), nullptr);
  EXPECT_EQ(wizard.Frame()->Kind(), TSearchFrameKind::sfkReview);

  wizard.Back();
  EXPECT_EQ(wizard.Page(), TWizardPage::wpChoice) << "back from the form goes to the choice";
  wizard.SetReviews(false);
  wizard.Back();
  EXPECT_EQ(wizard.Page(), TWizardPage::wpCategory);

  TSearchWizard skipping = Wizard({.CategoryName = "books", .SkipChoice = true});
  ASSERT_NE(skipping.Category(), nullptr);
  EXPECT_EQ(skipping.Category()->BaseName, "books");
  skipping.Next();
  EXPECT_EQ(skipping.Page(), TWizardPage::wpForm);
  EXPECT_EQ(skipping.PageText(), "I want to find the best price for:");
  EXPECT_EQ(skipping.Frame()->Kind(), TSearchFrameKind::sfkBooks);
  skipping.Back();
  EXPECT_EQ(skipping.Page(), TWizardPage::wpCategory) << "with skip choice, back skips the choice too";
}

TEST_F(SearchWizardTest, OpeningPastTheCategoriesAndTheFormsInitialText) {
  TSearchWizard choice = Wizard({.CategoryName = "buymusic", .StartPastCategories = true});
  EXPECT_EQ(choice.Page(), TWizardPage::wpChoice);
  TSearchWizard form = Wizard({.CategoryName = "reviewbooks",
                               .Reviews = true,
                               .InitialText = "0-306-40615-2",
                               .SkipChoice = true,
                               .StartPastCategories = true});
  EXPECT_EQ(form.Page(), TWizardPage::wpForm);
  EXPECT_TRUE(form.Reviews());
  ASSERT_NE(form.Frame(), nullptr);
  EXPECT_EQ(form.Frame()->Kind(), TSearchFrameKind::sfkReview);
  EXPECT_EQ(form.Frame()->Fields[0].Value, "0-306-40615-2");
}

TEST_F(SearchWizardTest, SearchSavesIntoTheChosenHistoryAndModifyingKeepsTheSearch) {
  const size_t prices = Stored(false), reviews = Stored(true);
  TSearchWizard wizard = Wizard({.CategoryName = "electronics", .InitialText = "volta", .SkipChoice = true});
  wizard.SetReviews(true);
  wizard.Next();
  EXPECT_EQ(wizard.Frame()->Fields[0].Value, "volta");
  ASSERT_TRUE(wizard.Next());
  ASSERT_NE(wizard.ResultSearch(), nullptr);
  EXPECT_TRUE(wizard.ResultIsNew());
  EXPECT_TRUE(wizard.ResultReviews());
  EXPECT_EQ(wizard.ResultSearch()->CatName, "reviewelectronics");
  EXPECT_EQ(Stored(true), reviews + 1);
  EXPECT_EQ(Stored(false), prices);
  TSearchStorageItem* saved = wizard.ResultSearch();
  EXPECT_EQ(saved->FindField("KEYWORDS")->Value().AsString(), "volta");

  // Modify: the same search is changed; Back is not offered.
  TSearchWizard modify = Wizard({.CategoryName = "electronics",
                                 .Reviews = true,
                                 .Search = saved,
                                 .SkipChoice = true,
                                 .StartPastCategories = true});
  EXPECT_FALSE(modify.BackEnabled());
  EXPECT_EQ(modify.Frame()->Fields[0].Value, "volta");
  modify.Frame()->Fields[0].Value = "volta headphones";
  ASSERT_TRUE(modify.Next());
  EXPECT_EQ(modify.ResultSearch(), saved);
  EXPECT_FALSE(modify.ResultIsNew());
  EXPECT_EQ(saved->FindField("KEYWORDS")->Value().AsString(), "volta headphones");
  EXPECT_EQ(Stored(true), reviews + 1);

  // Duplicate: a new search with the old one's values.
  TSearchWizard duplicate = Wizard({.CategoryName = "electronics",
                                    .Reviews = true,
                                    .Duplicate = true,
                                    .Search = saved,
                                    .SkipChoice = true,
                                    .StartPastCategories = true});
  EXPECT_TRUE(duplicate.BackEnabled());
  ASSERT_TRUE(duplicate.Next());
  EXPECT_NE(duplicate.ResultSearch(), saved);
  EXPECT_TRUE(duplicate.ResultIsNew());
  EXPECT_EQ(Stored(true), reviews + 2);

  // Prices of the same words go to the prices history.
  TSearchWizard prices2 = Wizard(
      {.CategoryName = "electronics", .Search = saved, .SkipChoice = true, .StartPastCategories = true});
  ASSERT_EQ(prices2.Frame()->Kind(), TSearchFrameKind::sfkKeywords);
  EXPECT_EQ(prices2.Frame()->Fields[0].Value, "") << "a search of another category is not loaded";
  prices2.Frame()->Fields[0].Value = "volta";
  ASSERT_TRUE(prices2.Next());
  EXPECT_EQ(prices2.ResultSearch()->CatName, "buyelectronics");
  EXPECT_EQ(Stored(false), prices + 1);
  EXPECT_TRUE(Shown.empty());
}

TEST_F(SearchWizardTest, ABusyRunnerKeepsTheWizardOpenAndStoresNothing) {
  const size_t prices = Stored(false);
  TSearchWizard wizard = Wizard({.CategoryName = "electronics",
                                 .InitialText = "volta",
                                 .SkipChoice = true,
                                 .StartPastCategories = true});
  Starter.IsBusy = true;
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(wizard.Page(), TWizardPage::wpForm);
  EXPECT_EQ(Shown, std::vector<std::string>{AppErrorText(aeBusy)});
  EXPECT_EQ(Stored(false), prices);
  Starter.IsBusy = false;
  EXPECT_TRUE(wizard.Next());
  EXPECT_EQ(Stored(false), prices + 1);

  // The whole run: a busy runner refuses before anything is shown.
  Starter.IsBusy = true;
  bool shown = false;
  EXPECT_FALSE(RunSearchWizard(wizard, Starter, Prompts, [&] { return shown = true; }));
  EXPECT_FALSE(shown);
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Text, kAlreadySearching);
}

TEST_F(SearchWizardTest, RunsUnseenOnlyWhenOpenedSoWithValidInput) {
  TSearchWizardOptions unseen{.CategoryName = "electronics",
                              .InitialText = "volta",
                              .SkipChoice = true,
                              .StartPastCategories = true,
                              .MayRunUnseen = true};
  TSearchWizard wizard = Wizard(unseen);
  bool shown = false;
  ASSERT_TRUE(RunSearchWizard(wizard, Starter, Prompts, [&] { return shown = true; }));
  EXPECT_FALSE(shown);
  ASSERT_EQ(Starter.Started.size(), 1u);
  EXPECT_EQ(Starter.Started[0].Search, wizard.ResultSearch());
  EXPECT_FALSE(Starter.Started[0].Reviews);
  EXPECT_TRUE(Starter.Started[0].New);

  // Without input it is shown; closed without OK nothing starts.
  unseen.InitialText.clear();
  TSearchWizard empty = Wizard(unseen);
  EXPECT_FALSE(RunSearchWizard(empty, Starter, Prompts, [&] { return shown = true, false; }));
  EXPECT_TRUE(shown);
  EXPECT_EQ(Starter.Started.size(), 1u);
  EXPECT_TRUE(Prompts.Asked.empty()) << "running unseen does not tell about an empty form";

  // Not all three flags: shown even with valid input.
  unseen.InitialText = "volta";
  unseen.SkipChoice = false;
  TSearchWizard partial = Wizard(unseen);
  EXPECT_FALSE(partial.RunUnseen());
}

}  // namespace
}  // namespace vandrel
