// The video reader through its C exports: opening, what it reports about the
// stream, and frame access, where the picture for index N is the ffmpeg tool's
// picture N however the caller reaches it.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <tuple>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/log.h>
#include <libavutil/md5.h>
}

#include "support/test_support.h"
#include "tarsel.h"

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;

namespace {

constexpr char kNotInitialized[] = "Video grabber not inititialized";

// A reader open on a fixture (a failure to open fails the test), cleared when it
// goes out of scope.
class Reader {
 public:
  explicit Reader(const std::string& fixture, bool live = false, bool sequential = false,
                  bool applyAspect = false) {
    const std::string path = FixturePath(fixture);
    VIDEO_Init(&handle_, path.c_str(), live, applyAspect, nullptr, sequential, errorText_);
    EXPECT_NE(handle_, nullptr) << fixture << ": " << errorText_;
  }
  ~Reader() { VIDEO_Clear(&handle_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  void* handle() const { return handle_; }
  VidInfo Info() {
    VidInfo info{};
    VIDEO_getVidInfoStruct(handle_, &info, errorText_);
    return info;
  }

 private:
  void* handle_ = nullptr;
  char errorText_[200] = {};
};

// Slack 0 asks for equality up to rounding.
void ExpectClose(double actual, double expected, double slack) {
  if (slack == 0) {
    EXPECT_DOUBLE_EQ(actual, expected);
  } else {
    EXPECT_NEAR(actual, expected, slack);
  }
}

// The next picture into the caller's memory; the out-values are dropped.
int NextInto(void* reader, uint8_t* pixels, int stride, char* errorText) {
  uint32_t index;
  double time, again;
  return VIDEO_getNextFrame(reader, pixels, stride, &index, &time, &again, errorText);
}

void* const kSentinel = reinterpret_cast<void*>(0x1234);

struct OpenResult {
  int result;
  void* handle;
  std::string text;
};

OpenResult Open(const char* path, bool live = false, int (*interrupt)(void*) = nullptr) {
  ErrorText errorText;
  void* handle = kSentinel;
  const int result = VIDEO_Init(&handle, path, live, 0, interrupt, 0, errorText);
  OpenResult open{result, handle, errorText.text};
  if (result == 0) VIDEO_Clear(&handle);
  return open;
}

std::string Scratch(const char* name, const std::vector<uint8_t>& bytes) {
  const std::string path = tarsel_test::ScratchPath(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

// key=value lines.
std::map<std::string, std::string> ReadProbe(const std::string& fixture) {
  std::ifstream in(FixturePath(fixture));
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(in, line);) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

std::string Ratio(int32_t num, int32_t den) {
  return std::to_string(num) + "/" + std::to_string(den);
}

int interruptCalls = 0;
int CountingInterrupt(void*) { return ++interruptCalls, 0; }
int AbortingInterrupt(void*) { return 1; }

constexpr int kW = 128, kH = 96;

struct Delivery {
  int result = -1;
  uint32_t index = 0;
  double time = -1.0, timeAgain = -1.0;
  bool textUntouched = false;
};

// Pictures of width x height packed BGR24 (3 * width bytes a row).
using Picture = std::vector<uint8_t>;

// A picture by one of the three routes; a null picture asks for no pixels.
template <typename Call>
Delivery Get(Picture* picture, Call call) {
  if (picture) picture->assign(kW * kH * 3, 0);
  Delivery d;
  ErrorText text;
  d.result = call(picture ? picture->data() : nullptr, &d.index, &d.time, &d.timeAgain, text);
  d.textUntouched = text.Untouched();
  return d;
}
Delivery Next(void* reader, Picture* picture) {
  return Get(picture, [&](uint8_t* p, auto... out) {
    return VIDEO_getNextFrame(reader, p, kW * 3, out...);
  });
}
Delivery AtIndex(void* reader, int32_t index, Picture* picture) {
  return Get(picture, [&](uint8_t* p, auto... out) {
    return VIDEO_getFrameWithIndex(reader, p, kW * 3, index, out...);
  });
}
Delivery AtTime(void* reader, double seconds, Picture* picture) {
  return Get(picture, [&](uint8_t* p, auto... out) {
    return VIDEO_getFrameWithTimeStamp(reader, p, kW * 3, seconds, out...);
  });
}

// Rows of `expected` from `first` on, `pitch` bytes apart (negative: bottom-up),
// the padding between them untouched.
void ExpectRows(const uint8_t* first, int pitch, const Picture& expected, int width, int height) {
  const int row = width * 3;
  for (int y = 0; y < height; ++y) {
    const uint8_t* rowStart = first + static_cast<std::ptrdiff_t>(y) * pitch;
    ASSERT_EQ(std::memcmp(rowStart, expected.data() + static_cast<std::size_t>(y) * row, row), 0)
        << "row " << y;
    for (int k = row; k < std::abs(pitch) && (pitch < 0 || y + 1 < height); ++k)
      ASSERT_EQ(rowStart[k], 0xEE) << "row " << y;
  }
}

// The ffmpeg tool's pictures of a fixture, raw BGR24.
std::vector<Picture> ReferencePictures(const std::string& fixture, int width = kW,
                                       int height = kH) {
  const std::vector<uint8_t> bytes = tarsel_test::ReadFile(FixturePath(fixture));
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  std::vector<Picture> pictures;
  for (std::size_t offset = 0; offset + size <= bytes.size(); offset += size)
    pictures.emplace_back(bytes.begin() + offset, bytes.begin() + offset + size);
  return pictures;
}

// The ffmpeg tool's per-picture MD5s of a fixture (framemd5 lines end in the sum).
std::vector<std::string> ReferenceMd5s(const std::string& fixture) {
  std::ifstream in(FixturePath(fixture));
  std::vector<std::string> sums;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') sums.push_back(line.substr(line.rfind(' ') + 1));
  return sums;
}

std::string Md5Of(const Picture& picture) {
  uint8_t digest[16];
  av_md5_sum(digest, picture.data(), static_cast<int>(picture.size()));
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

// Reads every picture in sequence, checking indices and times on the way, then
// the end: result 1, the position kept, the error text untouched.
std::vector<std::string> SequentialMd5s(void* reader, double rate, double timeSlack) {
  std::vector<std::string> sums;
  Picture picture;
  for (Delivery d; (d = Next(reader, &picture)).result == 0;) {
    EXPECT_EQ(d.index, sums.size());
    ExpectClose(d.time, sums.size() / rate, timeSlack);
    EXPECT_EQ(d.time, d.timeAgain);
    sums.push_back(Md5Of(picture));
  }
  const Delivery end = Next(reader, &picture);
  EXPECT_EQ(end.result, 1);
  EXPECT_EQ(end.index + 1, sums.size());
  EXPECT_TRUE(end.textUntouched);
  return sums;
}

// What the process writes to its standard error while body runs.
template <typename Body>
std::string CapturedStderr(Body body) {
#if defined(_WIN32)
  const auto duplicate = _dup;
  const auto duplicateTo = _dup2;
  const auto close = _close;
  const auto descriptor = _fileno;
#else
  const auto duplicate = ::dup;
  const auto duplicateTo = ::dup2;
  const auto close = ::close;
  const auto descriptor = ::fileno;
#endif
  const std::string path = tarsel_test::ScratchPath("stderr.txt");
  std::fflush(stderr);
  FILE* capture = std::fopen(path.c_str(), "wb");
  if (!capture) return "cannot capture";
  const int saved = duplicate(2);
  duplicateTo(descriptor(capture), 2);
  body();
  std::fflush(stderr);
  duplicateTo(saved, 2);
  close(saved);
  std::fclose(capture);
  const std::vector<uint8_t> bytes = tarsel_test::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(VideoOpen, The250FrameClipMatchesTheProbe) {
  auto probe = ReadProbe("reader_250_probe.txt");
  ErrorText errorText, infoText;
  void* handle = nullptr;
  ASSERT_EQ(VIDEO_Init(&handle, FixturePath("reader_250.mp4").c_str(), 0, 0, nullptr, 0, errorText),
            0);
  EXPECT_TRUE(errorText.AllZero());
  ASSERT_NE(handle, nullptr);
  int32_t width = 0, height = 0, count = 0;
  double duration = 0, rate = 0;
  EXPECT_EQ(VIDEO_getVideoInfo(handle, &width, &height, &count, &duration, &rate, infoText), 0);
  EXPECT_TRUE(infoText.AllZero());
  uint32_t audio = 77;
  EXPECT_EQ(VIDEO_getAudioInfo(handle, &audio, errorText), 0);
  EXPECT_EQ(audio, 0u);

  VidInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ErrorText structText;
  ASSERT_EQ(VIDEO_getVidInfoStruct(handle, &info, structText), 0);
  EXPECT_TRUE(structText.AllZero());
  const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
  for (int i = 12; i < 16; ++i) EXPECT_EQ(bytes[i], 0xAB) << "padding byte " << i;
  EXPECT_EQ(
      std::make_tuple(width, height, count, duration, rate),
      std::make_tuple(info.width, info.height, info.frameCount, info.duration, info.frameRate));
  EXPECT_EQ(std::to_string(info.width) + "x" + std::to_string(info.height),
            probe["width"] + "x" + probe["height"]);
  EXPECT_EQ(info.frameCount, 250);
  EXPECT_DOUBLE_EQ(info.duration, 10.0);
  EXPECT_DOUBLE_EQ(info.frameRate, 25.0);
  EXPECT_EQ(info.bitRate, std::stoll(probe["bit_rate"]));
  EXPECT_EQ(info.codecId, static_cast<int32_t>(AV_CODEC_ID_H264));
  EXPECT_EQ(info.startTimestamp, std::stoll(probe["first_dts"]));
  EXPECT_EQ(Ratio(info.timeBaseNum, info.timeBaseDen), probe["time_base"]);
  EXPECT_EQ(Ratio(info.realFrameRateNum, info.realFrameRateDen), probe["r_frame_rate"]);
  EXPECT_EQ(Ratio(info.avgFrameRateNum, info.avgFrameRateDen), probe["avg_frame_rate"]);
  EXPECT_DOUBLE_EQ(info.streamDuration, std::stod(probe["duration"]));
  EXPECT_EQ(info.streamDurationTicks, std::stoll(probe["duration_ts"]));
  EXPECT_EQ(info.streamFrameCount, std::stoll(probe["nb_frames"]));
  EXPECT_DOUBLE_EQ(
      info.lastPacketTime,
      std::stoll(probe["last_pts"]) * static_cast<double>(info.timeBaseNum) / info.timeBaseDen);

  EXPECT_EQ(VIDEO_Clear(&handle), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(VIDEO_Clear(&handle), 0);
  EXPECT_EQ(VIDEO_Clear(nullptr), 0);
}

// Count, rate and duration come from the pictures' timestamps, counted from
// the stream's start, not from what the container claims.
TEST(VideoOpen, CountsRateAndDurationFollowTheTimestamps) {
  struct Case {
    const char* fixture;
    bool sequential;
    int count;
    double rate, duration, rateSlack, durationSlack;  // 0: equal up to rounding
  } cases[] = {
      {"reader_raw.h264", false, 40, 25.0, 1.6, 0, 0},             // no timestamps at all
      {"reader_claims500.mkv", false, 50, 25.0, 2.0, 1e-9, 1e-9},  // claims 500 fps
      {"reader_60.mkv", false, 120, 60.0, 2.0, 0, 0.001},          // B-frames, 1 ms ticks
      {"reader_bframes.ts", false, 100, 25.0, 4.0, 0, 1e-9},       // starts at 1.4 s
      {"reader_bframes.ts", true, 100, 25.0, 4.0, 0, 1e-9},
      {"reader_mpeg4.avi", false, 100, 25.0, 4.0, 0, 0},     // B-frames in AVI slots
      {"reader_claims2g.mp4", false, 100, 25.0, 4.0, 0, 0},  // claims 2^31 frames
      {"reader_claims2g.mp4", true, 100, 25.0, 4.0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fixture << " sequential " << c.sequential);
    Reader reader(c.fixture, false, c.sequential);
    const VidInfo info = reader.Info();
    EXPECT_EQ(info.frameCount, c.count);
    ExpectClose(info.frameRate, c.rate, c.rateSlack);
    ExpectClose(info.duration, c.duration, c.durationSlack);
  }
  EXPECT_EQ(Reader("reader_claims500.mkv").Info().avgFrameRateNum, 500);
}

TEST(VideoOpen, NullHandleGivesTheReadersMessage) {
  uint8_t pixels[3];
  int32_t value;
  uint32_t index;
  double real;
  int64_t pts;
  VidInfo info;
  ErrorText t[11];
  EXPECT_EQ(VIDEO_getVideoInfo(nullptr, &value, &value, &value, &real, &real, t[0]), 1);
  EXPECT_EQ(VIDEO_getVidInfoStruct(nullptr, &info, t[1]), 1);
  EXPECT_EQ(VIDEO_getAudioInfo(nullptr, &index, t[2]), 1);
  EXPECT_EQ(VIDEO_getNextFrame(nullptr, pixels, 3, &index, &real, &real, t[3]), 1);
  EXPECT_EQ(VIDEO_getFrameWithTimeStamp(nullptr, pixels, 3, 0.0, &index, &real, &real, t[4]), 1);
  EXPECT_EQ(VIDEO_getFrameWithIndex(nullptr, pixels, 3, 0, &index, &real, &real, t[5]), 1);
  EXPECT_EQ(VIDEO_Rewind(nullptr, t[6]), 1);
  EXPECT_EQ(VIDEO_SkipFrames(nullptr, 1, t[7]), 1);
  EXPECT_EQ(VIDEO_ReadAllFrames(nullptr, &index, &pts, &pts, &index, &index, t[8]), 1);
  EXPECT_EQ(VIDEO_SetFrameRate(nullptr, 25.0, t[9]), 1);
  EXPECT_EQ(VIDEO_TEST(nullptr, t[10]), 1);
  for (const ErrorText& text : t) EXPECT_STREQ(text.text, kNotInitialized);
  // The message is followed by NULs: the buffer was cleared first.
  EXPECT_EQ(t[0].text[sizeof kNotInitialized], '\0');
  EXPECT_EQ(t[0].text[199], '\0');
}

// Each bad input fails with a message, leaves the caller's handle as it was and
// leaks nothing (the sanitizer build checks).
TEST(VideoOpen, BadInputsFailCleanly) {
  auto clip = tarsel_test::ReadFile(FixturePath("reader_250.mp4"));
  clip.resize(clip.size() / 2);
  const std::string text = Scratch("text.mp4", std::vector<uint8_t>(400, 'a'));
  const std::string empty = Scratch("empty.mp4", {});
  const std::string truncated = Scratch("truncated.mp4", clip);
  const std::string missing = FixturePath("no_such_file.mp4");
  const std::string folder = FixturePath("");
  const std::string audio = FixturePath("reader_audio.m4a");
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
      {audio.c_str(), "Could not find videostream"},
      {nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path ? c.path : "null path");
    const OpenResult open = Open(c.path);
    EXPECT_EQ(open.result, 1);
    EXPECT_EQ(open.handle, kSentinel);
    if (c.message) {
      EXPECT_EQ(open.text, c.message);
    } else {
      EXPECT_FALSE(open.text.empty());
    }
  }
  void* handle = kSentinel;
  EXPECT_EQ(VIDEO_Init(&handle, missing.c_str(), 0, 0, nullptr, 0, nullptr), 1);
  EXPECT_EQ(handle, kSentinel);
  EXPECT_EQ(VIDEO_Init(nullptr, missing.c_str(), 0, 0, nullptr, 0, nullptr), 1);
}

TEST(VideoOpen, AspectRatioWidensTheOutput) {
  struct Case {
    const char* fixture;
    bool apply;
    int width, height;
  } cases[] = {{"reader_sar43.mp4", true, 960, 576},
               {"reader_sar1611.mp4", true, 1045, 576},
               {"reader_sar1611.mp4", false, 720, 576},
               {"reader_sar12_4x4.mp4", true, 2, 4}};  // 2 & ~2 would be 0
  for (const Case& c : cases) {
    Reader reader(c.fixture, false, false, c.apply);
    const VidInfo info = reader.Info();
    EXPECT_EQ(info.width, c.width) << c.fixture;
    EXPECT_EQ(info.height, c.height) << c.fixture;
    // The stretched picture is delivered at the output size.
    std::vector<uint8_t> pixels(static_cast<std::size_t>(c.width) * c.height * 3 + 16, 0x5A);
    char errorText[200];
    EXPECT_EQ(NextInto(reader.handle(), pixels.data(), c.width * 3, errorText), 0);
    EXPECT_EQ(pixels.back(), 0x5A);
  }
}

TEST(VideoOpen, InterruptCallbackAndLiveCgiAddresses) {
  const std::string path = FixturePath("reader_bframes.mp4");
  EXPECT_EQ(Open(path.c_str(), false, &CountingInterrupt).result, 0);
  EXPECT_GT(interruptCalls, 0);
  const OpenResult aborted = Open(path.c_str(), false, &AbortingInterrupt);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.handle, kSentinel);
  EXPECT_EQ(aborted.text, "Immediate exit requested");

  // In live mode a "cgi" address is read as MJPEG, whatever it holds; in file
  // mode it is probed like any file.
  EXPECT_EQ(Open(FixturePath("reader_camera.cgi").c_str(), true).result, 0);
  EXPECT_EQ(Open(FixturePath("reader_mp4.cgi").c_str(), true).result, 1);
  EXPECT_EQ(Open(FixturePath("reader_mp4.cgi").c_str(), false).result, 0);
}

// Sequence, random indices (each followed by the next picture), indices out of
// range (which leave the position alone), rewind and skip.
TEST(VideoFrames, EveryRouteGivesTheToolsPicture) {
  struct Case {
    const char* clip;
    const char* md5s;
    double rate, timeSlack;  // Matroska rounds times to 1 ms
  } cases[] = {{"reader_bframes.mp4", "reader_bframes.md5", 25.0, 0},
               {"reader_gop250.mp4", "reader_gop250.md5", 25.0, 1e-6},
               {"reader_bframes.ts", "reader_bframes_ts.md5", 25.0, 1e-6},
               {"reader_60.mkv", "reader_60_mkv.md5", 60.0, 0.0005},
               {"reader_mpeg4.avi", "reader_mpeg4_avi.md5", 25.0, 1e-6},
               {"reader_raw.h264", "reader_raw.md5", 25.0, 1e-6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    const std::vector<std::string> expected = ReferenceMd5s(c.md5s);
    const int count = static_cast<int>(expected.size());
    ASSERT_GT(count, 20);
    Reader reader(c.clip);
    EXPECT_EQ(reader.Info().frameCount, count);
    EXPECT_EQ(SequentialMd5s(reader.handle(), c.rate, c.timeSlack), expected);

    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, count - 1);
    Picture picture;
    for (int i = 0; i < 25; ++i) {
      const int index = i == 0 ? count - 1 : pick(random);
      const Delivery d = AtIndex(reader.handle(), index, &picture);
      ASSERT_EQ(d.result, 0) << "index " << index;
      EXPECT_EQ(d.index, static_cast<uint32_t>(index));
      ExpectClose(d.time, index / c.rate, c.timeSlack);
      EXPECT_EQ(Md5Of(picture), expected[index]) << "index " << index;
      if (index + 1 == count) continue;
      for (int32_t outside : {count, -1, INT32_MIN})
        EXPECT_EQ(AtIndex(reader.handle(), outside, &picture).result, 1);
      const Delivery n = Next(reader.handle(), &picture);
      ASSERT_EQ(n.result, 0);
      EXPECT_EQ(n.index, static_cast<uint32_t>(index + 1));
      EXPECT_EQ(Md5Of(picture), expected[index + 1]) << "after index " << index;
    }
    // Forward steps, short and long, by index and by time: the reader decodes on
    // or seeks, and gives the same pictures either way.
    const int half = count / 2;
    for (int index : {1, 2, 5, 6, 13, half, half + 1, half + 2, count - 3, count - 1, 3, 4}) {
      const bool byTime = index % 2 == 0;
      const Delivery d = byTime ? AtTime(reader.handle(), index / c.rate, &picture)
                                : AtIndex(reader.handle(), index, &picture);
      ASSERT_EQ(d.result, 0) << "index " << index;
      EXPECT_EQ(d.index, static_cast<uint32_t>(index));
      EXPECT_EQ(Md5Of(picture), expected[index]) << "index " << index;
    }
    ErrorText errorText;
    ASSERT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
    ASSERT_EQ(VIDEO_SkipFrames(reader.handle(), 10, errorText), 0);
    const Delivery skipped = Next(reader.handle(), &picture);
    EXPECT_EQ(skipped.index, 10u);
    EXPECT_EQ(Md5Of(picture), expected[10]);
  }
  Reader sequential("reader_bframes.ts", false, true);
  EXPECT_EQ(SequentialMd5s(sequential.handle(), 25.0, 1e-6),
            ReferenceMd5s("reader_bframes_ts.md5"));
}

// Picture 10 is missing: picture 11 stands in for index 10 and then for itself.
TEST(VideoFrames, GapRepeatsThePictureAfterIt) {
  const auto pictures = ReferencePictures("reader_gap.bgr");
  ASSERT_EQ(pictures.size(), 30u);
  for (bool withPixels : {true, false}) {
    SCOPED_TRACE(withPixels ? "with pixels" : "without pixels at the gap");
    Reader reader("reader_gap.mp4");
    EXPECT_EQ(reader.Info().frameCount, 31);
    Picture picture;
    for (int i = 0; i < 31; ++i) {
      // Without pixels, the picture held for the repeat is still kept.
      const bool skipCopy = !withPixels && i == 10;
      const Delivery d = Next(reader.handle(), skipCopy ? nullptr : &picture);
      ASSERT_EQ(d.result, 0) << i;
      EXPECT_EQ(d.index, static_cast<uint32_t>(i));
      EXPECT_NEAR(d.time, (i == 10 ? 11 : i) * 0.04, 1e-9) << i;
      if (!skipCopy) {
        EXPECT_EQ(picture, pictures[i <= 10 ? i : i - 1]) << "index " << i;
      }
    }
    EXPECT_EQ(Next(reader.handle(), &picture).result, 1);
  }
}

TEST(VideoFrames, TimeAccessNeedsTheDurationFirst) {
  const auto expected = ReferenceMd5s("reader_bframes_ts.md5");
  Reader reader("reader_bframes.ts");
  Picture picture;
  EXPECT_EQ(AtTime(reader.handle(), 0.0, &picture).result, 1);
  EXPECT_EQ(AtTime(reader.handle(), 1.0, &picture).result, 1);
  ASSERT_DOUBLE_EQ(reader.Info().duration, 4.0);
  for (double t : {0.0, 1.0, 2.5, 0.99, 3.96}) {
    const Delivery d = AtTime(reader.handle(), t, &picture);
    ASSERT_EQ(d.result, 0) << t;
    const int index = static_cast<int>(std::ceil(t * 25 - 1e-9));
    EXPECT_EQ(d.index, static_cast<uint32_t>(index)) << t;
    EXPECT_NEAR(d.time, index * 0.04, 1e-9) << t;
    EXPECT_EQ(Md5Of(picture), expected[index]) << t;
  }
  for (double t : {4.0, 100.0, -1.0, std::nan(""), double(INFINITY)})
    EXPECT_EQ(AtTime(reader.handle(), t, &picture).result, 1) << t;
}

TEST(VideoFrames, ReadAllFramesThenSetFrameRate) {
  Reader reader("reader_bframes.mp4");
  uint32_t count = 0, num = 0, den = 0;
  int64_t first = 7, last = 0;
  ErrorText errorText;
  ASSERT_EQ(VIDEO_ReadAllFrames(reader.handle(), &count, &first, &last, &num, &den, errorText), 0);
  EXPECT_TRUE(errorText.AllZero());
  EXPECT_EQ(std::make_tuple(count, num, den, first, last),
            std::make_tuple(100u, 1u, 12800u, int64_t{0}, int64_t{99 * 512}));
  Picture picture;
  EXPECT_EQ(Next(reader.handle(), &picture).result, 1);
  EXPECT_EQ(Next(reader.handle(), &picture).result, 1);
  EXPECT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
  const Delivery d = Next(reader.handle(), &picture);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.index, 0u);
  EXPECT_EQ(VIDEO_TEST(reader.handle(), errorText), 0);
  EXPECT_EQ(Next(reader.handle(), &picture).result, 1);

  // A new rate renumbers the stream; rates that are no rates change nothing.
  const auto expected = ReferenceMd5s("reader_bframes.md5");
  EXPECT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
  for (double bad : {0.0, -5.0, std::nan(""), double(INFINITY)}) {
    EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), bad, errorText), 0);
    EXPECT_EQ(reader.Info().frameCount, 100);
    EXPECT_DOUBLE_EQ(reader.Info().frameRate, 25.0);
  }
  EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), 50.0, errorText), 0);
  EXPECT_EQ(reader.Info().frameCount, 200);
  EXPECT_DOUBLE_EQ(reader.Info().frameRate, 50.0);
  // At twice the rate each picture stands for two indices.
  for (int i = 0; i < 6; ++i) {
    const Delivery d = Next(reader.handle(), &picture);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.index, static_cast<uint32_t>(i));
    EXPECT_EQ(Md5Of(picture), expected[(i + 1) / 2]) << i;
  }
  // At half the rate index k is the picture at k / 12.5 s, picture 2k.
  EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), 12.5, errorText), 0);
  EXPECT_EQ(reader.Info().frameCount, 50);
  for (int k : {1, 13, 49, 0, 25}) {
    const Delivery d = AtIndex(reader.handle(), k, &picture);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(Md5Of(picture), expected[2 * k]) << k;
    EXPECT_DOUBLE_EQ(d.time, 0.08 * k);
  }
  EXPECT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
  for (int k = 0; k < 50; ++k) {
    ASSERT_EQ(Next(reader.handle(), &picture).result, 0);
    EXPECT_EQ(Md5Of(picture), expected[2 * k]) << k;
  }
  EXPECT_EQ(Next(reader.handle(), &picture).result, 1);
}

