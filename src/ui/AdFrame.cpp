#include "ui/AdFrame.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include "integration/WebBrowse.h"
#include "kernel/AppName.h"
#include "platform/GifDecoder.h"
#include "ui/AdInfoForm.h"

namespace vandrel {

TGifImage::TGifImage(QWidget* parent) : QWidget(parent), Timer_(new QTimer(this)) {
  setObjectName("GIFImage");
  Timer_->setSingleShot(true);
  connect(Timer_, &QTimer::timeout, this, &TGifImage::Advance);
}

bool TGifImage::Load(const std::string& bytes) {
  Clear();
  TGifPicture picture;
  if (DecodeGif(bytes, picture) != TGifError::geNone) return false;
  for (TGifFrame& frame : picture.Frames) {
    QImage image(picture.Width, picture.Height, QImage::Format_ARGB32);
    for (int y = 0; y < picture.Height; ++y)
      std::memcpy(image.scanLine(y), frame.Pixels.data() + size_t(y) * picture.Width,
                  size_t(picture.Width) * sizeof(uint32_t));
    Frames_.push_back(std::move(image));
    Delays_.push_back(GifDisplayDelayMs(frame));
  }
  if (Frames_.size() > 1) Timer_->start(Delays_[0]);
  update();
  return true;
}

void TGifImage::Clear() {
  Timer_->stop();
  Frames_.clear();
  Delays_.clear();
  Current_ = 0;
  update();
}

const QImage& TGifImage::CurrentImage() const {
  static const QImage none;
  return Frames_.empty() ? none : Frames_[Current_];
}

void TGifImage::Advance() {
  // Played once: the last frame stays.
  if (Current_ + 1 >= int(Frames_.size())) return;
  ++Current_;
  update();
  if (Current_ + 1 < int(Frames_.size())) Timer_->start(Delays_[Current_]);
}

void TGifImage::paintEvent(QPaintEvent*) {
  if (Frames_.empty()) return;
  QPainter painter(this);
  const QImage& image = Frames_[Current_];
  painter.drawImage((width() - image.width()) / 2, (height() - image.height()) / 2, image);
}

TAdFrm::TAdFrm(const std::string& dataFolder, QWidget* parent)
    : QWidget(parent),
      Manager_(std::make_unique<TAdManager>()),
      Strip_(std::make_unique<TAdStrip>(*Manager_, Scheduler_)),
      Picture_(new TGifImage(this)) {
  setObjectName("AdFrm");
  setAutoFillBackground(true);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setFixedHeight(kStripHeight);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Picture_);
  hide();

  Manager_->SetScriptFile(dataFolder + "shopper.ccs");
  Manager_->SetCookieFile(dataFolder + "Cookies.dat");
  Strip_->DataFolder = dataFolder;
  Strip_->ShowBanner = [this](const std::string& bytes) {
    const bool decoded = Picture_->Load(bytes);
    // The picture's area is the strip's, whatever the banner's size.
    Strip_->BannerLoaded(decoded, height());
  };
  Strip_->SetVisible = [this](bool visible) {
    if (!visible) return hide();
    if (isVisible()) return;
    if (ShowCallback)
      ShowCallback();
    else
      show();
  };
  Strip_->SetBusyCursor = [](bool busy) {
    if (busy)
      QApplication::setOverrideCursor(Qt::BusyCursor);
    else
      QApplication::restoreOverrideCursor();
  };
  Strip_->OpenPage = [](const std::string& address) { WebBrowse().LaunchBrowserWithRetry(address); };
  Strip_->ShowLinks = [this] {
    TAdInfoForm form(Manager_->SourceUrl(), Manager_->TargetUrl(), Manager_->ClickUrl(),
                     Strip_->BannerBytes(), this);
    Info_ = &form;
    form.exec();
    Info_ = nullptr;
  };
}

TAdFrm::~TAdFrm() {
  if (Strip_->Busy()) QApplication::restoreOverrideCursor();
  Strip_->SetBusyCursor = nullptr;
  // The strip stops its timer and the manager; the manager then saves the cookies.
  Strip_.reset();
  Manager_.reset();
}

void TAdFrm::SetAdContext(const TSearchStorageItem* search) {
  Strip_->SetAdContext(search);
}

void TAdFrm::SetActive(bool active) {
  Strip_->SetActive(active);
}

bool TAdFrm::IsBusy() const {
  return Strip_->IsBusy();
}

void TAdFrm::StopAds() {
  Strip_->StopAds();
}

void TAdFrm::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  // Qt does not tell the left modifier keys from the right ones; all three held is what counts.
  const Qt::KeyboardModifiers info = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
  Strip_->Click((event->modifiers() & info) == info);
}

void TAdFrm::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction("&Hide", this, [this] {
    QMessageBox::information(this, QString::fromStdString(AppName()),
                             QString::fromStdString(ExpandAppName(
                                 "This feature is not available in the beta version of %APPNAME%.")));
  });
  menu.exec(event->globalPos());
}

}  // namespace vandrel
