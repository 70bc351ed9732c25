#include "ui/OptionsForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "http/ProxyDetectTools.h"
#include "integration/WebBrowse.h"
#include "kernel/AppConfig.h"
#include "kernel/AppName.h"
#include "kernel/DesktopSettingsStore.h"
#include "ui/CurrencyDropDownFrame.h"
#include "ui/FormPages.h"
#include "ui/LANSettingsForm.h"
#include "ui/SetupWizForm.h"

namespace vandrel {
namespace {

// The busy cursor for the length of a scope.
struct TBusyCursor {
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

TOptionsFrm::TOptionsFrm(IDesktopSettings& settings, TCurrencyConverter& converter, TOptionsHooks hooks,
                         TProxyDetect detect, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      detect_(std::move(detect)),
      prompts_(this),
      controller_(settings, converter, prompts_, std::move(hooks)) {
  setObjectName("OptionsFrm");
  setWindowTitle(FormText(options_text::kCaption));
  auto* layout = new QVBoxLayout(this);
  pages_ = new QTabWidget(this);
  pages_->addTab(GeneralPage(), FormText(options_text::kPageGeneral));
  pages_->addTab(PromptsPage(), FormText(options_text::kPagePrompts));
  pages_->addTab(ConnectionPage(), FormText(options_text::kPageConnection));
  pages_->addTab(BrowserPage(), FormText(options_text::kPageBrowser));
  pages_->addTab(CurrencyPage(), FormText(options_text::kPageCurrency));
  pages_->addTab(AdvancedPage(), FormText(options_text::kPageAdvanced));
  layout->addWidget(pages_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TOptionsFrm::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TOptionsFrm::reject);
  resize(580, 380);

  ChooseProgram = [this](const QString& start) {
    // Programs here carry no extension, so the box offers every file.
    QFileDialog box(this, FormText(options_text::kBrowserBoxTitle), start, "Programs (*)");
    box.setFileMode(QFileDialog::ExistingFile);
    if (!start.isEmpty()) box.selectFile(start);
    return box.exec() == QDialog::Accepted && !box.selectedFiles().isEmpty() ? box.selectedFiles().first()
                                                                             : QString();
  };

  TBusyCursor busy;
  controller_.Load();
  ShowModel();
}

QCheckBox* TOptionsFrm::FixedBox(QWidget* page, const char* name, std::string_view caption) {
  QCheckBox* box = AddCheckBox(page, name, caption);
  box->setChecked(true);
  connect(box, &QCheckBox::clicked, this, [this, box] { box->setChecked(controller_.FixedBoxClicked()); });
  return box;
}

QWidget* TOptionsFrm::GeneralPage() {
  QWidget* page = CheckBoxPage({{showHints_, "ShowHintsBtn", options_text::kShowHints},
                                {graphScores_, "UseGraphScoresBtn", options_text::kUseGraphScores},
                                {singleClick_, "SingleClickOpenBtn", options_text::kSingleClickOpen}});
  FixedBox(page, "AdBtn", options_text::kAdBanners);
  FixedBox(page, "ScrollingTickerBtn", options_text::kScrollingTicker);
  return page;
}

QWidget* TOptionsFrm::PromptsPage() {
  return CheckBoxPage({{confirmStop_, "ConfirmStopOperationBtn", options_text::kConfirmStop},
                       {confirmDelete_, "ConfirmDeleteBtn", options_text::kConfirmDelete},
                       {engineErrors_, "ShowEngineErrorsBtn", options_text::kShowEngineErrors},
                       {booleanOps_, "BooleanOperatorsBtn", options_text::kBooleanOperators}});
}

QWidget* TOptionsFrm::ConnectionPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page);
  auto* timeoutLabel = new QLabel(FormText(options_text::kTimeout), page);
  layout->addWidget(timeoutLabel);
  auto* bar = new QHBoxLayout;
  timeout_ = new QSlider(Qt::Horizontal, page);
  timeout_->setObjectName("TimeoutBar");
  timeout_->setRange(kMinTimeout, kMaxTimeout);
  timeout_->setSingleStep(1);
  timeout_->setPageStep(15);
  timeout_->setTickInterval(15);
  timeout_->setTickPosition(QSlider::TicksBelow);
  timeoutLabel->setBuddy(timeout_);
  bar->addWidget(new QLabel(FormText(options_text::kTimeoutShort), page));
  bar->addWidget(timeout_, 1);
  bar->addWidget(new QLabel(FormText(options_text::kTimeoutLong), page));
  layout->addLayout(bar);
  timeoutText_ = new QLabel(page);
  timeoutText_->setObjectName("TimeoutText");
  timeoutText_->setAlignment(Qt::AlignHCenter);
  layout->addWidget(timeoutText_);
  connect(timeout_, &QSlider::valueChanged, this, [this](int value) {
    controller_.SetTimeout(value);
    timeoutText_->setText(QString::fromStdString(controller_.TimeoutText()));
  });

