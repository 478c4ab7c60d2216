// The video reader on network inputs, against real servers on loopback (the
// scripts in servers/, started by this program): RTSP over UDP and over TCP, an
// MJPEG camera over HTTP, HTTP files with and without byte ranges, and servers
// that stall or never answer. Pictures are identified against the ffmpeg tool's
// pictures of the media the servers send. The reader's timeouts are set short
// through the environment; every wait of a case is bounded by the interrupt
// callback, so that a hang fails its case instead of the run.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/process_resources.h"
#include "support/server_script.h"
#include "support/test_support.h"
#include "tarsel.h"

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::HostPath;
using tarsel_test::ServerScript;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kOpenTimeout[] = "TARSEL_OPEN_TIMEOUT_MS";
constexpr char kReadTimeout[] = "TARSEL_READ_TIMEOUT_MS";
// Short limits keep the cases fast; opening a working stream gets more room
// (RTSP reads a second of pictures while opening).
constexpr char kShortTimeout[] = "2000";
constexpr char kOpenRoom[] = "15000";
constexpr char kLongTimeout[] = "600000";
constexpr char kTimedOut[] = "Connection timed out";
constexpr char kAborted[] = "Immediate exit requested";
constexpr char kNotRewound[] = "Could not return to the start of the input";
// The RTSP server's stalling stream stops after this many pictures.
constexpr int kStallAfter = 30;
// No case may wait longer than this; the timeouts under test are far shorter.
constexpr auto kCaseBound = std::chrono::seconds(90);

void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

// ------------------------------------------------------------------ servers

std::string ServerScriptPath(const char* name) {
  std::string here = __FILE__;
  here.erase(here.find_last_of("/\\") + 1);
  return here + "servers/" + name;
}

// Each server is started once per test program, on first use.
ServerScript& RtspServer() {
  static ServerScript server;
  if (server.ports().empty() && server.why().empty())
    server.Start(ServerScriptPath("rtsp_server.py"),
                 {"--file", HostPath(FixturePath("net_clip_audio.mp4")), "--fast-file",
                  HostPath(FixturePath("net_clip_audio_fast.mp4")), "--stall-after",
                  std::to_string(kStallAfter)});
  return server;
}

// Ports: HTTP, then the silent one.
ServerScript& HttpServer() {
  static ServerScript server;
  if (server.ports().empty() && server.why().empty())
    server.Start(ServerScriptPath("http_server.py"),
                 {"--dir", HostPath(FixturePath("")), "--camera",
                  HostPath(FixturePath("net_camera.mjpeg"))});
  return server;
}

#define REQUIRE_SERVER(server, count)                                                       \
  do {                                                                                      \
    if ((server).ports().size() < (count)) GTEST_SKIP() << "no server: " << (server).why(); \
  } while (0)

std::string Rtsp(bool tcp, const char* mount) {
  return (tcp ? "xxrtsp://127.0.0.1:" : "rtsp://127.0.0.1:") +
         std::to_string(RtspServer().ports()[0]) + "/" + mount;
}

// The HTTP server's silent port, taken for an RTSP server that never answers.
std::string SilentRtsp(bool tcp) {
  return (tcp ? "xxrtsp://127.0.0.1:" : "rtsp://127.0.0.1:") +
         std::to_string(HttpServer().ports()[1]) + "/x";
}

std::string Http(const std::string& path, int port = 0) {
  return "http://127.0.0.1:" + std::to_string(HttpServer().ports()[port]) + "/" + path;
}

// ---------------------------------------------------------------- watching

// The interrupt callback of every open: counts its calls, ends any wait that
// outlasts the case's bound (noted as a hang), and aborts once abortAt passed.
struct Watch {
  Clock::time_point bound;
  Clock::time_point abortAt = Clock::time_point::max();
  int calls = 0;
  bool hung = false;
};
Watch watch;

int Interrupt(void*) {
  ++watch.calls;
  const Clock::time_point now = Clock::now();
  if (now >= watch.abortAt) return 1;
  if (now >= watch.bound) watch.hung = true;
  return watch.hung ? 1 : 0;
}

