#include "ui/SetupWizForm.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "http/ProxyDetectTools.h"
#include "integration/ExplorerIntegration.h"
#include "kernel/AppConfig.h"
#include "kernel/AppName.h"
#include "kernel/DesktopSettingsStore.h"
#include "platform/RegistryStore.h"
#include "presentation/UpdaterWindow.h"
#include "ui/CurrencyDropDownFrame.h"
#include "ui/FormPages.h"
#include "ui/UpdaterForm.h"

namespace vandrel {

TSetupCancelForm::TSetupCancelForm(QWidget* parent) : QDialog(parent) {
  setObjectName("SetupCancelForm");
  setWindowTitle(FormText(setup_text::kLeaveCaption));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  row->addWidget(icon, 0, Qt::AlignTop);
  QString text = FormText(setup_text::kLeaveText);
  text.replace("\r\n", "\n");
  row->addWidget(new QLabel(text, this), 1);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* keep = buttons->addButton(FormText(setup_text::kContinue), QDialogButtonBox::AcceptRole);
  QPushButton* exit = buttons->addButton(FormText(setup_text::kExit), QDialogButtonBox::DestructiveRole);
  keep->setObjectName("ContinueBtn");
  exit->setObjectName("ExitBtn");
  keep->setDefault(true);
  connect(keep, &QPushButton::clicked, this, [this] { done(static_cast<int>(TLeaveChoice::lcContinue)); });
  connect(exit, &QPushButton::clicked, this, [this] { done(static_cast<int>(TLeaveChoice::lcExit)); });
  layout->addWidget(buttons);
}

TLeaveChoice TSetupCancelForm::Ask(QWidget* parent) {
  TSetupCancelForm form(parent);
  // Esc and the close button reject, which counts as Continue.
  return form.exec() == static_cast<int>(TLeaveChoice::lcExit) ? TLeaveChoice::lcExit
                                                               : TLeaveChoice::lcContinue;
}

// ---------------------------------------------------------------------------------------------------

TSetupWizFrm::TSetupWizFrm(IDesktopSettings& settings, TCurrencyConverter& converter, TProxyDetect detect,
                           TSetupWizardHooks hooks, QWidget* parent, TAppUpdater* updater)
    : QDialog(parent), prompts_(this) {
  setObjectName("SetupWizFrm");
  setWindowTitle(FormText(setup_text::kCaption));
  auto runUpdate = std::move(hooks.RunEngineUpdate);
  hooks.RunEngineUpdate = [this, runUpdate, updater]() {
    QCoreApplication::processEvents();  // the page is on screen before the update starts
    if (updater) return RunUpdateInPage(*updater);
    return runUpdate ? runUpdate() : true;
  };
  hooks.AskLeave = [this] { return TSetupCancelForm::Ask(this); };
  hooks.Changed = [this] { ShowModel(); };
  hooks.Closed = [this](bool finished) { done(finished ? QDialog::Accepted : QDialog::Rejected); };
  controller_ = std::make_unique<TSetupWizardController>(settings, converter, prompts_, scheduler_,
                                                         std::move(detect), std::move(hooks));

  auto* layout = new QVBoxLayout(this);
  auto* header = new QLabel(FormText("%APPNAME%"), this);
  header->setObjectName("SetupWizHeader");
  header->setFixedHeight(56);
  header->setIndent(16);
  header->setStyleSheet(
      "QLabel { color: white; font-size: 18pt; font-weight: bold;"
      " background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #1d4f91, stop:1 #6fa3dc); }");
  layout->addWidget(header);
  title_ = new QLabel(this);
  title_->setObjectName("TitleLabel");
  QFont bold = title_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  title_->setFont(bold);
  layout->addWidget(title_);
  pages_ = new QStackedWidget(this);
  pages_->addWidget(ConnectionPage());
  pages_->addWidget(NetworkPage());
  pages_->addWidget(AddOnsPage());
  pages_->addWidget(RegionalPage());
  pages_->addWidget(UpdatesPage());
  pages_->addWidget(UpdatingPage());
  pages_->addWidget(ReadyPage());
  layout->addWidget(pages_, 1);

  auto* buttons = new QHBoxLayout;
  back_ = new QPushButton(FormText(setup_text::kBack), this);
  back_->setObjectName("BackBtn");
  next_ = new QPushButton(FormText(setup_text::kNext), this);
  next_->setObjectName("NextBtn");
  next_->setDefault(true);
  cancel_ = new QPushButton(FormText(setup_text::kCancel), this);
  cancel_->setObjectName("CancelBtn");
  buttons->addStretch();
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addSpacing(12);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(next_, &QPushButton::clicked, this, &TSetupWizFrm::NextClicked);
  connect(back_, &QPushButton::clicked, this, &TSetupWizFrm::BackClicked);
  connect(cancel_, &QPushButton::clicked, this, &TSetupWizFrm::reject);
  resize(520, 400);

  QApplication::setOverrideCursor(Qt::WaitCursor);
  controller_->Load();
  QApplication::restoreOverrideCursor();
}

QWidget* TSetupWizFrm::ConnectionPage() {
  return QuestionPage(setup_text::kConnectionQuestion, {{modem_, "ModemConnectionBtn", setup_text::kModem},
                                                        {lan_, "LANConnectionBtn", setup_text::kLan}});
}

QWidget* TSetupWizFrm::NetworkPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page, setup_text::kProxyQuestion);
  direct_ = AddRadioButton(page, "UseDirectConnectBtn", setup_text::kDirect);
  proxy_ = AddRadioButton(page, "UseProxyBtn", setup_text::kUseProxy);
  proxyFields_ = new QWidget(page);
  auto* fields = new QVBoxLayout(proxyFields_);
  proxyServer_ = AddProxyServerRow(proxyFields_, fields);
  auto* note = new QLabel(FormText(setup_text::kProxyNote), proxyFields_);
  note->setWordWrap(true);
  fields->addWidget(note);
  layout->addWidget(proxyFields_);
  connect(proxy_, &QRadioButton::toggled, this, [this](bool on) {
    controller_->UseProxy = on;
    proxyFields_->setVisible(controller_->ProxyFieldsVisible());
  });
  return page;
}

