// The audio file reader through its exports: opening, information, blocks
// against the ffmpeg tool's decode, jumps and the end of the file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio_test_support.h"
#include "support/test_support.h"
#include "tarsel.h"

using audio_test::Compare;
using audio_test::ProbeSeconds;
using audio_test::ReadPcm;
using audio_test::ReadProbe;
using audio_test::ToSamples;
using tarsel_test::ErrorText;
using tarsel_test::FixturePath;

namespace {

constexpr char kNotInit[] = "Audio grabber not inititialized";  // sic
constexpr int kBufferSize = 192064;
// Bytes after the caller's block buffer that no call may touch.
constexpr int kGuard = 4096;
constexpr uint8_t kGuardByte = 0xA5;

struct Reader {
  void* handle = nullptr;
  explicit Reader(const std::string& fixture) {
    ErrorText error;
    int32_t index = -7;
    EXPECT_EQ(AUDIO_Init(&handle, FixturePath(fixture).c_str(), &index, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
    EXPECT_GE(index, 0);
  }
  ~Reader() { AUDIO_Clear(&handle); }
  double Info() {
    int32_t hasAudio = 0, channels = 0, rate = 0, size = 0;
    double duration = 0;
    char codec[200];
    ErrorText error;
    EXPECT_EQ(
        AUDIO_GetAudioInfo(handle, &hasAudio, &channels, &rate, &size, &duration, codec, error), 0);
    return duration;
  }
  double Jump(double seconds) {
    ErrorText error;
    EXPECT_EQ(AUDIO_JumpToTimeStamp(handle, &seconds, error), 0);
    EXPECT_TRUE(error.Untouched());
    return seconds;
  }
};

struct Block {
  int result = -9;
  int32_t samples = -9, bytes = -9;
  double time = -9;
};

struct Decoded {
  std::vector<Block> blocks;
  std::vector<int16_t> pcm;
  bool guardIntact = true;
};

Block NextBlock(void* handle, std::vector<uint8_t>& buffer) {
  Block block;
  ErrorText error;
  block.result = AUDIO_GetNewAudioSamples(handle, buffer.data(), &block.samples, &block.bytes,
                                          &block.time, error);
  EXPECT_TRUE(error.Untouched());
  return block;
}

// Reads blocks until the reader reports the end.
Decoded ReadAll(void* handle) {
  Decoded decoded;
  std::vector<uint8_t> buffer(kBufferSize + kGuard, kGuardByte);
  for (;;) {
    const Block block = NextBlock(handle, buffer);
    if (block.result != 0) {
      EXPECT_EQ(block.result, 1);
      EXPECT_EQ(block.samples, 0);
      EXPECT_EQ(block.bytes, 0);
      EXPECT_EQ(block.time, -1.0);
      break;
    }
    decoded.blocks.push_back(block);
    const std::vector<int16_t> samples = ToSamples(buffer.data(), block.bytes);
    decoded.pcm.insert(decoded.pcm.end(), samples.begin(), samples.end());
    for (int i = kBufferSize; i < kBufferSize + kGuard; ++i)
      if (buffer[i] != kGuardByte) decoded.guardIntact = false;
    if (decoded.blocks.size() > 100000) break;
  }
  return decoded;
}

}  // namespace

TEST(AudioReader, NullHandleGivesTheReadersMessage) {
  ErrorText error;
  int32_t a = 5, b = 5, c = 5, d = 5;
  double duration = 5, time = 5;
  char codec[200];
  EXPECT_EQ(AUDIO_GetAudioInfo(nullptr, &a, &b, &c, &d, &duration, codec, error), 1);
  EXPECT_STREQ(error.text, kNotInit);

  ErrorText error2;
  uint8_t samples[16];
  EXPECT_EQ(AUDIO_GetNewAudioSamples(nullptr, samples, &a, &b, &time, error2), 1);
  EXPECT_STREQ(error2.text, kNotInit);
  EXPECT_EQ(time, -1.0);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);

  ErrorText error3;
  time = 1.0;
  EXPECT_EQ(AUDIO_JumpToTimeStamp(nullptr, &time, error3), 1);
  EXPECT_STREQ(error3.text, kNotInit);

