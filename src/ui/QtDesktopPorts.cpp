#include "ui/QtDesktopPorts.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "platform/MainDispatcher.h"

namespace vandrel {

TQtScheduler::~TQtScheduler() {
  for (auto& [id, timer] : Timers_) delete timer;
}

IScheduler::TTimerId TQtScheduler::Schedule(int delayMs, std::function<void()> task) {
  const TTimerId id = ++Next_;
  auto* timer = new QTimer;  // owned by Timers_
  timer->setSingleShot(true);
  QObject::connect(timer, &QTimer::timeout, [this, id, task = std::move(task)] {
    // The task may schedule or cancel others; the timer goes only after it ran.
    auto it = Timers_.find(id);
    if (it == Timers_.end()) return;
    QTimer* fired = it->second;
    Timers_.erase(it);
    fired->deleteLater();
    task();
  });
  Timers_[id] = timer;
  timer->start(std::max(0, delayMs));
  return id;
}

void TQtScheduler::Cancel(TTimerId id) {
  auto it = Timers_.find(id);
  if (it == Timers_.end()) return;
  it->second->stop();
  it->second->deleteLater();
  Timers_.erase(it);
}

namespace {

QMessageBox::Icon BoxIcon(TPromptIcon icon) {
  switch (icon) {
    case TPromptIcon::piWarning:
      return QMessageBox::Warning;
    case TPromptIcon::piError:
      return QMessageBox::Critical;
    case TPromptIcon::piQuestion:
      return QMessageBox::Question;
    case TPromptIcon::piInformation:
      break;
  }
  return QMessageBox::Information;
}

}  // namespace

TPromptReply TQtUserPrompts::Ask(const TPrompt& prompt) {
  QWidget* parent = Parent_ ? Parent_ : QApplication::activeWindow();
  QMessageBox box(BoxIcon(prompt.Icon), QString::fromStdString(prompt.Caption),
                  QString::fromStdString(prompt.Text), QMessageBox::NoButton, parent);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  std::map<QAbstractButton*, TPromptAnswer> answers;
  auto add = [&](const char* text, QMessageBox::ButtonRole role, TPromptAnswer answer) {
    QPushButton* button = box.addButton(QString::fromUtf8(text), role);
    answers[button] = answer;
    if (answer == prompt.Default) box.setDefaultButton(button);
    if (answer == TPromptAnswer::paCancel || answer == TPromptAnswer::paNo) box.setEscapeButton(button);
  };
  switch (prompt.Buttons) {
    case TPromptButtons::pbOk:
      add("OK", QMessageBox::AcceptRole, TPromptAnswer::paOk);
      break;
    case TPromptButtons::pbOkCancel:
      add("OK", QMessageBox::AcceptRole, TPromptAnswer::paOk);
      add("Cancel", QMessageBox::RejectRole, TPromptAnswer::paCancel);
      break;
    case TPromptButtons::pbYesNo:
      add("&Yes", QMessageBox::YesRole, TPromptAnswer::paYes);
      add("&No", QMessageBox::NoRole, TPromptAnswer::paNo);
      break;
    case TPromptButtons::pbYesNoCancel:
      add("&Yes", QMessageBox::YesRole, TPromptAnswer::paYes);
      add("&No", QMessageBox::NoRole, TPromptAnswer::paNo);
      add("Cancel", QMessageBox::RejectRole, TPromptAnswer::paCancel);
      break;
  }
  QCheckBox* dontAsk = nullptr;
  if (prompt.OfferDontAskAgain) {
    dontAsk = new QCheckBox(QStringLiteral("&Don't show me this again"));  // owned by the box
    box.setCheckBox(dontAsk);
  }
  box.exec();
  TPromptReply reply;
  auto it = answers.find(box.clickedButton());
  // Closed by the window manager: the button Escape would press, else the default.
  reply.Answer = it != answers.end()  ? it->second
                 : box.escapeButton() ? answers[box.escapeButton()]
                                      : prompt.Default;
  reply.DontAskAgain = dontAsk && dontAsk->isChecked();
  return reply;
}

void RunDispatcherFromEventLoop() {
  MainDispatcher::Default().SetWakeHandler([] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { MainDispatcher::Default().ProcessPending(); },
        Qt::QueuedConnection);
  });
}

}  // namespace vandrel
