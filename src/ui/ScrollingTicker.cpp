#include "ui/ScrollingTicker.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QStyle>
#include <cmath>

namespace vandrel {
namespace {

QColor ColorOf(uint32_t bgr) {
  return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

QFont FontOf(const QFont& base, uint8_t styles) {
  QFont font = base;
  font.setBold(styles & fsBold);
  font.setItalic(styles & fsItalic);
  font.setUnderline(styles & fsUnderline);
  font.setStrikeOut(styles & fsStrikeOut);
  return font;
}

class TFontMeasure : public ITickerTextMeasure {
 public:
  explicit TFontMeasure(const QFont& font) : font_(font) {}
  int TextWidth(const std::string& text, uint8_t styles) override {
    return QFontMetrics(FontOf(font_, styles)).horizontalAdvance(QString::fromStdString(text));
  }

 private:
  QFont font_;
};

}  // namespace

TScrollingTicker::TScrollingTicker(QWidget* parent) : QWidget(parent) {
  setObjectName("ScrollingTicker");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setToolTip("Click and drag left/right to scroll ticker");
  setCursor(Qt::SizeHorCursor);
  timer_.setInterval(kTickerIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &TScrollingTicker::Step);
}

void TScrollingTicker::SetDescription(const TTickerDescription& description) {
  model_.Beveled = description.Beveled;
  model_.SetElements(description.Elements);
  if (!description.Hint.empty()) setToolTip(QString::fromStdString(description.Hint));
  strip_ = QPixmap();
  update();
}

bool TScrollingTicker::LoadScript(const std::string& file, std::string* error) {
  TTickerDescription description;
  if (!LoadTickerScript(file, objectName().toStdString(), description, error)) return false;
  SetDescription(description);
  return true;
}

void TScrollingTicker::SetRunning(bool running) {
  model_.SetEnabled(running);
  if (running)
    timer_.start();
  else
    timer_.stop();
  update();
}

void TScrollingTicker::TogglePause() {
  model_.TogglePause();
  emit PauseChanged(model_.Paused());
}

int TScrollingTicker::RotateTopic(int index) {
  if (strip_.isNull()) BuildStrip();
  const int next = model_.RotateTopic(index);
  update();
  return next;
}

void TScrollingTicker::Step() {
  if (model_.Tick()) update();
}

void TScrollingTicker::resizeEvent(QResizeEvent*) {
  strip_ = QPixmap();
}

void TScrollingTicker::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) strip_ = QPixmap();
  QWidget::changeEvent(event);
}

void TScrollingTicker::DrawImage(QPainter& painter, int x, TTickerElementImage image) const {
  const int y = (height() - kTickerImageSize) / 2;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  if (image == TTickerElementImage::eiStar) {
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
      const double r = i % 2 ? 3.2 : 7.5, a = M_PI / 5 * i - M_PI / 2;
      star << QPointF(x + 8 + r * std::cos(a), y + 8 + r * std::sin(a));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 200, 0));
    painter.drawPolygon(star);
  } else if (image == TTickerElementImage::eiDot) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(160, 200, 255));
    painter.drawEllipse(QPointF(x + 8, y + 8), 2.5, 2.5);
  }
  // eiNone leaves the element's room blank: a pause between texts.
  painter.restore();
}

