#include "ui/AdInfoForm.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "presentation/AdManager.h"

namespace vandrel {

namespace {

QLineEdit* AddressField(const std::string& text, QWidget* parent) {
  auto* field = new QLineEdit(QString::fromStdString(text), parent);
  field->setReadOnly(true);
  field->setMinimumWidth(360);
  field->setCursorPosition(0);
  return field;
}

}  // namespace

TAdInfoForm::TAdInfoForm(const std::string& image, const std::string& target, const std::string& final,
                         std::string banner, QWidget* parent)
    : QDialog(parent),
      Image_(AddressField(image, this)),
      Target_(AddressField(target, this)),
      Final_(AddressField(final, this)),
      Banner_(std::move(banner)) {
  setObjectName("AdInfoForm");
  setWindowTitle("Advertisement Links");
  auto* form = new QFormLayout;
  auto addRow = [&](const char* caption, QLineEdit* field) {
    auto* label = new QLabel(caption, this);
    label->setBuddy(field);
    form->addRow(label, field);
  };
  addRow("&Image:", Image_);
  addRow("&Target:", Target_);
  addRow("&Final:", Final_);
  auto* ok = new QPushButton("&OK", this);
  ok->setDefault(true);
  auto* save = new QPushButton("&Save Image...", this);
  save->setEnabled(!Banner_.empty());
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(save, &QPushButton::clicked, this, &TAdInfoForm::SaveImage);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
}

QString TAdInfoForm::ImageText() const {
  return Image_->text();
}
QString TAdInfoForm::TargetText() const {
  return Target_->text();
}
QString TAdInfoForm::FinalText() const {
  return Final_->text();
}

void TAdInfoForm::SaveImage() {
  QFileDialog box(this, "Save Image", QString(), "Gif image (*.gif)");
  box.setAcceptMode(QFileDialog::AcceptSave);
  box.setDefaultSuffix("gif");
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return;
  SaveImageTo(box.selectedFiles().front());
}

bool TAdInfoForm::SaveImageTo(const QString& path) {
  if (SaveBannerImage(Banner_, path.toStdString())) return true;
  QMessageBox::critical(this, windowTitle(), "Error while saving image.");
  return false;
}

}  // namespace vandrel
