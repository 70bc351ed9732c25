// The search wizard driven through its widgets, page by page, up to pressing Search; the search then runs
// against the demo store site and the progress window follows its engines.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "gui/Screenshots.h"
#include "gui/SearchWorld.h"
#include "presentation/FakeDesktopPorts.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "storage/EngineStorage.h"
#include "storage/SearchStorage.h"
#include "ui/ProgressForm.h"
#include "ui/QtDesktopPorts.h"
#include "ui/ScrollingTicker.h"
#include "ui/SearchFrames.h"
#include "ui/SearchWizForm.h"

namespace vandrel {
namespace {

// Opens the progress window when the runner starts a search, as the main window does.
class TProgressOpener : public IQuorinApplicationObserver {
 public:
  TProgressOpener(TQuorinApplication& runner, TProgressForm& form) : runner_(runner), form_(form) {
    runner_.AddObserver(this);
  }
  ~TProgressOpener() override { runner_.RemoveObserver(this); }
  void ActionStarted(TQuorinAction& action) override {
    if (auto* search = dynamic_cast<TQuorinSearchAction*>(&action)) form_.AttachSearch(*search);
  }

 private:
  TQuorinApplication& runner_;
  TProgressForm& form_;
};

class SearchWizFormTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(World.Opened) << (World.Shown.empty() ? "" : World.Shown[0]); }

  TSearchWizard Wizard(TSearchWizardOptions options, ISearchStarter& starter) {
    return TSearchWizard(
        {World.Categories.get(), &World.Kernel.Catalogue(), &World.Kernel.History(false),
         &World.Kernel.History(true), &starter, &Prompts, &Settings, World.Kernel.Repository().DataFolder()},
        std::move(options));
  }
  static void Type(QLineEdit* edit, const QString& text) {
    edit->clear();
    edit->setFocus();
    QTest::keyClicks(edit, text);
  }

  test::TSearchWorld World;
  test::TScriptedPrompts Prompts;
  TConfigSearchSettings Settings{*World.Config};
};

TEST_F(SearchWizFormTest, EveryPageThroughItsWidgetsThenTheSearchAndItsProgress) {
  TKernelSearchStarter starter(World.Kernel.Kernel(), World.Kernel.Runner());
  TSearchWizard wizard = Wizard({.CategoryName = "electronics", .InitialText = "volta"}, starter);
  TSearchWizForm form(wizard);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

  // Category page.
  EXPECT_EQ(form.CategoryList()->count(), static_cast<int>(World.Categories->Count()));
  EXPECT_EQ(form.CategoryList()->currentItem()->text(), "Electronics");
  EXPECT_FALSE(form.BackButton()->isEnabled());
  EXPECT_EQ(form.NextButton()->text(), "&Next >");
  test::SaveScreenshot(form, "search-wizard-1-categories.png");
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);

  // Choice page.
  ASSERT_EQ(wizard.Page(), TWizardPage::wpChoice);
  EXPECT_TRUE(form.BackButton()->isEnabled());
  QTest::mouseClick(form.PricesButton(), Qt::LeftButton, {}, QPoint(6, form.PricesButton()->height() / 2));
  EXPECT_FALSE(wizard.Reviews());
  test::SaveScreenshot(form, "search-wizard-2-choice.png");
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);

  // Form page: the initial text is in the keywords field.
  ASSERT_EQ(wizard.Page(), TWizardPage::wpForm);
  ASSERT_NE(form.Frame(), nullptr);
  EXPECT_EQ(form.NextButton()->text(), "&Search");
  QLineEdit* keywords = form.Frame()->Field(0);
  EXPECT_EQ(keywords->text(), "volta");
  EXPECT_TRUE(World.Shown.empty()) << "the header picture of the category loads: " << World.Shown[0];
  test::SaveScreenshot(form, "search-wizard-3-form.png");

  // Refusals, each told, and the wizard stays.
  Type(keywords, "volta \"pro\" headphones");
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);
  Type(keywords, "volta and sony");
  Prompts.Queue(TPromptAnswer::paNo);
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);
  ASSERT_EQ(Prompts.Asked.size(), 2u);
  EXPECT_EQ(Prompts.Asked[0].Text, kMsgNoQuotes);
  EXPECT_EQ(Prompts.Asked[1].Text, kMsgBooleanOperators);
  EXPECT_TRUE(form.isVisible());

  // Thorough, then Search: the search is stored in the prices history and started.
  QTest::mouseClick(form.Frame()->ModeButton(TSearchMode::smThorough), Qt::LeftButton);
  Type(keywords, "volta");
  const size_t before = World.Kernel.History(false).Item()->GetSearches().Count();

  TQtScheduler scheduler;
  TProgressForm progress({&World.Kernel.Runner(), &World.Kernel.Kernel(), World.Config.get(), &scheduler,
                          &Prompts, World.Kernel.Repository().DataFolder(), [](const std::string&) {},
                          nullptr});
  TProgressOpener opener(World.Kernel.Runner(), progress);
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);
  ASSERT_EQ(form.result(), QDialog::Accepted);
  TSearchStorageItem* search = wizard.ResultSearch();
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(World.Kernel.History(false).Item()->GetSearches().Count(), before + 1);
  EXPECT_EQ(search->ResultsPerEngine, 30);
  EXPECT_EQ(World.Config->Preferences().ResultsPerEngineCompare(), 30);
  ASSERT_TRUE(starter.StartSearch(search, wizard.ResultReviews(), wizard.ResultIsNew()));

  // The progress window follows the engines; a picture while they work.
  QTRY_VERIFY_WITH_TIMEOUT(progress.isVisible(), 10000);
  const auto& rows = progress.Model().Rows();
  EXPECT_EQ(rows.size(), 6u) << "the electronics stores";
  QTRY_VERIFY_WITH_TIMEOUT(std::any_of(rows.begin(), rows.end(), [](auto& r) { return r.MatchCount > 0; }),
                           20000);
  test::SaveScreenshot(progress, "progress-window-searching.png");
  QTRY_VERIFY_WITH_TIMEOUT(World.RunnerIdle(), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(!progress.isVisible(), 5000);

  int failed = 0, found = 0;
  for (const TEngineProgressRow& row : rows) {
    if (row.Engine->EngName == "brokenbazaar") {
      EXPECT_TRUE(row.HasErrors);
      EXPECT_NE(row.ErrorText.find("500"), std::string::npos) << row.ErrorText;
      ++failed;
    } else {
      EXPECT_FALSE(row.HasErrors) << row.Caption << ": " << row.ErrorText;
      found += row.MatchCount > 0;
    }
    EXPECT_FALSE(row.Active);
    EXPECT_TRUE(row.Started);
  }
  EXPECT_EQ(failed, 1);
  EXPECT_GE(found, 3);
  EXPECT_EQ(progress.Model().Overall(), 100);
  EXPECT_EQ(progress.Model().Label(), kProgressCompleted);
  EXPECT_EQ(progress.Model().SummaryText(), "") << "one store failing among working ones is no summary";
  EXPECT_EQ(Prompts.Asked.size(), 2u);
  EXPECT_GT(search->MatchCount, 0);
  // The failing store's count is drawn in red.
  for (TEngineProgressControl* control : progress.RowControls()) {
    if (control->Row().Engine->EngName == "brokenbazaar") {
      EXPECT_TRUE(control->Row().HasErrors);
    }
  }
}

