#include "ui/AboutForm.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>
#include <functional>

#include "actions/QuorinApplications.h"
#include "kernel/AppName.h"
#include "presentation/MainWindowController.h"

namespace vandrel {
namespace {

QString Q(std::string_view text) {
  return QString::fromStdString(ExpandAppName(text));
}

QLabel* IconLabel(QStyle::StandardPixmap which, QWidget* parent) {
  auto* icon = new QLabel(parent);
  icon->setPixmap(parent->style()->standardIcon(which).pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);
  return icon;
}

}  // namespace

TAboutFrm::TAboutFrm(std::function<void()> openSite, QWidget* parent) : QDialog(parent) {
  setObjectName("AboutForm");
  setWindowTitle(Q("About %APPNAME%"));
  const TQuorinVersionInfo version = TQuorinVersionInfo::FromBuild();

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  QIcon appIcon = QApplication::windowIcon();
  auto* icon = appIcon.isNull() ? IconLabel(QStyle::SP_ComputerIcon, this) : new QLabel(this);
  if (!appIcon.isNull()) icon->setPixmap(appIcon.pixmap(48, 48));
  top->addWidget(icon);
  auto* texts = new QVBoxLayout;
  auto* product = new QLabel(Q(kProductName), this);
  QFont font = product->font();
  font.setBold(true);
  font.setPointSize(font.pointSize() + 4);
  product->setFont(font);
  texts->addWidget(product);
  version_ = new QLabel(Q(AboutVersionText(version.Version, version.BuildNumber)), this);
  version_->setObjectName("AboutVersion");
  version_->setToolTip(Q(AboutVersionHint(version.Edition, version.Language, version.BuildNumber)));
  texts->addWidget(version_);
  auto* legal = new QLabel(
      Q("Copyright (C) VandrelSoft. All rights reserved.\n"
        "This program is protected by copyright law. Unauthorised reproduction or distribution of this "
        "program, or any portion of it, is not permitted."),
      this);
  legal->setWordWrap(true);
  texts->addWidget(legal);
  auto* site = new QLabel(QString("<a href=\"site\">%1</a>").arg(Q(kMakerSite).toHtmlEscaped()), this);
  site->setObjectName("AboutSite");
  site->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(site, &QLabel::linkActivated, this, [openSite = std::move(openSite)] {
    if (openSite) openSite();
  });
  texts->addWidget(site);
  top->addLayout(texts, 1);
  layout->addLayout(top);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  setMinimumWidth(420);
}

QString TAboutFrm::VersionText() const {
  return version_->text();
}

QString TAboutFrm::VersionHint() const {
  return version_->toolTip();
}

TNotImplementedFrm::TNotImplementedFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("NotImplementedForm");
  setWindowTitle(Q("%APPNAME%"));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(IconLabel(QStyle::SP_MessageBoxInformation, this));
  auto* text = new QLabel(Q(kNotAvailableText), this);
  text->setObjectName("NotImplementedText");
  text->setWordWrap(true);
  row->addWidget(text, 1);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

}  // namespace vandrel