// ---------------------------------------------------------------- pictures

struct Pictures {
  int width, height;
  std::vector<uint8_t> bytes;
  std::size_t Size() const { return static_cast<std::size_t>(width) * height * 3; }
  std::size_t Count() const { return bytes.size() / Size(); }
  // Mean absolute difference from picture k.
  double Difference(const std::vector<uint8_t>& picture, std::size_t k) const {
    const uint8_t* reference = bytes.data() + k * Size();
    double sum = 0;
    for (std::size_t i = 0; i < Size(); ++i) sum += std::abs(picture[i] - reference[i]);
    return sum / Size();
  }
  // The picture k that `picture` is (expected first), or -1.
  int Identify(const std::vector<uint8_t>& picture, int expected) const {
    if (expected >= 0 && expected < static_cast<int>(Count()) &&
        Difference(picture, expected) < 1.0)
      return expected;
    for (std::size_t k = 0; k < Count(); ++k)
      if (Difference(picture, k) < 1.0) return static_cast<int>(k);
    return -1;
  }
};

// The ffmpeg tool's pictures of the clip (RTSP, HTTP files) and of the camera.
const Pictures& Clip() {
  static const Pictures pictures{128, 96, tarsel_test::ReadFile(FixturePath("net_clip.bgr"))};
  return pictures;
}
const Pictures& Camera() {
  static const Pictures pictures{160, 120, tarsel_test::ReadFile(FixturePath("net_camera.bgr"))};
  return pictures;
}

struct Delivery {
  int result = -1;
  uint32_t index = 0;
  double time = -1.0;
  int picture = -1;  // which picture of the references, -1 for none or unknown
};

// A reader open on an address, with the watching callback, cleared at scope end.
class Stream {
 public:
  Stream(const std::string& address, const Pictures& references, bool live = true)
      : references_(references) {
    result_ = VIDEO_Init(&handle_, address.c_str(), live, 0, &Interrupt, 0, text_);
  }
  ~Stream() { VIDEO_Clear(&handle_); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  int result() const { return result_; }
  const char* text() const { return text_; }
  void* handle() const { return handle_; }
  VidInfo Info() const {
    VidInfo info{};
    char text[200];
    VIDEO_getVidInfoStruct(handle_, &info, text);
    return info;
  }
  // The next picture, identified; expected is the picture it should be.
  Delivery Next(int expected = -1) {
    return Take(expected, [&](uint8_t* p, uint32_t* i, double* t, double* t2, char* e) {
      return VIDEO_getNextFrame(handle_, p, Stride(), i, t, t2, e);
    });
  }
  Delivery AtIndex(int32_t index) {
    return Take(-1, [&](uint8_t* p, uint32_t* i, double* t, double* t2, char* e) {
      return VIDEO_getFrameWithIndex(handle_, p, Stride(), index, i, t, t2, e);
    });
  }
  Delivery AtTime(double seconds) {
    return Take(-1, [&](uint8_t* p, uint32_t* i, double* t, double* t2, char* e) {
      return VIDEO_getFrameWithTimeStamp(handle_, p, Stride(), seconds, i, t, t2, e);
    });
  }
  // Pictures until the first 1 (at most `limit`), expected to be picture `first`
  // and those after it; returns how many were delivered.
  int ReadToEnd(int first, int limit) {
    int delivered = 0;
    for (Delivery d; delivered < limit && (d = Next(first + delivered)).result == 0; ++delivered)
      EXPECT_EQ(d.picture, first + delivered);
    return delivered;
  }

 private:
  int Stride() const { return references_.width * 3; }
  template <typename Call>
  Delivery Take(int expected, Call call) {
    std::vector<uint8_t> picture(references_.Size());
    Delivery d;
    ErrorText text;
    d.result = call(picture.data(), &d.index, &d.time, &d.time, text);
    EXPECT_TRUE(text.Untouched());
    if (d.result == 0) d.picture = references_.Identify(picture, expected);
    return d;
  }

  const Pictures& references_;
  void* handle_ = nullptr;
  char text_[200] = {};
  int result_ = -1;
};

class Network : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironment(kOpenTimeout, kOpenRoom);
    SetEnvironment(kReadTimeout, kShortTimeout);
    watch = Watch{Clock::now() + kCaseBound};
  }
  void TearDown() override { EXPECT_FALSE(watch.hung) << "a call waited beyond the case's bound"; }
};

