// The FFV1 writer through the C boundary: files decoded back with the FFmpeg
// libraries, and the messages of every refused input.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoded_file.h"
#include "support/test_support.h"
#include "tarsel.h"

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;
using tarsel_test::ScratchPath;
using writers_test::DecodedFile;
using writers_test::DecodeFile;
using writers_test::LargestDifference;
using writers_test::MeanDifference;

namespace {

constexpr char kNotInitialized[] = "Video writer not inititialized";
constexpr int kWidth = 64;
constexpr int kHeight = 48;

std::vector<uint8_t> Gradient() { return ReadFile(FixturePath("writers_gradient_64x48.bgr")); }

// Writes count copies of picture (stride 3 x width) and closes the writer.
void WriteFile(const std::string& path, double rate, const std::vector<uint8_t>& picture, int count,
               double timeStep = 0.0) {
  void* writer = nullptr;
  ErrorText error;
  ASSERT_EQ(LLWRITER_Init(&writer, path.c_str(), kWidth, kHeight, rate, error), 0) << error.text;
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(LLWRITER_WriteFrame(writer, picture.data(), kWidth * 3, i * timeStep, error), 0)
        << error.text;
  }
  EXPECT_EQ(LLWRITER_Clear(&writer), 0);
  EXPECT_EQ(writer, nullptr);
}

void ExpectFramesEverySlot(const DecodedFile& file, double rate, size_t count) {
  ASSERT_EQ(file.seconds.size(), count);
  for (size_t i = 0; i < count; ++i) EXPECT_NEAR(file.seconds[i], i / rate, 0.0011) << i;
}

}  // namespace

TEST(LowLevelWriter, MatroskaHoldsFfv1FramesOfTheGradientAt15Fps) {
  const std::vector<uint8_t> gradient = Gradient();
  ASSERT_EQ(gradient.size(), size_t{kWidth * kHeight * 3});
  const std::string path = ScratchPath("ll_15.mkv");
  WriteFile(path, 15.0, gradient, 10);

  const DecodedFile file = DecodeFile(path);
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.codec, "ffv1");
  EXPECT_EQ(file.width, kWidth);
  EXPECT_EQ(file.height, kHeight);
  EXPECT_EQ(file.decodeErrors, 0);
  EXPECT_EQ(file.averageRate.num, 15);
  EXPECT_EQ(file.averageRate.den, 1);
  ExpectFramesEverySlot(file, 15.0, 10);
  // FFV1 is lossless: only the YUV420P round trip changes the picture.
  const std::vector<uint8_t> roundTrip =
      ReadFile(FixturePath("writers_gradient_64x48_yuv420p.bgr"));
  // The ffmpeg tool's own YUV420P round trip of the gradient differs from it by
  // up to 7 (2.4 on average); ours agrees with the tool's but for edge rounding.
  for (const auto& picture : file.pictures) {
    EXPECT_LE(MeanDifference(picture, roundTrip), 0.5);
    EXPECT_LE(LargestDifference(picture, roundTrip), 6);
    EXPECT_LE(MeanDifference(picture, gradient), 3.0);
    EXPECT_LE(LargestDifference(picture, gradient), 8);
  }
}

TEST(LowLevelWriter, AviKeepsTheRateAsTimeBase) {
  const std::vector<uint8_t> gradient = Gradient();
  struct Case {
    double rate;
    AVRational timeBase;
    AVRational average;
  };
  for (const Case& c : {Case{15.0, {1, 15}, {15, 1}}, Case{29.97, {100, 2997}, {2997, 100}}}) {
    const std::string path = ScratchPath("ll_rate.avi");
    WriteFile(path, c.rate, gradient, 6);
    const DecodedFile file = DecodeFile(path);
    ASSERT_TRUE(file.opened) << c.rate;
    EXPECT_EQ(file.codec, "ffv1");
    EXPECT_EQ(file.codecTag, MKTAG('F', 'F', 'V', '1'));
    EXPECT_EQ(file.timeBase.num, c.timeBase.num) << c.rate;
    EXPECT_EQ(file.timeBase.den, c.timeBase.den) << c.rate;
    EXPECT_EQ(file.averageRate.num, c.average.num) << c.rate;
    EXPECT_EQ(file.averageRate.den, c.average.den) << c.rate;
    ExpectFramesEverySlot(file, c.rate, 6);
    EXPECT_EQ(file.decodeErrors, 0);
  }
}

