// The options window, the LAN settings dialog, the setup wizard and the category window, driven through
// their real widgets on the virtual display, over a configuration in a temporary store.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "gui/ModalDriver.h"
#include "gui/Screenshots.h"
#include "kernel/AppName.h"
#include "platform/SourceDir.h"
#include "presentation/MemoryCatalogue.h"
#include "presentation/SettingsTestSupport.h"
#include "ui/CategoryForm.h"
#include "ui/CurrencyDropDownFrame.h"
#include "ui/LANSettingsForm.h"
#include "ui/OptionsForm.h"
#include "ui/SetupWizForm.h"

namespace vandrel {
namespace {

using test::AnswerMessageBox;
using test::Find;
using test::WhenModal;

class FormsTest : public test::SettingsTest {
 protected:
  FormsTest() { RegisterAppName("Vandrel Shopper"); }
};

// A first start on an empty configuration: the wizard proposes the environment's proxy, the user picks a
// currency, the engine update runs through the update window's callback, and the end sets AppConfigured.
TEST_F(FormsTest, SetupWizardRunsToTheEndOnAnEmptyConfiguration) {
  test::TEnvironmentProxy env({{"http_proxy", "http://proxy.lan:3128/"}});
  int updates = 0, rewrites = 0, reloads = 0;
  bool storedBeforeUpdate = false;
  TSetupWizardRun run;
  run.RunEngineUpdate = [&] {
    ++updates;
    storedBeforeUpdate = Config.GlobalSystem().AppConfigured() && Config.Network().UseProxyConnection();
    return true;
  };
  run.RewriteIntegration = [&] { ++rewrites; };
  run.ReloadPriceResults = [&] { ++reloads; };
  run.Detect = env.Detect();

  QStringList titles;
  bool proxyShown = false;
  WhenModal("SetupWizFrm", [&](QWidget& w) {
    auto* next = Find<QPushButton>(w, "NextBtn");
    auto* title = Find<QLabel>(w, "TitleLabel");
    auto shot = [&](const char* name) {
      titles << title->text();
      test::SaveScreenshot(w, name);
    };
    EXPECT_TRUE(Find<QRadioButton>(w, "LANConnectionBtn")->isChecked());
    EXPECT_FALSE(Find<QPushButton>(w, "BackBtn")->isEnabled());
    shot("setup-wizard-1-connection.png");
    next->click();
    proxyShown = Find<QRadioButton>(w, "UseProxyBtn")->isChecked() &&
                 Find<QLineEdit>(w, "AddressEdit")->text() == "proxy.lan" &&
                 Find<QSpinBox>(w, "PortEdit")->value() == 3128 &&
                 Find<QLineEdit>(w, "AddressEdit")->isVisible();
    shot("setup-wizard-2-network.png");
    next->click();
    Find<QCheckBox>(w, "IEQuickLaunchBtn")->setChecked(false);
    shot("setup-wizard-3-add-ons.png");
    next->click();
    auto* currency = Find<TCurrencyDropDownFrm>(w, "CurrencyDropDownFrm");
    currency->List()->setCurrentIndex(currency->List()->findText("Euro  (EUR)"));
    EXPECT_TRUE(currency->RateText().startsWith("Today's rate: $1.00 (USD) = "))
        << currency->RateText().toStdString();
    Find<QCheckBox>(w, "ShowConvertedValuesBtn")->setChecked(true);
    shot("setup-wizard-4-regional-settings.png");
    next->click();
    EXPECT_TRUE(Find<QRadioButton>(w, "UpdateYesBtn")->isChecked());
    shot("setup-wizard-5-engine-updates.png");
    next->click();  // runs the update, then moves on after a short pause
    return true;
  });
  WhenModal("SetupWizFrm", [&](QWidget& w) {
    auto* next = Find<QPushButton>(w, "NextBtn");
    if (next->text() != "&Finish") return false;
    titles << Find<QLabel>(w, "TitleLabel")->text();
    EXPECT_FALSE(Find<QPushButton>(w, "CancelBtn")->isEnabled());
    test::SaveScreenshot(w, "setup-wizard-7-ready-to-shop.png");
    next->click();
    return true;
  });
  EXPECT_TRUE(ExecuteSetupWizard(Config, Converter, std::move(run)));

  EXPECT_EQ(titles, (QStringList{"Connection", "Network", "Internet Explorer", "Regional Settings",
                                 "Search Engine Updates", "Ready to Shop"}));
  EXPECT_TRUE(proxyShown);
  EXPECT_EQ(updates, 1);
  EXPECT_TRUE(storedBeforeUpdate);
  EXPECT_EQ(rewrites, 1);
  EXPECT_EQ(reloads, 1);
  EXPECT_TRUE(Config.GlobalSystem().AppConfigured());
  EXPECT_TRUE(Config.Network().LANConnection());
  EXPECT_EQ(Config.Network().ProxyAddress(), "proxy.lan");
  EXPECT_EQ(Config.Network().ProxyPort(), 3128);
  EXPECT_FALSE(Config.Preferences().UseExplorerQuickLaunch());
  EXPECT_EQ(Config.GlobalSystem().CurrencyConvertCode(), "EUR");
  EXPECT_TRUE(Config.Preferences().ShowConvertedCurrencies());
  EXPECT_EQ(Converter.TargetCode, "EUR");
}

// "Cancel" asks first; Continue stays, Exit leaves with nothing stored, so the wizard comes back.
TEST_F(FormsTest, LeavingTheSetupWizardEarlyStoresNothing) {
  int rewrites = 0;
  TSetupWizardRun run;
  run.RewriteIntegration = [&] { ++rewrites; };
  test::TEnvironmentProxy none;
  run.Detect = none.Detect();
  int asked = 0;
  WhenModal("SetupWizFrm", [&](QWidget& w) {
    Find<QPushButton>(w, "NextBtn")->click();
    Find<QPushButton>(w, "NextBtn")->click();
    Find<QPushButton>(w, "CancelBtn")->click();  // the first question is answered with Continue
    return true;
  });
  WhenModal("SetupCancelForm", [&](QWidget& w) {
    ++asked;
    test::SaveScreenshot(w, "setup-wizard-cancel.png");
    QTest::keyClick(&w, Qt::Key_Escape);  // Esc counts as Continue
    return true;
  });
  QString pageAfterContinue;
  QTimer::singleShot(1500, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->objectName() != "SetupWizFrm") return;
    pageAfterContinue = Find<QLabel>(*w, "TitleLabel")->text();
    WhenModal("SetupCancelForm", [&](QWidget& box) {
      ++asked;
      Find<QPushButton>(box, "ExitBtn")->click();
      return true;
    });
    w->close();  // the title bar's close button asks the same
  });
  EXPECT_FALSE(ExecuteSetupWizard(Config, Converter, std::move(run)));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(pageAfterContinue, "Regional Settings");
  EXPECT_EQ(rewrites, 0);
  EXPECT_TRUE(StoreUntouched());
  EXPECT_FALSE(Config.GlobalSystem().AppConfigured());
}

