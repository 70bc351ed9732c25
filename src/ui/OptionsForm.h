// The options window: every stored setting the user may change, on six pages, stored on OK.
#pragma once

#include <QDialog>
#include <functional>

#include "presentation/LanSettingsController.h"
#include "presentation/OptionsController.h"
#include "ui/FormPages.h"
#include "ui/QtDesktopPorts.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace vandrel {

class TCurrencyDropDownFrm;

class TOptionsFrm : public QDialog {
  Q_OBJECT

 public:
  // `settings` and `converter` must outlive the window; `detect` goes on to the LAN settings dialog.
  TOptionsFrm(IDesktopSettings& settings, TCurrencyConverter& converter, TOptionsHooks hooks,
              TProxyDetect detect, QWidget* parent = nullptr);

  TOptionsController& Controller() { return controller_; }
  QTabWidget* Pages() const { return pages_; }
  // Chooses the browser program; the default opens a file box. Tests replace it.
  std::function<QString(const QString& start)> ChooseProgram;

  void accept() override;  // stores everything

 private:
  QWidget* GeneralPage();
  QWidget* PromptsPage();
  QWidget* ConnectionPage();
  QWidget* BrowserPage();
  QWidget* CurrencyPage();
  QWidget* AdvancedPage();
  QCheckBox* FixedBox(QWidget* page, const char* name, std::string_view caption);
  void ShowModel();
  void TakeView();
  void ProgramPathClicked();
  void LanSettingsClicked();

  IDesktopSettings& settings_;
  TProxyDetect detect_;
  TQtUserPrompts prompts_;
  TOptionsController controller_;
  QTabWidget* pages_ = nullptr;
  QCheckBox *showHints_ = nullptr, *graphScores_ = nullptr, *singleClick_ = nullptr;
  QCheckBox *confirmStop_ = nullptr, *confirmDelete_ = nullptr, *engineErrors_ = nullptr,
            *booleanOps_ = nullptr;
  QSlider* timeout_ = nullptr;
  QLabel* timeoutText_ = nullptr;
  QSpinBox* maxTransfers_ = nullptr;
  TAddOnBoxes addOns_;
  QCheckBox* navigator_ = nullptr;
  QPushButton* programPath_ = nullptr;
  TCurrencyDropDownFrm* currency_ = nullptr;
  QCheckBox* showConverted_ = nullptr;
  QSpinBox* daysToKeep_ = nullptr;
};

class TAppConfig;

// Tools -> Options over the program's configuration: runs the window modally, true after OK. Hooks left
// empty get the program's own: the integration rewrite, the browser launcher's forced browser and the
// installed Navigator's path; ApplyHints, ReloadPriceResults and Changed are the main window's.
bool ExecuteOptionsForm(TAppConfig& config, TCurrencyConverter& converter, TOptionsHooks hooks,
                        QWidget* parent);

}  // namespace vandrel
