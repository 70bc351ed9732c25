#include "ui/UpdaterForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "actions/QuorinApplications.h"
#include "integration/WebBrowse.h"
#include "kernel/AppConfig.h"
#include "kernel/AppName.h"
#include "kernel/AppUpdaterSettings.h"
#include "ui/FormPages.h"

namespace vandrel {

TUpdaterFrm::TUpdaterFrm(QWidget* parent)
    : QWidget(parent), StatusLbl_(new QLabel(this)), ProgressBar_(new QProgressBar(this)) {
  StatusLbl_->setObjectName("StatusLbl");
  StatusLbl_->setText("Preparing update...");
  ProgressBar_->setObjectName("ProgressBar");
  ProgressBar_->setRange(0, 100);
  ProgressBar_->setTextVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(StatusLbl_);
  layout->addWidget(ProgressBar_);
}

void TUpdaterFrm::Follow(const TUpdaterWindow& window) {
  StatusLbl_->setText(QString::fromStdString(window.Status()));
  const bool moved = ProgressBar_->value() != window.Progress();
  ProgressBar_->setValue(window.Progress());
  // The step's text shows at once, even while the update keeps the loop busy; so does the install's bar.
  StatusLbl_->repaint();
  if (moved && window.Installing()) ProgressBar_->repaint();
}

QString TUpdaterFrm::StatusText() const {
  return StatusLbl_->text();
}

int TUpdaterFrm::ProgressValue() const {
  return ProgressBar_->value();
}

TEngineUpdaterFrm::TEngineUpdaterFrm(TAppUpdater& updater, bool fullMode, bool allCategories, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      Prompts_(this),
      Window_(std::make_unique<TUpdaterWindow>(updater, Scheduler_, Prompts_)),
      Frame_(new TUpdaterFrm(this)),
      CancelBtn_(new QPushButton(this)) {
  setObjectName("EngineUpdaterFrm");
  setWindowTitle(TUpdaterWindow::kCaption);
  setModal(true);
  Window_->FullMode = fullMode;
  Window_->AllCategories = allCategories;
  Window_->AppName = AppName();

  auto* picture = new QLabel(this);
  picture->setPixmap(style()->standardIcon(QStyle::SP_BrowserReload).pixmap(32, 32));
  picture->setFixedSize(32, 32);
  auto* intro = new QLabel(FormText(TUpdaterWindow::kIntroText), this);
  intro->setWordWrap(true);
  auto* top = new QHBoxLayout;
  top->addWidget(picture, 0, Qt::AlignTop);
  top->addWidget(intro, 1);
  CancelBtn_->setObjectName("CancelBtn");
  CancelBtn_->setText(QString::fromStdString(Window_->ButtonText()));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(CancelBtn_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Frame_);
  layout->addLayout(buttons);
  setFixedWidth(420);

  connect(CancelBtn_, &QPushButton::clicked, this, [this] { Window_->CancelPressed(); });
  Window_->OnChanged = [this] { Frame_->Follow(*Window_); };
  Window_->OnClose = [this](TUpdaterWindowResult result) {
    done(result == TUpdaterWindowResult::uwrOk ? QDialog::Accepted : QDialog::Rejected);
  };
}

TEngineUpdaterFrm::~TEngineUpdaterFrm() {
  Window_->OnClose = nullptr;
  Window_->OnChanged = nullptr;
}

void TEngineUpdaterFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  Window_->Shown();
}

void TEngineUpdaterFrm::reject() {
  Window_->CancelPressed();
}

void TEngineUpdaterFrm::closeEvent(QCloseEvent* event) {
  // The window has no close button; a close from elsewhere waits for the update like the button does.
  if (!Window_->Finished()) {
    Window_->CancelPressed();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

bool ExecuteEngineUpdate(QWidget* parent, TAppUpdater& updater, const TEngineUpdateOptions& options) {
  TEngineUpdaterFrm window(updater, options.FullMode, options.AllCategories, parent);
  TUpdaterWindow& controller = window.Controller();
  controller.AskSoftwareUpdate = options.AskSoftwareUpdate;
  controller.OpenPage = [](const std::string& address) { WebBrowse().LaunchBrowserWithRetry(address); };
  // Without a screen the dialog cannot be shown; a dialog that ends without its controller's word (its
  // parent went, the loop was quit) is the same case: nothing may stay running behind it.
  if (!QGuiApplication::primaryScreen()) {
    controller.ShowFailed();
    return false;
  }
  window.exec();
  if (!controller.Finished()) controller.ShowFailed();
  return controller.Result() == TUpdaterWindowResult::uwrOk;
}

TAppUpdater& ProgramUpdater() {
  static TAppConfigUpdaterSettings settings(AppConfig());
  static TAppUpdater updater(TQuorinApplication::Instance(), settings);
  return updater;
}

bool ExecuteEngineUpdate(QWidget* parent, const TEngineUpdateOptions& options) {
  return ExecuteEngineUpdate(parent, ProgramUpdater(), options);
}

std::function<bool()> UpdateDueCheck() {
  return [] { return ProgramUpdater().IsUpdateDue(); };
}

std::function<void()> BeforeSearchUpdate(std::function<QWidget*()> parent) {
  return [parent = std::move(parent)] {
    TEngineUpdateOptions options;
    options.FullMode = false;
    options.AllCategories = false;
    ExecuteEngineUpdate(parent ? parent() : nullptr, options);
  };
}

}  // namespace vandrel
