// Decodes (animated) GIF pictures into whole-canvas frames with their display times, over giflib.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// One composed picture of the animation: the whole canvas as it looks while this frame is shown.
struct TGifFrame {
  std::vector<uint32_t> Pixels;  // Width * Height, row by row, 0xAARRGGBB (transparent: alpha 0)
  int DelayMs = 0;               // as the file says (hundredths of a second times ten)
};

struct TGifPicture {
  int Width = 0;
  int Height = 0;
  std::vector<TGifFrame> Frames;  // never empty after a successful decode
};

enum class TGifError {
  geNone,
  geNotGif,     // no GIF signature
  geDamaged,    // the stream ends early or breaks its own rules
  geTooLarge,   // canvas or frame count beyond the limits below
  geNoPicture,  // a well-formed file without a single frame
};

// Limits that keep a hostile banner from taking the memory.
inline constexpr int kGifMaxSide = 4096;
inline constexpr int kGifMaxFrames = 1000;
inline constexpr int64_t kGifMaxTotalPixels = 16 << 20;  // summed over every composed frame

// Decodes `bytes`; on failure `out` is left empty. Frames outside the canvas are clipped to it.
TGifError DecodeGif(std::string_view bytes, TGifPicture& out);
const char* GifErrorText(TGifError error);

// The time a frame stays on screen: very short delays are shown at 100 ms, as browsers do, so a file
// written with delay 0 does not spin its viewer.
int GifDisplayDelayMs(const TGifFrame& frame);

}  // namespace vandrel
