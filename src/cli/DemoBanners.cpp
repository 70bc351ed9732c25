#include "cli/DemoBanners.h"

#include <gif_lib.h>

#include <charconv>
#include <memory>

namespace vandrel::cli {
namespace {

int WriteBytes(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
  return length;
}

struct TGifEncoderCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};

// Each banner: its own background, a light bar sweeping across, and a dark frame.
constexpr uint32_t kBannerColours[kDemoBannerCount] = {0x1E5AA8, 0x2E8B57, 0xB22222};
constexpr int kBannerSteps = 6;

std::string MakeBanner(int number) {
  const int w = kDemoBannerWidth, h = kDemoBannerHeight;
  std::vector<uint32_t> palette = {kBannerColours[number - 1], 0xFFFFFF, 0x202020, 0xF0C020};
  std::vector<TGifSourceFrame> frames;
  for (int step = 0; step < kBannerSteps; ++step) {
    TGifSourceFrame frame;
    frame.Indices.assign(size_t(w) * h, 0);
    frame.DelayCs = 25;
    const int barLeft = step * (w / kBannerSteps);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t& p = frame.Indices[size_t(y) * w + x];
        if (y < 2 || y >= h - 2 || x < 2 || x >= w - 2)
          p = 2;
        else if (x >= barLeft && x < barLeft + w / kBannerSteps / 2)
          p = 1;
        // The banner's number as that many dots, so the pictures tell apart at a glance.
        else if (y >= 24 && y < 36 && x >= 16 && x < 16 + number * 20 && (x - 16) % 20 < 12)
          p = 3;
      }
    frames.push_back(std::move(frame));
  }
  return EncodeGif(w, h, palette, frames);
}

std::string QueryNumber(std::string_view query) {
  const size_t at = query.find("n=");
  if (at == query.npos || (at > 0 && query[at - 1] != '&')) return {};
  std::string_view value = query.substr(at + 2);
  return std::string(value.substr(0, value.find('&')));
}

int BannerNumber(std::string_view text) {
  int n = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || ptr != text.data() + text.size() || n < 1 || n > kDemoBannerCount) return 0;
  return n;
}

TDemoResponse Redirect(const std::string& location) {
  TDemoResponse response{302, "text/html; charset=utf-8", "<html><body>Moved</body></html>\n"};
  response.Location = location;
  return response;
}

}  // namespace

std::string EncodeGif(int width, int height, const std::vector<uint32_t>& palette,
                      const std::vector<TGifSourceFrame>& frames) {
  std::string out;
  int error = 0;
  std::unique_ptr<GifFileType, TGifEncoderCloser> gif(EGifOpen(&out, WriteBytes, &error));
  if (!gif || palette.empty() || palette.size() > 256) return {};
  int mapSize = 2;
  while (mapSize < int(palette.size())) mapSize *= 2;
  ColorMapObject* map = GifMakeMapObject(mapSize, nullptr);
  if (!map) return {};
  for (int i = 0; i < mapSize; ++i) {
    const uint32_t c = i < int(palette.size()) ? palette[i] : 0;
    map->Colors[i] = {GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c)};
  }
  EGifSetGifVersion(gif.get(), true);
  const int ok = EGifPutScreenDesc(gif.get(), width, height, 8, 0, map);
  GifFreeMapObject(map);
  if (ok == GIF_ERROR) return {};
  // Loop forever (the strip itself decides whether to repeat).
  static const GifByteType kLoopName[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  static const GifByteType kLoopForever[] = {1, 0, 0};
  if (EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
      EGifPutExtensionBlock(gif.get(), sizeof kLoopName, kLoopName) == GIF_ERROR ||
      EGifPutExtensionBlock(gif.get(), sizeof kLoopForever, kLoopForever) == GIF_ERROR ||
      EGifPutExtensionTrailer(gif.get()) == GIF_ERROR)
    return {};
  for (const TGifSourceFrame& frame : frames) {
    const int fw = frame.Width ? frame.Width : width, fh = frame.Height ? frame.Height : height;
    if (frame.Indices.size() != size_t(fw) * fh) return {};
    GraphicsControlBlock control{frame.Disposal, false, frame.DelayCs, frame.Transparent};
    GifByteType block[4];
    EGifGCBToExtension(&control, block);
    if (EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, 4, block) == GIF_ERROR) return {};
    if (EGifPutImageDesc(gif.get(), frame.Left, frame.Top, fw, fh, false, nullptr) == GIF_ERROR) return {};
    std::vector<GifPixelType> line(fw);
    for (int y = 0; y < fh; ++y) {
      for (int x = 0; x < fw; ++x) line[x] = frame.Indices[size_t(y) * fw + x];
      if (EGifPutLine(gif.get(), line.data(), fw) == GIF_ERROR) return {};
    }
  }
  GifFileType* raw = gif.release();
  if (EGifCloseFile(raw, &error) == GIF_ERROR) return {};
  return out;
}

const std::string& DemoBannerGif(int number) {
  static const std::array<std::string, kDemoBannerCount> banners = [] {
    std::array<std::string, kDemoBannerCount> all;
    for (int i = 0; i < kDemoBannerCount; ++i) all[i] = MakeBanner(i + 1);
    return all;
  }();
  static const std::string none;
  return number >= 1 && number <= kDemoBannerCount ? banners[number - 1] : none;
}

std::optional<TDemoResponse> DemoBannerResponse(std::string_view target) {
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query = question == target.npos ? std::string_view() : target.substr(question + 1);
  if (path.substr(0, 9) != "/banners/") return std::nullopt;
  const std::string_view name = path.substr(9);
  const TDemoResponse notFound{404, "text/plain; charset=utf-8", "Not Found\n"};
  if (name.size() > 4 && name.substr(name.size() - 4) == ".gif") {
    const int n = BannerNumber(name.substr(0, name.size() - 4));
    if (!n) return notFound;
    return TDemoResponse{200, "image/gif", DemoBannerGif(n)};
  }
  const std::string number = QueryNumber(query);
  const int n = BannerNumber(number);
  if (!n) return notFound;
  // Two hops before the landing page, as advertisement servers count a click on the way.
  if (name == "click") return Redirect("/banners/hop?n=" + number);
  if (name == "hop") return Redirect("/banners/landing?n=" + number);
  if (name == "landing")
    return TDemoResponse{200, "text/html; charset=utf-8",
                         "<html><head><title>Demo banner " + number +
                             "</title></head><body><h1>Demo banner " + number +
                             "</h1><p>You followed a demo advertisement.</p></body></html>\n"};
  return notFound;
}

}  // namespace vandrel::cli
