// The pixel converters and the H.264 packet decoder through the C boundary.
// Converters: refused input, and every layout pair against libswscale's own
// conversion on padded buffers, from sources of exactly the picture's size into
// destinations between guard bytes. Decoder: the access units of raw streams
// made by the ffmpeg tool, compared with the tool's BGR24 decode.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libavcodec/version.h>

#include "support/test_support.h"
#include "tarsel.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;

namespace {

// FFmpeg's formats of the caller's layout codes 1 to 8.
const AVPixelFormat kFormats[] = {AV_PIX_FMT_NONE,  AV_PIX_FMT_BGR24,   AV_PIX_FMT_BGRA,
                                  AV_PIX_FMT_NV12,  AV_PIX_FMT_YUYV422, AV_PIX_FMT_RGB24,
                                  AV_PIX_FMT_GRAY8, AV_PIX_FMT_YUV420P, AV_PIX_FMT_RGBA};

std::size_t PackedSize(AVPixelFormat format, int width, int height) {
  return static_cast<std::size_t>(av_image_get_buffer_size(format, width, height, 1));
}

// `size` bytes starting `offset` bytes after a 64-byte boundary, between guard
// bytes that must stay untouched.
struct GuardedBuffer {
  std::size_t size, start;
  std::vector<uint8_t> bytes;
  GuardedBuffer(std::size_t size, std::size_t offset = 0)
      : size(size), start(offset), bytes(64 + offset + size + 128, 0xA5) {
    start += (64 - reinterpret_cast<uintptr_t>(bytes.data()) % 64) % 64;
  }
  uint8_t* data() { return bytes.data() + start; }
  std::vector<uint8_t> Contents() const { return {&bytes[start], &bytes[start] + size}; }
  bool GuardIntact() const {
    const auto guard = [](uint8_t byte) { return byte == 0xA5; };
    return std::all_of(bytes.begin(), bytes.begin() + start, guard) &&
           std::all_of(bytes.begin() + start + size, bytes.end(), guard);
  }
};

std::vector<uint8_t> Noise(std::size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

// An SPS (baseline, 4-byte start code) declaring a picture of the given size
// in 16-pixel macroblocks, written bit by bit as the standard lays it out.
std::vector<uint8_t> SequenceParameterSet(uint32_t widthInBlocks, uint32_t heightInBlocks) {
  std::vector<uint8_t> bytes{0, 0, 0, 1};
  int bit = 0;
  const auto put = [&](uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i, ++bit) {
      if (bit % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= 0x80 >> (bit % 8);
    }
  };
  const auto golomb = [&](uint32_t value) {  // ue(v)
    const uint64_t coded = uint64_t{value} + 1;
    int length = 0;
    while ((coded >> length) > 1) ++length;
    put(0, length);
    put(static_cast<uint32_t>(coded), length + 1);
  };
  put(0x67, 8);  // NAL header
  put(66, 8);    // baseline profile
  put(0, 8);     // constraint flags
  put(30, 8);    // level 3
  golomb(0);     // SPS id
  golomb(0);     // log2 of the frame number range, less 4
  golomb(2);     // picture order count type
  golomb(1);     // reference frames
  put(0, 1);     // no gaps
  golomb(widthInBlocks - 1);
  golomb(heightInBlocks - 1);
  put(0b11100, 5);  // frames only, direct 8x8, no cropping, no VUI
  put(1, 1);        // stop bit
  return bytes;
}

// What a converter must give: the picture itself for equal layouts; otherwise
// libswscale (bicubic) from a source with spare bytes into rows padded to 64
// bytes, with the last chroma row of YUYV422 to YUV420P at an odd height (which
// libswscale never writes) taken from the last source row. Empty when
// libswscale refuses.
std::optional<std::vector<uint8_t>> ExpectedConversion(AVPixelFormat source,
                                                       AVPixelFormat destination, int width,
                                                       int height, std::vector<uint8_t> pixels) {
  if (source == destination) return pixels;
  SwsContext* scaler = sws_getContext(width, height, source, width, height, destination,
                                      SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!scaler) return std::nullopt;
  pixels.resize(pixels.size() + 1024);
  uint8_t* in[4];
  uint8_t* out[4];
  int in_pitches[4], out_pitches[4];
  av_image_fill_arrays(in, in_pitches, pixels.data(), source, width, height, 1);
  // Every row padded to 64 bytes; the extra rows give spare bytes.
  const int padded = av_image_alloc(out, out_pitches, width, height + 8, destination, 64);
  std::memset(out[0], 0, static_cast<std::size_t>(padded));
  const int rows = sws_scale(scaler, in, in_pitches, 0, height, out, out_pitches);
  sws_freeContext(scaler);
  std::optional<std::vector<uint8_t>> result;
  if (rows == height) {
    result.emplace(PackedSize(destination, width, height));
    av_image_copy_to_buffer(result->data(), static_cast<int>(result->size()), out, out_pitches,
                            destination, width, height, 1);
  }
  av_freep(&out[0]);
  if (result && source == AV_PIX_FMT_YUYV422 && destination == AV_PIX_FMT_YUV420P &&
      height % 2 == 1) {
    const std::size_t chroma_width = (width + 1) / 2;
    const std::size_t chroma_plane = chroma_width * ((height + 1) / 2);
    const uint8_t* last_row = pixels.data() + (height - 1) * 4 * chroma_width;
    uint8_t* u =
        result->data() + static_cast<std::size_t>(width) * height + chroma_plane - chroma_width;
    for (std::size_t i = 0; i < chroma_width; ++i) {
      u[i] = last_row[4 * i + 1];
      u[i + chroma_plane] = last_row[4 * i + 3];
    }
  }
  return result;
}

// The access units of a raw H.264 file, as FFmpeg's parser splits them.
std::vector<std::vector<uint8_t>> ReadAccessUnits(const std::string& path) {
  std::vector<std::vector<uint8_t>> units;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), av_find_input_format("h264"), nullptr) < 0)
    return units;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input, packet) >= 0) {
    units.emplace_back(packet->data, packet->data + packet->size);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
  return units;
}

