// The library under load and over time, through its exports: eight readers on
// eight threads get what one reader alone gets; four writers of each kind
// writing at once give the files one writer gives; cameras and microphones
// feed encoders from their worker threads, several recordings at once; and
// every family is opened, used and released a thousand times, its refused
// opens included, without leaving descriptors or threads behind or memory
// growing.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>
#else
#include <unistd.h>

#include <fstream>
#endif

#include "support/process_resources.h"
#include "support/test_support.h"
#include "tarsel.h"

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;
using tarsel_test::ScratchPath;

namespace {

using Bytes = std::vector<uint8_t>;
using Text16 = std::basic_string<tarsel_char16>;

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

// Open descriptors (handles on Windows), threads and resident memory.
struct Resources {
  int descriptors = 0, threads = 0;
  long residentKb = 0;
};

Resources Measure() {
  Resources now{tarsel_test::OpenDescriptors(), tarsel_test::RunningThreads()};
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS memory{};
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
    now.residentKb = static_cast<long>(memory.WorkingSetSize / 1024);
#else
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

// Reads up to `limit` pictures, then one by index and one by time, as
// applications skip around (sequential: in decoder order, no skipping).
Reading ReadVideo(const char* path, std::size_t limit = 300, uint8_t sequential = 0,
                  char* error = ErrorText()) {
  Reading reading;
  void* reader = nullptr;
  reading.result = VIDEO_Init(&reader, path, 0, 0, nullptr, sequential, error);
  if (reading.result != 0) return reading;
  double duration = 0, rate = 0;
  VIDEO_getVideoInfo(reader, &reading.width, &reading.height, &reading.count, &duration, &rate,
                     error);
  const int32_t stride = 3 * reading.width;
  Bytes picture(static_cast<std::size_t>(stride) * reading.height);
  uint32_t index = 0;
  double time = 0, again = 0;
  while (reading.checksums.size() < limit &&
         VIDEO_getNextFrame(reader, picture.data(), stride, &index, &time, &again, error) == 0) {
    reading.checksums.push_back(Fnv(picture.data(), picture.size(), index));
    reading.times.push_back(time);
  }
  if (!sequential && VIDEO_getFrameWithIndex(reader, picture.data(), stride, reading.count / 2,
                                             &index, &time, &again, error) == 0)
    reading.checksums.push_back(Fnv(picture.data(), picture.size(), index));
  if (!sequential && VIDEO_getFrameWithTimeStamp(reader, picture.data(), stride, duration / 3,
                                                 &index, &time, &again, error) == 0)
    reading.checksums.push_back(Fnv(picture.data(), picture.size(), index));
  VIDEO_Clear(&reader);
  return reading;
}

// Reads up to `limit` blocks; width holds the channels, height the rate.
Reading ReadAudio(const char* path, std::size_t limit = 300, char* error = ErrorText()) {
  Reading reading;
  void* reader = nullptr;
  int32_t stream = 0;
  reading.result = AUDIO_Init(&reader, path, &stream, error);
  if (reading.result != 0) return reading;
  int32_t hasAudio = 0, bufferSize = 0;
  double duration = 0;
  char codec[200];
  AUDIO_GetAudioInfo(reader, &hasAudio, &reading.width, &reading.height, &bufferSize, &duration,
                     codec, error);
  Bytes block(static_cast<std::size_t>(bufferSize > 0 ? bufferSize : 1));
  int32_t samples = 0, bytes = 0;
  double time = 0;
  while (reading.checksums.size() < limit &&
         AUDIO_GetNewAudioSamples(reader, block.data(), &samples, &bytes, &time, error) == 0) {
    reading.checksums.push_back(Fnv(block.data(), static_cast<std::size_t>(bytes)));
    reading.times.push_back(time);
    reading.count += samples;
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

// Picture n: BGR, or NV12 with half the bytes.
Bytes Picture(int width, int height, int n, bool nv12 = false) {
  Bytes picture(static_cast<std::size_t>(width) * height * (nv12 ? 3 : 6) / 2);
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7 + n);
  return picture;
}

Text16 Utf16(const std::string& ascii) { return Text16(ascii.begin(), ascii.end()); }

EncoderSettings Settings(uint32_t width, uint32_t height, uint32_t frameRate) {
  EncoderSettings settings{};
  settings.width = width, settings.height = height, settings.frameRate = frameRate;
  settings.bitRateKbps = 1000, settings.profile = 100, settings.level = 40;
  settings.hasAudio = 1, settings.numChannels = 2, settings.samplesPerSecond = 48000;
  settings.bitsPerSample = 16;
  return settings;
}

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kPictures = 20;

// One writer of each kind, writing `count` pictures or units into path.
int WriteLowLevel(const std::string& path, int count, char* error) {
  void* writer = nullptr;
  int result = LLWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 25.0, error);
  for (int n = 0; result == 0 && n < count; ++n)
    result = LLWRITER_WriteFrame(writer, Picture(kWidth, kHeight, n).data(), kWidth * 3, 0, error);
  EXPECT_EQ(LLWRITER_Clear(&writer), 0);
  return result;
}

int WriteTimed(const std::string& path, int count, char* error) {
  void* writer = nullptr;
  int result = VIDWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 0, "", 400000, 25, 12, error);
  for (int n = 0; result == 0 && n < count; ++n)
    result =
        VIDWRITER_WriteFrame(writer, Picture(kWidth, kHeight, n).data(), kWidth * 3, -1.0, error);
  EXPECT_EQ(VIDWRITER_Clear(&writer), 0);
  return result;
}

template <auto Init, auto AddSets, auto AddTimed, auto Clear>
int WriteH264(const std::string& path, int count, char* error) {
  static const Units units = SplitH264("stress_96x64.h264");
  void* writer = nullptr;
  int result = Init(&writer, path.c_str(), kWidth, kHeight, 25, error);
  if (result == 0)
    result = AddSets(writer, units.sps.data(), int32_t(units.sps.size()), units.pps.data(),
                     int32_t(units.pps.size()), error);
  for (int n = 0; result == 0 && n < count && n < int(units.slices.size()); ++n)
    result =
        AddTimed(writer, units.slices[n].data(), int32_t(units.slices[n].size()), n * 0.04, error);
  EXPECT_EQ(Clear(&writer), 0);
  return result;
}

// NV12 pictures at 25 per second with 40 ms of sound each.
int WriteEncoded(const std::string& path, int count, char* error, uint32_t rate = 25) {
  void* encoder = nullptr;
  EncoderSettings settings = Settings(kWidth, kHeight, rate);
  int result = MFEncoder_Init(&encoder, Utf16(path).c_str(), &settings, error);
  const Bytes pcm(1920 * 4);
  const uint32_t pcmBytes = uint32_t(pcm.size());
  for (int n = 0; result == 0 && n < count; ++n) {
    const Bytes picture = Picture(kWidth, kHeight, n, true);
    const uint32_t bytes = uint32_t(picture.size());
    result = MFEncoder_AddVideoFrame(encoder, picture.data(), &bytes, n * 0.04, error) |
             MFEncoder_AddAudioSamples(encoder, pcm.data(), &pcmBytes, n * 0.04, error);
  }
  EXPECT_EQ(MFEncoder_Clear(&encoder), 0);
  return result;
}

constexpr bool kPortableDevices =
#if defined(_WIN32)
    false;
#else
    true;
#endif

}  // namespace