QWidget* TSetupWizFrm::AddOnsPage() {
  auto* page = new QWidget;
  PageLayout(page);
  addOns_ = AddAddOnBoxes(page);
  return page;
}

QWidget* TSetupWizFrm::RegionalPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page, setup_text::kCurrencyQuestion);
  currency_ = new TCurrencyDropDownFrm(controller_->Currency, page);
  layout->addWidget(currency_);
  showConverted_ = AddCheckBox(page, "ShowConvertedValuesBtn", setup_text::kUseCurrency);
  return page;
}

QWidget* TSetupWizFrm::UpdatesPage() {
  return QuestionPage(setup_text::kUpdateQuestion, {{updateYes_, "UpdateYesBtn", setup_text::kUpdateYes},
                                                    {updateNo_, "UpdateNoBtn", setup_text::kUpdateNo}});
}

QWidget* TSetupWizFrm::UpdatingPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page);
  updateFrame_ = new TUpdaterFrm(page);
  layout->addWidget(updateFrame_);
  return page;
}

TSetupWizFrm::~TSetupWizFrm() = default;

bool TSetupWizFrm::RunUpdateInPage(TAppUpdater& updater) {
  update_ = std::make_unique<TUpdaterWindow>(updater, scheduler_, prompts_);
  TUpdaterWindow& update = *update_;
  update.AppName = AppName();
  update.AllCategories = true;
  update.CloseDelayMs = 0;  // the wizard pauses on the last state itself
  update.OnChanged = [this, &update] { updateFrame_->Follow(update); };
  QEventLoop wait;
  update.OnClose = [&wait](TUpdaterWindowResult) { wait.quit(); };
  update.Shown();
  if (!update.Finished()) wait.exec();
  if (!update.Finished()) update.ShowFailed();  // the loop was left from elsewhere: stop what runs
  const bool finished = update.Result() == TUpdaterWindowResult::uwrOk;
  update.OnChanged = nullptr;
  update.OnClose = nullptr;
  update_.reset();
  return finished;
}

QWidget* TSetupWizFrm::ReadyPage() {
  auto* page = new QWidget;
  auto* layout = PageLayout(page);
  QString text = FormText(setup_text::kReady);
  text.replace("\r\n", "\n");
  auto* label = new QLabel(text, page);
  label->setWordWrap(true);
  layout->addWidget(label);
  return page;
}

