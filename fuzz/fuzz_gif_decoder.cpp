// Fuzzes the GIF decoder over giflib: every header, extension, frame and LZW stream it is handed.
#include <cstdint>
#include <string_view>

#include "platform/GifDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vandrel::TGifPicture picture;
  const vandrel::TGifError error =
      vandrel::DecodeGif(std::string_view(reinterpret_cast<const char*>(data), size), picture);
  if (error == vandrel::TGifError::geNone) {
    // A decoded picture must hold exactly the canvas in every frame.
    const size_t pixels = size_t(picture.Width) * size_t(picture.Height);
    for (const auto& frame : picture.Frames)
      if (frame.Pixels.size() != pixels) __builtin_trap();
  }
  return 0;
}