TEST_F(SearchWizFormTest, TheBooksFormChecksTheIsbnAndPastesTheInitialText) {
  TKernelSearchStarter starter(World.Kernel.Kernel(), World.Kernel.Runner());
  TSearchWizard wizard = Wizard({.CategoryName = "books",
                                 .InitialText = "harry potter",
                                 .SkipChoice = true,
                                 .StartPastCategories = true},
                                starter);
  TSearchWizForm form(wizard);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  TSearchFrameWidget* frame = form.Frame();
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(frame->PastePanel()->isVisible());
  test::SaveScreenshot(form, "search-wizard-3-books-form.png");
  ASSERT_GE(frame->PasteLinks().size(), 2u);
  emit frame->PasteLinks()[1]->linkActivated("#");  // "Author"
  EXPECT_EQ(frame->Field(1)->text(), "harry potter");
  EXPECT_EQ(frame->Field(1)->selectedText(), "harry potter");

  Type(frame->Field(2), "0-306-40615-3");
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Text, kMsgInvalidIsbn);
  EXPECT_TRUE(form.isVisible());
  Type(frame->Field(2), "0-306-40615-2");
  QTest::mouseClick(form.Frame()->ModeButton(TSearchMode::smSuperThorough), Qt::LeftButton);
  EXPECT_TRUE(frame->ModeButton(TSearchMode::smThorough)->isChecked()) << "super thorough is not offered";
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  ASSERT_NE(wizard.ResultSearch(), nullptr);
  EXPECT_EQ(wizard.ResultSearch()->FindField("ISBN")->Value().AsString(), "0306406152");
  EXPECT_EQ(wizard.ResultSearch()->FindField("AUTHOR")->Value().AsString(), "harry potter");
}

TEST_F(SearchWizFormTest, TheReviewFormOffersTheOperatorsAndTakesAQuotedPhrase) {
  TKernelSearchStarter starter(World.Kernel.Kernel(), World.Kernel.Runner());
  TSearchWizard wizard = Wizard({.CategoryName = "electronics",
                                 .Reviews = true,
                                 .InitialText = "\"noise cancelling\"",
                                 .SkipChoice = true,
                                 .StartPastCategories = true},
                                starter);
  TSearchWizForm form(wizard);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  TSearchFrameWidget* frame = form.Frame();
  ASSERT_NE(frame, nullptr);
  for (int op = koAllKeywords; op <= koExactPhrase; ++op) EXPECT_TRUE(frame->OperatorButton(op)->isEnabled());
  EXPECT_TRUE(frame->OperatorButton(koAllKeywords)->isChecked());
  test::SaveScreenshot(form, "search-wizard-3-review-form.png");
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);
  EXPECT_EQ(Prompts.Asked.size(), 1u) << "quotes need the exact-phrase choice";
  // A radio button takes clicks on its mark and text, not across the whole row.
  QRadioButton* exact = frame->OperatorButton(koExactPhrase);
  QTest::mouseClick(exact, Qt::LeftButton, {}, QPoint(6, exact->height() / 2));
  EXPECT_EQ(wizard.Frame()->Operator(), koExactPhrase);
  QTest::mouseClick(form.NextButton(), Qt::LeftButton);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  ASSERT_NE(wizard.ResultSearch(), nullptr);
  EXPECT_EQ(wizard.ResultSearch()->FindField("KEYWORDS")->Value().AsString(), "noise cancelling");
  EXPECT_EQ(wizard.ResultSearch()->CatName, "reviewelectronics");
}

}  // namespace
}  // namespace vandrel
