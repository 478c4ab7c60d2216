// The AAC packet decoder through its exports, fed with frames split from ADTS
// streams that the ffmpeg tool wrote.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio_test_support.h"
#include "support/test_support.h"
#include "tarsel.h"

using audio_test::Compare;
using audio_test::ReadPcm;
using audio_test::SplitAdts;
using audio_test::ToSamples;
using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;

namespace {

constexpr int kFetchLimit = 192000;

struct Decoder {
  void* handle = nullptr;
  Decoder(int channels, int inRate, int outRate) {
    ErrorText error;
    EXPECT_EQ(AACDECODER_Init(&handle, channels, inRate, outRate, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
  }
  ~Decoder() { AACDECODER_Clear(&handle); }
};

struct Result {
  std::vector<int32_t> outSamples;
  std::vector<int16_t> pcm;
};

// Decodes every frame and fetches exactly what each one yields.
Result DecodeAll(void* handle, const std::vector<std::vector<uint8_t>>& frames, int channels) {
  Result result;
  std::vector<uint8_t> pcm(kFetchLimit);
  for (const auto& frame : frames) {
    int32_t outSamples = -5;
    EXPECT_EQ(AACDECODER_DecodePacket(handle, frame.data(), static_cast<int32_t>(frame.size()),
                                      &outSamples),
              0);
    result.outSamples.push_back(outSamples);
    const int bytes = outSamples * channels * 2;
    EXPECT_EQ(AACDECODER_GetDecodedData(handle, pcm.data(), bytes), 1);
    const auto samples = ToSamples(pcm.data(), bytes);
    result.pcm.insert(result.pcm.end(), samples.begin(), samples.end());
  }
  return result;
}

std::vector<std::vector<uint8_t>> Frames(const char* fixture, bool keepHeaders) {
  auto frames = SplitAdts(ReadFile(FixturePath(fixture)), keepHeaders);
  EXPECT_GE(frames.size(), 9u) << fixture;
  return frames;
}

}  // namespace

TEST(AacDecoder, NullHandleAndEmptyPacketsGiveMinusOne) {
  const uint8_t bytes[8] = {};
  int32_t outSamples = 77;
  uint8_t pcm[8];
  EXPECT_EQ(AACDECODER_DecodePacket(nullptr, bytes, 8, &outSamples), -1);
  EXPECT_EQ(AACDECODER_GetDecodedData(nullptr, pcm, 8), -1);
  void* none = nullptr;
  EXPECT_EQ(AACDECODER_Clear(&none), 0);

  Decoder decoder(2, 44100, 44100);
  EXPECT_EQ(AACDECODER_DecodePacket(decoder.handle, bytes, 0, &outSamples), -1);
  EXPECT_EQ(AACDECODER_DecodePacket(decoder.handle, bytes, -3, &outSamples), -1);
  EXPECT_EQ(AACDECODER_DecodePacket(decoder.handle, nullptr, 8, &outSamples), -1);
  EXPECT_EQ(outSamples, 77);
  EXPECT_EQ(AACDECODER_Clear(&decoder.handle), 0);
  EXPECT_EQ(decoder.handle, nullptr);
}

TEST(AacDecoder, BadChannelCountsAndRatesAreRefused) {
  struct Case {
    int channels, inRate, outRate;
    const char* message;
  } cases[] = {
      {0, 44100, 44100, "The channel count must be between 1 and 8."},
      {9, 44100, 44100, "The channel count must be between 1 and 8."},
      {-2, 44100, 44100, "The channel count must be between 1 and 8."},
      {2, 0, 44100, "The sample rates must be above 0."},
      {2, -44100, 44100, "The sample rates must be above 0."},
      {2, 44100, 0, "The sample rates must be above 0."},
      {2, 44100, -1, "The sample rates must be above 0."},
  };
  for (const Case& c : cases) {
    void* handle = reinterpret_cast<void*>(0x99);
    ErrorText error;
    EXPECT_EQ(AACDECODER_Init(&handle, c.channels, c.inRate, c.outRate, error), 1);
    EXPECT_STREQ(error.text, c.message);
    EXPECT_EQ(handle, reinterpret_cast<void*>(0x99));
  }
}

TEST(AacDecoder, MonoAt48kGivesWholeFramesMatchingTheFfmpegTool) {
  Decoder decoder(1, 48000, 48000);
  const auto frames = Frames("audio_mono48.aac", true);
  const Result result = DecodeAll(decoder.handle, frames, 1);
  for (size_t i = 0; i < result.outSamples.size(); ++i) EXPECT_EQ(result.outSamples[i], 1024) << i;
  const auto expected = ReadPcm(FixturePath("audio_mono48.aac.s16"));
  EXPECT_EQ(result.pcm.size(), expected.size());
  EXPECT_LE(Compare(result.pcm, expected).maxAbs, 1);
}

// Raw access units, as a container's payload, decode without extradata.
TEST(AacDecoder, RawStereoFramesMatchTheFfmpegTool) {
  Decoder decoder(2, 44100, 44100);
  const Result result = DecodeAll(decoder.handle, Frames("audio_stereo44.aac", false), 2);
  for (int32_t n : result.outSamples) EXPECT_EQ(n, 1024);
  const auto expected = ReadPcm(FixturePath("audio_stereo44.aac.s16"));
  EXPECT_EQ(result.pcm.size(), expected.size());
  EXPECT_LE(Compare(result.pcm, expected).maxAbs, 1);
}

TEST(AacDecoder, SixChannelsInterleaveInTheDefaultOrder) {
  Decoder decoder(6, 48000, 48000);
  const Result result = DecodeAll(decoder.handle, Frames("audio_6ch.aac", true), 6);
  for (int32_t n : result.outSamples) EXPECT_EQ(n, 1024);
  const auto expected = ReadPcm(FixturePath("audio_6ch.aac.s16"));
  EXPECT_EQ(result.pcm.size(), expected.size());
  EXPECT_LE(Compare(result.pcm, expected).maxAbs, 1);
}

// 44.1 kHz to 48 kHz: a 1024-sample frame gives at most ceil(1024 * 48000 /
// 44100) = 1115 samples, and only what the resampler produced is reported.
TEST(AacDecoder, ResamplingReportsWhatTheResamplerProduced) {
  Decoder decoder(2, 44100, 48000);
  const auto frames = Frames("audio_stereo44.aac", true);
  const Result result = DecodeAll(decoder.handle, frames, 2);
  int64_t total = 0;
  for (size_t i = 0; i < result.outSamples.size(); ++i) {
    EXPECT_LE(result.outSamples[i], 1115) << i;
    if (i > 0) {
      EXPECT_GE(result.outSamples[i], 1114) << i;
    }
    total += result.outSamples[i];
  }
  const int64_t input = 1024 * static_cast<int64_t>(frames.size());
  EXPECT_NEAR(static_cast<double>(total), input * 48000.0 / 44100.0, 1115);
  EXPECT_EQ(result.pcm.size(), static_cast<size_t>(total) * 2);
  // The tool resamples with the same library; it also flushes the filter's
  // tail at the end, which a packet decoder never does.
  const auto expected = ReadPcm(FixturePath("audio_stereo44_to48.s16"));
  EXPECT_LE(Compare(result.pcm, expected).maxAbs, 2);
}

TEST(AacDecoder, FetchesCopyAtMostTheReadyBlockAndOnlyValidSizes) {
  Decoder decoder(2, 44100, 44100);
  const auto frames = Frames("audio_stereo44.aac", true);
  int32_t outSamples = 0;
  ASSERT_EQ(AACDECODER_DecodePacket(decoder.handle, frames[0].data(),
                                    static_cast<int32_t>(frames[0].size()), &outSamples),
            0);
  ASSERT_EQ(outSamples, 1024);
  std::vector<uint8_t> pcm(kFetchLimit + 16, 0xA5);
  EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), kFetchLimit + 1), 1);
  EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), -1), 1);
  EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), 0), 1);
  EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, nullptr, 4096), 1);
  for (uint8_t byte : pcm) ASSERT_EQ(byte, 0xA5);
  // A fetch larger than the block copies the block alone.
  EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), kFetchLimit), 1);
  for (size_t i = 4096; i < pcm.size(); ++i) ASSERT_EQ(pcm[i], 0xA5) << i;
}