// Converts `pictures` noise pictures through one fresh converter.
void ExpectSameAsLibswscale(int sourceCode, int destinationCode, int width, int height,
                            std::size_t offset = 0, int pictures = 1) {
  SCOPED_TRACE("codes " + std::to_string(sourceCode) + " -> " + std::to_string(destinationCode) +
               " at " + std::to_string(width) + "x" + std::to_string(height));
  const AVPixelFormat source = kFormats[sourceCode];
  const AVPixelFormat destination = kFormats[destinationCode];
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
    EXPECT_EQ(result, expected ? 0 : -1);
    EXPECT_TRUE(!expected || output.Contents() == *expected);
  }
  EXPECT_EQ(PixConverter_Clear(&converter), 0);
  EXPECT_EQ(converter, nullptr);
}

struct Picture {
  int width, height;
  std::vector<uint8_t> bgr;
  bool operator==(const Picture& o) const {
    return width == o.width && height == o.height && bgr == o.bgr;
  }
};

// The tool's raw BGR24 output of one size, cut into pictures after `pictures`.
std::vector<Picture> References(const std::string& name, int width, int height,
                                std::vector<Picture> pictures = {}) {
  const std::vector<uint8_t> all = ReadFile(FixturePath(name));
  const std::size_t size = 3u * width * height;
  for (std::size_t at = 0; at + size <= all.size(); at += size)
    pictures.push_back({width, height, {all.begin() + at, all.begin() + at + size}});
  return pictures;
}