// A call of a reader at its end returns 1 at once, without going back to the
// network (which would call the interrupt callback).
void ExpectAtEnd(Stream& stream) {
  const int calls = watch.calls;
  EXPECT_EQ(stream.Next().result, 1);
  EXPECT_EQ(watch.calls, calls) << "the reader went back to the network";
}

}  // namespace

// Every picture in order on every route, each with its own time, and no
// "no value" markers reported for what a live stream does not have.
TEST_F(Network, EveryPictureInOrderOnEachRoute) {
  REQUIRE_SERVER(RtspServer(), 1);
  REQUIRE_SERVER(HttpServer(), 2);
  struct Route {
    const char* name;
    std::string address;
    const Pictures& references;
    double frameSeconds;  // the spacing of the stream's own times; 0 for arrival times
  };
  const Route routes[] = {
      {"RTSP over UDP", Rtsp(false, "video"), Clip(), 0.04},
      {"RTSP over TCP", Rtsp(true, "video"), Clip(), 0.04},
      {"RTSP over UDP, with audio", Rtsp(false, "video_audio"), Clip(), 0.04},
      {"RTSP over TCP, with audio", Rtsp(true, "video_audio"), Clip(), 0.04},
      {"MJPEG camera", Http("camera/fps30/video.cgi"), Camera(), 0},
  };
  for (const Route& route : routes) {
    SCOPED_TRACE(route.name);
    Stream stream(route.address, route.references);
    ASSERT_EQ(stream.result(), 0) << stream.text();
    const VidInfo i = stream.Info();
    EXPECT_EQ(i.width, route.references.width);
    EXPECT_EQ(std::make_tuple(i.frameCount, i.duration, i.startTimestamp, i.streamDuration,
                              i.streamDurationTicks, i.streamFrameCount, i.lastPacketTime),
              std::make_tuple(0, 0.0, int64_t{0}, 0.0, int64_t{0}, int64_t{0}, 0.0));
    double first = 0, previous = -1;
    for (int k = 0; k < 30; ++k) {
      const Delivery d = stream.Next(k);
      ASSERT_EQ(d.result, 0) << "picture " << k;
      EXPECT_EQ(d.index, static_cast<uint32_t>(k));
      EXPECT_EQ(d.picture, k);
      if (k == 0) first = d.time;
      if (route.frameSeconds > 0) {
        EXPECT_NEAR(d.time - first, k * route.frameSeconds, 0.001) << "picture " << k;
      } else {
        EXPECT_GE(d.time, previous) << "picture " << k;
      }
      previous = d.time;
    }
  }
}

