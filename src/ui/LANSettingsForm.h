// The LAN settings dialog: the proxy the downloads go through.
#pragma once

#include <QDialog>

#include "presentation/LanSettingsController.h"
#include "ui/FormPages.h"
#include "ui/QtDesktopPorts.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace vandrel {

class TLANSettingsFrm : public QDialog {
  Q_OBJECT

 public:
  // `detect` proposes the desktop's proxy when none was ever entered; may be empty.
  TLANSettingsFrm(IDesktopSettings& settings, TProxyDetect detect, QWidget* parent = nullptr);

  TLanSettingsController& Controller() { return controller_; }
  void accept() override;  // stores, or stays open on an empty address

 private:
  void ShowModel();
  void TakeView();
  void UpdateEnabling();

  TQtUserPrompts prompts_;
  TLanSettingsController controller_;
  QCheckBox* useProxy_ = nullptr;
  TProxyServerRow server_;
  QCheckBox* useAuth_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
};

}  // namespace vandrel
