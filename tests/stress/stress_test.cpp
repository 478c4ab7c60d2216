// The library under load and over time, through its exports: eight readers on
// eight threads get what one reader alone gets; four writers of each kind
// writing at once give the files one writer gives; and every FFmpeg family is
// opened, used and released a thousand times, its refused opens included,
// without leaving descriptors open or memory growing.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>
#else
#include <dirent.h>
#include <unistd.h>

#include <fstream>
#endif

#include "support/test_support.h"
#include "tarsel.h"

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;
using tarsel_test::ScratchPath;

namespace {

using Bytes = std::vector<uint8_t>;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Open descriptors (handles on Windows) and resident memory of this process.
struct Resources {
  long descriptors = 0;
  long residentKb = 0;
};

Resources Measure() {
  Resources now;
#if defined(_WIN32)
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  now.descriptors = static_cast<long>(handles);
  PROCESS_MEMORY_COUNTERS memory{};
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
    now.residentKb = static_cast<long>(memory.WorkingSetSize / 1024);
#else
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder)) ++now.descriptors;
    closedir(folder);
  }
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  now.residentKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
#endif
  return now;
}

uint64_t Fnv(const uint8_t* bytes, std::size_t size, uint64_t hash = 1469598103934665603ull) {
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

// What a reader delivered: its reported size and count, and a checksum and
// time of every picture or block.
struct Reading {
  int32_t result = -1, width = 0, height = 0, count = 0;
  std::vector<uint64_t> checksums;
  std::vector<double> times;
  bool operator==(const Reading& o) const {
    return result == o.result && width == o.width && height == o.height && count == o.count &&
           checksums == o.checksums && times == o.times;
  }
};

constexpr int kMaxItems = 300;

Reading ReadVideo(const std::string& path) {
  Reading reading;
  void* reader = nullptr;
  ErrorText error;
  reading.result = VIDEO_Init(&reader, path.c_str(), 0, 0, nullptr, 0, error);
  if (reading.result != 0) return reading;
  double duration = 0, rate = 0;
  VIDEO_getVideoInfo(reader, &reading.width, &reading.height, &reading.count, &duration, &rate,
                     error);
  const int32_t stride = 3 * reading.width;
  Bytes picture(static_cast<std::size_t>(stride) * reading.height);
  uint32_t index = 0;
  double time = 0, again = 0;
  while (reading.checksums.size() < kMaxItems &&
         VIDEO_getNextFrame(reader, picture.data(), stride, &index, &time, &again, error) == 0) {
    reading.checksums.push_back(Fnv(picture.data(), picture.size(), index));
    reading.times.push_back(time);
  }
  // One seek by index and one by time, as applications skip around.
  if (VIDEO_getFrameWithIndex(reader, picture.data(), stride, reading.count / 2, &index, &time,
                              &again, error) == 0)
    reading.checksums.push_back(Fnv(picture.data(), picture.size(), index));
  if (VIDEO_getFrameWithTimeStamp(reader, picture.data(), stride, duration / 3, &index, &time,
                                  &again, error) == 0)
    reading.checksums.push_back(Fnv(picture.data(), picture.size(), index));
  VIDEO_Clear(&reader);
  return reading;
}

Reading ReadAudio(const std::string& path) {
  Reading reading;
  void* reader = nullptr;
  int32_t stream = 0;
  ErrorText error;
  reading.result = AUDIO_Init(&reader, path.c_str(), &stream, error);
  if (reading.result != 0) return reading;
  int32_t hasAudio = 0, bufferSize = 0;
  double duration = 0;
  char codec[200];
  AUDIO_GetAudioInfo(reader, &hasAudio, &reading.width, &reading.height, &bufferSize, &duration,
                     codec, error);
  Bytes block(static_cast<std::size_t>(bufferSize > 0 ? bufferSize : 1));
  int32_t samples = 0, bytes = 0;
  double time = 0;
  while (reading.checksums.size() < kMaxItems &&
         AUDIO_GetNewAudioSamples(reader, block.data(), &samples, &bytes, &time, error) == 0) {
    reading.checksums.push_back(Fnv(block.data(), static_cast<std::size_t>(bytes)));
    reading.times.push_back(time);
  }
  AUDIO_Clear(&reader);
  return reading;
}

const char* const kClips[] = {"stress_h264_aac.mp4",    "stress_h264_opus.mkv",
                              "stress_mpeg4_mp3.avi",   "stress_h264_aac.ts",
                              "stress_h264.flv",        "stress_mjpeg_pcm.mov",
                              "stress_vp8_vorbis.webm", "stress_mpeg2_mp2.mpg"};

// Runs work(i) on `count` threads at once, released together.
void OnThreads(int count, const std::function<void(int)>& work) {
  std::atomic<int> waiting{count};
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i)
    threads.emplace_back([&, i] {
      --waiting;
      while (waiting.load() > 0) std::this_thread::yield();
      work(i);
    });
  for (auto& thread : threads) thread.join();
}

