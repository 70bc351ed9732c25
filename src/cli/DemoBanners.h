// The demo site's advertisement banners: small animated GIF pictures, and a click address that redirects
// twice before it lands, so the strip can be seen working without a real advertisement server.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/DemoStoreCatalog.h"

namespace vandrel::cli {

// One picture of an animation written by EncodeGif: palette indices, Width * Height, row by row.
struct TGifSourceFrame {
  std::vector<uint8_t> Indices;
  int DelayCs = 10;           // hundredths of a second
  int Disposal = 0;           // 0..3 as GIF defines them
  int Transparent = -1;       // palette index shown as transparent; -1 none
  int Left = 0, Top = 0;      // where the frame sits on the canvas
  int Width = 0, Height = 0;  // 0: the canvas size
};

// Writes a GIF89a with a global palette of up to 256 colours (0xRRGGBB) and the given frames; empty when
// giflib refuses.
std::string EncodeGif(int width, int height, const std::vector<uint32_t>& palette,
                      const std::vector<TGifSourceFrame>& frames);

inline constexpr int kDemoBannerCount = 3;
inline constexpr int kDemoBannerWidth = 468;
inline constexpr int kDemoBannerHeight = 60;

// The animated banner `number` (1..kDemoBannerCount); the same bytes every time.
const std::string& DemoBannerGif(int number);

// Answers the banner routes ("/banners/N.gif", "/banners/click?n=N" and its two hops, the landing page);
// nothing for any other target.
std::optional<TDemoResponse> DemoBannerResponse(std::string_view target);

}  // namespace vandrel::cli
