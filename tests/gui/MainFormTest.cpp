// The main window in this process: the commands it registers and how it moves between its pages.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <memory>

#include "currency/CurrencyConverters.h"
#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "presentation/FakeDesktopPorts.h"
#include "ui/AboutForm.h"
#include "ui/MainForm.h"

namespace vandrel {
namespace {

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterAppName("Vandrel Shopper");
    form_ = std::make_unique<TVandrelShopperForm>(kernel_, processor_);
    form_->resize(900, 600);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  MainDispatcher dispatcher_;
  TCommandLineProcessor processor_;
  TAppKernel kernel_{processor_, dispatcher_};
  std::unique_ptr<TVandrelShopperForm> form_;
};

TEST_F(MainFormTest, PageCommandsSwitchPagesAndRestoreAMinimisedWindow) {
  EXPECT_TRUE(kernel_.MainFormShown());
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkHome);
  form_->showMinimized();
  EXPECT_TRUE(processor_.Execute("shop:prices"));
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkPrices);
  EXPECT_FALSE(form_->isMinimized());
  EXPECT_TRUE(processor_.Execute("REVIEWS"));
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkReviews);
  EXPECT_TRUE(processor_.Execute("home"));
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkHome);
}

TEST_F(MainFormTest, NewSearchCommandsCarryCategoryAndQuery) {
  struct Request {
    std::string category;
    bool isReviews;
    std::string query;
  };
  std::vector<Request> requests;
  form_->SetSearchWizardRequest([&](const std::string& c, bool r, const std::string& q) {
    requests.push_back({c, r, q});
  });
  processor_.Execute("shop:newcatprices books harry potter");
  processor_.Execute("newcatreviews music");
  processor_.Execute("newprices digital camera");
  processor_.Execute("new tv");
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].category, "books");
  EXPECT_FALSE(requests[0].isReviews);
  EXPECT_EQ(requests[0].query, "harry potter");
  EXPECT_EQ(requests[1].category, "music");
  EXPECT_TRUE(requests[1].isReviews);
  EXPECT_EQ(requests[1].query, "");
  EXPECT_EQ(requests[2].category, "");
  EXPECT_FALSE(requests[2].isReviews);
  EXPECT_TRUE(requests[3].isReviews);
  EXPECT_EQ(requests[3].query, "tv");

  // Without a wizard the request is at least visible.
  form_->SetSearchWizardRequest(nullptr);
  processor_.Execute("newcatprices books harry potter");
  EXPECT_EQ(form_->StatusText(), "New price search in books: harry potter");
}