  void* handle = nullptr;
  EXPECT_EQ(AUDIO_Clear(&handle), 0);
  EXPECT_EQ(AUDIO_Clear(nullptr), 0);
}

TEST(AudioReader, FailedOpensReportTheCauseAndLeaveTheHandle) {
  struct Case {
    std::string path;
    const char* message;
    int32_t streamIndex;
  } cases[] = {
      {FixturePath("audio_missing.m4a"), "No such file or directory", 99},
      {FixturePath("audio_video_only.mp4"), "Could not find audio stream", -1},
      // The index of an m4a written by the ffmpeg tool is at its end.
      {FixturePath("audio_cut.m4a"), "Invalid data found when processing input", 99},
  };
  for (const Case& c : cases) {
    void* handle = reinterpret_cast<void*>(0x1234);
    int32_t index = 99;
    ErrorText error;
    EXPECT_EQ(AUDIO_Init(&handle, c.path.c_str(), &index, error), 1) << c.path;
    EXPECT_STREQ(error.text, c.message);
    EXPECT_EQ(handle, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(index, c.streamIndex) << c.path;
  }
  void* handle = nullptr;
  ErrorText error;
  EXPECT_EQ(AUDIO_Init(&handle, nullptr, nullptr, error), 1);
  EXPECT_STREQ(error.text, "Invalid argument");
  EXPECT_EQ(handle, nullptr);
}

TEST(AudioReader, InformationMatchesFfprobe) {
  for (const char* name : {"audio_stereo44.m4a", "audio_mono48.m4a", "audio_6ch.m4a",
                           "audio_s16.wav", "audio_stereo.mp3", "audio_6ch.wv"}) {
    SCOPED_TRACE(name);
    const auto probe = ReadProbe(FixturePath(std::string(name) + ".probe"));
    Reader reader(name);
    int32_t hasAudio = 0, channels = 0, rate = 0, size = 0;
    double duration = 0;
    char codec[200];
    std::memset(codec, 'x', sizeof codec);
    ErrorText error;
    ASSERT_EQ(AUDIO_GetAudioInfo(reader.handle, &hasAudio, &channels, &rate, &size, &duration,
                                 codec, error),
              0);
    EXPECT_TRUE(error.AllZero());
    EXPECT_EQ(hasAudio, 1);
    EXPECT_EQ(channels, std::stoi(probe.at("channels")));
    EXPECT_EQ(rate, std::stoi(probe.at("sample_rate")));
    EXPECT_EQ(size, kBufferSize);
    EXPECT_NEAR(duration, ProbeSeconds(probe, "duration"), 1e-6);
    EXPECT_EQ(std::string(codec), probe.at("codec_long_name"));
    EXPECT_EQ(codec[199], 0);  // the name buffer was cleared first
  }
}

TEST(AudioReader, AacBlocksAreOneFrameEachWithRisingTimes) {
  Reader reader("audio_stereo44.m4a");
  reader.Info();
  const Decoded decoded = ReadAll(reader.handle);
  ASSERT_GT(decoded.blocks.size(), 80u);
  for (size_t i = 0; i < decoded.blocks.size(); ++i) {
    EXPECT_EQ(decoded.blocks[i].samples, 1024) << i;
    EXPECT_EQ(decoded.blocks[i].bytes, 4096) << i;
    EXPECT_NEAR(decoded.blocks[i].time, i * 1024.0 / 44100.0, 1e-9) << i;
  }
  // The end stays the end.
  std::vector<uint8_t> buffer(kBufferSize);
  const Block again = NextBlock(reader.handle, buffer);
  EXPECT_EQ(again.result, 1);
  EXPECT_EQ(again.time, -1.0);
}

TEST(AudioReader, DecodedSamplesMatchTheFfmpegTool) {
  struct Case {
    const char* name;
    int maxDifference;  // 0: sample-exact
  } cases[] = {
      {"audio_s16.wav", 0},      {"audio_6ch.wav", 0},    {"audio_stereo44.m4a", 1},
      {"audio_6ch.m4a", 1},      {"audio_stereo.mp3", 1}, {"audio_mono48.m4a", 1},
      {"audio_stereo44.aac", 1}, {"audio_10ch.wav", 0},   {"audio_16ch.wav", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reader reader(c.name);
    const Decoded decoded = ReadAll(reader.handle);
    const std::vector<int16_t> expected = ReadPcm(FixturePath(std::string(c.name) + ".s16"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decoded.pcm.size(), expected.size());
    const auto difference = Compare(decoded.pcm, expected);
    EXPECT_LE(difference.maxAbs, c.maxDifference);
  }
}

// Frames larger than the buffer are handed out over several blocks, never
// past the buffer, with nothing lost: 6-channel WavPack frames of 24000
// samples (288000 bytes as 16-bit, converted from planar) and 16-bit packets
// of 30000 samples (360000 bytes, copied as they are).
TEST(AudioReader, FramesLargerThanTheBufferComeOverSeveralBlocks) {
  struct Case {
    const char* name;
    int frameSamples;
  } cases[] = {{"audio_6ch.wv", 24000}, {"audio_6ch_s16_big.mkv", 30000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reader reader(c.name);
    const Decoded decoded = ReadAll(reader.handle);
    EXPECT_TRUE(decoded.guardIntact);
    const std::vector<int16_t> expected = ReadPcm(FixturePath(std::string(c.name) + ".s16"));
    ASSERT_EQ(decoded.pcm.size(), expected.size());
    EXPECT_EQ(Compare(decoded.pcm, expected).maxAbs, 0);
    // 16005 samples fit one block (192060 bytes); the rest of the frame follows.
    ASSERT_GE(decoded.blocks.size(), 3u);
    EXPECT_EQ(decoded.blocks[0].samples, 16005);
    EXPECT_EQ(decoded.blocks[0].bytes, 192060);
    EXPECT_EQ(decoded.blocks[0].time, 0.0);
    EXPECT_EQ(decoded.blocks[1].samples, c.frameSamples - 16005);
    EXPECT_NEAR(decoded.blocks[1].time, 16005.0 / 48000.0, 1e-9);
    EXPECT_NEAR(decoded.blocks[2].time, c.frameSamples / 48000.0, 1e-9);
    for (const Block& block : decoded.blocks) {
      EXPECT_LE(block.bytes, kBufferSize);
      EXPECT_EQ(block.bytes, block.samples * 12);
    }
  }
}

TEST(AudioReader, NullSampleBufferIsRefusedWithoutReading) {
  Reader reader("audio_s16.wav");
  ErrorText error;
  int32_t samples = 5, bytes = 5;
  double time = 5;
  EXPECT_EQ(AUDIO_GetNewAudioSamples(reader.handle, nullptr, &samples, &bytes, &time, error), 1);
  EXPECT_STREQ(error.text, "The sample buffer is null.");
  EXPECT_EQ(bytes, 0);
  // The first block is still the first.
  std::vector<uint8_t> buffer(kBufferSize);
  const Block block = NextBlock(reader.handle, buffer);
  EXPECT_EQ(block.result, 0);
  EXPECT_EQ(block.time, 0.0);
}

TEST(AudioReader, JumpsAreRefusedBeforeTheInformationAndPastTheDuration) {
  Reader reader("audio_stereo44.m4a");
  EXPECT_EQ(reader.Jump(0.0), -1.0);
  EXPECT_EQ(reader.Jump(1.0), -1.0);
  const double duration = reader.Info();
  std::vector<uint8_t> buffer(kBufferSize);
  for (int i = 0; i < 3; ++i) NextBlock(reader.handle, buffer);
  EXPECT_EQ(reader.Jump(duration), -1.0);
  EXPECT_EQ(reader.Jump(duration + 5), -1.0);
  EXPECT_EQ(reader.Jump(-1.0), -1.0);
  EXPECT_EQ(reader.Jump(std::nan("")), -1.0);
  // The position is unchanged: the fourth block follows.
  const Block block = NextBlock(reader.handle, buffer);
  EXPECT_EQ(block.result, 0);
  EXPECT_NEAR(block.time, 3 * 1024.0 / 44100.0, 1e-9);
}

TEST(AudioReader, JumpsLandOnAPacketAndReadingGoesOnFromThere) {
  Reader reader("audio_stereo44.m4a");
  reader.Info();
  const Decoded all = ReadAll(reader.handle);  // to the end first

  const double reached = reader.Jump(1.0);
  EXPECT_LE(reached, 1.0);
  EXPECT_GT(reached, 1.0 - 1024.0 / 44100.0);
  std::vector<uint8_t> buffer(kBufferSize);
  const Block block = NextBlock(reader.handle, buffer);
  ASSERT_EQ(block.result, 0);
  EXPECT_NEAR(block.time, reached, 1e-9);
  const size_t index = static_cast<size_t>(std::lround(block.time * 44100.0 / 1024.0));
  const std::vector<int16_t> expected = ReadPcm(FixturePath("audio_stereo44.m4a.s16"));
  // After a jump the decoder starts without its history, so the first block
  // may differ slightly; the next one matches the tool's decode.
  const Block next = NextBlock(reader.handle, buffer);
  ASSERT_EQ(next.result, 0);
  const std::vector<int16_t> samples = ToSamples(buffer.data(), next.bytes);
  const std::vector<int16_t> reference(expected.begin() + (index + 1) * 2048,
                                       expected.begin() + (index + 2) * 2048);
  EXPECT_LE(Compare(samples, reference).rms, 64.0);

  // Back to 0: the seek lands on the packet at 0, after the encoder's priming
  // packet. The first frame, decoded without its predecessor, differs; later
  // ones match within a few steps of rounding.
  EXPECT_EQ(reader.Jump(0.0), 0.0);
  const Decoded again = ReadAll(reader.handle);
  ASSERT_EQ(again.pcm.size(), all.pcm.size());
  EXPECT_EQ(again.blocks[0].time, 0.0);
  const std::vector<int16_t> laterAgain(again.pcm.begin() + 2048, again.pcm.end());
  const std::vector<int16_t> laterAll(all.pcm.begin() + 2048, all.pcm.end());
  const auto difference = Compare(laterAgain, laterAll);
  EXPECT_LE(difference.maxAbs, 16);
  EXPECT_LT(difference.rms, 1.0);
}

TEST(AudioReader, JumpingBackToZeroGivesTheFirstPacketsTime) {
  for (const char* name : {"audio_s16.wav", "audio_stereo.mp3", "audio_start.ts"}) {
    SCOPED_TRACE(name);
    const auto probe = ReadProbe(FixturePath(std::string(name) + ".probe"));
    Reader reader(name);
    reader.Info();
    const Decoded all = ReadAll(reader.handle);
    EXPECT_NEAR(reader.Jump(0.0),
                ProbeSeconds(probe, "pts_time") - ProbeSeconds(probe, "start_time"), 1e-6);
    const Decoded again = ReadAll(reader.handle);
    EXPECT_EQ(again.blocks.size(), all.blocks.size());
  }
}

// MPEG-TS from the ffmpeg tool starts at 1.4 s; times count from the start,
// so the whole duration can be reached.
TEST(AudioReader, TimesCountFromTheStreamsStart) {
  Reader reader("audio_start.ts");
  const double duration = reader.Info();
  const auto probe = ReadProbe(FixturePath("audio_start.ts.probe"));
  EXPECT_NEAR(duration, ProbeSeconds(probe, "duration"), 1e-6);
  std::vector<uint8_t> buffer(kBufferSize);
  const Block first = NextBlock(reader.handle, buffer);
  ASSERT_EQ(first.result, 0);
  EXPECT_NEAR(first.time, 0.0, 1e-6);

  // Forward jumps land on the first packet at or after the target.
  const double late = duration - 0.1;
  const double reached = reader.Jump(late);
  EXPECT_NEAR(reached, late, 0.1);
  const Block block = NextBlock(reader.handle, buffer);
  ASSERT_EQ(block.result, 0);
  EXPECT_NEAR(block.time, reached, 1e-3);
  EXPECT_NEAR(reader.Jump(0.0), 0.0, 1e-6);
}

TEST(AudioReader, ATruncatedStreamEndsCleanly) {
  Reader reader("audio_cut.aac");
  reader.Info();
  const Decoded decoded = ReadAll(reader.handle);
  EXPECT_GT(decoded.blocks.size(), 20u);
  const std::vector<int16_t> expected = ReadPcm(FixturePath("audio_stereo44.aac.s16"));
  EXPECT_LE(Compare(decoded.pcm, expected).maxAbs, 1);
}

// A rate change mid-stream converts nothing but the sample format: every
// decoded sample is delivered.
TEST(AudioReader, AStreamChangingItsRateLosesNothing) {
  const size_t first =
      audio_test::SplitAdts(tarsel_test::ReadFile(FixturePath("audio_stereo44.aac")), true).size();
  const size_t second =
      audio_test::SplitAdts(tarsel_test::ReadFile(FixturePath("audio_stereo48.aac")), true).size();
  Reader reader("audio_rate_change.aac");
  reader.Info();
  const Decoded decoded = ReadAll(reader.handle);
  ASSERT_EQ(decoded.blocks.size(), first + second);
  for (const Block& block : decoded.blocks) EXPECT_EQ(block.samples, 1024);
  EXPECT_NEAR(decoded.blocks[first].time, first * 1024.0 / 44100.0, 0.05);
  for (size_t i = 1; i < decoded.blocks.size(); ++i) {
    EXPECT_GT(decoded.blocks[i].time, decoded.blocks[i - 1].time) << i;
  }
}