// The decoded pictures are the first expected ones.
void ExpectPictures(const std::vector<Picture>& decoded, const std::vector<Picture>& expected) {
  ASSERT_LE(decoded.size(), expected.size());
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), expected.begin()));
}

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { Restart(); }
  void TearDown() override {
    EXPECT_EQ(DECODER_Clear(&decoder_), 0);
    EXPECT_EQ(decoder_, nullptr);
  }
  // A fresh decoder in place of the one there was.
  void Restart() {
    DECODER_Clear(&decoder_);
    ErrorText error;
    ASSERT_EQ(DECODER_Init(&decoder_, error), 0);
    EXPECT_TRUE(error.AllZero());
    ASSERT_NE(decoder_, nullptr);
  }

  // Decodes one packet; a picture, if the packet completed one, is appended.
  int Decode(const std::vector<uint8_t>& unit, std::vector<Picture>& pictures) {
    int32_t width = -7, height = -7;
    const int result = DECODER_DecodeFrame(decoder_, unit.data(), static_cast<int32_t>(unit.size()),
                                           &width, &height);
    if (result != 0 || width == 0) {  // refused (-1 x -1), or no picture yet (0 x 0)
      EXPECT_EQ(width, result == 0 ? 0 : -1);
      EXPECT_EQ(height, width);
      ExpectNoBitmap();
      return result;
    }
    uint32_t size = 0, copied = 0;
    EXPECT_EQ(DECODER_GetBitmapData(decoder_, nullptr, &size), 0);
    EXPECT_EQ(size, 3u * width * height);
    GuardedBuffer bitmap(size);
    EXPECT_EQ(DECODER_GetBitmapData(decoder_, bitmap.data(), &copied), 0);
    EXPECT_EQ(copied, size);
    EXPECT_TRUE(bitmap.GuardIntact());
    pictures.push_back({width, height, bitmap.Contents()});
    return result;
  }

  // The bitmap is refused, with size 0.
  void ExpectNoBitmap() {
    uint32_t size = 99;
    std::vector<uint8_t> destination(64, 0x5A);
    EXPECT_EQ(DECODER_GetBitmapData(decoder_, destination.data(), &size), -1);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(destination, std::vector<uint8_t>(64, 0x5A));
  }

  void* decoder_ = nullptr;
};

}  // namespace

