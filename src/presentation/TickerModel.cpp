#include "presentation/TickerModel.h"

#include <cstdlib>

namespace vandrel {

void TTickerModel::SetElements(std::vector<TTickerElement> elements) {
  Elements_ = std::move(elements);
  Lefts_.assign(Elements_.size(), 0);
  Widths_.assign(Elements_.size(), 0);
  StripWidth_ = 0;
  Hovered_ = -1;
  Restart();
}

void TTickerModel::Measure(ITickerTextMeasure& measure) {
  const int blank = measure.TextWidth(" ", 0);
  StripWidth_ = 0;
  for (size_t i = 0; i < Elements_.size(); ++i) {
    const TTickerElement& e = Elements_[i];
    int width = 0;
    switch (e.Style) {
      case TTickerElementStyle::esText:
      case TTickerElementStyle::esHyperLink:
        width = measure.TextWidth(e.Text, e.FontStyles);
        break;
      case TTickerElementStyle::esImage:
        width = 2 * blank + kTickerImageSize;
        break;
      case TTickerElementStyle::esTopic:
        width = measure.TextWidth(e.Text, fsBold) + 4 * blank + 2 * kTickerImageSize;
        break;
    }
    Lefts_[i] = StripWidth_;
    Widths_[i] = width;
    StripWidth_ += width;
  }
  SetOffset(Offset_);
}

void TTickerModel::SetEnabled(bool enabled) {
  Enabled_ = enabled;
  Restart();
}

void TTickerModel::Restart() {
  Offset_ = 0;
  StartPause_ = true;
  Counter_ = 0;
}

bool TTickerModel::Tick() {
  if (StartPause_) {
    Counter_ += kTickerIntervalMs;
    if (Counter_ >= kTickerStartPauseMs) StartPause_ = false;
    return true;
  }
  if (Paused_) return true;  // the hover highlight still follows the pointer
  if (Dragging_) return false;
  SetOffset(Offset_ + (Forward_ ? 1 : -1));
  return true;
}

void TTickerModel::SetOffset(int offset) {
  Offset_ = StripWidth_ > 0 && std::abs(offset) >= StripWidth_ ? 0 : offset;
}

int TTickerModel::StartX() const {
  return Offset_ < 0 ? StripWidth_ + Offset_ : Offset_;
}

void TTickerModel::Press(int x) {
  Dragging_ = true;
  LastX_ = x;
}

void TTickerModel::Move(int x, int threshold) {
  if (!Dragging_ || std::abs(x - LastX_) < threshold) return;
  Dragged_ = true;
  SetOffset(LastX_ + Offset_ - x);
  Forward_ = x < LastX_;
  LastX_ = x;
  Hovered_ = -1;
}

bool TTickerModel::Release() {
  const bool click = Dragging_ && !Dragged_;
  Dragging_ = false;
  Dragged_ = false;
  StartPause_ = false;
  return click;
}

int TTickerModel::ElementAt(int clientX) const {
  if (StripWidth_ <= 0) return -1;
  int x = (clientX - kTickerMargin + StartX()) % StripWidth_;
  if (x < 0) x += StripWidth_;
  for (size_t i = 0; i < Elements_.size(); ++i)
    if (x >= Lefts_[i] && x < Lefts_[i] + Widths_[i]) return static_cast<int>(i);
  return -1;
}

void TTickerModel::SetPointer(bool inside, int clientX) {
  Hovered_ = -1;
  if (!inside || Dragged_) return;
  const int i = ElementAt(clientX);
  if (i >= 0 && Elements_[static_cast<size_t>(i)].Style == TTickerElementStyle::esHyperLink) Hovered_ = i;
}

std::string TTickerModel::ClickedLink() const {
  return Hovered_ >= 0 ? Elements_[static_cast<size_t>(Hovered_)].HyperLink : std::string();
}

int TTickerModel::RotateTopic(int index) {
  int topic = 0;
  for (size_t i = 0; i < Elements_.size(); ++i) {
    if (Elements_[i].Style != TTickerElementStyle::esTopic) continue;
    if (topic++ == index) {
      SetOffset(Lefts_[i]);
      return index + 1;
    }
  }
  return 1;
}

}  // namespace vandrel