// Every page's controls change their settings, but only OK stores them; the LAN settings dialog stores at
// once, whatever the options window does afterwards.
TEST_F(FormsTest, OptionsPagesStoreOnlyOnOk) {
  int rewrites = 0, reloads = 0, changes = 0;
  TOptionsHooks hooks;
  hooks.RewriteIntegration = [&] { ++rewrites; };
  hooks.ReloadPriceResults = [&] { ++reloads; };
  hooks.Changed = [&] { ++changes; };
  test::TEnvironmentProxy none;
  auto options = std::make_unique<TOptionsFrm>(Settings, Converter, hooks, none.Detect());
  TOptionsFrm& w = *options;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const char* shots[] = {"options-1-general.png", "options-2-prompts.png",  "options-3-connection.png",
                         "options-4-browser.png", "options-5-currency.png", "options-6-advanced.png"};

  w.Pages()->setCurrentIndex(0);
  Find<QCheckBox>(w, "SingleClickOpenBtn")->click();
  QString message;
  AnswerMessageBox(message);
  Find<QCheckBox>(w, "AdBtn")->click();
  EXPECT_EQ(message, "This feature is not available in the beta version of Vandrel Shopper.");
  EXPECT_TRUE(Find<QCheckBox>(w, "AdBtn")->isChecked());
  test::SaveScreenshot(w, shots[0]);

  w.Pages()->setCurrentIndex(1);
  Find<QCheckBox>(w, "ConfirmStopOperationBtn")->click();
  test::SaveScreenshot(w, shots[1]);

  w.Pages()->setCurrentIndex(2);
  auto* bar = Find<QSlider>(w, "TimeoutBar");
  bar->setValue(90);
  EXPECT_EQ(Find<QLabel>(w, "TimeoutText")->text(), "1 min 30 sec");
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(Find<QLabel>(w, "TimeoutText")->text(), "1 min 31 sec");
  Find<QSpinBox>(w, "MaxTransfersEdit")->setValue(40);  // above the limit
  test::SaveScreenshot(w, shots[2]);

  // The LAN dialog proposes nothing (no proxy around), is filled in and stores on its own OK.
  WhenModal("LANSettingsFrm", [&](QWidget& lan) {
    test::SaveScreenshot(lan, "options-lan-settings.png");
    Find<QCheckBox>(lan, "UseProxyBtn")->click();
    Find<QLineEdit>(lan, "AddressEdit")->setText("gateway.lan");
    Find<QSpinBox>(lan, "PortEdit")->setValue(8888);
    static_cast<QDialog&>(lan).accept();
    return true;
  });
  Find<QPushButton>(w, "ProxySettingsBtn")->click();
  EXPECT_EQ(Config.Network().ProxyAddress(), "gateway.lan");
  EXPECT_TRUE(Config.Network().UseProxyConnection());

  w.Pages()->setCurrentIndex(3);
  EXPECT_FALSE(Find<QCheckBox>(w, "NavigatorBtn")->isEnabled());  // no browser program yet
  w.ChooseProgram = [](const QString&) { return QString("/usr/bin/true"); };
  Find<QPushButton>(w, "NavigatorPathBtn")->click();
  EXPECT_TRUE(Find<QCheckBox>(w, "NavigatorBtn")->isEnabled());
  Find<QCheckBox>(w, "NavigatorBtn")->click();
  Find<QCheckBox>(w, "IEContextMenuBtn")->click();
  test::SaveScreenshot(w, shots[3]);

  w.Pages()->setCurrentIndex(4);
  auto* currency = Find<TCurrencyDropDownFrm>(w, "CurrencyDropDownFrm");
  EXPECT_EQ(currency->List()->currentText(), "US Dollar  (USD)");
  currency->List()->setCurrentIndex(currency->List()->findText("Canadian Dollar  (CAD)"));
  test::SaveScreenshot(w, shots[4]);

  w.Pages()->setCurrentIndex(5);
  Find<QSpinBox>(w, "DaysToKeepSearchesEdit")->setValue(30);
  test::SaveScreenshot(w, shots[5]);

  // Nothing of the options window is stored yet.
  EXPECT_FALSE(Config.Preferences().SingleClickOpen());
  EXPECT_EQ(Config.Preferences().Timeout(), 60);
  EXPECT_EQ(Config.GlobalSystem().CurrencyConvertCode(), "");
  EXPECT_EQ(changes, 0);

  w.accept();
  EXPECT_TRUE(Config.Preferences().SingleClickOpen());
  EXPECT_FALSE(Config.Prompts().PromptStopMsg());
  EXPECT_EQ(Config.Preferences().Timeout(), 91);
  EXPECT_EQ(Config.Preferences().MaxTransfers(), 32);
  EXPECT_TRUE(Config.Preferences().ForceNavigatorUse());
  EXPECT_EQ(Config.Preferences().NavigatorExeName(), "/usr/bin/true");
  EXPECT_FALSE(Config.Preferences().UseExplorerContextMenu());
  EXPECT_EQ(Config.GlobalSystem().CurrencyConvertCode(), "CAD");
  EXPECT_EQ(Config.Preferences().DaysToKeepSearches(), 30);
  EXPECT_EQ(rewrites, 1);
  EXPECT_EQ(reloads, 1);
  EXPECT_EQ(changes, 1);

  // A second window closed with Cancel changes nothing.
  TOptionsFrm again(Settings, Converter, hooks, none.Detect());
  again.show();
  Find<QCheckBox>(again, "SingleClickOpenBtn")->click();
  Find<QSpinBox>(again, "DaysToKeepSearchesEdit")->setValue(5);
  again.reject();
  EXPECT_TRUE(Config.Preferences().SingleClickOpen());
  EXPECT_EQ(Config.Preferences().DaysToKeepSearches(), 30);
  EXPECT_EQ(changes, 1);
}