  auto* transfers = new QHBoxLayout;
  auto* transfersLabel = new QLabel(FormText(options_text::kMaxTransfers), page);
  maxTransfers_ = new QSpinBox(page);
  maxTransfers_->setObjectName("MaxTransfersEdit");
  maxTransfers_->setRange(kMinTransfers, kMaxTransfers);
  transfersLabel->setBuddy(maxTransfers_);
  transfers->addWidget(transfersLabel);
  transfers->addWidget(maxTransfers_);
  transfers->addStretch();
  layout->addLayout(transfers);

  auto* lan = new QPushButton(FormText(options_text::kLanSettings), page);
  lan->setObjectName("ProxySettingsBtn");
  connect(lan, &QPushButton::clicked, this, &TOptionsFrm::LanSettingsClicked);
  layout->addWidget(lan, 0, Qt::AlignLeft);
  return page;
}

QWidget* TOptionsFrm::BrowserPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page);
  addOns_ = AddAddOnBoxes(page);
  for (QCheckBox* box : {addOns_.BrowserExt, addOns_.ContextMenu, addOns_.QuickLaunch})
    connect(box, &QCheckBox::clicked, this, [this] { controller_.AddOnClicked(); });
  auto* row = new QHBoxLayout;
  navigator_ = new QCheckBox(FormText(options_text::kNavigator), page);
  navigator_->setObjectName("NavigatorBtn");
  programPath_ = new QPushButton(FormText(options_text::kProgramPath), page);
  programPath_->setObjectName("NavigatorPathBtn");
  connect(programPath_, &QPushButton::clicked, this, &TOptionsFrm::ProgramPathClicked);
  row->addWidget(navigator_);
  row->addStretch();
  row->addWidget(programPath_);
  layout->addLayout(row);
  return page;
}

QWidget* TOptionsFrm::CurrencyPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page);
  auto* label = new QLabel(FormText(options_text::kLocalCurrency), page);
  currency_ = new TCurrencyDropDownFrm(controller_.Currency, page);
  label->setBuddy(currency_->List());
  layout->addWidget(label);
  layout->addWidget(currency_);
  showConverted_ = AddCheckBox(page, "ShowConvertedValuesBtn", options_text::kShowConverted);
  return page;
}

QWidget* TOptionsFrm::AdvancedPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page);
  FixedBox(page, "SearchDeletionBtn", options_text::kSearchDeletion);
  auto* row = new QHBoxLayout;
  auto* label = new QLabel(FormText(options_text::kDeleteAfter), page);
  daysToKeep_ = new QSpinBox(page);
  daysToKeep_->setObjectName("DaysToKeepSearchesEdit");
  daysToKeep_->setRange(kMinDaysToKeep, kMaxDaysToKeep);
  label->setBuddy(daysToKeep_);
  row->addWidget(label);
  row->addWidget(daysToKeep_);
  row->addWidget(new QLabel(FormText(options_text::kDays), page));
  row->addStretch();
  layout->addLayout(row);
  return page;
}