TEST(LowLevelWriter, MatroskaAndNutAreTimedByFrameOrderAt2997) {
  const std::vector<uint8_t> gradient = Gradient();
  for (const char* name : {"ll_2997.mkv", "ll_2997.nut"}) {
    const std::string path = ScratchPath(name);
    WriteFile(path, 29.97, gradient, 8);
    const DecodedFile file = DecodeFile(path);
    ASSERT_TRUE(file.opened) << name;
    EXPECT_EQ(file.codec, "ffv1");
    ExpectFramesEverySlot(file, 29.97, 8);
  }
}

TEST(LowLevelWriter, TheTimeArgumentChangesNothing) {
  const std::vector<uint8_t> gradient = Gradient();
  const std::string first = ScratchPath("ll_time_a.avi");
  const std::string second = ScratchPath("ll_time_b.avi");
  WriteFile(first, 25.0, gradient, 5, 0.0);
  WriteFile(second, 25.0, gradient, 5, 7.5);
  const std::vector<uint8_t> a = ReadFile(first);
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a, ReadFile(second));
}

TEST(LowLevelWriter, OddSizesAreWritten) {
  const std::string path = ScratchPath("ll_odd.mkv");
  void* writer = nullptr;
  ErrorText error;
  ASSERT_EQ(LLWRITER_Init(&writer, path.c_str(), 63, 47, 25.0, error), 0) << error.text;
  const std::vector<uint8_t> gray(63 * 47 * 3, 0x80);
  EXPECT_EQ(LLWRITER_WriteFrame(writer, gray.data(), 63 * 3, 0.0, error), 0) << error.text;
  EXPECT_EQ(LLWRITER_Clear(&writer), 0);
  const DecodedFile file = DecodeFile(path);
  EXPECT_EQ(file.width, 63);
  EXPECT_EQ(file.height, 47);
  ASSERT_EQ(file.pictures.size(), 1u);
  EXPECT_LE(LargestDifference(file.pictures[0], gray), 1);
}

TEST(LowLevelWriter, ContainersWithoutFfv1AreRefusedByName) {
  struct Case {
    const char* name;
    const char* message;
  };
  for (const Case& c : {Case{"ll.xyzzy", "Could not init video format"},
                        Case{"ll.mp4", "Could inder the proper codec id from fourcc"},
                        Case{"ll.mov", "Could inder the proper codec id from fourcc"}}) {
    void* writer = reinterpret_cast<void*>(0x1);
    ErrorText error;
    EXPECT_EQ(LLWRITER_Init(&writer, ScratchPath(c.name).c_str(), kWidth, kHeight, 25.0, error), 1);
    EXPECT_STREQ(error.text, c.message);
    EXPECT_EQ(writer, reinterpret_cast<void*>(0x1));
  }
}

TEST(LowLevelWriter, BadOpenArgumentsGiveAMessageAndNoHandle) {
  const std::string path = ScratchPath("ll_bad.mkv");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  struct Case {
    const char* path;
    int width;
    int height;
    double rate;
    const char* message;
  };
  const Case cases[] = {
      {path.c_str(), 0, kHeight, 25.0, "Invalid picture size"},
      {path.c_str(), kWidth, -2, 25.0, "Invalid picture size"},
      {path.c_str(), 100000, 100000, 25.0, "Invalid picture size"},
      {path.c_str(), kWidth, kHeight, 0.0, "Invalid frame rate"},
      {path.c_str(), kWidth, kHeight, -25.0, "Invalid frame rate"},
      {path.c_str(), kWidth, kHeight, nan, "Invalid frame rate"},
      {path.c_str(), kWidth, kHeight, infinity, "Invalid frame rate"},
      {path.c_str(), kWidth, kHeight, 1e10, "Invalid frame rate"},
      {path.c_str(), kWidth, kHeight, 0.0001, "Invalid frame rate"},
      {nullptr, kWidth, kHeight, 25.0, "No output path given"},
      {"", kWidth, kHeight, 25.0, "No output path given"},
      {"/nonexistent-folder/ll.mkv", kWidth, kHeight, 25.0, "No such file or directory"},
  };
  for (const Case& c : cases) {
    void* writer = nullptr;
    ErrorText error;
    EXPECT_EQ(LLWRITER_Init(&writer, c.path, c.width, c.height, c.rate, error), 1) << c.message;
    EXPECT_STREQ(error.text, c.message);
    EXPECT_EQ(writer, nullptr);
  }
}