void TSetupWizFrm::ShowModel() {
  const TSetupWizardController& c = *controller_;
  title_->setText(FormText(c.Title()));
  pages_->setCurrentIndex(static_cast<int>(c.Page()));
  (c.Lan ? lan_ : modem_)->setChecked(true);
  (c.UseProxy ? proxy_ : direct_)->setChecked(true);
  proxyFields_->setVisible(c.ProxyFieldsVisible());
  proxyServer_.Type->setCurrentIndex(c.ProxyType == ptSocks ? 1 : 0);
  proxyServer_.Address->setText(QString::fromStdString(c.ProxyAddress));
  proxyServer_.Port->setValue(c.ProxyPort);
  addOns_.BrowserExt->setChecked(c.UseBrowserExtensions);
  addOns_.ContextMenu->setChecked(c.UseContextMenu);
  addOns_.QuickLaunch->setChecked(c.UseQuickLaunch);
  currency_->Reload();
  showConverted_->setChecked(c.ShowConverted);
  (c.UpdateNow ? updateYes_ : updateNo_)->setChecked(true);
  back_->setEnabled(c.BackEnabled());
  next_->setEnabled(c.NextEnabled());
  cancel_->setEnabled(c.CancelEnabled());
  next_->setText(FormText(c.NextCaption()));
  if (c.AddressNeedsFocus()) {
    proxyServer_.Address->setFocus();
  } else if (c.Page() == TSetupPage::spReady) {
    next_->setFocus();
  } else if (c.Page() == TSetupPage::spConnection) {
    (c.Lan ? lan_ : modem_)->setFocus();
  }
}

void TSetupWizFrm::TakeView() {
  TSetupWizardController& c = *controller_;
  c.Lan = lan_->isChecked();
  c.UseProxy = proxy_->isChecked();
  c.ProxyType = proxyServer_.Type->currentIndex() == 1 ? ptSocks : ptHttp;
  c.ProxyAddress = proxyServer_.Address->text().toStdString();
  c.SetProxyPort(proxyServer_.Port->value());
  c.UseBrowserExtensions = addOns_.BrowserExt->isChecked();
  c.UseContextMenu = addOns_.ContextMenu->isChecked();
  c.UseQuickLaunch = addOns_.QuickLaunch->isChecked();
  c.ShowConverted = showConverted_->isChecked();
  c.UpdateNow = updateYes_->isChecked();
}

void TSetupWizFrm::NextClicked() {
  TakeView();
  controller_->Next();
}

void TSetupWizFrm::BackClicked() {
  TakeView();
  controller_->Back();
}

void TSetupWizFrm::reject() {
  if (controller_->Closed()) {
    QDialog::reject();
    return;
  }
  // During the update "Cancel" stops it; the wizard goes on once the runner is idle.
  if (update_) {
    update_->CancelPressed();
    return;
  }
  TakeView();
  controller_->Cancel();
}

void TSetupWizFrm::closeEvent(QCloseEvent* event) {
  if (controller_->Closed()) {
    event->accept();
    return;
  }
  event->ignore();
  reject();
}

// ---------------------------------------------------------------------------------------------------

void RewriteDesktopIntegration(TAppConfig& config) {
  TIETools tools(SystemRegistry(), DefaultDesktopPlaces());
  TIntegrationInputs inputs;
  inputs.ProgramPath = QCoreApplication::applicationFilePath().toStdString();
  inputs.RootFolder = config.RootFolder();
  inputs.UseQuickLaunch = config.Preferences().UseExplorerQuickLaunch();
  inputs.UseContextMenu = config.Preferences().UseExplorerContextMenu();
  inputs.UseBrowser = config.Preferences().UseExplorerBrowser();
  inputs.IEVersion = config.IEVersion();
  ReportIntegrationOutcome(UpdateExplorerIntegration(false, inputs, tools));
}

bool ExecuteSetupWizard(TAppConfig& config, TCurrencyConverter& converter, TSetupWizardRun run) {
  TDesktopSettingsStore settings(config);
  TSetupWizardHooks hooks;
  hooks.RunEngineUpdate = std::move(run.RunEngineUpdate);
  hooks.RewriteIntegration = run.RewriteIntegration
                                 ? std::move(run.RewriteIntegration)
                                 : std::function<void()>([&config] { RewriteDesktopIntegration(config); });
  hooks.ReloadPriceResults = std::move(run.ReloadPriceResults);
  TProxyDetect detect = run.Detect ? std::move(run.Detect) : TProxyDetect(&DetectProxy);
  TSetupWizFrm wizard(settings, converter, std::move(detect), std::move(hooks), run.Parent, run.Updater);
  return wizard.exec() == QDialog::Accepted;
}

}  // namespace vandrel
