// The one way the library makes a libswscale context from stream or caller
// data: formats libswscale has no description of (which it meets with an
// assertion that ends the process) and sizes it cannot hold give no context.
#include "ffmpeg/common/scaler.h"

#include "ffmpeg/common/bgr_scaler.h"

#include <climits>
#include <cstring>

#include <gtest/gtest.h>

using tarsel::CreateScaler;

TEST(CreateScaler, RefusesWhatLibswscaleCannotTakeInsteadOfAborting) {
  const struct {
    int width, height;
    AVPixelFormat source, destination;
    bool made;
  } cases[] = {
      {64, 48, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, true},
      {1, 1, AV_PIX_FMT_NV12, AV_PIX_FMT_GRAY8, true},
      {64, 48, AV_PIX_FMT_NONE, AV_PIX_FMT_BGR24, false},  // a stream without a known format
      {64, 48, AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE, false},
      {64, 48, AV_PIX_FMT_NB, AV_PIX_FMT_BGR24, false},
      {64, 48, static_cast<AVPixelFormat>(-7), AV_PIX_FMT_BGR24, false},
      {64, 48, AV_PIX_FMT_VAAPI, AV_PIX_FMT_BGR24, false},  // a hardware surface, no pixels
      {64, 48, AV_PIX_FMT_YUV420P, AV_PIX_FMT_VAAPI, false},
      {0, 48, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, false},
      {64, -2, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, false},
      {65535, 65535, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, false},
      {INT_MAX, INT_MAX, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " format " +
                 std::to_string(c.source) + " to " + std::to_string(c.destination));
    const tarsel::ScalerPtr scaler =
        CreateScaler(c.width, c.height, c.source, c.width, c.height, c.destination, SWS_BICUBIC);
    EXPECT_EQ(scaler != nullptr, c.made);
  }
}

// A damaged stream's matrix and range codes reach the decoded picture as they
// were coded, beyond FFmpeg's enumerations; they count as unspecified, and
// known ones are kept.
TEST(PictureKind, CodesFfmpegHasNoNameForCountAsUnspecified) {
  const tarsel::FramePtr picture(av_frame_alloc());
  ASSERT_NE(picture, nullptr);
  picture->width = 16;
  picture->height = 16;
  picture->format = AV_PIX_FMT_YUV420P;
  const struct {
    int matrix, range;
    AVColorSpace matrixSeen;
    AVColorRange rangeSeen;
  } cases[] = {
      {AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG},
      {243, 77, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED},
      {-1, -1, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED},
      {AVCOL_SPC_NB, AVCOL_RANGE_NB, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED},
  };
  for (const auto& c : cases) {
    std::memcpy(&picture->colorspace, &c.matrix, sizeof c.matrix);
    std::memcpy(&picture->color_range, &c.range, sizeof c.range);
    const tarsel::PictureKind kind = tarsel::PictureKind::Of(*picture);
    EXPECT_EQ(kind.matrix, c.matrixSeen) << c.matrix;
    EXPECT_EQ(kind.range, c.rangeSeen) << c.range;
    tarsel::BgrScaler scaler;
    EXPECT_TRUE(scaler.Fit(kind, 16, 16));
  }
}