void TScrollingTicker::BuildStrip() {
  TFontMeasure measure(font());
  model_.Measure(measure);
  const int width = std::max(1, model_.StripWidth());
  strip_ = QPixmap(width, std::max(1, height()));
  strip_.fill(Qt::black);
  QPainter painter(&strip_);
  const QFontMetrics plain(font());
  const int blank = plain.horizontalAdvance(' ');
  auto text = [&](int x, const std::string& s, uint8_t styles, QColor color) {
    painter.setFont(FontOf(font(), styles));
    painter.setPen(color);
    const QString t = QString::fromStdString(s);
    painter.drawText(QRect(x, 0, QFontMetrics(painter.font()).horizontalAdvance(t) + 1, height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, t);
  };
  const auto& elements = model_.Elements();
  for (size_t i = 0; i < elements.size(); ++i) {
    const TTickerElement& e = elements[i];
    int x = model_.Lefts()[i];
    switch (e.Style) {
      case TTickerElementStyle::esText:
      case TTickerElementStyle::esHyperLink:
        text(x, e.Text, e.FontStyles, ColorOf(e.Color));
        break;
      case TTickerElementStyle::esImage:
        DrawImage(painter, x + blank, e.Image);
        break;
      case TTickerElementStyle::esTopic:
        x += blank;
        DrawImage(painter, x, TTickerElementImage::eiStar);
        x += kTickerImageSize + blank;
        text(x, e.Text, fsBold, Qt::white);
        x += QFontMetrics(FontOf(font(), fsBold)).horizontalAdvance(QString::fromStdString(e.Text)) + blank;
        DrawImage(painter, x, TTickerElementImage::eiStar);
        break;
    }
  }
}

void TScrollingTicker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect area = rect();
  painter.fillRect(area, Qt::black);
  if (model_.Beveled) {
    const QPalette& p = palette();
    painter.setPen(p.color(QPalette::Dark));
    painter.drawLine(area.topLeft(), area.topRight());
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.setPen(p.color(QPalette::Light));
    painter.drawLine(area.topRight(), area.bottomRight());
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    area.adjust(1, 1, -1, -1);
  }
  if (model_.Elements().empty()) return;
  if (strip_.isNull() || strip_.height() != height()) BuildStrip();
  if (model_.StripWidth() <= 0) return;
  area.adjust(kTickerMargin, 0, -kTickerMargin, 0);
  painter.setClipRect(area);

  const QPoint pointer = mapFromGlobal(QCursor::pos());
  model_.SetPointer(rect().contains(pointer) && underMouse(), pointer.x());

  // The strip runs as an endless loop: copy it from the start point, then again from 0 until the area is
  // full.
  int src = model_.StartX();
  int dest = area.left();
  while (dest < area.right()) {
    const int run = std::min(model_.StripWidth() - src, area.right() + 1 - dest);
    painter.drawPixmap(dest, 0, strip_, src, 0, run, height());
    dest += run;
    src = 0;
  }
  const int hovered = model_.Hovered();
  if (hovered >= 0) {
    const TTickerElement& e = model_.Elements()[static_cast<size_t>(hovered)];
    painter.setPen(ColorOf(e.Color));
    const int baseline = (height() + QFontMetrics(font()).ascent()) / 2 + 1;
    for (int copy = area.left() - model_.StartX(); copy < area.right(); copy += model_.StripWidth()) {
      const int x = copy + model_.Lefts()[static_cast<size_t>(hovered)];
      painter.drawLine(x, baseline, x + model_.Widths()[static_cast<size_t>(hovered)] - 1, baseline);
    }
  }
  setCursor(hovered >= 0 ? Qt::PointingHandCursor : Qt::SizeHorCursor);
}

void TScrollingTicker::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  grabMouse();
  model_.Press(static_cast<int>(event->position().x()));
}

void TScrollingTicker::mouseMoveEvent(QMouseEvent* event) {
  if (model_.Dragging()) {
    model_.Move(static_cast<int>(event->position().x()), QApplication::startDragDistance());
    update();
  } else if (model_.Paused() || !timer_.isActive()) {
    update();  // the hover highlight follows the pointer even when nothing moves
  }
}

void TScrollingTicker::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  releaseMouse();
  const bool click = model_.Release();
  const std::string link = model_.ClickedLink();
  if (click && !link.empty() && OpenUrl) OpenUrl(link);
}

void TScrollingTicker::leaveEvent(QEvent*) {
  update();
}

}  // namespace vandrel
