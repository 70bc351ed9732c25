// The scrolling news ticker: draws the ticker model's elements once into a strip and copies that strip
// into the window at each step, so scrolling costs a blit, not a text layout.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "presentation/TickerModel.h"
#include "presentation/TickerScript.h"

namespace vandrel {

class TScrollingTicker : public QWidget {
  Q_OBJECT

 public:
  explicit TScrollingTicker(QWidget* parent = nullptr);

  TTickerModel& Model() { return model_; }
  // Replaces the elements and settings; the strip is drawn again on the next paint.
  void SetDescription(const TTickerDescription& description);
  // Loads the ticker script; false (the ticker unchanged) when it fails, with the reason.
  bool LoadScript(const std::string& file, std::string* error = nullptr);

  // The timer runs only while enabled.
  void SetRunning(bool running);
  void TogglePause();
  // Moves to the topic of `index`; answers the index to store for next time.
  int RotateTopic(int index);
  // Opens a clicked link; empty: nothing happens.
  std::function<void(const std::string& url)> OpenUrl;

  QSize sizeHint() const override { return {301, 21}; }
  // The strip as last drawn, for checks and pictures.
  const QPixmap& Strip() const { return strip_; }

 signals:
  void PauseChanged(bool paused);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Step();
  void BuildStrip();
  void DrawImage(QPainter& painter, int x, TTickerElementImage image) const;

  TTickerModel model_;
  QTimer timer_;
  QPixmap strip_;  // every element side by side, on black; null: to be drawn again
};

}  // namespace vandrel