TEST_F(MainFormTest, CtrlTabCyclesThePagesAndWrapsAround) {
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  form_->ShowPage(TPageKind::pkPrices);
  QTest::keyClick(form_.get(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkHome);
  QTest::keyClick(form_.get(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkReviews);
  QTest::keyClick(form_.get(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkHome);
  QTest::keyClick(form_.get(), Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkPrices);
}

TEST_F(MainFormTest, EveryMenuItemAndToolButtonOfTheTablesIsThere) {
  for (const TMenuItemSpec& item : MainMenuItems()) {
    QAction* action = form_->Action(item.Command);
    ASSERT_NE(action, nullptr) << item.Caption;
    EXPECT_EQ(action->text().toStdString(), ExpandAppName(item.Caption));
    EXPECT_EQ(action->shortcut().toString(QKeySequence::PortableText).toStdString(), item.Shortcut);
  }
  EXPECT_EQ(form_->Action(TMainCommand::mcAbout)->text(), "About Vandrel Shopper");
  QStringList buttons;
  for (QAction* action : form_->ToolBar()->actions()) buttons << action->text();
  EXPECT_EQ(buttons, (QStringList{"My\nShopper", "Find\nReviews", "Stop\nSearch", "Find\nPrices",
                                  "Update\nSearch", "Invite\nFriend"}));
}

TEST_F(MainFormTest, EnablingFollowsThePage) {
  auto enabled = [this](TMainCommand c) { return form_->Action(c)->isEnabled(); };
  auto visible = [this](TMainCommand c) { return form_->Action(c)->isVisible(); };
  QWidget* split = nullptr;
  for (auto* w : form_->findChildren<QWidget*>())
    if (w->toolTip() == "Show only results") split = w;
  ASSERT_NE(split, nullptr);

  EXPECT_FALSE(enabled(TMainCommand::mcCopy));  // no result frame on the home page
  EXPECT_FALSE(enabled(TMainCommand::mcUpdateSearch));
  EXPECT_FALSE(enabled(TMainCommand::mcStopSearch));
  EXPECT_TRUE(enabled(TMainCommand::mcFindPrices));
  EXPECT_FALSE(enabled(TMainCommand::mcUseLocalCurrency));
  EXPECT_FALSE(visible(TMainCommand::mcGoHotDeals));
  EXPECT_FALSE(split->isVisibleTo(form_.get()));
  EXPECT_TRUE(form_->Action(TMainCommand::mcGoHome)->isChecked());
  EXPECT_EQ(form_->ResultCountText(), "");

  form_->ShowPage(TPageKind::pkReviews);
  EXPECT_TRUE(enabled(TMainCommand::mcCopy));
  EXPECT_TRUE(visible(TMainCommand::mcSummaries));
  EXPECT_TRUE(enabled(TMainCommand::mcUseLocalCurrency));
  EXPECT_FALSE(enabled(TMainCommand::mcUpdateSearch));  // no current search
  EXPECT_TRUE(split->isVisibleTo(form_.get()));

  form_->ShowPage(TPageKind::pkPrices);
  EXPECT_FALSE(visible(TMainCommand::mcSummaries));  // reviews only
  EXPECT_TRUE(form_->Action(TMainCommand::mcGoPrices)->isChecked());
  form_->SetResultCount(3, 1);
  EXPECT_EQ(form_->ResultCountText(), "3 results (1 selected)");
  form_->ShowPage(TPageKind::pkHome);
  EXPECT_EQ(form_->ResultCountText(), "");
}

TEST_F(MainFormTest, ShortcutsReachTheirCommands) {
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  int newSearches = 0, findPrices = 0;
  form_->SetCommandHandler(TMainCommand::mcNewSearch, [&] { ++newSearches; });
  form_->SetCommandHandler(TMainCommand::mcFindPrices, [&] { ++findPrices; });
  QTest::keyClick(form_.get(), Qt::Key_2, Qt::ControlModifier);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkReviews);
  QTest::keyClick(form_.get(), Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkHome);
  QTest::keyClick(form_.get(), Qt::Key_3, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkPrices);
  QTest::keyClick(form_.get(), Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(newSearches, 1);
  form_->setFocus();
  QTest::keyClick(form_.get(), Qt::Key_Insert);
  EXPECT_EQ(newSearches, 2);
  QTest::keyClick(form_.get(), Qt::Key_I, Qt::ControlModifier);
  EXPECT_EQ(findPrices, 1);
  // The tab of a page switches to it too.
  form_->findChild<QTabBar*>()->setCurrentIndex(1);
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkReviews);
}

TEST_F(MainFormTest, CommandsWithoutTheirWindowSayTheFeatureIsNotAvailable) {
  std::vector<int> shown;
  QString text;
  QObject::connect(form_.get(), &TVandrelShopperForm::NotAvailableShown, [&](int command) {
    shown.push_back(command);
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    for (auto* label : dialog->findChildren<QLabel*>())
      if (label->objectName() == "NotImplementedText") text = label->text();
    dialog->accept();
  });
  form_->Action(TMainCommand::mcExport)->trigger();
  form_->Action(TMainCommand::mcOptions)->trigger();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], static_cast<int>(TMainCommand::mcExport));
  EXPECT_EQ(text, "This feature is not available in the beta version of Vandrel Shopper.");

  // A window that plugs in takes the command over.
  int options = 0;
  form_->SetCommandHandler(TMainCommand::mcOptions, [&] { ++options; });
  form_->Action(TMainCommand::mcOptions)->trigger();
  EXPECT_EQ(options, 1);
  EXPECT_EQ(shown.size(), 2u);
}

