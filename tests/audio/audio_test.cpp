// The audio reader and the AAC packet decoder through their exports, against
// the ffmpeg tool's decode of the same files and its ffprobe output.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libavformat/version.h>

#include "support/test_support.h"
#include "tarsel.h"

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;

namespace {

std::vector<int16_t> ToSamples(const uint8_t* bytes, size_t byteCount) {
  std::vector<int16_t> samples(byteCount / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
}

// Interleaved samples of a raw s16le fixture.
std::vector<int16_t> ReadPcm(const std::string& fixture) {
  const std::vector<uint8_t> bytes = ReadFile(FixturePath(fixture));
  return ToSamples(bytes.data(), bytes.size());
}

// ffprobe's value of a key, the first occurrence; "" where no probe was made.
std::string Probe(const std::string& fixture, const std::string& key) {
  std::ifstream in(FixturePath(fixture + ".probe"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "";
}
// "N/A" reads as 0.
double ProbeNumber(const std::string& fixture, const std::string& key) {
  return std::strtod(Probe(fixture, key).c_str(), nullptr);
}

// The frames of an ADTS fixture, with their headers or without (raw access units).
std::vector<std::vector<uint8_t>> SplitAdts(const std::string& fixture, bool keepHeaders) {
  const std::vector<uint8_t> stream = ReadFile(FixturePath(fixture));
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at + 7 <= stream.size();) {
    const uint8_t* h = stream.data() + at;
    const size_t headerSize = (h[1] & 0x01) == 0 ? 9 : 7;
    const size_t frameSize = ((h[3] & 0x03u) << 11) | (h[4] << 3u) | (h[5] >> 5u);
    if (h[0] != 0xFF || frameSize <= headerSize || at + frameSize > stream.size()) break;
    frames.emplace_back(h + (keepHeaders ? 0 : headerSize), h + frameSize);
    at += frameSize;
  }
  return frames;
}

struct Difference {
  int maxAbs = 0;
  double rms = 0;
};
// Compares the first samples of both, as many as the shorter has.
Difference Compare(const std::vector<int16_t>& actual, const std::vector<int16_t>& expected) {
  Difference difference;
  const size_t n = std::min(actual.size(), expected.size());
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const int delta = std::abs(actual[i] - expected[i]);
    difference.maxAbs = std::max(difference.maxAbs, delta);
    sum += static_cast<double>(delta) * delta;
  }
  if (n) difference.rms = std::sqrt(sum / n);
  return difference;
}

constexpr int kFetchLimit = 192000;
using Frames = std::vector<std::vector<uint8_t>>;

struct Decoder {
  void* handle = nullptr;
  int channels;
  std::vector<int32_t> counts;  // samples reported per packet by DecodeAll
  std::vector<int16_t> pcm;     // and what was fetched for them
  Decoder(int channelCount, int inRate, int outRate) : channels(channelCount) {
    ErrorText error;
    EXPECT_EQ(AACDECODER_Init(&handle, channels, inRate, outRate, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
  }
  ~Decoder() { AACDECODER_Clear(&handle); }
  int Decode(const std::vector<uint8_t>& packet, int32_t* outSamples) {
    return AACDECODER_DecodePacket(handle, packet.data(), static_cast<int32_t>(packet.size()),
                                   outSamples);
  }
  // Decodes every frame and fetches exactly what each one yields.
  void DecodeAll(const Frames& frames) {
    EXPECT_GE(frames.size(), 9u);
    std::vector<uint8_t> buffer(kFetchLimit);
    for (const auto& frame : frames) {
      int32_t outSamples = -5;
      EXPECT_EQ(Decode(frame, &outSamples), 0);
      counts.push_back(outSamples);
      const int bytes = outSamples * channels * 2;
      EXPECT_LE(bytes, kFetchLimit);
      EXPECT_EQ(AACDECODER_GetDecodedData(handle, buffer.data(), bytes), 1);
      const auto samples = ToSamples(buffer.data(), bytes);
      pcm.insert(pcm.end(), samples.begin(), samples.end());
    }
  }
};

constexpr char kNotInit[] = "Audio grabber not inititialized";  // sic
constexpr int kBufferSize = 192064;
constexpr int kGuard = 4096;  // bytes after the caller's buffer that no call may touch
void* const kSentinel = reinterpret_cast<void*>(0x1234);  // a handle the library must leave alone

struct Block {
  int result = -9;
  int32_t samples = -9, bytes = -9;
  double time = -9;
};

struct Reader {
  std::string name;
  void* handle = nullptr;
  int32_t channels = 0;  // from Info(), which ReadAll() needs first
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kBufferSize + kGuard, 0xA5);
  std::vector<Block> blocks;  // of the last ReadAll
  std::vector<int16_t> pcm;

  explicit Reader(const std::string& fixture, bool info = true) : name(fixture) {
    ErrorText error;
    int32_t index = -7;
    EXPECT_EQ(AUDIO_Init(&handle, FixturePath(fixture).c_str(), &index, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
    EXPECT_GE(index, 0);
    if (info) Info();
  }
  ~Reader() { AUDIO_Clear(&handle); }
  // The information, checked against ffprobe's where the fixture has a probe.
  double Info() {
    int32_t hasAudio = 0, rate = 0, size = 0;
    double duration = 0;
    char codec[200];
    std::memset(codec, 'x', sizeof codec);
    ErrorText error;
    EXPECT_EQ(
        AUDIO_GetAudioInfo(handle, &hasAudio, &channels, &rate, &size, &duration, codec, error), 0);
    EXPECT_TRUE(error.AllZero());
    EXPECT_EQ(hasAudio, 1);
    EXPECT_EQ(size, kBufferSize);
    EXPECT_EQ(codec[199], 0);  // the name buffer was cleared first
    if (!Probe(name, "channels").empty()) {
      EXPECT_EQ(channels, ProbeNumber(name, "channels")) << name;
      EXPECT_EQ(rate, ProbeNumber(name, "sample_rate")) << name;
      EXPECT_NEAR(duration, ProbeNumber(name, "duration"), 1e-6) << name;
      EXPECT_EQ(codec, Probe(name, "codec_long_name")) << name;
    }
    return duration;
  }
  double Jump(double seconds) {
    ErrorText error;
    EXPECT_EQ(AUDIO_JumpToTimeStamp(handle, &seconds, error), 0);
    EXPECT_TRUE(error.Untouched());
    return seconds;
  }
  Block Next() {
    Block block;
    ErrorText error;
    block.result = AUDIO_GetNewAudioSamples(handle, buffer.data(), &block.samples, &block.bytes,
                                            &block.time, error);
    EXPECT_TRUE(error.Untouched());
    return block;
  }
  // Reads blocks until the reader reports the end, which stays the end. Times
  // rise, unless the file's own times are damaged.
  void ReadAll(bool risingTimes = true) {
    blocks.clear();
    pcm.clear();
    Block block = Next();
    for (; block.result == 0 && blocks.size() < 100000; block = Next()) {
      blocks.push_back(block);
      const auto samples = ToSamples(buffer.data(), block.bytes);
      pcm.insert(pcm.end(), samples.begin(), samples.end());
      EXPECT_LE(block.bytes, kBufferSize);
      EXPECT_EQ(block.bytes, block.samples * channels * 2);
      if (risingTimes) {
        EXPECT_GT(block.time, blocks.size() > 1 ? blocks[blocks.size() - 2].time : -1.0);
      }
    }
    for (int i = 0; i < 2; ++i, block = Next()) {
      EXPECT_EQ(block.result, 1);
      EXPECT_EQ(block.samples, 0);
      EXPECT_EQ(block.bytes, 0);
      EXPECT_EQ(block.time, -1.0);
    }
    for (int i = kBufferSize; i < kBufferSize + kGuard; ++i) ASSERT_EQ(buffer[i], 0xA5) << i;
  }
};

}  // namespace

TEST(AacDecoder, BadArgumentsAreRefused) {
  const uint8_t bytes[8] = {};
  int32_t outSamples = 77;
  uint8_t pcm[8];
  EXPECT_EQ(AACDECODER_DecodePacket(nullptr, bytes, 8, &outSamples), -1);
  EXPECT_EQ(AACDECODER_GetDecodedData(nullptr, pcm, 8), -1);
  void* none = nullptr;
  EXPECT_EQ(AACDECODER_Clear(&none), 0);
  {
    Decoder decoder(2, 44100, 44100);
    EXPECT_EQ(AACDECODER_DecodePacket(decoder.handle, bytes, 0, &outSamples), -1);
    EXPECT_EQ(AACDECODER_DecodePacket(decoder.handle, bytes, -3, &outSamples), -1);
    EXPECT_EQ(AACDECODER_DecodePacket(decoder.handle, nullptr, 8, &outSamples), -1);
    EXPECT_EQ(outSamples, 77);
    EXPECT_EQ(AACDECODER_Clear(&decoder.handle), 0);
    EXPECT_EQ(decoder.handle, nullptr);
  }
  const char* kChannels = "The channel count must be between 1 and 8.";
  const char* kRates = "The sample rates must be above 0.";
  struct {
    int channels, inRate, outRate;
    const char* message;
  } cases[] = {{0, 44100, 44100, kChannels},
               {9, 44100, 44100, kChannels},
               {INT32_MAX, 44100, 44100, kChannels},
               {INT32_MIN, 44100, 44100, kChannels},
               {2, 0, 44100, kRates},
               {2, -44100, 44100, kRates},
               {2, 44100, 0, kRates},
               {2, 44100, -1, kRates},
               {2, INT32_MAX, 48000, "Could not open codec."},
               {2, 44100, INT32_MAX, "Could not initialize the sample converter."},
               {2, 1, INT32_MAX, "Could not initialize the sample converter."}};
  for (const auto& c : cases) {
    void* handle = reinterpret_cast<void*>(0x99);
    ErrorText error;
    EXPECT_EQ(AACDECODER_Init(&handle, c.channels, c.inRate, c.outRate, error), 1);
    EXPECT_STREQ(error.text, c.message);
    EXPECT_EQ(handle, reinterpret_cast<void*>(0x99));
  }
}

// Whole frames match the tool's decode; raw access units, as a container's
// payload, decode without extradata; six channels interleave in the default order.
TEST(AacDecoder, FramesMatchTheFfmpegTool) {
  struct {
    const char* name;
    bool headers;
    int channels, rate;
  } cases[] = {{"audio_mono48.aac", true, 1, 48000},
               {"audio_stereo44.aac", false, 2, 44100},
               {"audio_6ch.aac", true, 6, 48000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder decoder(c.channels, c.rate, c.rate);
    decoder.DecodeAll(SplitAdts(c.name, c.headers));
    for (int32_t n : decoder.counts) EXPECT_EQ(n, 1024);
    const auto expected = ReadPcm(std::string(c.name) + ".s16");
    EXPECT_EQ(decoder.pcm.size(), expected.size());
    EXPECT_LE(Compare(decoder.pcm, expected).maxAbs, 1);
  }
}

// 44.1 kHz to 48 kHz: a 1024-sample frame gives at most ceil(1024 * 48000 /
// 44100) = 1115 samples, and only what the resampler produced is reported. The
// tool resamples with the same library, and flushes the tail at the end too.
TEST(AacDecoder, ResamplingReportsWhatTheResamplerProduced) {
  Decoder decoder(2, 44100, 48000);
  decoder.DecodeAll(SplitAdts("audio_stereo44.aac", true));
  int64_t total = 0;
  for (size_t i = 0; i < decoder.counts.size(); ++i) {
    EXPECT_LE(decoder.counts[i], 1115) << i;
    EXPECT_GE(decoder.counts[i], i > 0 ? 1114 : 0) << i;
    total += decoder.counts[i];
  }
  EXPECT_NEAR(total, 1024.0 * decoder.counts.size() * 48000.0 / 44100.0, 1115);
  EXPECT_EQ(decoder.pcm.size(), static_cast<size_t>(total) * 2);
  EXPECT_LE(Compare(decoder.pcm, ReadPcm("audio_stereo44_to48.s16")).maxAbs, 2);
}

// Eight channels from 8 kHz to 96 kHz: a frame yields 12288 samples, more than
// the 12000 one fetch holds. The rest waits in the resampler, so each fetch
// stays within the limit and no audio is lost.
TEST(AacDecoder, BlocksLargerThanOneFetchAreSpreadOverPackets) {
  Decoder decoder(8, 8000, 96000);
  decoder.DecodeAll(SplitAdts("audio_8ch8k.aac", true));
  int64_t total = 0;
  for (int32_t n : decoder.counts) total += n;
  // Whatever could not be delivered yet is less than the last frame's share.
  const int64_t input = 1024 * static_cast<int64_t>(decoder.counts.size());
  EXPECT_GT(total, input * 12 - 12288 - 64);
  EXPECT_LE(total, input * 12);
}

// Fetches copy at most the ready block and only for valid sizes; refused
// packets hand out nothing stale, and decoding goes on after them.
TEST(AacDecoder, FetchesAndGarbagePacketsAreSafe) {
  const Frames frames = SplitAdts("audio_mono48.aac", true);
  ASSERT_GE(frames.size(), 20u);
  Decoder decoder(1, 48000, 48000);
  int32_t outSamples = -1;
  for (size_t i = 0; i < 10; ++i) ASSERT_EQ(decoder.Decode(frames[i], &outSamples), 0);
  ASSERT_EQ(outSamples, 1024);
  std::vector<uint8_t> pcm(kFetchLimit + 16, 0xA5);
  for (int size : {kFetchLimit + 1, -1, 0})
    EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), size), 1);
  EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, nullptr, 2048), 1);
  for (uint8_t byte : pcm) ASSERT_EQ(byte, 0xA5);
  EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), kFetchLimit), 1);
  for (size_t i = 2048; i < pcm.size(); ++i) ASSERT_EQ(pcm[i], 0xA5) << i;

  // Packets of one to four bytes: the decoder takes a lone 0xFF without output
  // and refuses the rest.
  const std::pair<std::vector<uint8_t>, int> tiny[] = {{{0xFF}, 0},
                                                       {{0x00}, 1},
                                                       {{0xFF, 0xF1}, 1},
                                                       {{0xFF, 0xF1, 0x50}, 1},
                                                       {{0xFF, 0xF1, 0x50, 0x80}, 1},
                                                       {{0, 0, 0, 0}, 1}};
  for (const auto& [packet, result] : tiny) {
    outSamples = -1;
    EXPECT_EQ(decoder.Decode(packet, &outSamples), result) << packet.size();
    EXPECT_EQ(outSamples, 0);
  }
  std::vector<uint8_t> garbage(300);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  for (const auto& bad : {garbage, std::vector<uint8_t>(40, 0xFF), std::vector<uint8_t>(100, 0)}) {
    outSamples = -1;
    EXPECT_EQ(decoder.Decode(bad, &outSamples), 1);
    EXPECT_EQ(outSamples, 0);
    std::fill(pcm.begin(), pcm.end(), 0xA5);
    EXPECT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), 2048), 1);
    for (uint8_t byte : pcm) ASSERT_EQ(byte, 0xA5);
  }
  for (size_t i = 10; i < 20; ++i) {
    ASSERT_EQ(decoder.Decode(frames[i], &outSamples), 0);
    ASSERT_EQ(outSamples, 1024);
    ASSERT_EQ(AACDECODER_GetDecodedData(decoder.handle, pcm.data(), 2048), 1);
  }
  // A frame away from the damage decodes as the tool's.
  const auto expected = ReadPcm("audio_mono48.aac.s16");
  const std::vector<int16_t> reference(expected.begin() + 19 * 1024, expected.begin() + 20 * 1024);
  EXPECT_LE(Compare(ToSamples(pcm.data(), 2048), reference).maxAbs, 1);
}

