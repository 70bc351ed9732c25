// The about window and the window of a feature this version does not have.
#pragma once

#include <QDialog>

class QLabel;

namespace vandrel {

class TAboutFrm : public QDialog {
  Q_OBJECT

 public:
  // `openSite` opens the maker's web site in the user's browser.
  TAboutFrm(std::function<void()> openSite, QWidget* parent = nullptr);
  QString VersionText() const;
  QString VersionHint() const;

 private:
  QLabel* version_ = nullptr;
};

// "This feature is not available in the beta version of Vandrel Shopper." with an OK button.
class TNotImplementedFrm : public QDialog {
  Q_OBJECT

 public:
  explicit TNotImplementedFrm(QWidget* parent = nullptr);
};

}  // namespace vandrel