// A server that never answers ends the open, and a stream that stalls ends the
// read, within the timeouts; the reader is then at its end.
TEST_F(Network, SilentAndStalledServersEndWithinTheTimeouts) {
  REQUIRE_SERVER(RtspServer(), 1);
  REQUIRE_SERVER(HttpServer(), 2);
  struct Case {
    const char* name;
    std::string address;
    int delivered;  // -1: the open fails
  };
  const Case cases[] = {
      {"silent RTSP server", SilentRtsp(false), -1},
      {"silent RTSP server over TCP", SilentRtsp(true), -1},
      {"silent MJPEG camera", Http("video.cgi", 1), -1},
      {"frozen RTSP server over UDP", Rtsp(false, "stall"), kStallAfter},
      {"frozen RTSP server over TCP", Rtsp(true, "stall"), kStallAfter},
      // The last picture before the stall is known complete only when the next
      // one starts, or when the stream ends.
      {"MJPEG camera that stops sending", Http("camera/fps30_stall20/video.cgi"), 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetEnvironment(kOpenTimeout, c.delivered < 0 ? kShortTimeout : kOpenRoom);
    Stream stream(c.address, c.address.find("cgi") != std::string::npos ? Camera() : Clip());
    if (c.delivered < 0) {
      EXPECT_EQ(stream.result(), 1);
      EXPECT_STREQ(stream.text(), kTimedOut);
      EXPECT_EQ(stream.handle(), nullptr);
      continue;
    }
    ASSERT_EQ(stream.result(), 0) << stream.text();
    EXPECT_EQ(stream.ReadToEnd(0, 200), c.delivered);
    ExpectAtEnd(stream);
  }
}

// Within long timeouts the caller's callback still ends a blocked open or read.
TEST_F(Network, CallbackEndsABlockedOpenOrRead) {
  REQUIRE_SERVER(RtspServer(), 1);
  REQUIRE_SERVER(HttpServer(), 2);
  SetEnvironment(kOpenTimeout, kLongTimeout);
  SetEnvironment(kReadTimeout, kLongTimeout);

  watch.abortAt = Clock::now() + std::chrono::seconds(1);
  Stream silent(SilentRtsp(false), Clip());
  EXPECT_EQ(silent.result(), 1);
  EXPECT_STREQ(silent.text(), kAborted);

  // The last picture before the stall is known complete only when the stream
  // ends, here by the callback.
  watch.abortAt = Clock::time_point::max();
  Stream frozen(Rtsp(true, "stall"), Clip());
  ASSERT_EQ(frozen.result(), 0) << frozen.text();
  for (int k = 0; k < kStallAfter - 1; ++k) ASSERT_EQ(frozen.Next(k).picture, k);
  watch.abortAt = Clock::now() + std::chrono::seconds(1);
  EXPECT_LE(frozen.ReadToEnd(kStallAfter - 1, 10), 1);
  ExpectAtEnd(frozen);
}

// Pictures without timestamps take their arrival times, and the rate reported
// is the rate they arrive at.
TEST_F(Network, MjpegTimesFollowTheCamerasClock) {
  REQUIRE_SERVER(HttpServer(), 1);
  constexpr double kRate = 15.0;
  Stream stream(Http("camera/fps15/video.cgi"), Camera());
  ASSERT_EQ(stream.result(), 0) << stream.text();
  std::vector<double> times;
  for (int k = 0; k < 60; ++k) {
    const Delivery d = stream.Next(k);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.picture, k);
    if (k == 0) {
      EXPECT_EQ(d.time, 0.0);
    }
    EXPECT_GE(d.time, k == 0 ? 0.0 : times.back());
    times.push_back(d.time);
  }
  // From picture 10 on, clear of the pictures read while opening.
  const double spacing = (times[59] - times[10]) / 49;
  EXPECT_NEAR(spacing, 1 / kRate, 0.1 / kRate);
  EXPECT_NEAR(stream.Info().frameRate, kRate, 0.1 * kRate);
}

// A truncated JPEG is skipped in live mode; the next good picture follows.
TEST_F(Network, DamagedMjpegPictureIsSkipped) {
  REQUIRE_SERVER(HttpServer(), 1);
  Stream stream(Http("camera/fps30_truncate40/video.cgi"), Camera());
  ASSERT_EQ(stream.result(), 0) << stream.text();
  for (int k = 0; k < 50; ++k) {
    const int part = k < 40 ? k : k + 1;
    const Delivery d = stream.Next(part);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.picture, part) << "delivery " << k;
  }
}

