// The H.264 packet decoder through the C boundary, fed the access units of raw
// streams made by the ffmpeg tool and compared with the tool's BGR24 decode.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert_support.h"
#include "support/test_support.h"
#include "tarsel.h"

using convert_test::ReadAccessUnits;
using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;
};

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorText error;
    ASSERT_EQ(DECODER_Init(&decoder_, error), 0);
    EXPECT_TRUE(error.AllZero());
    ASSERT_NE(decoder_, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(DECODER_Clear(&decoder_), 0);
    EXPECT_EQ(decoder_, nullptr);
  }

  // Decodes one packet; a picture, if the packet completed one, is appended.
  int Decode(const std::vector<uint8_t>& unit, std::vector<Picture>& pictures) {
    int32_t width = -7, height = -7;
    const int result = DECODER_DecodeFrame(decoder_, unit.data(), static_cast<int32_t>(unit.size()),
                                           &width, &height);
    if (result == 0 && width > 0) {
      uint32_t size = 0;
      EXPECT_EQ(DECODER_GetBitmapData(decoder_, nullptr, &size), 0);
      EXPECT_EQ(size, 3u * width * height);
      Picture picture{width, height, std::vector<uint8_t>(size + 64, 0xA5)};
      uint32_t copied = 0;
      EXPECT_EQ(DECODER_GetBitmapData(decoder_, picture.bgr.data(), &copied), 0);
      EXPECT_EQ(copied, size);
      for (std::size_t i = size; i < picture.bgr.size(); ++i) EXPECT_EQ(picture.bgr[i], 0xA5);
      picture.bgr.resize(size);
      pictures.push_back(std::move(picture));
    }
    return result;
  }

  void* decoder_ = nullptr;
};

// The reference pictures of one size, cut from the tool's raw BGR24 output.
std::vector<std::vector<uint8_t>> ReferencePictures(const std::string& name, int width,
                                                    int height) {
  const std::vector<uint8_t> all = ReadFile(FixturePath(name));
  const std::size_t size = 3u * width * height;
  std::vector<std::vector<uint8_t>> pictures;
  for (std::size_t at = 0; at + size <= all.size(); at += size)
    pictures.emplace_back(all.begin() + at, all.begin() + at + size);
  return pictures;
}

void ExpectPictures(const std::vector<Picture>& decoded,
                    const std::vector<std::vector<uint8_t>>& expected, int width, int height) {
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    SCOPED_TRACE("picture " + std::to_string(i));
    EXPECT_EQ(decoded[i].width, width);
    EXPECT_EQ(decoded[i].height, height);
    ASSERT_LT(i, expected.size());
    EXPECT_TRUE(decoded[i].bgr == expected[i]);
  }
}

}  // namespace

TEST(Decoder, NullHandleGivesMinusOneAndTouchesNothing) {
  const uint8_t bytes[4] = {0, 0, 0, 1};
  int32_t width = 5, height = 6;
  uint32_t size = 7;
  uint8_t destination[4] = {9, 9, 9, 9};
  EXPECT_EQ(DECODER_DecodeFrame(nullptr, bytes, 4, &width, &height), -1);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(height, 6);
  EXPECT_EQ(DECODER_GetBitmapData(nullptr, destination, &size), -1);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(destination[0], 9);
  void* decoder = nullptr;
  EXPECT_EQ(DECODER_Clear(&decoder), 0);
  EXPECT_EQ(DECODER_Clear(nullptr), 0);
}

TEST_F(DecoderTest, EmptyPacketsGiveMinusOneWithOutputsUntouched) {
  const uint8_t bytes[4] = {0, 0, 0, 1};
  int32_t width = 5, height = 6;
  EXPECT_EQ(DECODER_DecodeFrame(decoder_, bytes, 0, &width, &height), -1);
  EXPECT_EQ(DECODER_DecodeFrame(decoder_, bytes, -3, &width, &height), -1);
  EXPECT_EQ(DECODER_DecodeFrame(decoder_, nullptr, 4, &width, &height), -1);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(height, 6);
}

TEST_F(DecoderTest, BitmapBeforeAnyPictureIsRefusedWithSizeZero) {
  uint32_t size = 99;
  std::vector<uint8_t> destination(64, 0x5A);
  EXPECT_EQ(DECODER_GetBitmapData(decoder_, destination.data(), &size), -1);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(destination, std::vector<uint8_t>(64, 0x5A));
}

TEST_F(DecoderTest, EveryPacketGivesThePictureTheToolDecodes) {
  const auto units = ReadAccessUnits(FixturePath("convert_176x144.h264"));
  ASSERT_EQ(units.size(), 20u);
  std::vector<Picture> pictures;
  for (const auto& unit : units) {
    EXPECT_EQ(Decode(unit, pictures), 0);
  }
  EXPECT_EQ(pictures.size(), units.size());
  ExpectPictures(pictures, ReferencePictures("convert_176x144.bgr", 176, 144), 176, 144);
}

