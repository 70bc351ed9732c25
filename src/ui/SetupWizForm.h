// The first-run setup wizard and the window that asks before it is left unfinished.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "presentation/SetupWizardController.h"
#include "ui/FormPages.h"
#include "ui/QtDesktopPorts.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace vandrel {

class TAppConfig;
class TAppUpdater;
class TCurrencyDropDownFrm;
class TUpdaterFrm;
class TUpdaterWindow;

// "configuration is not complete": Continue (the default, also Esc) or Exit.
class TSetupCancelForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSetupCancelForm(QWidget* parent = nullptr);
  static TLeaveChoice Ask(QWidget* parent);
};

class TSetupWizFrm : public QDialog {
  Q_OBJECT

 public:
  // `settings`, `converter` and `updater` must outlive the window. The hooks' Changed and Closed are the
  // window's own. With an updater the engine update runs in the wizard's own page (its frame shows the
  // steps); without one the hooks' RunEngineUpdate stands for it.
  TSetupWizFrm(IDesktopSettings& settings, TCurrencyConverter& converter, TProxyDetect detect,
               TSetupWizardHooks hooks, QWidget* parent = nullptr, TAppUpdater* updater = nullptr);
  ~TSetupWizFrm() override;

  TSetupWizardController& Controller() { return *controller_; }
  QLabel* TitleLabel() const { return title_; }
  TUpdaterFrm* UpdateFrame() const { return updateFrame_; }

  void reject() override;  // Esc: as "Cancel"

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* ConnectionPage();
  QWidget* NetworkPage();
  QWidget* AddOnsPage();
  QWidget* RegionalPage();
  QWidget* UpdatesPage();
  QWidget* UpdatingPage();
  QWidget* ReadyPage();
  void ShowModel();
  void TakeView();
  void NextClicked();
  void BackClicked();
  bool RunUpdateInPage(TAppUpdater& updater);

  TQtUserPrompts prompts_;
  TQtScheduler scheduler_;
  std::unique_ptr<TSetupWizardController> controller_;
  QLabel* title_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QPushButton *back_ = nullptr, *next_ = nullptr, *cancel_ = nullptr;
  QRadioButton *modem_ = nullptr, *lan_ = nullptr;
  QRadioButton *direct_ = nullptr, *proxy_ = nullptr;
  QWidget* proxyFields_ = nullptr;
  TProxyServerRow proxyServer_;
  TAddOnBoxes addOns_;
  TCurrencyDropDownFrm* currency_ = nullptr;
  QCheckBox* showConverted_ = nullptr;
  QRadioButton *updateYes_ = nullptr, *updateNo_ = nullptr;
  TUpdaterFrm* updateFrame_ = nullptr;
  std::unique_ptr<TUpdaterWindow> update_;  // the update the page runs, while it runs
};

// What a run of the wizard needs besides the configuration.
struct TSetupWizardRun {
  // Runs the engine update over every category in the wizard's "Update in Progress" page.
  TAppUpdater* Updater = nullptr;
  // Without an updater: stands for the update; false when the user canceled it.
  std::function<bool()> RunEngineUpdate;
  // Rebuilds the browser and desktop integration; empty: RewriteDesktopIntegration(config).
  std::function<void()> RewriteIntegration;
  std::function<void()> ReloadPriceResults;  // the prices history's results, shown in the new currency
  TProxyDetect Detect;                       // empty: the user's environment and browser
  QWidget* Parent = nullptr;
};

// Runs the wizard modally; true when it was finished (then AppConfigured is set).
bool ExecuteSetupWizard(TAppConfig& config, TCurrencyConverter& converter, TSetupWizardRun run);

// Rewrites the program's browser and desktop integration from the stored preferences, telling the user
// about a failure.
void RewriteDesktopIntegration(TAppConfig& config);

}  // namespace vandrel