// Padded, odd-aligned and bottom-up rows; strides too small are refused with
// nothing written and nothing consumed.
TEST(VideoFrames, StrideLayouts) {
  const auto expected = ReferencePictures("reader_bframes.bgr");
  const int row = kW * 3;
  for (int padding : {0, 64, 5, 1}) {
    for (int direction : {1, -1}) {
      SCOPED_TRACE(testing::Message() << "padding " << padding << " direction " << direction);
      Reader reader("reader_bframes.mp4");
      const int pitch = row + padding;
      // One spare byte before the buffer shifts the rows off any alignment.
      std::vector<uint8_t> buffer(static_cast<std::size_t>(pitch) * kH + 1, 0xEE);
      uint8_t* base = buffer.data() + (padding % 2);
      uint8_t* first = direction > 0 ? base : base + static_cast<std::ptrdiff_t>(pitch) * (kH - 1);
      char text[200];
      ASSERT_EQ(NextInto(reader.handle(), first, direction * pitch, text), 0);
      ExpectRows(first, direction * pitch, expected[0], kW, kH);
      if (padding % 2) {
        EXPECT_EQ(buffer[0], 0xEE);
      }
    }
  }
  Reader reader("reader_bframes.mp4");
  std::vector<uint8_t> buffer(row * kH, 0xEE);
  uint32_t index;
  double time, again;
  ErrorText text;
  for (int stride : {row - 1, 0, 1, 1 - row}) {
    EXPECT_EQ(NextInto(reader.handle(), buffer.data(), stride, text), 1);
    EXPECT_EQ(VIDEO_getFrameWithIndex(reader.handle(), buffer.data(), stride, 3, &index, &time,
                                      &again, text),
              1);
  }
  EXPECT_TRUE(text.Untouched());
  for (uint8_t byte : buffer) ASSERT_EQ(byte, 0xEE);
  Picture picture;
  EXPECT_EQ(Next(reader.handle(), &picture).index, 0u);
}

