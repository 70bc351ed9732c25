// "Advertisement Links": the shown banner's picture, target and final addresses, and saving the picture.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

namespace vandrel {

class TAdInfoForm : public QDialog {
  Q_OBJECT
 public:
  TAdInfoForm(const std::string& image, const std::string& target, const std::string& final,
              std::string banner, QWidget* parent = nullptr);

  QString ImageText() const;
  QString TargetText() const;
  QString FinalText() const;
  // Writes the banner to `path`; false after telling the user "Error while saving image.".
  bool SaveImageTo(const QString& path);

 private:
  void SaveImage();

  QLineEdit* Image_;
  QLineEdit* Target_;
  QLineEdit* Final_;
  std::string Banner_;
};

}  // namespace vandrel