void TOptionsFrm::ShowModel() {
  const TOptionsSettings& v = controller_.Values;
  showHints_->setChecked(v.ShowHints);
  graphScores_->setChecked(v.UseGraphScores);
  singleClick_->setChecked(v.SingleClickOpen);
  confirmStop_->setChecked(v.PromptStopMsg);
  confirmDelete_->setChecked(v.PromptDeleteSearchResultMsg);
  engineErrors_->setChecked(v.PromptEngineErrorMsg);
  booleanOps_->setChecked(v.PromptAndOrInformationMsg);
  timeout_->setValue(v.Timeout);
  timeoutText_->setText(QString::fromStdString(controller_.TimeoutText()));
  maxTransfers_->setValue(v.MaxTransfers);
  addOns_.BrowserExt->setChecked(v.UseExplorerBrowser);
  addOns_.ContextMenu->setChecked(v.UseExplorerContextMenu);
  addOns_.QuickLaunch->setChecked(v.UseExplorerQuickLaunch);
  navigator_->setChecked(v.ForceNavigatorUse);
  navigator_->setEnabled(controller_.NavigatorEnabled());
  currency_->Reload();
  showConverted_->setChecked(v.ShowConvertedCurrencies);
  daysToKeep_->setValue(v.DaysToKeepSearches);
}

void TOptionsFrm::TakeView() {
  TOptionsSettings& v = controller_.Values;
  v.ShowHints = showHints_->isChecked();
  v.UseGraphScores = graphScores_->isChecked();
  v.SingleClickOpen = singleClick_->isChecked();
  v.PromptStopMsg = confirmStop_->isChecked();
  v.PromptDeleteSearchResultMsg = confirmDelete_->isChecked();
  v.PromptEngineErrorMsg = engineErrors_->isChecked();
  v.PromptAndOrInformationMsg = booleanOps_->isChecked();
  controller_.SetTimeout(timeout_->value());
  controller_.SetMaxTransfers(maxTransfers_->value());
  v.UseExplorerBrowser = addOns_.BrowserExt->isChecked();
  v.UseExplorerContextMenu = addOns_.ContextMenu->isChecked();
  v.UseExplorerQuickLaunch = addOns_.QuickLaunch->isChecked();
  v.ForceNavigatorUse = navigator_->isChecked();
  v.ShowConvertedCurrencies = showConverted_->isChecked();
  controller_.SetDaysToKeepSearches(daysToKeep_->value());
}

void TOptionsFrm::ProgramPathClicked() {
  const QString chosen = ChooseProgram(QString::fromStdString(controller_.ProgramPathForBox()));
  if (chosen.isEmpty()) return;
  controller_.ProgramPathChosen(chosen.toStdString());
  navigator_->setEnabled(controller_.NavigatorEnabled());
}

void TOptionsFrm::LanSettingsClicked() {
  TLANSettingsFrm lan(settings_, detect_, this);
  lan.exec();
}

void TOptionsFrm::accept() {
  TakeView();
  {
    TBusyCursor busy;
    controller_.Accept();
  }
  QDialog::accept();
}

bool ExecuteOptionsForm(TAppConfig& config, TCurrencyConverter& converter, TOptionsHooks hooks,
                        QWidget* parent) {
  TDesktopSettingsStore settings(config);
  if (!hooks.RewriteIntegration) hooks.RewriteIntegration = [&config] { RewriteDesktopIntegration(config); };
  if (!hooks.SetForcedBrowser)
    hooks.SetForcedBrowser = [](bool force, const std::string& program) {
      WebBrowse().SetForcedBrowser(force, program);
    };
  if (!hooks.InstalledNavigatorPath)
    hooks.InstalledNavigatorPath = [] { return WebBrowse().GetNavigatorPath(); };
  TOptionsFrm form(settings, converter, std::move(hooks), TProxyDetect(&DetectProxy), parent);
  return form.exec() == QDialog::Accepted;
}

}  // namespace vandrel