TEST(AudioReader, NullHandlesAndBuffersAreRefused) {
  ErrorText error, error2, error3, error4;
  int32_t a = 5, b = 5, c = 5, d = 5;
  double duration = 5, time = 5;
  char codec[200];
  EXPECT_EQ(AUDIO_GetAudioInfo(nullptr, &a, &b, &c, &d, &duration, codec, error), 1);
  EXPECT_STREQ(error.text, kNotInit);
  uint8_t samples[16];
  EXPECT_EQ(AUDIO_GetNewAudioSamples(nullptr, samples, &a, &b, &time, error2), 1);
  EXPECT_STREQ(error2.text, kNotInit);
  EXPECT_EQ(time, -1.0);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
  time = 1.0;
  EXPECT_EQ(AUDIO_JumpToTimeStamp(nullptr, &time, error3), 1);
  EXPECT_STREQ(error3.text, kNotInit);
  void* handle = nullptr;
  EXPECT_EQ(AUDIO_Clear(&handle), 0);
  EXPECT_EQ(AUDIO_Clear(nullptr), 0);

  // A null sample buffer reads nothing: the first block is still the first.
  Reader reader("audio_s16.wav", false);
  b = 5;
  EXPECT_EQ(AUDIO_GetNewAudioSamples(reader.handle, nullptr, &a, &b, &time, error4), 1);
  EXPECT_STREQ(error4.text, "The sample buffer is null.");
  EXPECT_EQ(b, 0);
  const Block block = reader.Next();
  EXPECT_EQ(block.result, 0);
  EXPECT_EQ(block.time, 0.0);
}