// The access units of a raw H.264 stream, each behind a 4-byte start code:
// the first SPS and PPS apart, then one unit per slice.
struct Units {
  Bytes sps, pps;
  std::vector<Bytes> slices;
};

Units SplitH264(const std::string& fixture) {
  const Bytes stream = ReadFile(FixturePath(fixture));
  Units units;
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 3 <= stream.size(); ++i)
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) starts.push_back(i + 3);
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : stream.size();
    while (end > starts[k] && stream[end - 1] == 0) --end;
    Bytes nal{0, 0, 0, 1};
    nal.insert(nal.end(), stream.begin() + starts[k], stream.begin() + end);
    const int type = nal[4] & 0x1f;
    if (type == 7 && units.sps.empty()) units.sps = nal;
    if (type == 8 && units.pps.empty()) units.pps = nal;
    if (type == 1 || type == 5) units.slices.push_back(nal);
  }
  return units;
}

Bytes Picture(int width, int height, int n) {
  Bytes picture(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7 + n);
  return picture;
}

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kPictures = 20;

// One writer of each kind, writing the same pictures or units into path.
int WriteLowLevel(const std::string& path) {
  void* writer = nullptr;
  ErrorText error;
  int result = LLWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 25.0, error);
  for (int n = 0; result == 0 && n < kPictures; ++n)
    result = LLWRITER_WriteFrame(writer, Picture(kWidth, kHeight, n).data(), kWidth * 3, 0, error);
  LLWRITER_Clear(&writer);
  return result;
}

int WriteTimed(const std::string& path) {
  void* writer = nullptr;
  ErrorText error;
  int result = VIDWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 0, "", 400000, 25, 12, error);
  for (int n = 0; result == 0 && n < kPictures; ++n)
    result =
        VIDWRITER_WriteFrame(writer, Picture(kWidth, kHeight, n).data(), kWidth * 3, -1.0, error);
  VIDWRITER_Clear(&writer);
  return result;
}

template <auto Init, auto AddSets, auto AddTimed, auto Clear>
int WriteH264(const std::string& path) {
  static const Units units = SplitH264("stress_96x64.h264");
  void* writer = nullptr;
  ErrorText error;
  int result = Init(&writer, path.c_str(), kWidth, kHeight, 25, error);
  if (result == 0)
    result = AddSets(writer, units.sps.data(), int32_t(units.sps.size()), units.pps.data(),
                     int32_t(units.pps.size()), error);
  for (std::size_t n = 0; result == 0 && n < units.slices.size(); ++n)
    result =
        AddTimed(writer, units.slices[n].data(), int32_t(units.slices[n].size()), n * 0.04, error);
  Clear(&writer);
  return result;
}

}  // namespace

