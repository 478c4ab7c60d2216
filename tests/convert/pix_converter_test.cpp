// Pixel converters through the C boundary: codes, sizes, and every layout pair
// against libswscale's own conversion on padded buffers, with guard bytes after
// the caller's destination.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert_support.h"
#include "support/test_support.h"
#include "tarsel.h"

using convert_test::ExpectedConversion;
using convert_test::FormatOfCode;
using convert_test::GuardedBuffer;
using convert_test::Noise;
using convert_test::PackedSize;
using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;

namespace {

constexpr char kInvalidFormat[] = "pixel format type is not valid";
constexpr char kTooLarge[] = "picture size is too large";

void* const kSentinel = reinterpret_cast<void*>(0x1234);

// Converts noise of one size through a fresh converter and compares it with
// libswscale on padded buffers. The source is a heap block of exactly the
// picture's size; the destination is followed by guard bytes.
void ExpectSameAsLibswscale(int sourceCode, int destinationCode, int width, int height,
                            std::size_t offset = 0, int pictures = 1) {
  SCOPED_TRACE("codes " + std::to_string(sourceCode) + " -> " + std::to_string(destinationCode) +
               " at " + std::to_string(width) + "x" + std::to_string(height));
  const AVPixelFormat source = FormatOfCode(sourceCode);
  const AVPixelFormat destination = FormatOfCode(destinationCode);
  void* converter = nullptr;
  ErrorText error;
  ASSERT_EQ(PixConverter_Init(&converter, sourceCode, destinationCode, width, height, error), 0);
  for (int picture = 0; picture < pictures; ++picture) {
    const std::vector<uint8_t> noise =
        Noise(PackedSize(source, width, height), width * 131 + height * 7 + picture);
    const auto expected = ExpectedConversion(source, destination, width, height, noise);
    // The source block ends exactly where the picture ends.
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[offset + noise.size()]);
    std::memcpy(exact.get() + offset, noise.data(), noise.size());
    GuardedBuffer output(PackedSize(destination, width, height), offset);
    const int result = PixConverter_Convert(converter, exact.get() + offset, output.data(), error);
    EXPECT_TRUE(error.AllZero());
    EXPECT_TRUE(output.GuardIntact());
    if (!expected) {
      EXPECT_EQ(result, -1);
    } else {
      ASSERT_EQ(result, 0);
      EXPECT_TRUE(output.Contents() == *expected);
    }
  }
  EXPECT_EQ(PixConverter_Clear(&converter), 0);
  EXPECT_EQ(converter, nullptr);
}

}  // namespace

TEST(PixConverter, InvalidCodesAreRefusedWithoutAHandle) {
  for (const auto& codes :
       std::vector<std::pair<uint32_t, uint32_t>>{{0, 1}, {1, 0}, {9, 3}, {3, 9}}) {
    void* converter = kSentinel;
    ErrorText error;
    EXPECT_EQ(PixConverter_Init(&converter, codes.first, codes.second, 4, 2, error), 1);
    EXPECT_STREQ(error.text, kInvalidFormat);
    EXPECT_EQ(converter, kSentinel);
  }
}

TEST(PixConverter, ConvertersWithoutASizeRefuseEveryPicture) {
  uint8_t source[64] = {};
  uint8_t destination[64] = {};
  for (const auto& size : std::vector<std::pair<int, int>>{{0, 2}, {4, 0}, {-4, 2}, {4, -1}}) {
    void* converter = nullptr;
    ErrorText error;
    ASSERT_EQ(PixConverter_Init(&converter, 1, 3, size.first, size.second, error), 0);
    EXPECT_TRUE(error.AllZero());
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(PixConverter_Convert(converter, source, destination, error), -1);
    EXPECT_EQ(ConverterNV12_ConvertBGR2NV12(converter, source, destination), -1);
    EXPECT_EQ(ConverterNV12_ConvertBRGA2NV12(converter, source, destination), -1);
    EXPECT_EQ(ConverterNV12_ConvertNV122BGR(converter, source, destination), -1);
    EXPECT_EQ(PixConverter_Clear(&converter), 0);
    EXPECT_EQ(converter, nullptr);
  }
}

TEST(PixConverter, SizesTooLargeForAPictureAreRefusedAtInit) {
  for (const auto& size : std::vector<std::pair<int, int>>{
           {65536, 65536}, {INT32_MAX, 2}, {2, INT32_MAX}, {16385, 16385}}) {
    void* converter = kSentinel;
    ErrorText error;
    EXPECT_EQ(PixConverter_Init(&converter, 1, 3, size.first, size.second, error), 1);
    EXPECT_STREQ(error.text, kTooLarge);
    EXPECT_EQ(converter, kSentinel);
  }
}

TEST(PixConverter, NullHandleOrPicturesGiveMinusOne) {
  uint8_t bytes[64] = {};
  ErrorText error;
  EXPECT_EQ(PixConverter_Convert(nullptr, bytes, bytes, error), -1);
  EXPECT_TRUE(error.AllZero());
  EXPECT_EQ(ConverterNV12_ConvertBGR2NV12(nullptr, bytes, bytes), -1);
  void* converter = nullptr;
  ASSERT_EQ(PixConverter_Init(&converter, 1, 3, 4, 2, error), 0);
  EXPECT_EQ(PixConverter_Convert(converter, nullptr, bytes, error), -1);
  EXPECT_EQ(PixConverter_Convert(converter, bytes, nullptr, error), -1);
  EXPECT_EQ(PixConverter_Clear(&converter), 0);
  EXPECT_EQ(PixConverter_Clear(&converter), 0);
  EXPECT_EQ(PixConverter_Clear(nullptr), 0);
}

