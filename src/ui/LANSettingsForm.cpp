#include "ui/LANSettingsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vandrel {
namespace {
QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}
}  // namespace

TLANSettingsFrm::TLANSettingsFrm(IDesktopSettings& settings, TProxyDetect detect, QWidget* parent)
    : QDialog(parent), prompts_(this), controller_(settings, prompts_, std::move(detect)) {
  setObjectName("LANSettingsFrm");
  setWindowTitle(Text(lan_text::kCaption));
  auto* layout = new QVBoxLayout(this);
  useProxy_ = new QCheckBox(Text(lan_text::kUseProxy), this);
  useProxy_->setObjectName("UseProxyBtn");
  layout->addWidget(useProxy_);

  server_ = AddProxyServerRow(this, layout);
  server_.Address->setMinimumWidth(200);

  useAuth_ = new QCheckBox(Text(lan_text::kUseAuthorization), this);
  useAuth_->setObjectName("UseAuthBtn");
  layout->addWidget(useAuth_);
  auto* credentials = new QFormLayout;
  user_ = new QLineEdit(this);
  user_->setObjectName("UserNameEdit");
  password_ = new QLineEdit(this);
  password_->setObjectName("PasswordEdit");
  password_->setEchoMode(QLineEdit::Password);
  auto* userLabel = new QLabel(Text(lan_text::kUserName), this);
  userLabel->setBuddy(user_);
  auto* passwordLabel = new QLabel(Text(lan_text::kPassword), this);
  passwordLabel->setBuddy(password_);
  credentials->addRow(userLabel, user_);
  credentials->addRow(passwordLabel, password_);
  layout->addLayout(credentials);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TLANSettingsFrm::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TLANSettingsFrm::reject);

  connect(useProxy_, &QCheckBox::toggled, this, [this] {
    TakeView();
    UpdateEnabling();
  });
  connect(useAuth_, &QCheckBox::toggled, this, [this] {
    TakeView();
    UpdateEnabling();
  });
  connect(server_.Type, &QComboBox::currentIndexChanged, this, [this](int index) {
    controller_.SetType(index == 1 ? ptSocks : ptHttp);
    ShowModel();
  });

  controller_.Load();
  ShowModel();
}

void TLANSettingsFrm::ShowModel() {
  const QSignalBlocker b1(useProxy_), b2(server_.Type), b3(useAuth_);
  useProxy_->setChecked(controller_.UseProxy);
  server_.Type->setCurrentIndex(controller_.Type == ptSocks ? 1 : 0);
  server_.Address->setText(QString::fromStdString(controller_.Address));
  server_.Port->setValue(controller_.Port);
  useAuth_->setChecked(controller_.UseAuthorization);
  user_->setText(QString::fromStdString(controller_.UserName));
  password_->setText(QString::fromStdString(controller_.Password));
  UpdateEnabling();
}

void TLANSettingsFrm::TakeView() {
  controller_.UseProxy = useProxy_->isChecked();
  controller_.Address = server_.Address->text().toStdString();
  controller_.SetPort(server_.Port->value());
  controller_.UseAuthorization = useAuth_->isChecked();
  controller_.UserName = user_->text().toStdString();
  controller_.Password = password_->text().toStdString();
}

void TLANSettingsFrm::UpdateEnabling() {
  for (QWidget* w : {static_cast<QWidget*>(server_.Type), static_cast<QWidget*>(server_.Address),
                     static_cast<QWidget*>(server_.Port)})
    w->setEnabled(controller_.TypeEnabled());
  useAuth_->setEnabled(controller_.AuthorizationEnabled());
  user_->setEnabled(controller_.CredentialsEnabled());
  password_->setEnabled(controller_.CredentialsEnabled());
}

void TLANSettingsFrm::accept() {
  TakeView();
  if (!controller_.Accept()) {
    server_.Address->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace vandrel