TEST(Stress, EightReadersOnEightThreadsGetWhatOneReaderGets) {
  std::vector<Reading> video, audio;
  for (const char* clip : kClips) {
    video.push_back(ReadVideo(FixturePath(clip)));
    audio.push_back(ReadAudio(FixturePath(clip)));
    ASSERT_EQ(video.back().result, 0) << clip;
    EXPECT_GE(video.back().checksums.size(), 10u) << clip;
  }
  std::vector<Reading> videoAtOnce(8), audioAtOnce(8);
  for (int round = 0; round < 3; ++round) {
    OnThreads(8, [&](int i) {
      videoAtOnce[i] = ReadVideo(FixturePath(kClips[i]));
      audioAtOnce[i] = ReadAudio(FixturePath(kClips[(i + round) % 8]));
    });
    for (int i = 0; i < 8; ++i) {
      EXPECT_TRUE(videoAtOnce[i] == video[i]) << kClips[i];
      EXPECT_TRUE(audioAtOnce[i] == audio[(i + round) % 8]) << kClips[(i + round) % 8];
    }
  }
}

TEST(Stress, FourWritersOfEachKindAtOnceWriteWhatOneWrites) {
  const struct {
    const char* name;
    int (*write)(const std::string&);
  } kinds[] = {
      {"low_level.avi", WriteLowLevel},
      {"timed.avi", WriteTimed},
      {"writer.mp4", WriteH264<MP4WRITER_Init, MP4WRITER_AddSPSPPS,
                               MP4WRITER_AddRawH264FrameWithTime, MP4WRITER_Clear>},
      {"muxer.mp4", WriteH264<MP4Muxer_Init, MP4Muxer_AddSPSPPS, MP4Muxer_AddRawH264FrameWithTime,
                              MP4Muxer_Clear>},
  };
  std::vector<Bytes> alone;
  for (const auto& kind : kinds) {
    const std::string path = ScratchPath(std::string("alone_") + kind.name);
    ASSERT_EQ(kind.write(path), 0) << kind.name;
    alone.push_back(ReadFile(path));
    EXPECT_EQ(ReadVideo(path).checksums.size(), kPictures + 2u) << kind.name;
    std::remove(path.c_str());
  }
  std::vector<int> results(16, -1);
  OnThreads(16, [&](int i) {
    results[i] = kinds[i % 4].write(ScratchPath(std::to_string(i) + "_" + kinds[i % 4].name));
  });
  for (int i = 0; i < 16; ++i) {
    const std::string path = ScratchPath(std::to_string(i) + "_" + kinds[i % 4].name);
    EXPECT_EQ(results[i], 0) << path;
    EXPECT_TRUE(ReadFile(path) == alone[i % 4]) << path;
    std::remove(path.c_str());
  }
}