// libswscale's SIMD row writers are inexact at these widths with tightly packed
// rows; the reader's pictures equal the ffmpeg tool's and stay inside the rows,
// whatever the pitch, its direction and the alignment of the rows.
TEST(VideoFrames, OddWidthsAreExactAndStayInTheirRows) {
  struct Case {
    const char* clip;
    int width, height;
  } cases[] = {{"reader_854", 854, 480},
               {"reader_1366", 1366, 768},
               {"reader_422_202", 202, 60},  // 4:2:2
               {"reader_jpeg_98", 98, 40}};  // full-range 4:2:0 (MJPEG)
  for (const Case& c : cases) {
    const int row = c.width * 3;
    const auto expected = ReferencePictures(std::string(c.clip) + ".bgr", c.width, c.height);
    ASSERT_FALSE(expected.empty()) << c.clip;
    for (int pitch : {row, row + 48, row + 5, -row, -row - 7}) {
      SCOPED_TRACE(testing::Message() << c.clip << " pitch " << pitch);
      Reader reader(std::string(c.clip) + (c.width == 98 ? ".avi" : ".mp4"));
      // The buffer ends right after the last row (bottom-up: after the top row's
      // padding); it starts one byte into an allocation, off any alignment.
      const std::size_t span =
          static_cast<std::size_t>(std::abs(pitch)) * (c.height - 1) + (pitch > 0 ? row : -pitch);
      std::vector<uint8_t> buffer(span + 1, 0xEE);
      uint8_t* base = buffer.data() + 1;
      uint8_t* first =
          pitch > 0 ? base : base + static_cast<std::ptrdiff_t>(-pitch) * (c.height - 1);
      for (std::size_t i = 0; i < expected.size(); ++i) {
        char text[200];
        ASSERT_EQ(NextInto(reader.handle(), first, pitch, text), 0);
        ExpectRows(first, pitch, expected[i], c.width, c.height);
      }
      EXPECT_EQ(buffer[0], 0xEE);
    }
  }
}