// Every sample as the tool decodes it, to the end (a truncated stream ends
// cleanly); AAC blocks are one frame each. Frames larger than the buffer are
// handed out over several blocks, never past the buffer, with nothing lost:
// 6-channel WavPack frames of 24000 samples (288000 bytes as 16-bit, converted
// from planar) and 16-bit packets of 30000 samples (360000 bytes, copied as
// they are).
TEST(AudioReader, DecodedSamplesMatchTheFfmpegTool) {
  struct {
    const char* name;
    int maxDifference;        // 0: sample-exact
    int aacRate = 0;          // for AAC: one 1024-sample frame per block at this rate
    const char* cutFrom = 0;  // a truncated copy of this file's start
    int bigFrame = 0;         // samples in a frame larger than the buffer
  } cases[] = {{"audio_6ch.wv", 0, 0, 0, 24000},
               {"audio_6ch_s16_big.mkv", 0, 0, 0, 30000},
               {"audio_s16.wav", 0},
               {"audio_6ch.wav", 0},
               {"audio_10ch.wav", 0},
               {"audio_16ch.wav", 0},
               {"audio_stereo.mp3", 1},
               {"audio_stereo44.m4a", 1, 44100},
               {"audio_6ch.m4a", 1, 48000},
               {"audio_mono48.m4a", 1, 48000},
               {"audio_stereo44.aac", 1, 44100},
               {"audio_cut.aac", 1, 44100, "audio_stereo44.aac"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reader reader(c.name);
    reader.ReadAll(false);
    const auto expected = ReadPcm(std::string(c.cutFrom ? c.cutFrom : c.name) + ".s16");
    ASSERT_FALSE(expected.empty());
    if (c.cutFrom)
      EXPECT_GT(reader.blocks.size(), 20u);
    else
      EXPECT_EQ(reader.pcm.size(), expected.size());
    EXPECT_LE(Compare(reader.pcm, expected).maxAbs, c.maxDifference);
    for (size_t i = 0; c.aacRate && i < reader.blocks.size(); ++i) {
      EXPECT_EQ(reader.blocks[i].samples, 1024) << i;
      EXPECT_NEAR(reader.blocks[i].time, i * 1024.0 / c.aacRate, 1e-9) << i;
    }
    if (!c.bigFrame) continue;
    // 16005 samples fit one block (192060 bytes); the rest of the frame follows.
    const auto& blocks = reader.blocks;
    ASSERT_GE(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].samples, 16005);
    EXPECT_EQ(blocks[0].bytes, 192060);
    EXPECT_EQ(blocks[0].time, 0.0);
    EXPECT_EQ(blocks[1].samples, c.bigFrame - 16005);
    EXPECT_NEAR(blocks[1].time, 16005.0 / 48000.0, 1e-9);
    EXPECT_NEAR(blocks[2].time, c.bigFrame / 48000.0, 1e-9);
  }
}