namespace {

// One round of a family: open (or fail to open, as expected), work, release.
struct Round {
  const char* what;
  std::function<void()> run;
};

// Expects `result` and, for a failure, the exact message.
void Expect(int result, int expected, const ErrorText& error, const char* message) {
  EXPECT_EQ(result, expected);
  if (message) {
    EXPECT_STREQ(error.text, message);
  }
}

std::vector<Round> VideoRounds() {
  const std::string clip = FixturePath("stress_h264_aac.mp4");
  return {
      {"read",
       [clip] {
         void* reader = nullptr;
         ErrorText error;
         ASSERT_EQ(VIDEO_Init(&reader, clip.c_str(), 0, 0, nullptr, 0, error), 0);
         Bytes picture(kWidth * kHeight * 3);
         uint32_t index = 0;
         double time = 0, again = 0;
         EXPECT_EQ(
             VIDEO_getNextFrame(reader, picture.data(), kWidth * 3, &index, &time, &again, error),
             0);
         EXPECT_EQ(VIDEO_Clear(&reader), 0);
       }},
      {"no path",
       [] {
         void* reader = nullptr;
         ErrorText error;
         Expect(VIDEO_Init(&reader, nullptr, 0, 0, nullptr, 0, error), 1, error, "No path given");
       }},
      {"missing file",
       [] {
         void* reader = nullptr;
         ErrorText error;
         Expect(VIDEO_Init(&reader, FixturePath("stress_missing.mp4").c_str(), 0, 0, nullptr, 0,
                           error),
                1, error, "No such file or directory");
       }},
      {"audio only",
       [] {
         void* reader = nullptr;
         ErrorText error;
         Expect(
             VIDEO_Init(&reader, FixturePath("stress_tone.wav").c_str(), 0, 0, nullptr, 0, error),
             1, error, "Could not find videostream");
       }},
  };
}

std::vector<Round> AudioRounds() {
  return {
      {"read",
       [] {
         void* reader = nullptr;
         int32_t stream = 0;
         ErrorText error;
         ASSERT_EQ(AUDIO_Init(&reader, FixturePath("stress_h264_aac.mp4").c_str(), &stream, error),
                   0);
         Bytes block(192064);
         int32_t samples = 0, bytes = 0;
         double time = 0;
         EXPECT_EQ(AUDIO_GetNewAudioSamples(reader, block.data(), &samples, &bytes, &time, error),
                   0);
         EXPECT_EQ(AUDIO_Clear(&reader), 0);
       }},
      {"missing file",
       [] {
         void* reader = nullptr;
         int32_t stream = 0;
         ErrorText error;
         Expect(AUDIO_Init(&reader, FixturePath("stress_missing.wav").c_str(), &stream, error), 1,
                error, "No such file or directory");
       }},
      {"video only",
       [] {
         void* reader = nullptr;
         int32_t stream = 0;
         ErrorText error;
         Expect(AUDIO_Init(&reader, FixturePath("stress_h264.flv").c_str(), &stream, error), 1,
                error, "Could not find audio stream");
       }},
  };
}

std::vector<Round> AacRounds() {
  const Bytes adts = ReadFile(FixturePath("stress_tone.aac"));
  return {
      {"decode",
       [adts] {
         void* decoder = nullptr;
         ErrorText error;
         ASSERT_EQ(AACDECODER_Init(&decoder, 1, 44100, 48000, error), 0);
         // The first two ADTS frames (a 13-bit length in each header).
         std::size_t at = 0;
         for (int i = 0; i < 2 && at + 7 <= adts.size(); ++i) {
           const std::size_t size =
               ((adts[at + 3] & 3u) << 11) | (adts[at + 4] << 3u) | (adts[at + 5] >> 5u);
           int32_t samples = 0;
           EXPECT_EQ(AACDECODER_DecodePacket(decoder, &adts[at], int32_t(size), &samples), 0);
           at += size;
         }
         Bytes pcm(4096);
         EXPECT_EQ(AACDECODER_GetDecodedData(decoder, pcm.data(), int32_t(pcm.size())), 1);
         EXPECT_EQ(AACDECODER_Clear(&decoder), 0);
       }},
      {"no channels",
       [] {
         void* decoder = nullptr;
         ErrorText error;
         Expect(AACDECODER_Init(&decoder, 0, 44100, 44100, error), 1, error,
                "The channel count must be between 1 and 8.");
       }},
      {"no rate",
       [] {
         void* decoder = nullptr;
         ErrorText error;
         Expect(AACDECODER_Init(&decoder, 2, 44100, -1, error), 1, error,
                "The sample rates must be above 0.");
       }},
  };
}

std::vector<Round> WriterRounds() {
  const std::string path = ScratchPath("lifecycle.avi");
  const Bytes picture = Picture(kWidth, kHeight, 1);
  return {
      {"low-level write",
       [path, picture] {
         void* writer = nullptr;
         ErrorText error;
         ASSERT_EQ(LLWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 25.0, error), 0);
         EXPECT_EQ(LLWRITER_WriteFrame(writer, picture.data(), kWidth * 3, 0, error), 0);
         EXPECT_EQ(LLWRITER_Clear(&writer), 0);
       }},
      {"low-level size",
       [path] {
         void* writer = nullptr;
         ErrorText error;
         Expect(LLWRITER_Init(&writer, path.c_str(), 65535, 65535, 25.0, error), 1, error,
                "Invalid picture size");
       }},
      {"low-level container",
       [] {
         void* writer = nullptr;
         ErrorText error;
         Expect(LLWRITER_Init(&writer, ScratchPath("x.notacontainer").c_str(), kWidth, kHeight,
                              25.0, error),
                1, error, "Could not init video format");
       }},
      {"low-level folder",
       [] {
         void* writer = nullptr;
         ErrorText error;
         Expect(LLWRITER_Init(&writer, ScratchPath("missing/x.avi").c_str(), kWidth, kHeight, 25.0,
                              error),
                1, error, "No such file or directory");
       }},
      {"timed write",
       [path, picture] {
         void* writer = nullptr;
         ErrorText error;
         ASSERT_EQ(
             VIDWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 0, "", 400000, 25, 12, error),
             0)
             << error.text;
         EXPECT_EQ(VIDWRITER_WriteFrame(writer, picture.data(), kWidth * 3, -1.0, error), 0);
         EXPECT_EQ(VIDWRITER_Clear(&writer), 0);
       }},
      // FFmpeg's own AAC encoder takes no 16-bit samples.
      {"timed audio",
       [path] {
         void* writer = nullptr;
         ErrorText error;
         Expect(
             VIDWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 1, "", 400000, 25, 12, error),
             1, error, "Audio Encoder does not support sample format");
       }},
      {"timed rate",
       [path] {
         void* writer = nullptr;
         ErrorText error;
         Expect(VIDWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 0, "", 400000, 0, 12, error),
                1, error, "Invalid frame rate");
       }},
      {"timed folder",
       [] {
         void* writer = nullptr;
         ErrorText error;
         Expect(VIDWRITER_Init(&writer, ScratchPath("missing/x.avi").c_str(), kWidth, kHeight, 1,
                               "", 400000, 25, 12, error),
                1, error, "No such file or directory");
       }},
  };
}

