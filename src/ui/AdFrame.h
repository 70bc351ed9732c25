// The advertisement strip: a black band below the pages that shows the rotating animated banners and
// follows a click on them.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "presentation/AdManager.h"
#include "ui/QtDesktopPorts.h"

class QLabel;
class QTimer;

namespace vandrel {

class TAdInfoForm;
class TSearchStorageItem;

// The picture: an animated GIF shown centred, played once (no loop), never stretched.
class TGifImage : public QWidget {
  Q_OBJECT
 public:
  explicit TGifImage(QWidget* parent = nullptr);
  // False (and an empty picture) when `bytes` are no GIF picture.
  bool Load(const std::string& bytes);
  void Clear();
  int FrameCount() const { return int(Frames_.size()); }
  int CurrentFrame() const { return Current_; }
  const QImage& CurrentImage() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Advance();

  std::vector<QImage> Frames_;
  std::vector<int> Delays_;  // milliseconds each frame stays
  int Current_ = 0;
  QTimer* Timer_;
};

class TAdFrm : public QWidget {
  Q_OBJECT
 public:
  // The strip's usual height in the main window.
  static constexpr int kStripHeight = 62;

  // `dataFolder` holds "shopper.ccs", "constants.ccs", the search types and "Cookies.dat" (with a
  // trailing separator). The strip stays hidden until a banner arrives.
  explicit TAdFrm(const std::string& dataFolder, QWidget* parent = nullptr);
  ~TAdFrm() override;

  // Once connected, and with every search that starts (null: none).
  void SetAdContext(const TSearchStorageItem* search);
  // Whether the main window is the active window.
  void SetActive(bool active);
  bool IsBusy() const;
  void StopAds();

  // The main window makes the strip visible (it may also lay itself out anew); default: show().
  std::function<void()> ShowCallback;
  // Fills in the network values before each request; default: nothing beyond the downloader's own.
  std::function<void(THttpDownloaderSettings&)>& ConfigureDownloader() { return Strip_->ConfigureDownloader; }
  // Opens a clicked banner's page; default: the user's web browser, with the retry box.
  std::function<void(const std::string&)>& OpenPage() { return Strip_->OpenPage; }

  TAdManager& Manager() { return *Manager_; }
  TAdStrip& Strip() { return *Strip_; }
  TGifImage& Picture() { return *Picture_; }
  // The links window while it is open.
  TAdInfoForm* InfoForm() const { return Info_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  TQtScheduler Scheduler_;
  std::unique_ptr<TAdManager> Manager_;
  std::unique_ptr<TAdStrip> Strip_;
  TGifImage* Picture_;
  TAdInfoForm* Info_ = nullptr;
};

}  // namespace vandrel