TEST(LowLevelWriter, RefusedPicturesLeaveTheWriterUsable) {
  const std::vector<uint8_t> gradient = Gradient();
  const std::string path = ScratchPath("ll_refused.avi");
  void* writer = nullptr;
  ErrorText error;
  ASSERT_EQ(LLWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 25.0, error), 0);
  EXPECT_TRUE(error.AllZero());

  ErrorText nullPixels;
  EXPECT_EQ(LLWRITER_WriteFrame(writer, nullptr, kWidth * 3, 0.0, nullPixels), 1);
  EXPECT_STREQ(nullPixels.text, "The picture is null");
  ErrorText shortStride;
  EXPECT_EQ(LLWRITER_WriteFrame(writer, gradient.data(), kWidth * 3 - 1, 0.0, shortStride), 1);
  EXPECT_STREQ(shortStride.text, "The stride is smaller than a picture row");

  // A wider stride: rows are taken from their starts, the padding is ignored.
  std::vector<uint8_t> padded(static_cast<size_t>(kWidth * 3 + 7) * kHeight, 0xEE);
  for (int y = 0; y < kHeight; ++y) {
    std::memcpy(&padded[y * (kWidth * 3 + 7)], &gradient[y * kWidth * 3], kWidth * 3);
  }
  ErrorText untouched;
  EXPECT_EQ(LLWRITER_WriteFrame(writer, padded.data(), kWidth * 3 + 7, 0.0, untouched), 0);
  EXPECT_TRUE(untouched.Untouched());
  EXPECT_EQ(LLWRITER_WriteFrame(writer, gradient.data(), kWidth * 3, 0.0, untouched), 0);
  EXPECT_EQ(LLWRITER_Clear(&writer), 0);

  const DecodedFile file = DecodeFile(path);
  ASSERT_EQ(file.pictures.size(), 2u);
  EXPECT_EQ(file.pictures[0], file.pictures[1]);
}

TEST(LowLevelWriter, NullHandles) {
  ErrorText error;
  const uint8_t pixel[3] = {};
  EXPECT_EQ(LLWRITER_WriteFrame(nullptr, pixel, 3, 0.0, error), 1);
  EXPECT_STREQ(error.text, kNotInitialized);
  EXPECT_EQ(error.text[std::strlen(kNotInitialized) + 1], 'x');  // not cleared first

  void* writer = nullptr;
  EXPECT_EQ(LLWRITER_Clear(&writer), 0);
  EXPECT_EQ(writer, nullptr);
  EXPECT_EQ(LLWRITER_Clear(nullptr), 0);
  EXPECT_EQ(LLWRITER_Init(nullptr, ScratchPath("ll_null.mkv").c_str(), 16, 16, 25.0, error), 1);
}

TEST(LowLevelWriter, TestWriterLeavesAnEmpty640x480File) {
  const std::string path = ScratchPath("testwriter.avi");
  EXPECT_EQ(VIDEO_TESTWriter(path.c_str()), 0);
  const DecodedFile file = DecodeFile(path);
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.codec, "ffv1");
  EXPECT_EQ(file.width, 640);
  EXPECT_EQ(file.height, 480);
  EXPECT_EQ(file.timeBase.num, 1);
  EXPECT_EQ(file.timeBase.den, 15);
  EXPECT_TRUE(file.pictures.empty());

  EXPECT_EQ(VIDEO_TESTWriter(ScratchPath("testwriter.xyzzy").c_str()), 1);
  EXPECT_EQ(VIDEO_TESTWriter("/nonexistent-folder/testwriter.avi"), 1);
  EXPECT_EQ(VIDEO_TESTWriter(nullptr), 1);
}

TEST(LowLevelWriter, AFullDiskIsReportedAndTheWriterStaysUsable) {
  // An AVI file name that leads to a device refusing every write.
  const std::string path = ScratchPath("ll_full.avi");
  std::error_code failed;
  std::filesystem::remove(path, failed);
  std::filesystem::create_symlink("/dev/full", path, failed);
  if (failed || !std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";

  void* writer = nullptr;
  ErrorText error;
  ASSERT_EQ(LLWRITER_Init(&writer, path.c_str(), 320, 240, 25.0, error), 0) << error.text;
  // Noise compresses badly, so the container's buffer fills after a few pictures.
  std::vector<uint8_t> noise(320 * 240 * 3);
  uint32_t seed = 1;
  for (uint8_t& byte : noise)
    byte = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  int result = 0;
  for (int i = 0; i < 20 && result == 0; ++i) {
    result = LLWRITER_WriteFrame(writer, noise.data(), 320 * 3, 0.0, error);
  }
  EXPECT_EQ(result, 1);
  EXPECT_STREQ(error.text, "Could not encode video frame\n");
  ErrorText again;
  EXPECT_EQ(LLWRITER_WriteFrame(writer, noise.data(), 320 * 3, 0.0, again), 1);
  EXPECT_STREQ(again.text, "Could not encode video frame\n");
  EXPECT_EQ(LLWRITER_Clear(&writer), 0);
  EXPECT_EQ(writer, nullptr);
  std::filesystem::remove(path, failed);
}