TEST(PixConverter, Bgr24ToNv12At4x2FillsTwelveBytes) {
  ExpectSameAsLibswscale(1, 3, 4, 2);
  EXPECT_EQ(PackedSize(FormatOfCode(1), 4, 2), 24u);
  EXPECT_EQ(PackedSize(FormatOfCode(3), 4, 2), 12u);
}

TEST(PixConverter, Yuv420pAt3x3Occupies17Bytes) {
  EXPECT_EQ(PackedSize(FormatOfCode(7), 3, 3), 17u);
  for (int code = 1; code <= 8; ++code) {
    ExpectSameAsLibswscale(7, code, 3, 3);
    ExpectSameAsLibswscale(code, 7, 3, 3);
  }
}

TEST(PixConverter, EveryPairAtSizesOneToSevenStaysInsideThePictures) {
  for (int source = 1; source <= 8; ++source)
    for (int destination = 1; destination <= 8; ++destination)
      for (int width = 1; width <= 7; ++width)
        for (int height = 1; height <= 7; ++height)
          ExpectSameAsLibswscale(source, destination, width, height);
}

TEST(PixConverter, EveryPairAtAwkwardWidths) {
  for (int source = 1; source <= 8; ++source)
    for (int destination = 1; destination <= 8; ++destination)
      for (int width : {854, 1366, 426, 321, 642, 1918})
        for (int height : {6, 9}) ExpectSameAsLibswscale(source, destination, width, height);
}

// Widths whose rows are multiples of 64 bytes convert straight into the
// caller's destination when it starts on a 64-byte boundary; the pictures may
// start anywhere.
TEST(PixConverter, EveryPairAtAlignedWidthsRepeatedly) {
  for (int source = 1; source <= 8; ++source)
    for (int destination = 1; destination <= 8; ++destination)
      for (std::size_t offset : {0, 1, 8, 16, 64}) {
        ExpectSameAsLibswscale(source, destination, 640, 18, offset, 2);
        ExpectSameAsLibswscale(source, destination, 128, 7, offset);
      }
}

TEST(PixConverter, MatchesTheFfmpegToolsBicubicConversion) {
  const std::vector<uint8_t> picture = ReadFile(FixturePath("convert_pattern_64x48.bgr"));
  ASSERT_EQ(picture.size(), 64u * 48 * 3);
  for (const auto& target : std::vector<std::pair<int, std::string>>{
           {3, "convert_pattern_64x48.nv12"}, {7, "convert_pattern_64x48.yuv420p"}}) {
    const std::vector<uint8_t> expected = ReadFile(FixturePath(target.second));
    void* converter = nullptr;
    ErrorText error;
    ASSERT_EQ(PixConverter_Init(&converter, 1, target.first, 64, 48, error), 0);
    GuardedBuffer output(PackedSize(FormatOfCode(target.first), 64, 48));
    ASSERT_EQ(PixConverter_Convert(converter, picture.data(), output.data(), error), 0);
    EXPECT_TRUE(output.Contents() == expected) << target.second;
    EXPECT_TRUE(output.GuardIntact());
    PixConverter_Clear(&converter);
  }
}

TEST(ConverterNV12, InitCreatesNothingAndReturnsOne) { EXPECT_EQ(ConverterNV12_Init(), 1); }

// The NV12 conversions work at the handle's size whatever layouts it was made for.
TEST(ConverterNV12, ConversionsProduceTheirPictures) {
  struct Case {
    int (*convert)(void*, const uint8_t*, uint8_t*);
    AVPixelFormat source;
    AVPixelFormat destination;
  };
  const Case cases[] = {
      {ConverterNV12_ConvertBGR2NV12, AV_PIX_FMT_BGR24, AV_PIX_FMT_NV12},
      {ConverterNV12_ConvertBRGA2NV12, AV_PIX_FMT_BGRA, AV_PIX_FMT_NV12},
      {ConverterNV12_ConvertNV122BGR, AV_PIX_FMT_NV12, AV_PIX_FMT_BGR24},
  };
  for (const auto& size : std::vector<std::pair<int, int>>{{4, 2}, {7, 5}, {854, 10}, {640, 16}}) {
    void* converter = nullptr;
    ErrorText error;
    ASSERT_EQ(PixConverter_Init(&converter, 6, 6, size.first, size.second, error), 0);
    for (int round = 0; round < 2; ++round) {
      for (const Case& c : cases) {
        const std::vector<uint8_t> noise =
            Noise(PackedSize(c.source, size.first, size.second), round * 10 + size.first);
        const auto expected =
            ExpectedConversion(c.source, c.destination, size.first, size.second, noise);
        ASSERT_TRUE(expected);
        GuardedBuffer output(PackedSize(c.destination, size.first, size.second));
        ASSERT_EQ(c.convert(converter, noise.data(), output.data()), 0);
        EXPECT_TRUE(output.Contents() == *expected);
        EXPECT_TRUE(output.GuardIntact());
      }
    }
    EXPECT_EQ(ConverterNV12_Clear(&converter), 0);
    EXPECT_EQ(converter, nullptr);
    EXPECT_EQ(ConverterNV12_Clear(&converter), 0);
  }
}

// A 1280x720 BGR24 picture fills whole pages exactly, as page-aligned picture
// buffers do: converting it must not read or write past its end.
TEST(PixConverter, HdPicturesConvertExactly) {
  for (const auto& codes : std::vector<std::pair<int, int>>{{1, 3}, {3, 1}, {2, 3}, {1, 7}}) {
    ExpectSameAsLibswscale(codes.first, codes.second, 1280, 720);
    ExpectSameAsLibswscale(codes.first, codes.second, 1280, 720, 16);
  }
}