// The second half of the clip is 176x144, delivered at the first half's size.
// Scaled pictures are compared loosely (the tool's filter chain scales in two
// steps), but each must be its own picture, not a stale or scrambled one.
TEST(VideoFrames, SizeChangeMidStreamRebuildsTheConverter) {
  const auto expected = ReferencePictures("reader_sizechange.bgr");
  ASSERT_EQ(expected.size(), 20u);
  Reader reader("reader_sizechange.ts");
  EXPECT_EQ(reader.Info().width, kW);
  const auto meanDifference = [](const Picture& a, const Picture& b) {
    double sum = 0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += std::abs(a[k] - b[k]);
    return sum / a.size();
  };
  Picture picture;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Next(reader.handle(), &picture).result, 0) << i;
    if (i < 10) {
      EXPECT_EQ(picture, expected[i]) << i;
      continue;
    }
    const double own = meanDifference(picture, expected[i]);
    EXPECT_LT(own, 4.0) << "picture " << i;
    EXPECT_LT(own * 1.5, meanDifference(picture, expected[i - 1])) << "picture " << i;
  }
}

TEST(VideoFrames, TruncatedAndLiveInputs) {
  Picture picture;
  {
    Reader truncated("reader_truncated.ts");
    int delivered = 0;
    while (Next(truncated.handle(), &picture).result == 0 && delivered < 200) ++delivered;
    EXPECT_GT(delivered, 5);
    EXPECT_LT(delivered, 100);
    EXPECT_EQ(Next(truncated.handle(), &picture).result, 1);
  }
  // Live mode reads forward only: rewind, rate and time access change nothing.
  const auto expected = ReferenceMd5s("reader_bframes.md5");
  Reader reader("reader_bframes.mp4", true);
  const double rate = reader.Info().frameRate;
  ErrorText errorText;
  for (int i = 0; i < 6; ++i) {
    if (i == 5) {
      EXPECT_EQ(VIDEO_Rewind(reader.handle(), errorText), 0);
      EXPECT_EQ(VIDEO_SetFrameRate(reader.handle(), 50.0, errorText), 0);
      EXPECT_EQ(reader.Info().frameRate, rate);
      EXPECT_EQ(AtTime(reader.handle(), 0.0, &picture).result, 1);
    }
    const Delivery d = Next(reader.handle(), &picture);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.index, static_cast<uint32_t>(i));
    EXPECT_EQ(Md5Of(picture), expected[i]);
  }
}

