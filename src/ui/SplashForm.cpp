#include "ui/SplashForm.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include "kernel/AppName.h"
#include "presentation/MainWindowController.h"

namespace vandrel {

TSplashFrm::TSplashFrm(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("SplashForm");
  setAttribute(Qt::WA_ShowWithoutActivating);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 24, 24, 18);
  auto* name = new QLabel(QString::fromUtf8(kProductName.data(), kProductName.size()), this);
  QFont font = name->font();
  font.setPointSize(font.pointSize() + 10);
  font.setBold(true);
  name->setFont(font);
  layout->addWidget(name);
  layout->addStretch(1);
  text_ = new QLabel(this);
  text_->setObjectName("SplashText");
  layout->addWidget(text_);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  layout->addWidget(progress_);
  setStyleSheet("TSplashFrm { background: #1f4e8c; } QLabel { color: white; }");
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(0x1f, 0x4e, 0x8c));
  setPalette(palette);
  resize(420, 220);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TSplashFrm::SetProgress(int percent, const QString& text) {
  progress_->setValue(percent);
  text_->setText(text);
  if (isVisible()) repaint();
}

QString TSplashFrm::Text() const {
  return text_->text();
}

int TSplashFrm::Percent() const {
  return progress_->value();
}

}  // namespace vandrel