TEST(CategoryForm, RefusesToSwitchOffTheLastEngineAndSwitchesTabsWithCtrlTab) {
  RegisterAppName("Vandrel Shopper");
  test::TMemoryCatalogue catalogue;
  catalogue.Fill("buybooks", {"PageTurner Books", "Book Barn", "Inkwell"});
  catalogue.Fill("reviewbooks", {"Critics Corner"});
  catalogue.Fill("buyelectronics", {"Volt Mart"});
  const std::string data = VANDREL_SOURCE_DIR "/Data/";
  std::vector<TCategoryEntry> entries = {
      {"books", "Books", "buybooks", "reviewbooks", data + "books32ImageIcon.bmp"},
      {"electronics", "Electronics", "buyelectronics", "reviewelectronics",
       data + "electronics32ImageIcon.bmp"},
  };
  std::vector<std::string> opened;
  int saves = 0;
  TCategoryFrm form(
      entries, catalogue, [&](const std::string& a) { opened.push_back(a); }, nullptr,
      [&](TEngineStorageItem&) { ++saves; });
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_FALSE(form.CategoryList()->item(0)->icon().isNull());

  QTreeWidget* list = form.EngineList();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  auto clickCheck = [list](int row) {
    QRect cell = list->visualItemRect(list->topLevelItem(row));
    cell.setWidth(list->columnWidth(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  };
  clickCheck(0);
  clickCheck(1);
  EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(saves, 2);
  QString refusal;
  AnswerMessageBox(refusal);
  clickCheck(2);
  EXPECT_EQ(refusal, "To perform your search, at least one store must be active in the selected category.");
  EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Checked);
  EXPECT_EQ(saves, 2);
  test::SaveScreenshot(form, "category-window-stores.png");

  // Space toggles the selected rows.
  list->setFocus();
  list->setCurrentItem(list->topLevelItem(0));
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);

  list->setCurrentItem(list->topLevelItem(1));
  form.OpenHomePage();
  EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:9/Book Barn"});

  // The message boxes took the activation; a window shortcut needs it back.
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(list, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form.Tabs()->currentIndex(), 0);
  EXPECT_TRUE(form.Controller().Reviews());
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(1), "Critics Corner");
  AnswerMessageBox(refusal);
  clickCheck(0);
  EXPECT_EQ(refusal,
            "To perform your search, at least one review site must be active in the selected category.");
  test::SaveScreenshot(form, "category-window-review-sites.png");
}

}  // namespace
}  // namespace vandrel
