// A first start on an empty configuration, in this process: the kernel runs the setup wizard, whose engine
// update fetches the definitions from a real update site; then the main window opens on them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <memory>

#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "currency/CurrencyConverters.h"
#include "data/DemoSite.h"
#include "gui/ModalDriver.h"
#include "gui/Screenshots.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "kernel/AppUpdaterSettings.h"
#include "kernel/KernelStartFixture.h"
#include "platform/RegistryFileStore.h"
#include "presentation/SettingsTestSupport.h"
#include "search/CategoryList.h"
#include "ui/CurrencyDropDownFrame.h"
#include "ui/DesktopWindows.h"
#include "ui/MainForm.h"
#include "ui/SetupWizForm.h"
#include "ui/UpdaterForm.h"
#include "update/UpdateTestWorld.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using test::Find;
using test::WhenModal;

class FirstStartTest : public test::KernelStartFixture {
 protected:
  void SetUp() override {
    KernelStartFixture::SetUp();
    if (HasFatalFailure()) return;
    RegisterAppName("Vandrel Shopper");
    store_ = std::make_shared<TRegistryFileStore>((dir_ / "registry").string());
    config_ = std::make_unique<TAppConfig>(store_);
    // A fresh installation: the currency table is there, the engines come with the first update.
    fs::create_directories(dir_ / "data");
    fs::copy_file(test::CompiledDataDir() + "/currencies.ccs", dir_ / "data/currencies.ccs");
  }

  void TearDown() override {
    // The converter is the process's: the other window tests show prices as the bundled table does.
    CurrencyConverter().TargetCode = savedTarget_;
    CurrencyConverter().ShowConverted = savedShowConverted_;
    KernelStartFixture::TearDown();
  }

  std::shared_ptr<TRegistryFileStore> store_;
  std::unique_ptr<TAppConfig> config_;
  std::string savedTarget_ = CurrencyConverter().TargetCode;
  bool savedShowConverted_ = CurrencyConverter().ShowConverted;
};

TEST_F(FirstStartTest, SetupWizardFetchesTheEnginesThenTheMainWindowOpens) {
  testing::TDataFolder site;
  updatetest::WriteSmallSite(site);
  updatetest::TSiteProcess process(site.Path());
  ASSERT_GT(process.Port, 0) << process.Log();
  config_->GlobalSystem().SetUpdateAddress(process.Url());
  ASSERT_FALSE(config_->GlobalSystem().AppConfigured());

  TQuorinActionRepository actions;
  TQuorinApplication runner(actions, MainDispatcher::Default());
  MainDispatcher::Default().AdoptCurrentThread();
  TAppConfigUpdaterSettings updaterSettings(*config_);
  TAppUpdater updater(runner, updaterSettings);
  TCommandLineProcessor processor;
  TAppKernel kernel(processor, MainDispatcher::Default());

  TAppKernel::THooks hooks;
  hooks.InstallationFolder = (dir_ / "install").string();
  hooks.DataFolder = (dir_ / "data").string() + "/";
  hooks.UserName = "tester";
  hooks.Runner = &runner;
  hooks.Actions = &actions;
  hooks.Config = config_.get();
  test::TEnvironmentProxy env({{"http_proxy", "http://proxy.lan:3128/"}});
  int rewrites = 0;
  TStartWindowParts parts;
  parts.Config = config_.get();
  parts.Updater = &updater;
  parts.Detect = env.Detect();
  parts.RewriteIntegration = [&] { ++rewrites; };
  AddStartWindows(hooks, std::move(parts));
  int updateWindows = 0;
  hooks.RunEngineUpdateWindow = [&updateWindows, window = hooks.RunEngineUpdateWindow] {
    ++updateWindows;
    return window();
  };

  QStringList titles, statuses;
  bool proxyProposed = false;
  WhenModal("SetupWizFrm", [&](QWidget& w) {
    auto* next = Find<QPushButton>(w, "NextBtn");
    titles << Find<QLabel>(w, "TitleLabel")->text();
    EXPECT_TRUE(Find<QRadioButton>(w, "LANConnectionBtn")->isChecked()) << "the proxy found selects LAN";
    next->click();
    titles << Find<QLabel>(w, "TitleLabel")->text();
    proxyProposed = Find<QRadioButton>(w, "UseProxyBtn")->isChecked() &&
                    Find<QLineEdit>(w, "AddressEdit")->text() == "proxy.lan" &&
                    Find<QSpinBox>(w, "PortEdit")->value() == 3128;
    // This machine reaches the site directly: the proposal is declined, and kept as the proxy's address.
    Find<QRadioButton>(w, "UseDirectConnectBtn")->click();
    next->click();
    titles << Find<QLabel>(w, "TitleLabel")->text();
    next->click();
    titles << Find<QLabel>(w, "TitleLabel")->text();
    auto* currency = Find<TCurrencyDropDownFrm>(w, "CurrencyDropDownFrm");
    currency->List()->setCurrentIndex(currency->List()->findText("Euro  (EUR)"));
    Find<QCheckBox>(w, "ShowConvertedValuesBtn")->setChecked(true);
    next->click();
    titles << Find<QLabel>(w, "TitleLabel")->text();
    EXPECT_TRUE(Find<QRadioButton>(w, "UpdateYesBtn")->isChecked());
    next->click();  // the update runs in the next page, inside this call
    return true;
  });
  // The update page, watched while its update runs; then the last page.
  bool updateShot = false;
  WhenModal(
      "SetupWizFrm",
      [&](QWidget& w) {
        auto* frame = w.findChild<TUpdaterFrm*>();
        auto* next = Find<QPushButton>(w, "NextBtn");
        if (frame && frame->isVisible()) {
          if (statuses.isEmpty() || statuses.back() != frame->StatusText()) statuses << frame->StatusText();
          if (!updateShot && frame->StatusText() == "Update completed.") {
            updateShot = true;
            test::SaveScreenshot(w, "setup-wizard-6-update-in-progress.png");
          }
        }
        if (next->text() != "&Finish") return false;
        titles << Find<QLabel>(w, "TitleLabel")->text();
        next->click();
        return true;
      },
      60000);

  TStartOptions options;
  options.RootFolder = (dir_ / "root").string();
  ASSERT_EQ(kernel.Start(options, std::move(hooks)), TStartResult::srRun);

  EXPECT_EQ(titles, (QStringList{"Connection", "Network", "Internet Explorer", "Regional Settings",
                                 "Search Engine Updates", "Ready to Shop"}));
  EXPECT_TRUE(proxyProposed);
  EXPECT_TRUE(statuses.contains("Checking for engine updates...")) << statuses.join(" | ").toStdString();
  EXPECT_TRUE(statuses.contains("Update completed.")) << statuses.join(" | ").toStdString();
  EXPECT_EQ(updateWindows, 0) << "the wizard's update installed the engines; no second window";
  EXPECT_EQ(rewrites, 1);

  // Stored at the end: the connection, the declined proxy, the currency, and the update's date.
  EXPECT_TRUE(config_->GlobalSystem().AppConfigured());
  EXPECT_TRUE(config_->Network().LANConnection());
  EXPECT_FALSE(config_->Network().UseProxyConnection());
  EXPECT_EQ(config_->Network().ProxyAddress(), "proxy.lan");
  EXPECT_EQ(config_->GlobalSystem().CurrencyConvertCode(), "EUR");
  EXPECT_EQ(CurrencyConverter().TargetCode, "EUR");
  EXPECT_NE(config_->GlobalSystem().LastChannelUpdate(), 0);

  // The definitions from the site are installed and in the catalogue.
  EXPECT_TRUE(fs::exists(dir_ / "data/buybooks/bookbarn.cen"));
  EXPECT_TRUE(fs::exists(dir_ / "data/reviewbooks/critics.cen"));
  EXPECT_TRUE(kernel.CheckEngines(true));
  ASSERT_NE(kernel.CategoryList(), nullptr);

  {
    TVandrelShopperForm form(kernel, processor);
    form.resize(900, 600);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.CurrentPage(), TPageKind::pkHome);
    QTest::qWait(300);
    test::SaveScreenshot(form, "first-start-main-window.png");
  }
  kernel.ShutDown();
  EXPECT_TRUE(QTest::qWaitFor([&] { return runner.State() == asIdle; }, 10000));
}