TEST(PixConverter, RefusedInput) {
  // Invalid codes and sizes too large for a picture: 1, a message, no handle.
  using Pairs = std::vector<std::pair<int, int>>;
  const auto refused = [](int source, int destination, int width, int height, const char* text) {
    ErrorText error;
    void* converter = &error;  // a value the library must leave alone
    EXPECT_EQ(PixConverter_Init(&converter, source, destination, width, height, error), 1);
    EXPECT_STREQ(error.text, text);
    EXPECT_EQ(converter, &error);
  };
  for (const auto& codes : Pairs{{0, 1}, {1, 0}, {9, 3}, {3, 9}})
    refused(codes.first, codes.second, 4, 2, "pixel format type is not valid");
  // The largest sizes, whose products overflow 32 and 64 bits, as well.
  const Pairs tooLarge{{65536, 65536}, {INT32_MAX, 2},         {2, INT32_MAX},
                       {16385, 16385}, {INT32_MAX, INT32_MAX}, {65535, 65535}};
  for (const auto& size : tooLarge)
    refused(1, 3, size.first, size.second, "picture size is too large");
  // Converters without a size are made but refuse every picture.
  uint8_t bytes[64] = {};
  for (const auto& size : Pairs{{0, 2}, {4, 0}, {-4, 2}, {4, -1}}) {
    void* converter = nullptr;
    ErrorText error;
    ASSERT_EQ(PixConverter_Init(&converter, 1, 3, size.first, size.second, error), 0);
    EXPECT_TRUE(error.AllZero());
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(PixConverter_Convert(converter, bytes, bytes, error), -1);
    EXPECT_EQ(ConverterNV12_ConvertBGR2NV12(converter, bytes, bytes), -1);
    EXPECT_EQ(ConverterNV12_ConvertBRGA2NV12(converter, bytes, bytes), -1);
    EXPECT_EQ(ConverterNV12_ConvertNV122BGR(converter, bytes, bytes), -1);
    EXPECT_EQ(PixConverter_Clear(&converter), 0);
    EXPECT_EQ(converter, nullptr);
  }
  // A null handle or null pictures give -1; clearing twice or null is fine.
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

// Sizes 1x1 to 7x7; awkward widths as libswscale sees them; widths whose rows
// are multiples of 64 bytes, written straight into the caller's destination
// when it starts on a 64-byte boundary, with pictures starting anywhere.
TEST(PixConverter, EveryPairStaysInsideThePictures) {
  for (int source = 1; source <= 8; ++source)
    for (int destination = 1; destination <= 8; ++destination) {
      for (int width = 1; width <= 7; ++width)
        for (int height = 1; height <= 7; ++height)
          ExpectSameAsLibswscale(source, destination, width, height);
      for (int width : {854, 1366, 426, 321, 642, 1918})
        for (int height : {6, 9}) ExpectSameAsLibswscale(source, destination, width, height);
      for (std::size_t offset : {0, 1, 8, 16, 64}) {
        ExpectSameAsLibswscale(source, destination, 640, 18, offset, 2);
        ExpectSameAsLibswscale(source, destination, 128, 7, offset);
      }
    }
}

// A 1280x720 BGR24 picture fills whole pages exactly, as page-aligned picture
// buffers do: converting it must not read or write past its end.
TEST(PixConverter, HdPicturesConvertExactly) {
  for (const auto& codes : std::vector<std::pair<int, int>>{{1, 3}, {3, 1}, {2, 3}, {1, 7}})
    for (std::size_t offset : {0, 16})
      ExpectSameAsLibswscale(codes.first, codes.second, 1280, 720, offset);
}

TEST(PixConverter, MatchesTheFfmpegToolsBicubicConversion) {
  const std::vector<uint8_t> picture = ReadFile(FixturePath("convert_pattern_64x48.bgr"));
  ASSERT_EQ(picture.size(), 64u * 48 * 3);
  for (const auto& target : std::vector<std::pair<int, std::string>>{
           {3, "convert_pattern_64x48.nv12"}, {7, "convert_pattern_64x48.yuv420p"}}) {
    void* converter = nullptr;
    ErrorText error;
    ASSERT_EQ(PixConverter_Init(&converter, 1, target.first, 64, 48, error), 0);
    GuardedBuffer output(PackedSize(kFormats[target.first], 64, 48));
    ASSERT_EQ(PixConverter_Convert(converter, picture.data(), output.data(), error), 0);
    EXPECT_TRUE(output.Contents() == ReadFile(FixturePath(target.second))) << target.second;
    EXPECT_TRUE(output.GuardIntact());
    PixConverter_Clear(&converter);
  }
}

// The NV12 conversions work at the handle's size whatever layouts it was made for.
TEST(ConverterNV12, ConversionsProduceTheirPictures) {
  EXPECT_EQ(ConverterNV12_Init(), 1);
  const struct {
    int (*convert)(void*, const uint8_t*, uint8_t*);
    AVPixelFormat source, destination;
  } cases[] = {{ConverterNV12_ConvertBGR2NV12, AV_PIX_FMT_BGR24, AV_PIX_FMT_NV12},
               {ConverterNV12_ConvertBRGA2NV12, AV_PIX_FMT_BGRA, AV_PIX_FMT_NV12},
               {ConverterNV12_ConvertNV122BGR, AV_PIX_FMT_NV12, AV_PIX_FMT_BGR24}};
  for (const auto& size : std::vector<std::pair<int, int>>{{4, 2}, {7, 5}, {854, 10}, {640, 16}}) {
    const int width = size.first, height = size.second;
    void* converter = nullptr;
    ErrorText error;
    ASSERT_EQ(PixConverter_Init(&converter, 6, 6, width, height, error), 0);
    for (int round = 0; round < 2; ++round)
      for (const auto& c : cases) {
        const auto noise = Noise(PackedSize(c.source, width, height), round * 10 + width);
        const auto expected = ExpectedConversion(c.source, c.destination, width, height, noise);
        ASSERT_TRUE(expected);
        GuardedBuffer output(PackedSize(c.destination, width, height));
        ASSERT_EQ(c.convert(converter, noise.data(), output.data()), 0);
        EXPECT_TRUE(output.Contents() == *expected);
        EXPECT_TRUE(output.GuardIntact());
      }
    EXPECT_EQ(ConverterNV12_Clear(&converter), 0);
    EXPECT_EQ(converter, nullptr);
    EXPECT_EQ(ConverterNV12_Clear(&converter), 0);
  }
}

TEST_F(DecoderTest, RefusedCallsTouchNothing) {
  const uint8_t bytes[4] = {0, 0, 0, 1};
  int32_t width = 5, height = 6;
  uint32_t size = 7;
  uint8_t destination[4] = {9, 9, 9, 9};
  EXPECT_EQ(DECODER_DecodeFrame(nullptr, bytes, 4, &width, &height), -1);
  EXPECT_EQ(DECODER_GetBitmapData(nullptr, destination, &size), -1);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(destination[0], 9);
  // Empty packets.
  EXPECT_EQ(DECODER_DecodeFrame(decoder_, bytes, 0, &width, &height), -1);
  EXPECT_EQ(DECODER_DecodeFrame(decoder_, bytes, -3, &width, &height), -1);
  EXPECT_EQ(DECODER_DecodeFrame(decoder_, nullptr, 4, &width, &height), -1);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(height, 6);
  ExpectNoBitmap();  // before any picture
  void* decoder = nullptr;
  EXPECT_EQ(DECODER_Clear(&decoder), 0);
  EXPECT_EQ(DECODER_Clear(nullptr), 0);
}

// Every packet gives the picture the tool decodes, in order: top row first,
// full-range levels kept, BT.709 pictures converted with their own matrix, the bitmap rebuilt when
// the stream changes size; with B-frames the first packets give none and the last pictures stay
// inside.
TEST_F(DecoderTest, EveryPacketGivesThePictureTheToolDecodes) {
  const struct {
    const char* stream;
    std::vector<Picture> expected;
    std::size_t left;
  } cases[] = {
      {"convert_176x144.h264", References("convert_176x144.bgr", 176, 144), 0},
      {"convert_640x480.h264", References("convert_640x480.bgr", 640, 480), 0},
      {"convert_full_range_64x48.h264", References("convert_full_range_64x48.bgr", 64, 48), 0},
      {"convert_bt709_64x48.h264", References("convert_bt709_64x48.bgr", 64, 48), 0},
      {"convert_bt709_full_64x48.h264", References("convert_bt709_full_64x48.bgr", 64, 48), 0},
      {"convert_sizes.h264",
       References("convert_96x64.bgr", 96, 64, References("convert_176x144.bgr", 176, 144)), 0},
      {"convert_bframes_160x120.h264", References("convert_bframes_160x120.bgr", 160, 120), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stream);
    const auto units = ReadAccessUnits(FixturePath(c.stream));
    Restart();
    std::vector<Picture> pictures;
    for (const auto& unit : units) EXPECT_EQ(Decode(unit, pictures), 0);
    ASSERT_FALSE(units.empty());
    ASSERT_EQ(pictures.size(), units.size() - c.left);
    ASSERT_EQ(c.expected.size(), units.size());
    ExpectPictures(pictures, c.expected);
  }
}

// Refused packets (noise, another codec's, a cut parameter set) between the
// pictures give 1 and sizes -1; decoding goes on exactly.
TEST_F(DecoderTest, BadPacketsAreSurvived) {
  const auto units = ReadAccessUnits(FixturePath("convert_176x144.h264"));
  ASSERT_EQ(units.size(), 20u);
  const auto expected = References("convert_176x144.bgr", 176, 144);
  std::vector<Picture> pictures;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Decode(units[i], pictures), 0);
  for (const auto& packet :
       std::vector<std::vector<uint8_t>>{Noise(300, 1),
                                         {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'},
                                         {0x00, 0x00, 0x00, 0x01, 0x67}})
    EXPECT_EQ(Decode(packet, pictures), 1);
  for (std::size_t i = 3; i < units.size(); ++i) ASSERT_EQ(Decode(units[i], pictures), 0);
  ASSERT_EQ(pictures.size(), units.size());
  ExpectPictures(pictures, expected);
}

// Broken packets, named: each gives its result and size on a fresh decoder,
// which then decodes the stream's first access unit exactly.
TEST_F(DecoderTest, BrokenPacketsAreNamed) {
  constexpr bool kFfmpeg7 = LIBAVCODEC_VERSION_MAJOR >= 61;
  const auto units = ReadAccessUnits(FixturePath("convert_176x144.h264"));
  const auto expected = References("convert_176x144.bgr", 176, 144);
  ASSERT_EQ(units.size(), 20u);
  // The first unit holds SPS, PPS, SEI and the IDR slice; the slice alone:
  const std::vector<uint8_t>& first = units[0];
  const auto sps = SequenceParameterSet(11, 9);  // 176x144, as the stream's
  std::vector<uint8_t> slice, pps;
  for (std::size_t i = 0; i + 4 < first.size(); ++i) {
    if (first[i] != 0 || first[i + 1] != 0 || first[i + 2] != 1) continue;
    const int type = first[i + 3] & 0x1F;
    std::size_t end = i + 3;
    while (end + 3 < first.size() &&
           !(first[end] == 0 && first[end + 1] == 0 && first[end + 2] <= 1))
      ++end;
    if (end + 3 >= first.size()) end = first.size();
    if (type == 8) pps.assign(first.begin() + i, first.begin() + end);
    if (type == 5) slice.assign(first.begin() + i, first.end());
  }
  ASSERT_FALSE(slice.empty());
  ASSERT_FALSE(pps.empty());
  const auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> joined;
    for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> packet;
    int result, width;  // -1: refused; 0: no picture
  } cases[] = {
      {"one byte", {0}, 1, -1},
      {"two bytes", {0, 0}, 1, -1},
      {"a start code alone", {0, 0, 1}, 1, -1},
      {"a four-byte start code alone", {0, 0, 0, 1}, 1, -1},
      {"an empty SPS", {0, 0, 0, 1, 0x67}, 1, -1},
      {"an empty PPS", {0, 0, 0, 1, 0x68}, 1, -1},
      {"an empty IDR slice", {0, 0, 1, 0x65}, 1, -1},
      // Parameter sets alone are refused, and kept for the slices that follow.
      {"an SPS alone", sps, 1, -1},
      {"empty parameter sets and a slice", join({{0, 0, 0, 1, 0x67, 0, 0, 0, 1, 0x68}, slice}), 1,
       -1},
      // FFmpeg 7 refuses the slice of a picture beyond its limits; 5.1 decodes
      // nothing from it.
      {"a 65536x65536 picture declared", join({SequenceParameterSet(4096, 4096), pps, slice}),
       kFfmpeg7 ? 1 : 0, kFfmpeg7 ? -1 : 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    std::vector<Picture> pictures;
    int32_t width = 5, height = 5;
    EXPECT_EQ(
        DECODER_DecodeFrame(decoder_, c.packet.data(), int32_t(c.packet.size()), &width, &height),
        c.result);
    EXPECT_EQ(width, c.width);
    uint32_t size = 7;
    EXPECT_EQ(DECODER_GetBitmapData(decoder_, nullptr, &size), c.width > 0 ? 0 : -1);
    EXPECT_EQ(size, c.width > 0 ? 3u * width * height : 0u);
    ASSERT_EQ(Decode(first, pictures), 0);
    ExpectPictures(pictures, expected);
  }
}

// Cut and bit-flipped packets of a whole stream are each refused or decoded to
// a picture of the stream's size; the next key frame decodes exactly again.
TEST_F(DecoderTest, CutAndFlippedStreamsAreSurvived) {
  const auto units = ReadAccessUnits(FixturePath("convert_176x144.h264"));
  ASSERT_EQ(units.size(), 20u);
  const auto expected = References("convert_176x144.bgr", 176, 144);
  const std::function<std::vector<uint8_t>(std::vector<uint8_t>, std::size_t)> damages[] = {
      [](std::vector<uint8_t> unit, std::size_t n) {  // cut to 1 to 7 bytes
        unit.resize(std::min(unit.size(), 1 + n % 7));
        return unit;
      },
      [](std::vector<uint8_t> unit, std::size_t n) {  // cut in the middle
        unit.resize(unit.size() * (n % 5 + 1) / 6);
        return unit;
      },
      [](std::vector<uint8_t> unit, std::size_t n) {  // a bit flipped every 97 bytes
        for (std::size_t i = n % 97; i < unit.size(); i += 97) unit[i] ^= 1 << (i % 8);
        return unit;
      },
      [](std::vector<uint8_t> unit, std::size_t n) {  // bytes zeroed from the 5th on
        std::fill(unit.begin() + std::min<std::size_t>(unit.size(), 5 + n), unit.end(), 0);
        return unit;
      },
  };
  for (const auto& damage : damages) {
    Restart();
    for (std::size_t n = 0; n < 10; ++n) {
      const auto packet = damage(units[n], n);
      if (packet.empty()) continue;
      std::vector<Picture> pictures;
      const int result = Decode(packet, pictures);
      EXPECT_TRUE(result == 0 || result == 1) << n;
      for (const Picture& picture : pictures) EXPECT_EQ(picture.width * picture.height, 176 * 144);
    }
    std::vector<Picture> pictures;
    for (std::size_t n = 10; n < units.size(); ++n) ASSERT_EQ(Decode(units[n], pictures), 0);
    ASSERT_EQ(pictures.size(), 10u);
    ExpectPictures(pictures, {expected.begin() + 10, expected.end()});
  }
}
