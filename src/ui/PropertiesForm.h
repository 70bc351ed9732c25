// "Search Result Properties": a result's shown fields and where it came from.
#pragma once

#include <QDialog>

#include "presentation/ResultFrameController.h"

class QTabWidget;

namespace vandrel {

class TPropertiesForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPropertiesForm(const TResultProperties& properties, QWidget* parent = nullptr);
  QTabWidget* Pages() const { return Pages_; }

 private:
  QTabWidget* Pages_ = nullptr;
};

}  // namespace vandrel