// Missing and broken files, named: each is refused with its result and
// message, the caller's handle and stream index left as they were unless a
// stream was looked for; or it opens and gives, block by block to a clean end,
// what the ffmpeg tool decodes from it. A jump into a damaged file is
// answered, and reading goes on to the end.
TEST(AudioReader, BrokenFilesAreRefusedOrGiveTheToolsSamples) {
  constexpr char kInvalidData[] = "Invalid data found when processing input";
  // FFmpeg 7 finds no stream in a WAV header of 65535 channels, where 5.1
  // refuses it, and opens the MP4 whose sample-size table has a flipped bit.
  constexpr bool kFfmpeg7 = LIBAVFORMAT_VERSION_MAJOR >= 61;
  const struct {
    const char* name;
    int result;
    const char* message;
    int32_t streamIndex = 99;  // 99: untouched
  } cases[] = {
      {"audio_missing.m4a", 1, "No such file or directory"},
      {"audio_video_only.mp4", 1, "Could not find audio stream", -1},
      // The index of an m4a written by the ffmpeg tool is at its end.
      {"audio_cut.m4a", 1, kInvalidData},
      {"audio_bad_empty.wav", 1, kInvalidData},
      {"audio_bad_one_byte.m4a", 1, kInvalidData},
      {"audio_bad_header_cut.wav", 1, kInvalidData},
      {"audio_bad_no_rate.wav", 1, kInvalidData},
      {"audio_bad_no_channels.wav", 1, "Could not find audio stream", -1},
      {"audio_bad_65535_channels.wav", 1,
       kFfmpeg7 ? "Could not find audio stream" : "Invalid argument", kFfmpeg7 ? -1 : 0},
      {"audio_bad_bits.wav", 1, "Could not find the proper codec.", 0},
      {"audio_bad_cut.ogg", 1, "End of file"},
      {"audio_bad_ogg_flip.ogg", 1, kInvalidData},
      {"audio_bad_stsz_flip.m4a", 1, kInvalidData},
      // A cut FLAC frame: the file opens, and like the tool the reader decodes nothing.
      {"audio_bad_cut.flac", 0, nullptr},
      {"audio_bad_data_cut.wav", 0, nullptr},
      {"audio_bad_data_size.wav", 0, nullptr},
      {"audio_bad_huge_rate.wav", 0, nullptr},
      {"audio_bad_cut.mp3", 0, nullptr},
      {"audio_bad_mp3_noise.mp3", 0, nullptr},
      {"audio_bad_cut.mka", 0, nullptr},
      {"audio_bad_cut.ts", 0, nullptr},
      {"audio_bad_adts_rate.aac", 0, nullptr},
      {"audio_bad_adts_flip.aac", 0, nullptr},
      {"audio_bad_cut_faststart.m4a", 0, nullptr},
      {"audio_bad_esds_flip.m4a", 0, nullptr},
      {"audio_bad_timescale_1.m4a", 0, nullptr},
      {"audio_bad_timescale_max.m4a", 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (kFfmpeg7 && std::string(c.name) == "audio_bad_stsz_flip.m4a") {
      Reader reader(c.name);
      reader.ReadAll(false);  // to a clean end; the tool's samples are not made for it
      continue;
    }
    if (c.result != 0) {
      void* handle = kSentinel;
      int32_t index = 99;
      ErrorText error;
      EXPECT_EQ(AUDIO_Init(&handle, FixturePath(c.name).c_str(), &index, error), c.result);
      EXPECT_STREQ(error.text, c.message);
      EXPECT_EQ(handle, kSentinel);
      EXPECT_EQ(index, c.streamIndex);
      continue;
    }
    Reader reader(c.name);
    reader.ReadAll(false);
    const auto expected = ReadPcm(std::string(c.name) + ".s16");
    EXPECT_EQ(reader.pcm.size(), expected.size());
    EXPECT_LE(Compare(reader.pcm, expected).maxAbs, 1);
    double middle = 0;
    int32_t a = 0, rate = 0, size = 0;
    char codec[200];
    ErrorText error;
    AUDIO_GetAudioInfo(reader.handle, &a, &a, &rate, &size, &middle, codec, error);
    middle /= 2;
    EXPECT_EQ(AUDIO_JumpToTimeStamp(reader.handle, &middle, error), 0);
    reader.ReadAll(false);
  }
  void* handle = nullptr;
  ErrorText error;
  EXPECT_EQ(AUDIO_Init(&handle, nullptr, nullptr, error), 1);
  EXPECT_STREQ(error.text, "Invalid argument");
  EXPECT_EQ(handle, nullptr);
}

TEST(AudioReader, JumpsAreRefusedBeforeTheInformationAndPastTheDuration) {
  Reader reader("audio_stereo44.m4a", false);
  EXPECT_EQ(reader.Jump(0.0), -1.0);
  EXPECT_EQ(reader.Jump(1.0), -1.0);
  const double duration = reader.Info();
  for (int i = 0; i < 3; ++i) reader.Next();
  for (double refused : {duration, duration + 5, -1.0, std::nan("")})
    EXPECT_EQ(reader.Jump(refused), -1.0);
  // The position is unchanged: the fourth block follows.
  const Block block = reader.Next();
  EXPECT_EQ(block.result, 0);
  EXPECT_NEAR(block.time, 3 * 1024.0 / 44100.0, 1e-9);
}

TEST(AudioReader, JumpsLandOnAPacketAndReadingGoesOnFromThere) {
  Reader reader("audio_stereo44.m4a");
  reader.ReadAll();  // to the end first
  const std::vector<int16_t> all = reader.pcm;
  const double reached = reader.Jump(1.0);
  EXPECT_LE(reached, 1.0);
  EXPECT_GT(reached, 1.0 - 1024.0 / 44100.0);
  const Block block = reader.Next();
  ASSERT_EQ(block.result, 0);
  EXPECT_NEAR(block.time, reached, 1e-9);
  // After a jump the decoder starts without its history, so the first block
  // may differ slightly; the next one matches the tool's decode.
  const size_t index = static_cast<size_t>(std::lround(block.time * 44100.0 / 1024.0));
  const Block next = reader.Next();
  ASSERT_EQ(next.result, 0);
  const auto expected = ReadPcm("audio_stereo44.m4a.s16");
  const std::vector<int16_t> reference(expected.begin() + (index + 1) * 2048,
                                       expected.begin() + (index + 2) * 2048);
  EXPECT_LE(Compare(ToSamples(reader.buffer.data(), next.bytes), reference).rms, 64.0);

  // Back to 0: the seek lands on the packet at 0, after the encoder's priming
  // packet. The first frame, decoded without its predecessor, differs; later
  // ones match within a few steps of rounding.
  EXPECT_EQ(reader.Jump(0.0), 0.0);
  reader.ReadAll();
  ASSERT_EQ(reader.pcm.size(), all.size());
  EXPECT_EQ(reader.blocks[0].time, 0.0);
  const auto difference = Compare(std::vector<int16_t>(reader.pcm.begin() + 2048, reader.pcm.end()),
                                  std::vector<int16_t>(all.begin() + 2048, all.end()));
  EXPECT_LE(difference.maxAbs, 16);
  EXPECT_LT(difference.rms, 1.0);
}

// Jumping back to 0 gives the first packet's time, counted from the stream's
// start. MPEG-TS from the ffmpeg tool starts at 1.4 s, so the whole duration
// can be reached, and forward jumps land on the first packet at or after the target.
TEST(AudioReader, TimesCountFromTheStreamsStart) {
  for (const char* name : {"audio_s16.wav", "audio_stereo.mp3", "audio_start.ts"}) {
    SCOPED_TRACE(name);
    Reader reader(name);
    reader.ReadAll();
    const size_t count = reader.blocks.size();
    EXPECT_NEAR(reader.Jump(0.0), ProbeNumber(name, "pts_time") - ProbeNumber(name, "start_time"),
                1e-6);
    reader.ReadAll();
    EXPECT_EQ(reader.blocks.size(), count);
  }
  Reader reader("audio_start.ts", false);
  const double duration = reader.Info();
  const Block first = reader.Next();
  ASSERT_EQ(first.result, 0);
  EXPECT_NEAR(first.time, 0.0, 1e-6);
  const double reached = reader.Jump(duration - 0.1);
  EXPECT_NEAR(reached, duration - 0.1, 0.1);
  const Block block = reader.Next();
  ASSERT_EQ(block.result, 0);
  EXPECT_NEAR(block.time, reached, 1e-3);
  EXPECT_NEAR(reader.Jump(0.0), 0.0, 1e-6);
}

// A rate change mid-stream converts nothing but the sample format: every
// decoded sample is delivered, at rising times.
TEST(AudioReader, AStreamChangingItsRateLosesNothing) {
  const size_t first = SplitAdts("audio_stereo44.aac", true).size();
  const size_t second = SplitAdts("audio_stereo48.aac", true).size();
  Reader reader("audio_rate_change.aac");
  reader.ReadAll();
  ASSERT_EQ(reader.blocks.size(), first + second);
  for (const Block& block : reader.blocks) EXPECT_EQ(block.samples, 1024);
  EXPECT_NEAR(reader.blocks[first].time, first * 1024.0 / 44100.0, 0.05);
}
