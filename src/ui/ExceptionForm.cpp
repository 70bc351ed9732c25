#include "ui/ExceptionForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "kernel/AppName.h"

namespace vandrel {
namespace {

QPointer<TExceptionForm>& OpenForm() {
  static QPointer<TExceptionForm> form;
  return form;
}

QString ModulePath() {
  return QCoreApplication::applicationFilePath();
}

}  // namespace

TExceptionForm::TExceptionForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromStdString(AppName()));
  setModal(true);
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);
  detailsButton_ = new QPushButton(tr("&Details >>"), this);
  details_ = new QPlainTextEdit(this);
  details_->setReadOnly(true);
  details_->setVisible(false);

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(message_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(detailsButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  layout->addWidget(details_, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // grows and shrinks with the details

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(detailsButton_, &QPushButton::clicked, this, &TExceptionForm::ToggleDetails);
}

void TExceptionForm::SetInfo(const TExceptionInfo& info) {
  message_->setText(QString::fromStdString(info.Message));
  details_->setPlainText(
      tr("Class: %1\nModule: %2")
          .arg(QString::fromStdString(info.ClassName), QString::fromStdString(info.Module)));
}

void TExceptionForm::ToggleDetails() {
  bool show = !details_->isVisible();
  details_->setVisible(show);
  detailsButton_->setText(show ? tr("No &Details") : tr("&Details >>"));
}

bool TExceptionForm::DetailsShown() const {
  return details_->isVisible();
}

QString TExceptionForm::Message() const {
  return message_->text();
}

TExceptionForm* TExceptionForm::Current() {
  return OpenForm().data();
}

void TExceptionForm::ShowException(const TExceptionInfo& info) {
  if (TExceptionForm* open = OpenForm().data()) {
    open->SetInfo(info);
    open->raise();
    return;
  }
  TExceptionForm form;
  OpenForm() = &form;
  form.SetInfo(info);
  form.exec();
}

TVandrelApplication::TVandrelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVandrelApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

void ShowCurrentException() {
  TExceptionInfo info = DescribeCurrentException(ModulePath().toStdString());
  try {
    TExceptionForm::ShowException(info);
  } catch (...) {
    try {
      QMessageBox::critical(nullptr, QString::fromStdString(AppName()), QString::fromStdString(info.Message));
    } catch (...) {
      std::_Exit(1);
    }
  }
}

int RunGuarded(const std::function<int()>& body, const char* module) {
  try {
    return body();
  } catch (...) {
    if (QApplication::instance()) {
      ShowCurrentException();
    } else {
      std::fprintf(stderr, "%s: %s\n", AppName().c_str(), DescribeCurrentException(module).Message.c_str());
    }
    return 1;
  }
}

}  // namespace vandrel