// Each picture converted with the matrix and range the stream is tagged with,
// as the ffmpeg tool converts it.
TEST(VideoFrames, ColoursFollowTheStreamsMatrixAndRange) {
  for (const char* clip :
       {"reader_bt709_tv", "reader_bt709_pc", "reader_bt2020_10bit", "reader_smpte240m_422"}) {
    SCOPED_TRACE(clip);
    const auto expected = ReferencePictures(std::string(clip) + ".bgr");
    ASSERT_EQ(expected.size(), 3u);
    Reader reader(std::string(clip) + ".mp4");
    Picture picture;
    for (const Picture& reference : expected) {
      ASSERT_EQ(Next(reader.handle(), &picture).result, 0);
      double difference = 0;
      for (std::size_t k = 0; k < picture.size(); ++k)
        difference += std::abs(picture[k] - reference[k]);
      EXPECT_LT(difference / picture.size(), 1.0);
    }
  }
}

// Reading indices 0 to frameCount - 1 in turn delivers every picture the tool
// decodes, in order, and the last index delivered is frameCount - 1; requests
// by index give what the sequence gave.
TEST(VideoFrames, NoPictureIsLostOffTheGrid) {
  struct Case {
    const char* clip;
    const char* md5s;
    int count;
    double rate;
    bool oneToOne;  // index k is picture k
  } cases[] = {
      {"reader_cut.mp4", "reader_cut_mp4.md5", 100, 25.0, false},  // 1 s cut out
      {"reader_cut.mkv", "reader_cut_mkv.md5", 100, 25.0, false},
      {"reader_vfr.mp4", "reader_vfr_mp4.md5", 172, 50.0, false},  // 40, 20, 80 ms apart
      {"reader_vfr.mkv", "reader_vfr_mkv.md5", 172, 50.0, false},
      {"reader_jitter.mkv", "reader_jitter_mkv.md5", 90, 30.0, true},        // +-10 ms
      {"reader_negative.webm", "reader_negative_webm.md5", 75, 25.0, true},  // from -0.5 s
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    const std::vector<std::string> expected = ReferenceMd5s(c.md5s);
    ASSERT_FALSE(expected.empty());
    Reader reader(c.clip);
    const VidInfo info = reader.Info();
    EXPECT_EQ(info.frameCount, c.count);
    EXPECT_DOUBLE_EQ(info.frameRate, c.rate);
    std::vector<std::string> delivered;
    Picture picture;
    for (Delivery d; (d = Next(reader.handle(), &picture)).result == 0;) {
      EXPECT_EQ(d.index, delivered.size());
      delivered.push_back(Md5Of(picture));
    }
    EXPECT_EQ(static_cast<int>(delivered.size()), c.count);
    if (c.oneToOne) {
      EXPECT_EQ(delivered, expected);
    }
    // Each picture in order, each at least once.
    std::size_t next = 0;
    for (const std::string& sum : delivered) {
      if (next < expected.size() && sum == expected[next]) {
        ++next;
      } else {
        EXPECT_TRUE(next > 0 && sum == expected[next - 1]) << "picture " << next;
      }
    }
    EXPECT_EQ(next, expected.size());
    for (int index : {0, 1, c.count / 3, c.count / 2, c.count - 2, c.count - 1, 7, 26}) {
      ASSERT_EQ(AtIndex(reader.handle(), index, &picture).result, 0) << index;
      EXPECT_EQ(Md5Of(picture), delivered[index]) << index;
    }
  }
}

