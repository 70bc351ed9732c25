#include "ui/PropertiesForm.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vandrel {

namespace {

QLabel* TextLabel(const std::string& text, QWidget* parent) {
  auto* label = new QLabel(QString::fromStdString(text), parent);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  return label;
}

}  // namespace

TPropertiesForm::TPropertiesForm(const TResultProperties& p, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Search Result Properties");
  setObjectName("PropertiesForm");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* title = TextLabel(p.Title, this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);

  Pages_ = new QTabWidget(this);
  auto* general = new QWidget(Pages_);
  auto* form = new QFormLayout(general);
  for (const TResultProperties::TLine& line : p.General) {
    if (line.Summary) {
      auto* box = new QPlainTextEdit(QString::fromStdString(line.Text), general);
      box->setReadOnly(true);
      form->addRow(QString::fromStdString(line.Label), box);
    } else {
      form->addRow(QString::fromStdString(line.Label), TextLabel(line.Text, general));
    }
  }
  Pages_->addTab(general, "General");

  auto* details = new QWidget(Pages_);
  auto* detailForm = new QFormLayout(details);
  detailForm->addRow("Date visited:", TextLabel(p.DateVisited, details));
  detailForm->addRow("Found by:", TextLabel(p.FoundBy, details));
  detailForm->addRow("Address:", TextLabel(p.Address, details));
  Pages_->addTab(details, "Details");
  layout->addWidget(Pages_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

}  // namespace vandrel