TEST_F(MainFormTest, AboutWindowShowsTheVersion) {
  QString caption, version;
  QTimer::singleShot(0, [&] {
    auto* about = qobject_cast<TAboutFrm*>(QApplication::activeModalWidget());
    if (!about) return;
    caption = about->windowTitle();
    version = about->VersionText();
    about->accept();
  });
  QTimer::singleShot(3000, [] {
    if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) open->reject();
  });
  form_->Action(TMainCommand::mcAbout)->trigger();
  EXPECT_EQ(caption, "About Vandrel Shopper");
  EXPECT_TRUE(version.startsWith("Version ")) << version.toStdString();
}

TEST_F(MainFormTest, CommandLineWaitsWhileAModalWindowIsOpen) {
  QDialog modal(form_.get());
  bool ranDuringModal = true;
  QTimer::singleShot(0, [&] {
    form_->RunCommandLine("shop:prices");
    QTest::qWait(300);
    ranDuringModal = form_->CurrentPage() == TPageKind::pkPrices;
    modal.accept();
  });
  modal.exec();
  EXPECT_FALSE(ranDuringModal);
  QTRY_COMPARE_WITH_TIMEOUT(form_->CurrentPage(), TPageKind::pkPrices, 2000);
}

TEST_F(MainFormTest, DoubleClickOnTheCurrencyPanelTogglesConversionOnThePricesPageOnly) {
  auto* panel = form_->findChild<QLabel*>("LocalCurrency");
  ASSERT_NE(panel, nullptr);
  TCurrencyConverter& converter = CurrencyConverter();
  const bool before = converter.ShowConverted;
  EXPECT_EQ(panel->text().toStdString(), "Local Currency (" + converter.TargetCode + ")");
  QTest::mouseDClick(panel, Qt::LeftButton);
  EXPECT_EQ(converter.ShowConverted, before);  // home page: nothing happens
  form_->ShowPage(TPageKind::pkPrices);
  QTest::mouseDClick(panel, Qt::LeftButton);
  EXPECT_NE(converter.ShowConverted, before);
  EXPECT_EQ(panel->isEnabled(), converter.ShowConverted);  // greyed while conversion is off
  EXPECT_EQ(form_->Action(TMainCommand::mcUseLocalCurrency)->isChecked(), converter.ShowConverted);
  form_->Action(TMainCommand::mcUseLocalCurrency)->trigger();
  EXPECT_EQ(converter.ShowConverted, before);
}

TEST_F(MainFormTest, HomeLinksStartSearchesAndIgnoreEntriesOutsideTheList) {
  std::vector<std::string> requests;
  form_->SetSearchWizardRequest([&](const std::string& c, bool r, const std::string& q) {
    requests.push_back(c + "|" + (r ? "reviews" : "prices") + "|" + q);
  });
  form_->HomeLink(THomeLinkKind::hkNewPrices, "digital camera");
  form_->HomeLink(THomeLinkKind::hkNewReviews, "tv");
  form_->HomeLink(THomeLinkKind::hkNewReviewsInCategory, "nosuchcategory");
  EXPECT_EQ(requests, (std::vector<std::string>{"|prices|digital camera", "|reviews|tv", "|reviews|"}));
  form_->HomeLink(THomeLinkKind::hkOpenPrices, "1");  // an empty list: nothing to open
  form_->HomeLink(THomeLinkKind::hkOpenReviews, "-3");
  EXPECT_EQ(form_->CurrentPage(), TPageKind::pkHome);
}

TEST_F(MainFormTest, ClosedWindowLeavesNoCommandsBehind) {
  form_.reset();
  EXPECT_FALSE(processor_.Execute("prices"));
}

}  // namespace
}  // namespace vandrel