TEST_F(DecoderTest, DelayedPicturesComeOutInOrderAfterEmptyFirstPackets) {
  const auto units = ReadAccessUnits(FixturePath("convert_bframes_160x120.h264"));
  ASSERT_EQ(units.size(), 20u);
  int32_t width = -7, height = -7;
  ASSERT_EQ(DECODER_DecodeFrame(decoder_, units[0].data(), static_cast<int32_t>(units[0].size()),
                                &width, &height),
            0);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
  uint32_t size = 99;
  EXPECT_EQ(DECODER_GetBitmapData(decoder_, nullptr, &size), -1);
  EXPECT_EQ(size, 0u);
  std::vector<Picture> pictures;
  for (std::size_t i = 1; i < units.size(); ++i) EXPECT_EQ(Decode(units[i], pictures), 0);
  // One picture per packet; the last delayed ones stay in the decoder.
  EXPECT_GE(pictures.size(), units.size() - 3);
  ExpectPictures(pictures, ReferencePictures("convert_bframes_160x120.bgr", 160, 120), 160, 120);
}

TEST_F(DecoderTest, VgaPictureIs921600BytesWithTheTopRowFirst) {
  const auto units = ReadAccessUnits(FixturePath("convert_640x480.h264"));
  ASSERT_FALSE(units.empty());
  std::vector<Picture> pictures;
  ASSERT_EQ(Decode(units[0], pictures), 0);
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_EQ(pictures[0].bgr.size(), 921600u);
  const auto expected = ReferencePictures("convert_640x480.bgr", 640, 480);
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(
      std::equal(pictures[0].bgr.begin(), pictures[0].bgr.begin() + 1920, expected[0].begin()));
  EXPECT_TRUE(pictures[0].bgr == expected[0]);
}

TEST_F(DecoderTest, RefusedPacketsGiveMinusOneSizesAndDecodingGoesOn) {
  const auto units = ReadAccessUnits(FixturePath("convert_176x144.h264"));
  ASSERT_EQ(units.size(), 20u);
  std::vector<Picture> pictures;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Decode(units[i], pictures), 0);
  // Noise, a packet of another codec (a JPEG start), and a truncated parameter set.
  const std::vector<std::vector<uint8_t>> bad = {
      convert_test::Noise(300, 1),
      {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'},
      {0x00, 0x00, 0x00, 0x01, 0x67}};
  for (const auto& packet : bad) {
    int32_t width = 0, height = 0;
    EXPECT_EQ(DECODER_DecodeFrame(decoder_, packet.data(), static_cast<int32_t>(packet.size()),
                                  &width, &height),
              1);
    EXPECT_EQ(width, -1);
    EXPECT_EQ(height, -1);
    uint32_t size = 99;
    EXPECT_EQ(DECODER_GetBitmapData(decoder_, nullptr, &size), -1);
    EXPECT_EQ(size, 0u);
  }
  for (std::size_t i = 3; i < units.size(); ++i) ASSERT_EQ(Decode(units[i], pictures), 0);
  ASSERT_EQ(pictures.size(), units.size());
  ExpectPictures(pictures, ReferencePictures("convert_176x144.bgr", 176, 144), 176, 144);
}

TEST_F(DecoderTest, TruncatedPacketsAreSurvivedAndTheNextKeyFrameIsExact) {
  const auto units = ReadAccessUnits(FixturePath("convert_176x144.h264"));
  ASSERT_EQ(units.size(), 20u);
  std::vector<Picture> ignored;
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> half(units[i].begin(), units[i].begin() + units[i].size() / 2);
    const int result = Decode(half, ignored);
    EXPECT_TRUE(result == 0 || result == 1);
  }
  std::vector<Picture> pictures;
  for (int i = 10; i < 20; ++i) ASSERT_EQ(Decode(units[i], pictures), 0);
  ASSERT_EQ(pictures.size(), 10u);
  const auto expected = ReferencePictures("convert_176x144.bgr", 176, 144);
  ExpectPictures(pictures, {expected.begin() + 10, expected.end()}, 176, 144);
}

TEST_F(DecoderTest, ASizeChangeRebuildsTheBitmap) {
  const auto units = ReadAccessUnits(FixturePath("convert_sizes.h264"));
  ASSERT_EQ(units.size(), 30u);
  std::vector<Picture> pictures;
  for (const auto& unit : units) EXPECT_EQ(Decode(unit, pictures), 0);
  ASSERT_EQ(pictures.size(), 30u);
  ExpectPictures({pictures.begin(), pictures.begin() + 20},
                 ReferencePictures("convert_176x144.bgr", 176, 144), 176, 144);
  ExpectPictures({pictures.begin() + 20, pictures.end()},
                 ReferencePictures("convert_96x64.bgr", 96, 64), 96, 64);
}

TEST_F(DecoderTest, FullRangePicturesKeepTheirLevels) {
  const auto units = ReadAccessUnits(FixturePath("convert_full_range_64x48.h264"));
  ASSERT_FALSE(units.empty());
  std::vector<Picture> pictures;
  for (const auto& unit : units) EXPECT_EQ(Decode(unit, pictures), 0);
  ASSERT_EQ(pictures.size(), units.size());
  ExpectPictures(pictures, ReferencePictures("convert_full_range_64x48.bgr", 64, 48), 64, 48);
}