// Matroska stores 29.97 fps times rounded to the millisecond: picture k's time
// lies a fraction of a millisecond before k / fps, and is still the picture at k / fps.
TEST(VideoFrames, TimesRoundedByTheContainer) {
  const auto expected = ReferenceMd5s("reader_2997_mkv.md5");
  ASSERT_EQ(expected.size(), 90u);
  Reader reader("reader_2997.mkv");
  const double rate = 30000.0 / 1001;
  ASSERT_NEAR(reader.Info().frameRate, rate, 1e-9);
  Picture picture;
  for (int k = 0; k < 90; ++k) {
    const Delivery d = AtTime(reader.handle(), k / rate, &picture);
    ASSERT_EQ(d.result, 0) << k;
    EXPECT_EQ(d.index, static_cast<uint32_t>(k));
    EXPECT_EQ(Md5Of(picture), expected[k]) << k;
  }
}

// Files whose pictures cannot be decoded, or whose pixel format stays unknown,
// open or fail with a message, and deliver nothing; none ends the process.
TEST(VideoOpen, UndecodableFilesDeliverNothing) {
  struct Case {
    const char* fixture;
    int count;
  } cases[] = {{"reader_truncated.mkv", 0},  // 642 bytes: headers only
               {"reader_zeroed.mp4", 100}};  // every picture's bytes zeroed
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    Reader reader(c.fixture);
    EXPECT_EQ(reader.Info().frameCount, c.count);
    EXPECT_EQ(reader.Info().width, 128);
    Picture picture;
    EXPECT_EQ(Next(reader.handle(), &picture).result, 1);
    EXPECT_EQ(AtIndex(reader.handle(), c.count / 2, &picture).result, 1);
    EXPECT_EQ(AtTime(reader.handle(), 1.0, &picture).result, 1);
  }
}

