// What the families promise each other: files one family writes are read back
// by another, and the default codecs the MP4 writer records reach the timed
// writer. Each test runs in its own process, so the process-wide codec defaults
// start as FFmpeg has them.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "support/wine.h"
#include "tarsel.h"

using tarsel_test::ErrorText;
using tarsel_test::ScratchPath;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int32_t kCodecMpeg4 = 12;  // FFmpeg's codec ids
constexpr int32_t kCodecH264 = 27;

std::vector<uint8_t> Gradient(int n) {
  std::vector<uint8_t> picture(kWidth * kHeight * 3);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* pixel = &picture[(y * kWidth + x) * 3];
      pixel[0] = static_cast<uint8_t>(x + n * 3);
      pixel[1] = static_cast<uint8_t>(y * 2);
      pixel[2] = static_cast<uint8_t>(10 + n * 8);
    }
  return picture;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / a.size();
}

// Writes `frames` pictures with the timed writer and returns the codec the
// reader finds in the file.
int32_t CodecOfTimedWriterFile(const std::string& path, int frames) {
  void* writer = nullptr;
  ErrorText error;
  EXPECT_EQ(VIDWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 0, "", 400000, 25, 12, error), 0)
      << error.text;
  for (int n = 0; n < frames; ++n)
    EXPECT_EQ(VIDWRITER_WriteFrame(writer, Gradient(n).data(), kWidth * 3, -1.0, error), 0);
  VIDWRITER_Clear(&writer);

  void* reader = nullptr;
  ErrorText readError;
  if (VIDEO_Init(&reader, path.c_str(), 0, 0, nullptr, 0, readError) != 0) {
    ADD_FAILURE() << readError.text;
    return -1;
  }
  VidInfo info{};
  VIDEO_getVidInfoStruct(reader, &info, readError);
  EXPECT_EQ(info.frameCount, frames);
  VIDEO_Clear(&reader);
  return info.codecId;
}

}  // namespace

TEST(CrossFamily, TheMp4WritersDefaultCodecReachesTheTimedWriter) {
  TARSEL_SKIP_UNDER_WINE("no H.264 encoder transform, so h264_mf cannot open");
  // AVI defaults to MPEG-4 until an MP4 writer has opened an AVI file.
  EXPECT_EQ(CodecOfTimedWriterFile(ScratchPath("before.avi"), 5), kCodecMpeg4);

  void* mp4 = nullptr;
  ErrorText error;
  EXPECT_EQ(MP4WRITER_Init(&mp4, ScratchPath("h264.avi").c_str(), kWidth, kHeight, 25, error), 0)
      << error.text;
  EXPECT_EQ(MP4WRITER_Clear(&mp4), 0);

  EXPECT_EQ(CodecOfTimedWriterFile(ScratchPath("after.avi"), 5), kCodecH264);
}

TEST(CrossFamily, PicturesWrittenByTheFfv1WriterReadBackInEveryWay) {
  const std::string path = ScratchPath("roundtrip.mkv");
  constexpr int kFrames = 30;
  void* writer = nullptr;
  ErrorText error;
  ASSERT_EQ(LLWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 25.0, error), 0) << error.text;
  for (int n = 0; n < kFrames; ++n)
    ASSERT_EQ(LLWRITER_WriteFrame(writer, Gradient(n).data(), kWidth * 3, 0.0, error), 0);
  LLWRITER_Clear(&writer);

  void* reader = nullptr;
  ASSERT_EQ(VIDEO_Init(&reader, path.c_str(), 0, 0, nullptr, 0, error), 0) << error.text;
  int32_t width = 0, height = 0, count = 0;
  double duration = 0, rate = 0;
  ASSERT_EQ(VIDEO_getVideoInfo(reader, &width, &height, &count, &duration, &rate, error), 0);
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);
  EXPECT_EQ(count, kFrames);
  EXPECT_DOUBLE_EQ(rate, 25.0);
  EXPECT_NEAR(duration, kFrames / 25.0, 1e-9);

  std::vector<std::vector<uint8_t>> sequential;
  std::vector<uint8_t> picture(kWidth * kHeight * 3);
  uint32_t index = 0;
  double time = 0, timeAgain = 0;
  while (VIDEO_getNextFrame(reader, picture.data(), kWidth * 3, &index, &time, &timeAgain, error) ==
         0) {
    EXPECT_EQ(index, sequential.size());
    EXPECT_NEAR(time, index / 25.0, 1e-9);
    sequential.push_back(picture);
  }
  ASSERT_EQ(sequential.size(), static_cast<size_t>(kFrames));
  // FFV1 is lossless; only the YUV 4:2:0 round trip differs, and each picture is
  // nearer to its own original than to its neighbours'.
  for (int n = 0; n < kFrames; ++n) {
    const double own = MeanDifference(sequential[n], Gradient(n));
    EXPECT_LT(own, 3.0) << "picture " << n;
    if (n > 0) {
      EXPECT_LT(own, MeanDifference(sequential[n], Gradient(n - 1))) << n;
    }
    if (n + 1 < kFrames) {
      EXPECT_LT(own, MeanDifference(sequential[n], Gradient(n + 1))) << n;
    }
  }

  for (int n : {17, 3, 29, 0, 12}) {
    ASSERT_EQ(VIDEO_getFrameWithIndex(reader, picture.data(), kWidth * 3, n, &index, &time,
                                      &timeAgain, error),
              0);
    EXPECT_EQ(index, static_cast<uint32_t>(n));
    EXPECT_EQ(picture, sequential[n]) << "picture " << n;
  }
  VIDEO_Clear(&reader);
}