template <auto Init, auto AddSets, auto AddFrame, auto Clear>
std::vector<Round> Mp4Rounds() {
  const std::string path = ScratchPath("lifecycle.mp4");
  return {
      {"write",
       [path] {
         static const Units units = SplitH264("stress_96x64.h264");
         void* writer = nullptr;
         ErrorText error;
         ASSERT_EQ(Init(&writer, path.c_str(), kWidth, kHeight, 25, error), 0);
         EXPECT_EQ(AddSets(writer, units.sps.data(), int32_t(units.sps.size()), units.pps.data(),
                           int32_t(units.pps.size()), error),
                   0);
         for (int n = 0; n < 2; ++n)
           EXPECT_EQ(
               AddFrame(writer, units.slices[n].data(), int32_t(units.slices[n].size()), error), 0);
         EXPECT_EQ(Clear(&writer), 0);
       }},
      // These Inits hand out the handle whatever the result.
      {"size",
       [path] {
         void* writer = nullptr;
         ErrorText error;
         Expect(Init(&writer, path.c_str(), 0, kHeight, 25, error), 1, error,
                "Invalid picture size");
         EXPECT_EQ(Clear(&writer), 0);
       }},
      {"folder",
       [] {
         void* writer = nullptr;
         ErrorText error;
         Expect(Init(&writer, ScratchPath("missing/x.mp4").c_str(), kWidth, kHeight, 25, error), 1,
                error, "No such file or directory");
         EXPECT_EQ(Clear(&writer), 0);
       }},
      {"no H.264",
       [] {
         void* writer = nullptr;
         ErrorText error;
         Expect(Init(&writer, ScratchPath("x.webm").c_str(), kWidth, kHeight, 25, error), 1, error,
                "Container does not support H.264");
         EXPECT_EQ(Clear(&writer), 0);
       }},
  };
}

std::vector<Round> DecoderRounds() {
  return {{"decode", [] {
             static const Units units = SplitH264("stress_96x64.h264");
             void* decoder = nullptr;
             ErrorText error;
             ASSERT_EQ(DECODER_Init(&decoder, error), 0);
             int32_t width = 0, height = 0;
             Bytes first = units.sps;
             first.insert(first.end(), units.pps.begin(), units.pps.end());
             first.insert(first.end(), units.slices[0].begin(), units.slices[0].end());
             EXPECT_EQ(
                 DECODER_DecodeFrame(decoder, first.data(), int32_t(first.size()), &width, &height),
                 0);
             Bytes bitmap(kWidth * kHeight * 3);
             uint32_t size = 0;
             EXPECT_EQ(DECODER_GetBitmapData(decoder, bitmap.data(), &size), 0);
             EXPECT_EQ(size, bitmap.size());
             EXPECT_EQ(DECODER_Clear(&decoder), 0);
           }}};
}