// Opening a stream of 4096x4096 pictures makes no picture buffers: they are
// made when a delivery needs them.
TEST(VideoOpen, PictureBuffersAreMadeWhenNeeded) {
#if !defined(__linux__)
  GTEST_SKIP() << "resident memory is read from /proc";
#else
  const auto resident = [] {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, residentPages = 0;
    statm >> pages >> residentPages;
    return residentPages * sysconf(_SC_PAGESIZE);
  };
  const long picture = 4096L * 4096 * 3;
  const long before = resident();
  Reader reader("reader_4096.mkv");
  EXPECT_LT(resident() - before, picture / 2);
  std::vector<uint8_t> pixels(static_cast<std::size_t>(picture));
  char errorText[200];
  EXPECT_EQ(NextInto(reader.handle(), pixels.data(), 4096 * 3, errorText), 0);
  EXPECT_EQ(pixels[picture / 2], pixels[0]);  // one grey
#endif
}

// FFmpeg's messages (demuxer and decoder complaints about damaged or cut files,
// seeks into B-frames) do not reach the host's console.
TEST(VideoOpen, TheLibraryPrintsNothing) {
  const std::string output = CapturedStderr([] {
    std::fprintf(stderr, "-");
    const auto clip = tarsel_test::ReadFile(FixturePath("reader_250.mp4"));
    const std::string cut =
        Scratch("cut.mp4", std::vector<uint8_t>(clip.begin(), clip.begin() + clip.size() / 2));
    EXPECT_EQ(Open(cut.c_str()).result, 1);
    Picture picture;
    for (const char* fixture : {"reader_zeroed.mp4", "reader_truncated.ts", "reader_bframes.mp4"}) {
      Reader reader(fixture);
      for (int index : {70, 10, 40, 99}) AtIndex(reader.handle(), index, &picture);
      while (Next(reader.handle(), &picture).result == 0) {
      }
    }
  });
  EXPECT_EQ(output, "-");
  if (!std::getenv("TARSEL_LOG")) {
    EXPECT_EQ(av_log_get_level(), AV_LOG_QUIET);
  }
}