// In live mode an index already passed is refused, as times are; a later index
// is reached by reading on.
TEST_F(Network, LiveIndexRequests) {
  REQUIRE_SERVER(RtspServer(), 1);
  Stream stream(Rtsp(false, "video"), Clip());
  ASSERT_EQ(stream.result(), 0) << stream.text();
  for (int k = 0; k < 10; ++k) ASSERT_EQ(stream.Next(k).picture, k);
  EXPECT_EQ(stream.AtIndex(5).result, 1);
  EXPECT_EQ(stream.AtIndex(9).result, 1);
  EXPECT_EQ(stream.AtTime(0.5).result, 1);
  const Delivery later = stream.AtIndex(13);
  EXPECT_EQ(later.result, 0);
  EXPECT_EQ(later.index, 13u);
  EXPECT_EQ(later.picture, 13);
  const Delivery next = stream.Next(14);
  EXPECT_EQ(next.index, 14u);
  EXPECT_EQ(next.picture, 14);
}

// Files over HTTP in file mode: with byte ranges they seek; without, a file
// whose index comes first is read again from its start to go back, and one
// whose index comes last (whose pictures can then not be reached) fails to open.
TEST_F(Network, HttpFilesWithAndWithoutRanges) {
  REQUIRE_SERVER(HttpServer(), 1);
  for (const char* path : {"range/net_clip.mp4", "plain/net_clip_faststart.mp4"}) {
    SCOPED_TRACE(path);
    Stream stream(Http(path), Clip(), false);
    ASSERT_EQ(stream.result(), 0) << stream.text();
    EXPECT_EQ(stream.Info().frameCount, 250);
    for (int k = 0; k < 5; ++k) ASSERT_EQ(stream.Next(k).picture, k);
    EXPECT_EQ(stream.AtIndex(200).picture, 200);
    EXPECT_EQ(stream.Next(201).picture, 201);
    EXPECT_EQ(stream.AtIndex(3).picture, 3);
  }
  Stream indexLast(Http("plain/net_clip.mp4"), Clip(), false);
  EXPECT_EQ(indexLast.result(), 1);
  EXPECT_STREQ(indexLast.text(), kNotRewound);
}

// A server that dies ends the stream at once; the reader stays at its end.
TEST_F(Network, KilledServerEndsTheStream) {
  for (const bool tcp : {false, true}) {
    SCOPED_TRACE(tcp ? "TCP" : "UDP");
    ServerScript server;
    if (!server.Start(ServerScriptPath("rtsp_server.py"),
                      {"--file", HostPath(FixturePath("net_clip.mp4"))}))
      GTEST_SKIP() << "no server: " << server.why();
    Stream stream((tcp ? "xxrtsp" : "rtsp") + std::string("://127.0.0.1:") +
                      std::to_string(server.ports()[0]) + "/video",
                  Clip());
    ASSERT_EQ(stream.result(), 0) << stream.text();
    for (int k = 0; k < 5; ++k) ASSERT_EQ(stream.Next(k).picture, k);
    server.Stop();
    // Pictures already received may still come.
    EXPECT_LT(stream.ReadToEnd(5, 100), 100);
    ExpectAtEnd(stream);
  }
}

// Opening, reading and clearing fifty times leaves no descriptor or thread.
TEST_F(Network, FiftyRoundsLeaveNoDescriptorsOrThreads) {
  REQUIRE_SERVER(RtspServer(), 1);
  const auto round = [](int k) {
    Stream stream(Rtsp(k % 2 == 1, k % 4 < 2 ? "fast/video" : "fast/video_audio"), Clip());
    ASSERT_EQ(stream.result(), 0) << "round " << k << ": " << stream.text();
    for (int p = 0; p < 3; ++p) {
      ASSERT_EQ(stream.Next(p).picture, p) << "round " << k;
    }
  };
  round(0);
  round(1);
  const int descriptors = tarsel_test::OpenDescriptors(), threads = tarsel_test::RunningThreads();
  if (descriptors < 0 || threads < 0) GTEST_SKIP() << "this platform does not count them";
  for (int k = 0; k < 50; ++k) round(k);
  EXPECT_EQ(tarsel_test::OpenDescriptors(), descriptors);
  EXPECT_EQ(tarsel_test::RunningThreads(), threads);
}
