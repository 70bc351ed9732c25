// The start-up window: the product's name, a progress bar and what the start is doing.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace vandrel {

class TSplashFrm : public QWidget {
  Q_OBJECT

 public:
  explicit TSplashFrm(QWidget* parent = nullptr);

  // Paints at once: the start does its work on the main thread between calls.
  void SetProgress(int percent, const QString& text);
  QString Text() const;
  int Percent() const;

 private:
  QLabel* text_ = nullptr;
  QProgressBar* progress_ = nullptr;
};

}  // namespace vandrel
