// The news ticker of the progress window as a model: its elements, where each sits on the endless strip,
// and how the strip moves (the timer's steps, the start pause, dragging, pausing, topics).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vandrel {

// VALUES: the ticker description names these by identifier; the numbers follow the identifiers' order.
enum class TTickerElementStyle { esText = 0, esHyperLink = 1, esImage = 2, esTopic = 3 };
enum class TTickerElementImage { eiNone = 0, eiStar = 1, eiDot = 2 };
// Bits of TTickerElement::FontStyles.
enum TTickerFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TTickerElement {
  TTickerElementStyle Style = TTickerElementStyle::esText;
  std::string Text;
  std::string HyperLink;
  uint8_t FontStyles = 0;     // TTickerFontStyle bits
  uint32_t Color = 0xFFFFFF;  // 0x00BBGGRR, as descriptions write colours; default white
  TTickerElementImage Image = TTickerElementImage::eiNone;
  bool operator==(const TTickerElement&) const = default;
};

// Measures text in the ticker's font; the desktop fills it from its font metrics.
class ITickerTextMeasure {
 public:
  virtual ~ITickerTextMeasure() = default;
  virtual int TextWidth(const std::string& text, uint8_t fontStyles) = 0;
};

inline constexpr int kTickerIntervalMs = 50;
inline constexpr int kTickerStartPauseMs = 1500;
inline constexpr int kTickerImageSize = 16;  // the star and dot pictures are square
inline constexpr int kTickerMargin = 2;      // the drawn area is narrowed by this on each side

// Main thread only.
class TTickerModel {
 public:
  const std::vector<TTickerElement>& Elements() const { return Elements_; }
  // Replaces every element and restarts.
  void SetElements(std::vector<TTickerElement> elements);
  bool Beveled = false;

  // Element widths and positions on the strip; recomputed when the elements or the font change.
  void Measure(ITickerTextMeasure& measure);
  const std::vector<int>& Lefts() const { return Lefts_; }
  const std::vector<int>& Widths() const { return Widths_; }
  int StripWidth() const { return StripWidth_; }

  // The timer runs only while the ticker is enabled; either change restarts it.
  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool enabled);
  // Back to the beginning, with the start pause.
  void Restart();
  // One timer step; true when the ticker must repaint.
  bool Tick();

  int Offset() const { return Offset_; }
  // A magnitude reaching the strip width wraps to 0.
  void SetOffset(int offset);
  // Where the strip is copied from: the offset, counted from the strip's end when negative.
  int StartX() const;
  bool Forward() const { return Forward_; }
  bool InStartPause() const { return StartPause_; }

  bool Paused() const { return Paused_; }
  void TogglePause() { Paused_ = !Paused_; }
  // "Pause ticker" while running, "Start ticker" while paused.
  std::string PauseHint() const { return Paused_ ? "Start ticker" : "Pause ticker"; }

  // Pointer capture and dragging; `threshold` is the desktop's drag distance.
  void Press(int x);
  void Move(int x, int threshold);
  // True when the press was a click rather than a drag.
  bool Release();
  bool Dragging() const { return Dragging_; }
  bool Dragged() const { return Dragged_; }

  // The element under client x (the drawn area starts kTickerMargin in), -1 for none; the strip repeats
  // endlessly.
  int ElementAt(int clientX) const;
  // The link under the pointer as the last paint saw it; -1: none. Links are not hovered while dragged.
  int Hovered() const { return Hovered_; }
  void SetPointer(bool inside, int clientX);
  // The hovered link's address, for a click; empty: none.
  std::string ClickedLink() const;

  // Starts at topic `index` (counted over esTopic elements) when there is one and answers the index to
  // store for the next show; else leaves the offset and answers 1.
  int RotateTopic(int index);

 private:
  std::vector<TTickerElement> Elements_;
  std::vector<int> Lefts_, Widths_;
  int StripWidth_ = 0;
  bool Enabled_ = false;
  int Offset_ = 0;  // signed pixels
  bool Forward_ = true;
  bool Paused_ = false;
  bool Dragging_ = false;
  bool Dragged_ = false;
  int LastX_ = 0;
  bool StartPause_ = true;
  int Counter_ = 0;  // milliseconds spent in the start pause
  int Hovered_ = -1;
};

}  // namespace vandrel