std::vector<Round> ConverterRounds() {
  return {
      {"convert",
       [] {
         void* converter = nullptr;
         ErrorText error;
         ASSERT_EQ(PixConverter_Init(&converter, 1, 3, kWidth, kHeight, error), 0);
         const Bytes bgr = Picture(kWidth, kHeight, 3);
         Bytes nv12(kWidth * kHeight * 3 / 2);
         EXPECT_EQ(PixConverter_Convert(converter, bgr.data(), nv12.data(), error), 0);
         Bytes back(bgr.size());
         EXPECT_EQ(ConverterNV12_ConvertNV122BGR(converter, nv12.data(), back.data()), 0);
         EXPECT_EQ(ConverterNV12_Clear(&converter), 0);
       }},
      {"code",
       [] {
         void* converter = nullptr;
         ErrorText error;
         Expect(PixConverter_Init(&converter, 9, 1, kWidth, kHeight, error), 1, error,
                "pixel format type is not valid");
       }},
      {"size",
       [] {
         void* converter = nullptr;
         ErrorText error;
         Expect(PixConverter_Init(&converter, 1, 3, INT32_MAX, INT32_MAX, error), 1, error,
                "picture size is too large");
       }},
  };
}

constexpr int kRounds = 1000;
constexpr int kWarmUpRounds = 100;
// Resident memory may grow by this much over the rounds after the warm-up
// (allocator caches); a leak of a decoder or a picture a round is far more.
constexpr long kAllowedGrowthKb = 16 * 1024;

struct LifecycleCase {
  const char* family;
  std::vector<Round> (*rounds)();
};

void PrintTo(const LifecycleCase& lifecycle, std::ostream* out) { *out << lifecycle.family; }

class Lifecycle : public ::testing::TestWithParam<LifecycleCase> {};

}  // namespace

// A thousand rounds, the open that works and each that fails in turn.
TEST_P(Lifecycle, AThousandRoundsLeaveNothingBehind) {
  const std::vector<Round> rounds = GetParam().rounds();
  Resources warm = Measure();
  for (int i = 0; i < kRounds; ++i) {
    if (i == kWarmUpRounds) warm = Measure();
    const Round& round = rounds[i % rounds.size()];
    SCOPED_TRACE(round.what);
    round.run();
    if (HasFailure()) break;
  }
  const Resources end = Measure();
  EXPECT_EQ(end.descriptors, warm.descriptors);
  // The address sanitizer holds freed memory back on purpose; it checks for
  // leaks itself when the program ends.
  if (!kAddressSanitizer) {
    EXPECT_LE(end.residentKb - warm.residentKb, kAllowedGrowthKb);
  }
  std::remove(ScratchPath("lifecycle.avi").c_str());
  std::remove(ScratchPath("lifecycle.mp4").c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Families, Lifecycle,
    ::testing::Values(
        LifecycleCase{"video", VideoRounds}, LifecycleCase{"audio", AudioRounds},
        LifecycleCase{"aac", AacRounds}, LifecycleCase{"writers", WriterRounds},
        LifecycleCase{
            "mp4writer",
            Mp4Rounds<MP4WRITER_Init, MP4WRITER_AddSPSPPS, MP4WRITER_AddFrame, MP4WRITER_Clear>},
        LifecycleCase{
            "mp4muxer",
            Mp4Rounds<MP4Muxer_Init, MP4Muxer_AddSPSPPS, MP4Muxer_AddFrame, MP4Muxer_Clear>},
        LifecycleCase{"decoder", DecoderRounds}, LifecycleCase{"converter", ConverterRounds}),
    [](const auto& info) { return std::string(info.param.family); });