TEST(AacDecoder, GarbagePacketsAreRefusedAndDecodingGoesOn) {
  const auto frames = Frames("audio_mono48.aac", true);
  const auto expected = ReadPcm(FixturePath("audio_mono48.aac.s16"));
  Decoder decoder(1, 48000, 48000);
  std::vector<uint8_t> pcm(4096);
  int32_t outSamples = -1;
  for (size_t i = 0; i < 10; ++i) {
    ASSERT_EQ(AACDECODER_DecodePacket(decoder.handle, frames[i].data(),
                                      static_cast<int32_t>(frames[i].size()), &outSamples),
              0);
  }
  std::vector<uint8_t> garbage(300);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  for (const auto& bad : {garbage, std::vector<uint8_t>(40, 0xFF), std::vector<uint8_t>(100, 0)}) {
    outSamples = -1;
    EXPECT_EQ(AACDECODER_DecodePacket(decoder.handle, bad.data(), static_cast<int32_t>(bad.size()),
                                      &outSamples),
              1);
    EXPECT_EQ(outSamples, 0);
    // Nothing stale is handed out for a refused packet.
    std::fill(pcm.begin(), pcm.end(), 0xA5);
    EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), 2048), 1);
    for (uint8_t byte : pcm) ASSERT_EQ(byte, 0xA5);
  }
  // The decoder carries on; a frame away from the damage decodes as the tool's.
  for (size_t i = 10; i < 20; ++i) {
    ASSERT_EQ(AACDECODER_DecodePacket(decoder.handle, frames[i].data(),
                                      static_cast<int32_t>(frames[i].size()), &outSamples),
              0);
    ASSERT_EQ(outSamples, 1024);
    ASSERT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), 2048), 1);
  }
  const auto samples = ToSamples(pcm.data(), 2048);
  const std::vector<int16_t> reference(expected.begin() + 19 * 1024, expected.begin() + 20 * 1024);
  EXPECT_LE(Compare(samples, reference).maxAbs, 1);
}

// Eight channels from 8 kHz to 96 kHz: a frame yields 12288 samples, more than
// the 12000 one fetch holds. The rest waits in the resampler, so each fetch
// stays within the limit and no audio is lost.
TEST(AacDecoder, BlocksLargerThanOneFetchAreSpreadOverPackets) {
  Decoder decoder(8, 8000, 96000);
  const auto frames = Frames("audio_8ch8k.aac", true);
  std::vector<uint8_t> pcm(kFetchLimit);
  int64_t total = 0;
  for (const auto& frame : frames) {
    int32_t outSamples = -1;
    ASSERT_EQ(AACDECODER_DecodePacket(decoder.handle, frame.data(),
                                      static_cast<int32_t>(frame.size()), &outSamples),
              0);
    EXPECT_LE(outSamples * 16, kFetchLimit);
    EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), outSamples * 16), 1);
    total += outSamples;
  }
  // Whatever could not be delivered yet is less than the last frame's share.
  const int64_t input = 1024 * static_cast<int64_t>(frames.size());
  EXPECT_GT(static_cast<double>(total), input * 12.0 - 12288.0 - 64);
  EXPECT_LE(total, input * 12);
}
