// Opening a reader and what it reports about the stream.
#include <cmath>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "reader_support.h"
#include "support/test_support.h"
#include "tarsel.h"

using reader_test::kNotInitialized;
using reader_test::Reader;
using tarsel_test::ErrorText;
using tarsel_test::FixturePath;

namespace {

void* const kSentinel = reinterpret_cast<void*>(0x1234);

struct OpenResult {
  int result;
  void* handle;
  std::string text;
};

OpenResult Open(const char* path, bool live = false) {
  ErrorText errorText;
  void* handle = kSentinel;
  const int result = VIDEO_Init(&handle, path, live, 0, nullptr, 0, errorText);
  OpenResult open{result, handle, errorText.text};
  if (result == 0) VIDEO_Clear(&handle);
  return open;
}

void WriteScratch(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(VideoOpen, The250FrameClipReportsItsNumbers) {
  ErrorText errorText;
  void* handle = nullptr;
  ASSERT_EQ(VIDEO_Init(&handle, FixturePath("reader_250.mp4").c_str(), 0, 0, nullptr, 0, errorText),
            0);
  EXPECT_TRUE(errorText.AllZero());
  ASSERT_NE(handle, nullptr);
  int32_t width = 0, height = 0, count = 0;
  double duration = 0, rate = 0;
  ErrorText infoText;
  EXPECT_EQ(VIDEO_getVideoInfo(handle, &width, &height, &count, &duration, &rate, infoText), 0);
  EXPECT_TRUE(infoText.AllZero());
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  EXPECT_EQ(count, 250);
  EXPECT_DOUBLE_EQ(duration, 10.0);
  EXPECT_DOUBLE_EQ(rate, 25.0);
  uint32_t audio = 77;
  EXPECT_EQ(VIDEO_getAudioInfo(handle, &audio, errorText), 0);
  EXPECT_EQ(audio, 0u);
  EXPECT_EQ(VIDEO_Clear(&handle), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(VIDEO_Clear(&handle), 0);
  EXPECT_EQ(VIDEO_Clear(nullptr), 0);
}

TEST(VideoOpen, VidInfoMatchesTheProbe) {
  auto probe = reader_test::ReadProbe("reader_250_probe.txt");
  Reader reader("reader_250.mp4");
  ASSERT_TRUE(reader.ok()) << reader.error();
  VidInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ErrorText errorText;
  ASSERT_EQ(VIDEO_getVidInfoStruct(reader.handle(), &info, errorText), 0);
  EXPECT_TRUE(errorText.AllZero());
  const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
  for (int i = 12; i < 16; ++i) EXPECT_EQ(bytes[i], 0xAB) << "padding byte " << i;
  EXPECT_EQ(info.width, std::stoi(probe["width"]));
  EXPECT_EQ(info.height, std::stoi(probe["height"]));
  EXPECT_EQ(info.frameCount, 250);
  EXPECT_DOUBLE_EQ(info.duration, 10.0);
  EXPECT_DOUBLE_EQ(info.frameRate, 25.0);
  EXPECT_EQ(info.bitRate, std::stoll(probe["bit_rate"]));
  EXPECT_EQ(info.codecId, static_cast<int32_t>(AV_CODEC_ID_H264));
  EXPECT_EQ(info.startTimestamp, std::stoll(probe["first_dts"]));
  EXPECT_EQ(std::to_string(info.timeBaseNum) + "/" + std::to_string(info.timeBaseDen),
            probe["time_base"]);
  EXPECT_EQ(std::to_string(info.realFrameRateNum) + "/" + std::to_string(info.realFrameRateDen),
            probe["r_frame_rate"]);
  EXPECT_EQ(std::to_string(info.avgFrameRateNum) + "/" + std::to_string(info.avgFrameRateDen),
            probe["avg_frame_rate"]);
  EXPECT_DOUBLE_EQ(info.streamDuration, std::stod(probe["duration"]));
  EXPECT_EQ(info.streamDurationTicks, std::stoll(probe["duration_ts"]));
  EXPECT_EQ(info.streamFrameCount, std::stoll(probe["nb_frames"]));
  EXPECT_DOUBLE_EQ(
      info.lastPacketTime,
      std::stoll(probe["last_pts"]) * static_cast<double>(info.timeBaseNum) / info.timeBaseDen);
}

TEST(VideoOpen, NullHandleGivesTheReadersMessage) {
  ErrorText a, b, c;
  int32_t value;
  double real;
  uint32_t audio;
  VidInfo info;
  EXPECT_EQ(VIDEO_getVideoInfo(nullptr, &value, &value, &value, &real, &real, a), 1);
  EXPECT_STREQ(a.text, kNotInitialized);
  EXPECT_EQ(VIDEO_getVidInfoStruct(nullptr, &info, b), 1);
  EXPECT_STREQ(b.text, kNotInitialized);
  EXPECT_EQ(VIDEO_getAudioInfo(nullptr, &audio, c), 1);
  EXPECT_STREQ(c.text, kNotInitialized);
  // The message is followed by NULs: the buffer was cleared first.
  EXPECT_EQ(c.text[sizeof kNotInitialized], '\0');
  EXPECT_EQ(c.text[199], '\0');
}

// Each bad input fails with a message, leaves the caller's handle as it was and
// leaks nothing (the sanitizer build checks).
TEST(VideoOpen, BadInputsFailCleanly) {
  const std::string text = tarsel_test::ScratchPath("text.mp4");
  WriteScratch(text, std::vector<uint8_t>(400, 'a'));
  const std::string empty = tarsel_test::ScratchPath("empty.mp4");
  WriteScratch(empty, {});
  const std::string truncated = tarsel_test::ScratchPath("truncated.mp4");
  auto clip = tarsel_test::ReadFile(FixturePath("reader_250.mp4"));
  clip.resize(clip.size() / 2);
  WriteScratch(truncated, clip);
  const std::string missing = FixturePath("no_such_file.mp4");
  const std::string folder = FixturePath("");

#if defined(_WIN32)
  // Windows' C runtime refuses an empty file name as an invalid argument.
  const char* const emptyNameText = "Invalid argument";
#else
  const char* const emptyNameText = "No such file or directory";
#endif
  struct Case {
    const char* path;
    const char* message;  // null: any non-empty text
  } cases[] = {
      {missing.c_str(), "No such file or directory"},
      {folder.c_str(), nullptr},
      {text.c_str(), "Invalid data found when processing input"},
      {empty.c_str(), "Invalid data found when processing input"},
      {truncated.c_str(), nullptr},
      {"", emptyNameText},
  };
  for (const Case& c : cases) {
    const OpenResult open = Open(c.path);
    EXPECT_EQ(open.result, 1) << c.path;
    EXPECT_EQ(open.handle, kSentinel) << c.path;
    if (c.message) {
      EXPECT_EQ(open.text, c.message) << c.path;
    } else {
      EXPECT_FALSE(open.text.empty()) << c.path;
    }
  }
  const OpenResult audioOnly = Open(FixturePath("reader_audio.m4a").c_str());
  EXPECT_EQ(audioOnly.result, 1);
  EXPECT_EQ(audioOnly.handle, kSentinel);
  EXPECT_EQ(audioOnly.text, "Could not find videostream");

  const OpenResult nullPath = Open(nullptr);
  EXPECT_EQ(nullPath.result, 1);
  EXPECT_EQ(nullPath.handle, kSentinel);
  EXPECT_FALSE(nullPath.text.empty());

  void* handle = kSentinel;
  EXPECT_EQ(VIDEO_Init(&handle, missing.c_str(), 0, 0, nullptr, 0, nullptr), 1);
  EXPECT_EQ(handle, kSentinel);
  EXPECT_EQ(VIDEO_Init(nullptr, missing.c_str(), 0, 0, nullptr, 0, nullptr), 1);
}

TEST(VideoOpen, RawStreamWithoutTimestampsCountsItsPictures) {
  Reader reader("reader_raw.h264");
  ASSERT_TRUE(reader.ok()) << reader.error();
  const VidInfo info = reader.Info();
  EXPECT_EQ(info.frameCount, 40);
  EXPECT_DOUBLE_EQ(info.frameRate, 25.0);
  EXPECT_DOUBLE_EQ(info.duration, 1.6);
}

TEST(VideoOpen, ImplausibleContainerRateIsMeasured) {
  Reader reader("reader_claims500.mkv");
  ASSERT_TRUE(reader.ok()) << reader.error();
  const VidInfo info = reader.Info();
  EXPECT_EQ(info.avgFrameRateNum, 500);
  EXPECT_EQ(info.frameCount, 50);
  EXPECT_NEAR(info.frameRate, 25.0, 1e-9);
  EXPECT_NEAR(info.duration, 2.0, 1e-9);
}

TEST(VideoOpen, MatroskaWithBFramesKeepsRateAndDuration) {
  Reader reader("reader_60.mkv");
  ASSERT_TRUE(reader.ok()) << reader.error();
  const VidInfo info = reader.Info();
  EXPECT_EQ(info.frameCount, 120);
  EXPECT_DOUBLE_EQ(info.frameRate, 60.0);
  EXPECT_NEAR(info.duration, 2.0, 0.001);
}

TEST(VideoOpen, TransportStreamCountsAreRelativeToItsStart) {
  for (bool sequential : {false, true}) {
    Reader reader("reader_bframes.ts", false, sequential);
    ASSERT_TRUE(reader.ok()) << reader.error();
    const VidInfo info = reader.Info();
    EXPECT_EQ(info.frameCount, 100) << "sequential " << sequential;
    EXPECT_DOUBLE_EQ(info.frameRate, 25.0) << "sequential " << sequential;
    EXPECT_NEAR(info.duration, 4.0, 1e-9) << "sequential " << sequential;
  }
}

TEST(VideoOpen, AviWithBFramesCountsEveryPicture) {
  Reader reader("reader_mpeg4.avi");
  ASSERT_TRUE(reader.ok()) << reader.error();
  const VidInfo info = reader.Info();
  EXPECT_EQ(info.frameCount, 100);
  EXPECT_DOUBLE_EQ(info.frameRate, 25.0);
  EXPECT_DOUBLE_EQ(info.duration, 4.0);
}

TEST(VideoOpen, AspectRatioWidensTheOutput) {
  struct Case {
    const char* fixture;
    bool apply;
    int width;
  } cases[] = {{"reader_sar43.mp4", true, 960},
               {"reader_sar1611.mp4", true, 1045},
               {"reader_sar1611.mp4", false, 720}};
  for (const Case& c : cases) {
    Reader reader(c.fixture, false, false, c.apply);
    ASSERT_TRUE(reader.ok()) << reader.error();
    const VidInfo info = reader.Info();
    EXPECT_EQ(info.width, c.width) << c.fixture;
    EXPECT_EQ(info.height, 576) << c.fixture;
    // The stretched picture is delivered at the output size.
    std::vector<uint8_t> pixels(static_cast<std::size_t>(c.width) * 576 * 3 + 16, 0x5A);
    uint32_t index;
    double time, again;
    char errorText[200];
    EXPECT_EQ(VIDEO_getNextFrame(reader.handle(), pixels.data(), c.width * 3, &index, &time, &again,
                                 errorText),
              0);
    EXPECT_EQ(pixels[pixels.size() - 1], 0x5A);
  }
}

namespace {
int interruptCalls = 0;
int CountingInterrupt(void*) {
  ++interruptCalls;
  return 0;
}
int AbortingInterrupt(void*) { return 1; }
}  // namespace

TEST(VideoOpen, InterruptCallbackIsConsultedAndCanAbort) {
  const std::string path = FixturePath("reader_bframes.mp4");
  ErrorText errorText;
  void* handle = nullptr;
  interruptCalls = 0;
  ASSERT_EQ(VIDEO_Init(&handle, path.c_str(), 0, 0, &CountingInterrupt, 0, errorText), 0);
  EXPECT_GT(interruptCalls, 0);
  VIDEO_Clear(&handle);
  ErrorText abortText;
  handle = kSentinel;
  EXPECT_EQ(VIDEO_Init(&handle, path.c_str(), 0, 0, &AbortingInterrupt, 0, abortText), 1);
  EXPECT_EQ(handle, kSentinel);
  EXPECT_STREQ(abortText.text, "Immediate exit requested");
}

TEST(VideoOpen, LiveModeReadsCgiAddressesAsMjpeg) {
  // In live mode a "cgi" address is read as MJPEG, whatever it holds.
  EXPECT_EQ(Open(FixturePath("reader_camera.cgi").c_str(), true).result, 0);
  EXPECT_EQ(Open(FixturePath("reader_mp4.cgi").c_str(), true).result, 1);
  // In file mode it is probed like any file.
  EXPECT_EQ(Open(FixturePath("reader_mp4.cgi").c_str(), false).result, 0);
}
