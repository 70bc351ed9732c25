// The currency picker: the currency table in a drop-down list with today's rate of the picked one.
#pragma once

#include <QWidget>

#include "presentation/OptionsController.h"

class QComboBox;
class QLabel;

namespace vandrel {

class TCurrencyDropDownFrm : public QWidget {
  Q_OBJECT

 public:
  // `picker` holds the choice and must outlive the frame.
  explicit TCurrencyDropDownFrm(TCurrencyPicker& picker, QWidget* parent = nullptr);

  // Shows the picker's entries and its current choice.
  void Reload();
  QComboBox* List() const { return list_; }
  QString RateText() const;

 signals:
  void CurrencyChanged();

 private:
  void Picked(int index);

  TCurrencyPicker& picker_;
  QComboBox* list_ = nullptr;
  QLabel* rate_ = nullptr;
};

}  // namespace vandrel
