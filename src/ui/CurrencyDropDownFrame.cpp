#include "ui/CurrencyDropDownFrame.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vandrel {

TCurrencyDropDownFrm::TCurrencyDropDownFrm(TCurrencyPicker& picker, QWidget* parent)
    : QWidget(parent), picker_(picker) {
  setObjectName("CurrencyDropDownFrm");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  list_ = new QComboBox(this);
  list_->setObjectName("CurrencyList");
  list_->setMaxVisibleItems(16);
  rate_ = new QLabel(this);
  rate_->setObjectName("RateLabel");
  layout->addWidget(list_);
  layout->addWidget(rate_);
  connect(list_, &QComboBox::currentIndexChanged, this, &TCurrencyDropDownFrm::Picked);
  Reload();
}

void TCurrencyDropDownFrm::Reload() {
  {
    const QSignalBlocker block(list_);
    list_->clear();
    for (const std::string& item : picker_.Items()) list_->addItem(QString::fromStdString(item));
    list_->setCurrentIndex(picker_.Index());
  }
  rate_->setText(QString::fromStdString(picker_.RateText()));
}

void TCurrencyDropDownFrm::Picked(int index) {
  picker_.SelectIndex(index);
  rate_->setText(QString::fromStdString(picker_.RateText()));
  emit CurrencyChanged();
}

QString TCurrencyDropDownFrm::RateText() const {
  return rate_->text();
}

}  // namespace vandrel
