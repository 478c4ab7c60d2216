// The one way the library makes a libswscale context from stream or caller
// data: formats libswscale has no description of (which it meets with an
// assertion that ends the process) and sizes it cannot hold give no context.
#include "ffmpeg/common/scaler.h"

#include <climits>

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