TEST(Stress, EightReadersOnEightThreadsGetWhatOneReaderGets) {
  std::vector<Reading> video, audio;
  for (const char* clip : kClips) {
    video.push_back(ReadVideo(FixturePath(clip).c_str()));
    audio.push_back(ReadAudio(FixturePath(clip).c_str()));
    ASSERT_EQ(video.back().result, 0) << clip;
    EXPECT_GE(video.back().checksums.size(), 10u) << clip;
  }
  std::vector<Reading> videoAtOnce(8), audioAtOnce(8);
  for (int round = 0; round < 3; ++round) {
    OnThreads(8, [&](int i) {
      videoAtOnce[i] = ReadVideo(FixturePath(kClips[i]).c_str());
      audioAtOnce[i] = ReadAudio(FixturePath(kClips[(i + round) % 8]).c_str());
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
    int (*write)(const std::string&, int, char*);
  } kinds[] = {
      {"low_level.avi", WriteLowLevel},
      {"timed.avi", WriteTimed},
      {"writer.mp4", WriteH264<MP4WRITER_Init, MP4WRITER_AddSPSPPS,
                               MP4WRITER_AddRawH264FrameWithTime, MP4WRITER_Clear>},
      {"muxer.mp4", WriteH264<MP4Muxer_Init, MP4Muxer_AddSPSPPS, MP4Muxer_AddRawH264FrameWithTime,
                              MP4Muxer_Clear>},
      {"encoder.mp4", [](const std::string& to, int n, char* e) { return WriteEncoded(to, n, e); }},
  };
  const int count = kPortableDevices ? 5 : 4;  // Wine's sink writer takes no container
  std::vector<Bytes> alone;
  for (int k = 0; k < count; ++k) {
    const std::string path = ScratchPath(std::string("alone_") + kinds[k].name);
    ASSERT_EQ(kinds[k].write(path, kPictures, ErrorText()), 0) << kinds[k].name;
    alone.push_back(ReadFile(path));
    EXPECT_EQ(ReadVideo(path.c_str()).checksums.size(), kPictures + 2u) << kinds[k].name;
    std::remove(path.c_str());
  }
  std::vector<int> results(4 * count, -1);
  const auto name = [&](int i) { return ScratchPath(std::to_string(i) + kinds[i % count].name); };
  OnThreads(4 * count,
            [&](int i) { results[i] = kinds[i % count].write(name(i), kPictures, ErrorText()); });
  for (int i = 0; i < 4 * count; ++i) {
    EXPECT_EQ(results[i], 0) << name(i);
    EXPECT_TRUE(ReadFile(name(i)) == alone[i % count]) << name(i);
    std::remove(name(i).c_str());
  }
}

namespace {

// A recording: a camera and a microphone feed one encoder from their worker
// threads, each stream timed from its own first block. The callbacks are plain
// functions, one instance per recording.
struct Recording {
  void *camera = nullptr, *microphone = nullptr, *encoder = nullptr;
  std::atomic<int64_t> firstPicture{-1}, firstBlock{-1};
  std::atomic<int> pictures{0}, blocks{0}, refusals{0};
};
constexpr int kRecordings = 3;
Recording recordings[kRecordings];

int64_t Since(std::atomic<int64_t>& first, int64_t timestamp) {
  int64_t none = -1;
  first.compare_exchange_strong(none, timestamp);
  return timestamp - first;
}

template <int N>
void TARSEL_CALL OnPicture(uint32_t, int64_t timestamp, uint32_t size, uint8_t* picture) {
  Recording& r = recordings[N];
  ErrorText error;
  const int64_t ticks = Since(r.firstPicture, timestamp);
  ++(MFEncoder_AddVideoFrame_Ticks(r.encoder, picture, &size, ticks, error) ? r.refusals
                                                                            : r.pictures);
}

template <int N>
void TARSEL_CALL OnBlock(uint32_t, int64_t timestamp, uint32_t size, uint8_t* pcm) {
  Recording& r = recordings[N];
  ErrorText error;
  const double seconds = Since(r.firstBlock, timestamp) / 1e7;
  ++(MFEncoder_AddAudioSamples(r.encoder, pcm, &size, seconds, error) ? r.refusals : r.blocks);
}

template <int... N>
void StartRecordings(std::integer_sequence<int, N...>) {
  (([] {
     Recording& r = recordings[N];
     ErrorText error;
     uint32_t devices = 0, formats = 0;
     EncoderSettings settings = Settings(160, 120, 30);
     const Text16 url = Utf16(ScratchPath("recording" + std::to_string(N) + ".mp4"));
     ASSERT_EQ(MFEncoder_Init(&r.encoder, url.c_str(), &settings, error), 0) << error.text;
     ASSERT_EQ(MFCamGrabber_Init(&r.camera, &devices, error), 0);
     ASSERT_EQ(MFCamGrabber_OpenCamera(r.camera, 0, true, &formats, error), 0);
     ASSERT_EQ(MFCamGrabber_SetFrameReadyCallBack(r.camera, OnPicture<N>), 0);
     ASSERT_EQ(MFCamGrabber_StartGrabbing(r.camera, 160, 120, 30, 0, error), 0) << error.text;
     ASSERT_EQ(MFAudioGrabber_Init(&r.microphone, &devices, error), 0);
     ASSERT_EQ(MFAudioGrabber_OpenDevice(r.microphone, 0, true, &formats, error), 0);
     ASSERT_EQ(MFAudioGrabber_SetAudioReadyCallBack(r.microphone, OnBlock<N>), 0);
     ASSERT_EQ(MFAudioGrabber_StartGrabbing(r.microphone, 0, error), 0) << error.text;
   }()),
   ...);
}

}  // namespace

TEST(Stress, RecordingsFromCaptureThreadsKeepEveryPictureAndBlock) {
  if (!kPortableDevices) GTEST_SKIP() << "the fake devices belong to the portable layer";
  StartRecordings(std::make_integer_sequence<int, kRecordings>());
  // About a second each; generous bounds for a busy machine.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (Recording& r : recordings)
    while ((r.pictures < 30 || r.blocks < 100) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (int n = 0; n < kRecordings; ++n) {
    Recording& r = recordings[n];
    // Once Clear returns no callback runs, so the counts are final.
    EXPECT_EQ(MFCamGrabber_Clear(&r.camera), 0);
    EXPECT_EQ(MFAudioGrabber_Clear(&r.microphone), 0);
    EXPECT_EQ(MFEncoder_Clear(&r.encoder), 0);
    EXPECT_EQ(r.refusals, 0);
    const std::string path = ScratchPath("recording" + std::to_string(n) + ".mp4");
    const Reading video = ReadVideo(path.c_str(), 100000, 1);
    EXPECT_EQ(video.checksums.size(), std::size_t(r.pictures)) << path;
    EXPECT_GE(r.pictures, 30) << path;
    // 480 stereo samples a block; AAC may add up to a frame of 1024 at the ends.
    const Reading audio = ReadAudio(path.c_str(), 100000);
    EXPECT_EQ(audio.width, 2);
    EXPECT_NEAR(audio.count, r.blocks * 480, 2048) << path;
    std::remove(path.c_str());
  }
}

namespace {

int DecodeAac(char* error) {
  static const Bytes adts = ReadFile(FixturePath("stress_tone.aac"));
  void* decoder = nullptr;
  int result = AACDECODER_Init(&decoder, 1, 44100, 48000, error);
  // The first two ADTS frames (a 13-bit length in each header).
  for (std::size_t i = 0, at = 0, size = 0; result == 0 && i < 2; ++i, at += size) {
    size = ((adts[at + 3] & 3u) << 11) | (adts[at + 4] << 3u) | (adts[at + 5] >> 5u);
    int32_t samples = 0;
    result = AACDECODER_DecodePacket(decoder, &adts[at], int32_t(size), &samples);
  }
  Bytes pcm(4096);
  if (result == 0 && AACDECODER_GetDecodedData(decoder, pcm.data(), int32_t(pcm.size())) != 1)
    result = -1;
  EXPECT_EQ(AACDECODER_Clear(&decoder), 0);
  return result;
}

int DecodeH264(char* error) {
  static const Units units = SplitH264("stress_96x64.h264");
  void* decoder = nullptr;
  int result = DECODER_Init(&decoder, error);
  Bytes first = units.sps;
  first.insert(first.end(), units.pps.begin(), units.pps.end());
  first.insert(first.end(), units.slices[0].begin(), units.slices[0].end());
  int32_t width = 0, height = 0;
  Bytes bitmap(kWidth * kHeight * 3);
  uint32_t size = 0;
  if (result == 0)
    result = DECODER_DecodeFrame(decoder, first.data(), int32_t(first.size()), &width, &height) |
             DECODER_GetBitmapData(decoder, bitmap.data(), &size);
  EXPECT_EQ(DECODER_Clear(&decoder), 0);
  return result != 0 || size == bitmap.size() ? result : -1;
}

int Convert(uint32_t code, int32_t width, int32_t height, char* error) {
  void* converter = nullptr;
  int result = PixConverter_Init(&converter, code, 3, width, height, error);
  const Bytes bgr = Picture(kWidth, kHeight, 3);
  Bytes nv12(kWidth * kHeight * 3 / 2), back(bgr.size());
  if (result == 0)
    result = PixConverter_Convert(converter, bgr.data(), nv12.data(), error) |
             ConverterNV12_ConvertNV122BGR(converter, nv12.data(), back.data());
  EXPECT_EQ(ConverterNV12_Clear(&converter), 0);
  return result;
}

// MP4 writers hand out the handle whatever the result.
template <auto Init, auto Clear>
int OpenMp4(const char* name, uint32_t width, char* error) {
  void* writer = nullptr;
  const int result = Init(&writer, ScratchPath(name).c_str(), width, kHeight, 25, error);
  EXPECT_EQ(Clear(&writer), 0);
  return result;
}
constexpr auto Mp4Writer = OpenMp4<MP4WRITER_Init, MP4WRITER_Clear>;
constexpr auto Mp4Muxer = OpenMp4<MP4Muxer_Init, MP4Muxer_Clear>;
constexpr auto WriteMp4 = WriteH264<MP4WRITER_Init, MP4WRITER_AddSPSPPS,
                                    MP4WRITER_AddRawH264FrameWithTime, MP4WRITER_Clear>;
constexpr auto WriteMuxed =
    WriteH264<MP4Muxer_Init, MP4Muxer_AddSPSPPS, MP4Muxer_AddRawH264FrameWithTime, MP4Muxer_Clear>;

// The fake devices: callbacks count what arrives.
std::atomic<int> deliveries{0};
void TARSEL_CALL Count(uint32_t, int64_t, uint32_t, uint8_t*) { ++deliveries; }

bool AwaitDelivery() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (deliveries == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return deliveries > 0;
}

// Opens the virtual camera (or not), starts it at width x 120, 120 per
// second, and polls or awaits one frame.
int UseCamera(bool open, bool asynchronous, uint32_t width, char* error) {
  void* camera = nullptr;
  uint32_t devices = 0, formats = 0;
  int result = MFCamGrabber_Init(&camera, &devices, error);
  if (open && result == 0)
    result = MFCamGrabber_OpenCamera(camera, 0, asynchronous, &formats, error);
  deliveries = 0;
  if (asynchronous) MFCamGrabber_SetFrameReadyCallBack(camera, Count);
  if (result == 0) result = MFCamGrabber_StartGrabbing(camera, width, 120, 120, 0, error);
  Bytes frame(width * 120 * 2);
  uint32_t size = uint32_t(frame.size());
  int64_t time = 0;
  if (result == 0 && !asynchronous)
    result = MFCamGrabber_GrabFrame(camera, frame.data(), &size, &time, error);
  if (result == 0 && asynchronous && !AwaitDelivery()) result = -1;
  EXPECT_EQ(MFCamGrabber_Clear(&camera), 0);
  return result;
}

int UseMicrophone(int32_t format, char* error) {
  void* microphone = nullptr;
  uint32_t devices = 0, formats = 0;
  int result = MFAudioGrabber_Init(&microphone, &devices, error) |
               MFAudioGrabber_OpenDevice(microphone, 0, true, &formats, error);
  deliveries = 0;
  MFAudioGrabber_SetAudioReadyCallBack(microphone, Count);
  if (result == 0) result = MFAudioGrabber_StartGrabbing(microphone, format, error);
  if (result == 0 && !AwaitDelivery()) result = -1;
  EXPECT_EQ(MFAudioGrabber_Clear(&microphone), 0);
  return result;
}

// Calls an Init export that must refuse, so leaves no handle.
template <class Init, class... Args>
int Refuse(Init init, Args... args) {
  void* handle = nullptr;
  return init(&handle, args...);
}

// One round of a family: open, use and release, or an open refused with the
// message.
struct Use {
  const char* family;
  const char* message;  // none: the round works
  int (*run)(char* error);
};

int Video(const char* fixture, char* e) {
  return ReadVideo(fixture ? FixturePath(fixture).c_str() : nullptr, 1, 0, e).result;
}
int Audio(const char* fixture, char* e) {
  return ReadAudio(FixturePath(fixture).c_str(), 1, e).result;
}
int OpenLowLevel(const char* name, int32_t width, int32_t height, char* e) {
  return Refuse(LLWRITER_Init, ScratchPath(name).c_str(), width, height, 25.0, e);
}
int OpenTimed(const char* name, int32_t withAudio, int32_t rate, char* e) {
  return Refuse(VIDWRITER_Init, ScratchPath(name).c_str(), kWidth, kHeight, withAudio, "", 400000,
                rate, 12, e);
}

const Use kUses[] = {
    {"video", nullptr, [](char* e) { return Video("stress_h264_aac.mp4", e); }},
    {"video", "No path given", [](char* e) { return Video(nullptr, e); }},
    {"video", "No such file or directory", [](char* e) { return Video("stress_missing.mp4", e); }},
    {"video", "Could not find videostream", [](char* e) { return Video("stress_tone.wav", e); }},
    {"audio", nullptr, [](char* e) { return Audio("stress_h264_aac.mp4", e); }},
    {"audio", "No such file or directory", [](char* e) { return Audio("stress_missing.wav", e); }},
    {"audio", "Could not find audio stream", [](char* e) { return Audio("stress_h264.flv", e); }},
    {"aac", nullptr, DecodeAac},
    {"aac", "The channel count must be between 1 and 8.",
     [](char* e) { return Refuse(AACDECODER_Init, 0, 44100, 44100, e); }},
    {"aac", "The sample rates must be above 0.",
     [](char* e) { return Refuse(AACDECODER_Init, 2, 44100, -1, e); }},
    {"writers", nullptr, [](char* e) { return WriteLowLevel(ScratchPath("lifecycle.avi"), 1, e); }},
    {"writers", "Invalid picture size",
     [](char* e) { return OpenLowLevel("lifecycle.avi", 65535, 65535, e); }},
    {"writers", "Could not init video format",
     [](char* e) { return OpenLowLevel("x.notacontainer", kWidth, kHeight, e); }},
    {"writers", "No such file or directory",
     [](char* e) { return OpenLowLevel("missing/x.avi", kWidth, kHeight, e); }},
    {"writers", nullptr, [](char* e) { return WriteTimed(ScratchPath("lifecycle.avi"), 1, e); }},
    // FFmpeg's own AAC encoder takes no 16-bit samples.
    {"writers", "Audio Encoder does not support sample format",
     [](char* e) { return OpenTimed("lifecycle.avi", 1, 25, e); }},
    {"writers", "Invalid frame rate", [](char* e) { return OpenTimed("lifecycle.avi", 0, 0, e); }},
    {"writers", "No such file or directory",
     [](char* e) { return OpenTimed("missing/x.avi", 1, 25, e); }},
    {"mp4writer", nullptr, [](char* e) { return WriteMp4(ScratchPath("lifecycle.mp4"), 2, e); }},
    {"mp4writer", "Invalid picture size", [](char* e) { return Mp4Writer("lifecycle.mp4", 0, e); }},
    {"mp4writer", "No such file or directory",
     [](char* e) { return Mp4Writer("missing/x.mp4", kWidth, e); }},
    {"mp4writer", "Container does not support H.264",
     [](char* e) { return Mp4Writer("x.webm", kWidth, e); }},
    {"mp4muxer", nullptr, [](char* e) { return WriteMuxed(ScratchPath("lifecycle.mp4"), 2, e); }},
    {"mp4muxer", "Invalid picture size", [](char* e) { return Mp4Muxer("lifecycle.mp4", 0, e); }},
    {"mp4muxer", "No such file or directory",
     [](char* e) { return Mp4Muxer("missing/x.mp4", kWidth, e); }},
    {"mp4muxer", "Container does not support H.264",
     [](char* e) { return Mp4Muxer("x.webm", kWidth, e); }},
    {"decoder", nullptr, DecodeH264},
    {"converter", nullptr, [](char* e) { return Convert(1, kWidth, kHeight, e); }},
    {"converter", "pixel format type is not valid",
     [](char* e) { return Convert(9, kWidth, kHeight, e); }},
    {"converter", "picture size is too large",
     [](char* e) { return Convert(1, INT32_MAX, INT32_MAX, e); }},
    {"camera", nullptr, [](char* e) { return UseCamera(true, false, 160, e); }},
    {"camera", nullptr, [](char* e) { return UseCamera(true, true, 160, e); }},
    {"camera", "Failed to set media type on source reader",
     [](char* e) { return UseCamera(true, true, 800, e); }},
    {"camera", "Video source not activated",
     [](char* e) { return UseCamera(false, false, 160, e); }},
    {"microphone", nullptr, [](char* e) { return UseMicrophone(0, e); }},
    {"microphone", nullptr, [](char* e) { return UseMicrophone(1, e); }},
    {"microphone", "format idx out of bounds", [](char* e) { return UseMicrophone(3, e); }},
    {"encoder", nullptr, [](char* e) { return WriteEncoded(ScratchPath("lifecycle.mp4"), 2, e); }},
    {"encoder", "Frame rate must be at least 1",
     [](char* e) { return WriteEncoded(ScratchPath("lifecycle.mp4"), 2, e, 0); }},
    {"encoder", "The system cannot find the path specified.",
     [](char* e) { return WriteEncoded(ScratchPath("missing/x.mp4"), 2, e); }},
};

constexpr int kRounds = 1000;
constexpr int kWarmUpRounds = 100;
// Resident memory may grow by this much over the rounds after the warm-up
// (allocator caches); a leak of a decoder or a picture a round is far more.
constexpr long kAllowedGrowthKb = 16 * 1024;

class Lifecycle : public ::testing::TestWithParam<std::string> {};

}  // namespace

// A thousand rounds, the open that works and each that fails in turn.
TEST_P(Lifecycle, AThousandRoundsLeaveNothingBehind) {
  const std::string family = GetParam();
  if (!kPortableDevices && (family == "camera" || family == "microphone" || family == "encoder"))
    GTEST_SKIP() << "the fake devices and a writing sink writer belong to the portable layer";
  std::vector<Use> uses;
  for (const Use& use : kUses)
    if (family == use.family) uses.push_back(use);
  Resources warm = Measure();
  for (int i = 0; i < kRounds && !HasFailure(); ++i) {
    if (i == kWarmUpRounds) warm = Measure();
    const Use& use = uses[i % uses.size()];
    ErrorText error;
    const int result = use.run(error);
    EXPECT_EQ(result, use.message ? 1 : 0) << (use.message ? use.message : error.text);
    if (use.message) {
      EXPECT_STREQ(error.text, use.message);
    }
  }
  const Resources end = Measure();
  EXPECT_EQ(end.descriptors, warm.descriptors);
  EXPECT_EQ(end.threads, warm.threads);
  // The address sanitizer holds freed memory back on purpose; it checks for
  // leaks itself when the program ends.
  if (!kAddressSanitizer) {
    EXPECT_LE(end.residentKb - warm.residentKb, kAllowedGrowthKb);
  }
  std::remove(ScratchPath("lifecycle.avi").c_str());
  std::remove(ScratchPath("lifecycle.mp4").c_str());
}

INSTANTIATE_TEST_SUITE_P(Families, Lifecycle,
                         ::testing::Values("video", "audio", "aac", "writers", "mp4writer",
                                           "mp4muxer", "decoder", "converter", "camera",
                                           "microphone", "encoder"),
                         [](const auto& info) { return info.param; });