// Picture 49's timestamp gained 2^30 ms: it stands 12 days after the others.
// At imposed rates of 30 and 1000 fps every request ends after a few seeks:
// pictures before it are found as usual, indices in the gap get the far
// picture, and requests between the two find what they find, quickly.
TEST(VideoFrames, DamagedTimestampsKeepRequestsShort) {
  const auto expected = ReferenceMd5s("reader_plain_flv.md5");
  ASSERT_EQ(expected.size(), 100u);
  constexpr int kFar = 49;
  Reader reader("reader_flipped.flv");
  ErrorText errorText;
  Picture picture;
  for (double rate : {30.0, 1000.0}) {
    SCOPED_TRACE(testing::Message() << rate << " fps");
    ASSERT_EQ(VIDEO_SetFrameRate(reader.handle(), rate, errorText), 0);
    const int count = reader.Info().frameCount;
    EXPECT_GT(count, static_cast<int>(rate * 1e6));
    const struct {
      int index, picture;
    } requests[] = {{count - 1, kFar},
                    {count / 2, kFar},
                    {0, 0},
                    {static_cast<int>(rate), 25},
                    {static_cast<int>(rate * 1.5), 38},
                    {static_cast<int>(rate * 3.97), -1},
                    {static_cast<int>(rate * 2), -1}};
    for (const auto& request : requests) {
      const Delivery d = AtIndex(reader.handle(), request.index, &picture);
      if (request.picture < 0) continue;
      ASSERT_EQ(d.result, 0) << request.index;
      EXPECT_EQ(Md5Of(picture), expected[request.picture]) << request.index;
    }
    EXPECT_EQ(AtIndex(reader.handle(), static_cast<int>(rate * 1.5), &picture).result, 0);
    const Delivery next = Next(reader.handle(), &picture);
    EXPECT_EQ(next.result, 0);
    EXPECT_EQ(next.index, static_cast<uint32_t>(rate * 1.5) + 1);
  }
  EXPECT_EQ(AtTime(reader.handle(), 1000.0, &picture).result, 0);
  EXPECT_EQ(Md5Of(picture), expected[kFar]);
}