class SetupWizardUpdateTest : public test::SettingsTest {
 protected:
  SetupWizardUpdateTest() { RegisterAppName("Vandrel Shopper"); }
};

// "Cancel" while the update waits on a site that never answers stops the update, not the wizard: it goes
// on to its last page, and the update records nothing.
TEST_F(SetupWizardUpdateTest, CancelDuringTheUpdateStopsItAndTheWizardGoesOn) {
  const updatetest::TSilentSite silent;
  ASSERT_NE(silent.Port, 0) << "no loopback port for the silent site";
  updatetest::TUpdateClient client;
  client.Settings.Address = silent.UpdateAddress();

  test::TEnvironmentProxy none;
  TSetupWizardRun run;
  run.Updater = &client.Updater;
  run.Detect = none.Detect();
  run.RewriteIntegration = [] {};
  bool canceled = false, reachedReady = false;
  WhenModal("SetupWizFrm", [&](QWidget& w) {
    auto* next = Find<QPushButton>(w, "NextBtn");
    for (int page = 0; page < 3; ++page) next->click();  // modem: add-ons, currency, updates
    EXPECT_EQ(Find<QLabel>(w, "TitleLabel")->text(), "Search Engine Updates");
    next->click();
    return true;
  });
  WhenModal("SetupWizFrm", [&](QWidget& w) {
    auto* frame = w.findChild<TUpdaterFrm*>();
    auto* next = Find<QPushButton>(w, "NextBtn");
    if (!canceled && frame && frame->StatusText() == "Checking for engine updates...") {
      canceled = true;
      Find<QPushButton>(w, "CancelBtn")->click();
      return false;
    }
    if (next->text() != "&Finish") return false;
    reachedReady = canceled;
    next->click();
    return true;
  });
  EXPECT_TRUE(ExecuteSetupWizard(Config, Converter, std::move(run)));
  EXPECT_TRUE(canceled);
  EXPECT_TRUE(reachedReady);
  EXPECT_TRUE(Config.GlobalSystem().AppConfigured());
  EXPECT_EQ(client.Settings.LastChannelWrites, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.Runner.State() == asIdle; }, 10000));
}

}  // namespace
}  // namespace vandrel
