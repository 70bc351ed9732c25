#include "platform/GifDecoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace vandrel {
namespace {

struct TReader {
  std::string_view Bytes;
  size_t Pos = 0;
};

int ReadBytes(GifFileType* gif, GifByteType* buffer, int wanted) {
  auto* reader = static_cast<TReader*>(gif->UserData);
  if (wanted <= 0) return 0;
  const size_t n = std::min(static_cast<size_t>(wanted), reader->Bytes.size() - reader->Pos);
  std::memcpy(buffer, reader->Bytes.data() + reader->Pos, n);
  reader->Pos += n;
  return static_cast<int>(n);
}

struct TGifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

// What the graphic control extension says about the next frame.
struct TFrameControl {
  int DelayMs = 0;
  int Disposal = 0;
  int Transparent = -1;
};

// Reads the extension whose first block is `block` (its length byte first) and skips the rest.
bool ReadExtension(GifFileType* gif, int code, GifByteType* block, TFrameControl& control) {
  if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
    control.Disposal = (block[1] >> 2) & 7;
    control.DelayMs = (block[2] | (block[3] << 8)) * 10;
    control.Transparent = (block[1] & 1) ? block[4] : -1;
  }
  while (block) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

uint32_t Argb(const GifColorType& c) {
  return 0xFF000000u | (uint32_t(c.Red) << 16) | (uint32_t(c.Green) << 8) | uint32_t(c.Blue);
}

}  // namespace

const char* GifErrorText(TGifError error) {
  switch (error) {
    case TGifError::geNone:
      return "no error";
    case TGifError::geNotGif:
      return "not a GIF picture";
    case TGifError::geDamaged:
      return "damaged GIF picture";
    case TGifError::geTooLarge:
      return "GIF picture too large";
    case TGifError::geNoPicture:
      return "GIF file without a picture";
  }
  return "";
}

int GifDisplayDelayMs(const TGifFrame& frame) {
  return frame.DelayMs < 20 ? 100 : frame.DelayMs;
}

TGifError DecodeGif(std::string_view bytes, TGifPicture& out) {
  out = {};
  if (bytes.size() < 6 || (bytes.substr(0, 6) != "GIF87a" && bytes.substr(0, 6) != "GIF89a"))
    return TGifError::geNotGif;
  TReader reader{bytes, 0};
  int openError = 0;
  std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpen(&reader, ReadBytes, &openError));
  if (!gif) return openError == D_GIF_ERR_NOT_GIF_FILE ? TGifError::geNotGif : TGifError::geDamaged;
  const int width = gif->SWidth, height = gif->SHeight;
  if (width <= 0 || height <= 0) return TGifError::geDamaged;
  if (width > kGifMaxSide || height > kGifMaxSide) return TGifError::geTooLarge;
  const int64_t canvasPixels = int64_t(width) * height;

  TGifPicture picture;
  picture.Width = width;
  picture.Height = height;
  std::vector<uint32_t> canvas(canvasPixels, 0);
  TFrameControl control;
  std::vector<GifPixelType> line;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
      // A missing trailer after whole frames still leaves a picture to show.
      if (!picture.Frames.empty() && reader.Pos >= bytes.size()) break;
      return TGifError::geDamaged;
    }
    if (record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return TGifError::geDamaged;
      if (!ReadExtension(gif.get(), code, block, control)) return TGifError::geDamaged;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) return TGifError::geDamaged;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return TGifError::geDamaged;
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0) return TGifError::geDamaged;
    if (desc.Width > kGifMaxSide || desc.Height > kGifMaxSide) return TGifError::geTooLarge;
    if (int(picture.Frames.size()) >= kGifMaxFrames ||
        canvasPixels * int64_t(picture.Frames.size() + 1) > kGifMaxTotalPixels)
      return TGifError::geTooLarge;
    const ColorMapObject* colors = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!colors || !colors->Colors || colors->ColorCount <= 0) return TGifError::geDamaged;

    // "Restore to previous" needs the canvas as it was before this frame drew.
    std::vector<uint32_t> before;
    if (control.Disposal == 3) before = canvas;
    line.resize(desc.Width);
    static constexpr int kPassStart[] = {0, 4, 2, 1};
    static constexpr int kPassStep[] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int start = desc.Interlace ? kPassStart[pass] : 0;
      const int step = desc.Interlace ? kPassStep[pass] : 1;
      for (int row = start; row < desc.Height; row += step) {
        if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR) return TGifError::geDamaged;
        const int y = desc.Top + row;
        if (y >= height) continue;
        uint32_t* dest = canvas.data() + int64_t(y) * width;
        for (int col = 0; col < desc.Width; ++col) {
          const int x = desc.Left + col;
          if (x >= width) break;
          const int index = line[col];
          if (index == control.Transparent) continue;
          // An index past the colour table paints nothing rather than reading beyond it.
          if (index >= colors->ColorCount) continue;
          dest[x] = Argb(colors->Colors[index]);
        }
      }
    }
    picture.Frames.push_back({canvas, control.DelayMs});

    if (control.Disposal == 2) {
      for (int row = desc.Top; row < std::min(height, desc.Top + desc.Height); ++row)
        for (int x = desc.Left; x < std::min(width, desc.Left + desc.Width); ++x)
          canvas[int64_t(row) * width + x] = 0;
    } else if (control.Disposal == 3) {
      canvas = std::move(before);
    }
    control = {};
  }
  if (picture.Frames.empty()) return TGifError::geNoPicture;
  out = std::move(picture);
  return TGifError::geNone;
}

}  // namespace vandrel
