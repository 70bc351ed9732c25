// GIF decoding: composed animation frames with their delays, and damaged or hostile files refused.
#include "platform/GifDecoder.h"

#include <gtest/gtest.h>

#include "cli/DemoBanners.h"

namespace vandrel {
namespace {

using cli::EncodeGif;
using cli::TGifSourceFrame;

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;

TGifSourceFrame Fill(int w, int h, uint8_t index, int delayCs, int disposal = 0) {
  TGifSourceFrame f;
  f.Indices.assign(size_t(w) * h, index);
  f.DelayCs = delayCs;
  f.Disposal = disposal;
  return f;
}

TEST(GifDecoder, ComposesSubFramesWithTransparencyAndEveryDisposal) {
  // 4x2 canvas: red, then a 2x1 green patch at (1,0) that restores to background, then a blue patch at
  // (2,1) with a transparent pixel that restores to the previous picture, then nothing new.
  std::vector<TGifSourceFrame> frames = {Fill(4, 2, 0, 7)};
  TGifSourceFrame patch = Fill(2, 1, 1, 0, 2);
  patch.Left = 1;
  patch.Width = 2;
  patch.Height = 1;
  frames.push_back(patch);
  TGifSourceFrame blue = {{2, 3}, 50, 3, 3, 2, 1, 2, 1};
  frames.push_back(blue);
  TGifSourceFrame last = {{3}, 1, 0, 3, 0, 0, 1, 1};  // fully transparent: shows what the disposal left
  frames.push_back(last);
  const std::string bytes = EncodeGif(4, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0}, frames);
  ASSERT_FALSE(bytes.empty());

  TGifPicture picture;
  ASSERT_EQ(DecodeGif(bytes, picture), TGifError::geNone);
  EXPECT_EQ(picture.Width, 4);
  EXPECT_EQ(picture.Height, 2);
  ASSERT_EQ(picture.Frames.size(), 4u);
  EXPECT_EQ(picture.Frames[0].DelayMs, 70);
  EXPECT_EQ(picture.Frames[2].DelayMs, 500);
  EXPECT_EQ(GifDisplayDelayMs(picture.Frames[1]), 100) << "a zero delay must not spin the viewer";
  EXPECT_EQ(GifDisplayDelayMs(picture.Frames[2]), 500);

  const auto& f1 = picture.Frames[1].Pixels;
  EXPECT_EQ(std::vector<uint32_t>(f1.begin(), f1.begin() + 4),
            (std::vector<uint32_t>{kRed, kGreen, kGreen, kRed}));
  // Frame 1 restored its patch to background (transparent) before frame 2 drew.
  const auto& f2 = picture.Frames[2].Pixels;
  EXPECT_EQ(f2[1], 0u);
  EXPECT_EQ(f2[2], 0u);
  EXPECT_EQ(f2[6], kBlue);
  EXPECT_EQ(f2[7], kRed) << "the transparent index keeps what lies below";
  // Frame 2 restored the previous picture: its blue pixel is gone again.
  const auto& f3 = picture.Frames[3].Pixels;
  EXPECT_EQ(f3[6], kRed);
  EXPECT_EQ(f3[1], 0u);
}

TEST(GifDecoder, DemoBannersDecodeAsAnimations) {
  for (int n = 1; n <= cli::kDemoBannerCount; ++n) {
    TGifPicture picture;
    ASSERT_EQ(DecodeGif(cli::DemoBannerGif(n), picture), TGifError::geNone) << n;
    EXPECT_EQ(picture.Width, cli::kDemoBannerWidth);
    EXPECT_EQ(picture.Height, cli::kDemoBannerHeight);
    EXPECT_GT(picture.Frames.size(), 1u);
    EXPECT_NE(picture.Frames[0].Pixels, picture.Frames[1].Pixels);
  }
  EXPECT_NE(cli::DemoBannerGif(1), cli::DemoBannerGif(2));
}

TEST(GifDecoder, RefusesDamagedAndHostileFilesCleanly) {
  const std::string good = EncodeGif(8, 8, {0xFF0000, 0x00FF00}, {Fill(8, 8, 1, 5), Fill(8, 8, 0, 5)});
  ASSERT_FALSE(good.empty());
  TGifPicture picture;

  EXPECT_EQ(DecodeGif("", picture), TGifError::geNotGif);
  EXPECT_EQ(DecodeGif("GIF8", picture), TGifError::geNotGif);
  EXPECT_EQ(DecodeGif("\x89PNG\r\n\x1a\n........", picture), TGifError::geNotGif);
  // Every cut inside the header or the first frame is refused with nothing kept.
  const size_t firstFrameEnd = good.size() / 2;
  for (size_t cut = 6; cut < firstFrameEnd; ++cut) {
    picture.Width = 99;
    const TGifError error = DecodeGif(std::string_view(good).substr(0, cut), picture);
    EXPECT_NE(error, TGifError::geNone) << "cut at " << cut;
    EXPECT_TRUE(picture.Frames.empty());
    EXPECT_EQ(picture.Width, 0);
  }
  // Only the trailer missing: the whole frames still show.
  ASSERT_EQ(good.back(), ';');
  EXPECT_EQ(DecodeGif(std::string_view(good).substr(0, good.size() - 1), picture), TGifError::geNone);
  EXPECT_EQ(picture.Frames.size(), 2u);

  // A canvas beyond the limits is refused before anything is allocated for it.
  std::string huge = good;
  huge[6] = huge[7] = huge[8] = huge[9] = '\xff';
  EXPECT_EQ(DecodeGif(huge, picture), TGifError::geTooLarge);
  // A zero-sized canvas.
  std::string empty = good;
  empty[6] = empty[7] = 0;
  EXPECT_EQ(DecodeGif(empty, picture), TGifError::geDamaged);
  // A header and a trailer with no frame between them.
  const std::string header = good.substr(0, 13 + 3 * 2);
  EXPECT_EQ(DecodeGif(header + ";", picture), TGifError::geNoPicture);
}

TEST(GifDecoder, FramesBeyondTheCanvasAreClippedAndOutOfTableIndicesPaintNothing) {
  TGifSourceFrame wide = Fill(6, 3, 1, 0);
  wide.Left = 2;
  wide.Top = 1;
  wide.Width = 6;
  wide.Height = 3;
  wide.Indices[0] = 3;  // the stream can code four values; the table holds two
  const std::string bytes = EncodeGif(4, 2, {0xFF0000, 0x00FF00}, {Fill(4, 2, 0, 0), wide});
  TGifPicture picture;
  ASSERT_EQ(DecodeGif(bytes, picture), TGifError::geNone);
  const auto& p = picture.Frames[1].Pixels;
  EXPECT_EQ(p, (std::vector<uint32_t>{kRed, kRed, kRed, kRed, kRed, kRed, kRed, kGreen}));
}

}  // namespace
}  // namespace vandrel
