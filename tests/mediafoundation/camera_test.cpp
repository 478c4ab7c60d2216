// The camera grabber through its exports against the fake cameras
// (TARSEL_FAKE_DEVICES=1): capture types, polled frames and their times,
// delivery on the ready callback, and the camera controls. The fake cameras
// run in real time, so every wait is bounded generously and no test asserts
// how long anything took.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "deliveries.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

using tarsel_test::Block;
using tarsel_test::deliveries;
using tarsel_test::ErrorText;
using tarsel_test::Record;

constexpr char kNotInitialized[] = "Cam grabber not initialized";
constexpr char kSourceNotActivated[] = "Video source not activated";
constexpr char kSetTypeFailed[] = "Failed to set media type on source reader";
constexpr char kReadFailed[] = "Error reading video sample";
constexpr char kNotSupported[] = "Not supported";
constexpr double kTicksPerSecond = 10'000'000;

// What a callback does to its own grabber when block 2 arrives.
enum class InCallback { kStop, kUnregister, kClear };

std::atomic<void*> delivering{nullptr};  // the handle a callback may act on

void ActAtTwo(InCallback action, const Block& block) {
  if (block.number != 2) return;
  if (action == InCallback::kStop) MFCamGrabber_StopGrabbing(delivering);
  if (action == InCallback::kUnregister) MFCamGrabber_SetFrameReadyCallBack(delivering, nullptr);
  if (action == InCallback::kClear) {
    void* handle = delivering;
    MFCamGrabber_Clear(&handle);
    delivering = handle;
  }
}

class Camera : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "the fake cameras belong to the portable platform layer";
#endif
    deliveries.Reset();
  }
  void TearDown() override { MFCamGrabber_Clear(&camera_); }
  // Opens fake camera index (0: the virtual camera, 1: the second one).
  void Open(int32_t index, bool asynchronous) {
    uint32_t devices = 0, formats = 0;
    ErrorText error;
    ASSERT_EQ(MFCamGrabber_Init(&camera_, &devices, error), 0) << error.text;
    ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, index, asynchronous, &formats, error), 0)
        << error.text;
  }
  // Start with the callback, as a caller of asynchronous delivery does.
  void OpenDelivering(uint32_t width, uint32_t height) {
    Open(0, true);
    delivering = camera_;
    ASSERT_EQ(MFCamGrabber_SetFrameReadyCallBack(camera_, Record), 0);
    ErrorText error;
    ASSERT_EQ(MFCamGrabber_StartGrabbing(camera_, width, height, 0, 0, error), 0) << error.text;
  }
  struct Frame {
    uint32_t size;
    int64_t time;
    uint32_t number;
  };
  Frame Grab() {
    frame_.assign(2'000'000, 0);
    Frame got{static_cast<uint32_t>(frame_.size()), -1, 0};
    ErrorText error;
    EXPECT_EQ(MFCamGrabber_GrabFrame(camera_, frame_.data(), &got.size, &got.time, error), 0)
        << error.text;
    got.number = tarsel_test::FrameNumber(frame_.data());
    return got;
  }

  void* camera_ = nullptr;
  std::vector<uint8_t> frame_;
};

// Each row starts grabbing on one polled camera, then reads frames spanning at
// least `span` frame periods. A row the camera refuses keeps the type of the
// last row it accepted.
struct StartCase {
  uint32_t width, height;
  int32_t frameRate, pixelFormat;
  bool accepted;
  uint32_t frameBytes;  // of the type in force after the row
  double periodTicks;   // frame spacing of that type
  uint32_t span;
};

TEST_F(Camera, StartGrabbingSetsTheTypeOfPolledFrames) {
  // The ratios for 90 and 120 differ from 90/1 and 120/1 by a fraction of a
  // tick a frame: their rows span enough frames for that to add up.
  const StartCase cases[] = {
      {640, 480, 30, 0, true, 460800, kTicksPerSecond / 30, 1},   // NV12
      {640, 480, 0, 1, true, 614400, kTicksPerSecond / 30, 1},    // YUY2
      {640, 480, 30, 2, true, 460800, kTicksPerSecond / 30, 1},   // I420
      {320, 240, 60, 3, true, 115200, kTicksPerSecond / 60, 1},   // other codes: NV12
      {800, 600, 30, 0, false, 115200, kTicksPerSecond / 60, 1},  // size not offered
      {640, 480, 60, 0, false, 115200, kTicksPerSecond / 60, 1},  // above the size's rate
      {160, 120, 90, -1, true, 28800, 111111, 40},                // 10,000,000 / 111,111
      {160, 120, 120, 0, true, 28800, 83333, 40},                 // 10,000,000 / 83,333
      {1280, 720, 0, 7, true, 1382400, kTicksPerSecond / 30, 1},
      {1280, 720, 31, 0, false, 1382400, kTicksPerSecond / 30, 1},  // above the size's rate
      {1280, 720, 15, 1, true, 1843200, kTicksPerSecond / 15, 1},   // YUY2 below it
      {320, 240, 60, 2, true, 115200, kTicksPerSecond / 60, 1},     // I420
      {320, 240, 90, 0, false, 115200, kTicksPerSecond / 60, 1},    // 90 above the size's 60
  };
  Open(0, false);
  for (const StartCase& row : cases) {
    SCOPED_TRACE(testing::Message() << row.width << "x" << row.height << " rate " << row.frameRate
                                    << " format " << row.pixelFormat);
    ErrorText error;
    const int result = MFCamGrabber_StartGrabbing(camera_, row.width, row.height, row.frameRate,
                                                  row.pixelFormat, error);
    if (row.accepted) {
      ASSERT_EQ(result, 0) << error.text;
      EXPECT_TRUE(error.AllZero());
    } else {
      ASSERT_EQ(result, 1);
      EXPECT_STREQ(error.text, kSetTypeFailed);
    }
    const Frame first = Grab();
    EXPECT_EQ(first.size, row.frameBytes);
    Frame last = first;
    while (last.number - first.number < row.span) {
      const Frame next = Grab();
      ASSERT_GT(next.number, last.number);
      ASSERT_EQ(next.size, row.frameBytes);
      last = next;
    }
    // Frames lost to a busy machine still keep the camera's spacing.
    const double expected = (last.number - first.number) * row.periodTicks;
    EXPECT_NEAR(static_cast<double>(last.time - first.time), expected, 1.0);
  }
}

TEST_F(Camera, PolledTimesCountFromTheFirstFrameHandled) {
  Open(0, false);
  // Before any start the camera's current type is read. A buffer one byte
  // short is refused and leaves size and buffer as they were; that frame does
  // not start the clock.
  std::vector<uint8_t> small(460799, 0xAB);
  uint32_t size = 460799;
  int64_t time = -7;
  ErrorText error;
  EXPECT_EQ(MFCamGrabber_GrabFrame(camera_, small.data(), &size, &time, error), 1);
  EXPECT_STREQ(error.text, "Buffer is to small");
  EXPECT_EQ(size, 460799u);
  EXPECT_EQ(time, -7);
  EXPECT_EQ(small[0], 0xAB);

  const Frame first = Grab();
  EXPECT_EQ(first.size, 460800u);
  EXPECT_EQ(first.time, 0);
  const Frame second = Grab();
  EXPECT_GT(second.number, first.number);
  EXPECT_GT(second.time, 0);

  ASSERT_EQ(MFCamGrabber_StartGrabbing(camera_, 640, 480, 30, 0, error), 0) << error.text;
  ASSERT_EQ(MFCamGrabber_StopGrabbing(camera_), 0);
  const Frame afterStop = Grab();  // polling does not depend on grabbing
  ASSERT_EQ(MFCamGrabber_StartGrabbing(camera_, 640, 480, 30, 0, error), 0) << error.text;
  const Frame restarted = Grab();
  EXPECT_GT(restarted.number, afterStop.number);
  // Still counted from the first frame, across stop and start.
  // (Each start re-anchors the camera's clock, rounding by up to a tick.)
  EXPECT_NEAR(static_cast<double>(restarted.time),
              (restarted.number - first.number) * kTicksPerSecond / 30, 3.0);

  // Bad pointers are refused before a frame is taken; the time is optional.
  EXPECT_EQ(MFCamGrabber_GrabFrame(camera_, nullptr, &size, &time, error), 1);
  EXPECT_STREQ(error.text, "Frame buffer or size pointer is null");
  EXPECT_EQ(MFCamGrabber_GrabFrame(camera_, small.data(), nullptr, &time, error), 1);
  EXPECT_STREQ(error.text, "Frame buffer or size pointer is null");
  size = static_cast<uint32_t>(frame_.size());
  EXPECT_EQ(MFCamGrabber_GrabFrame(camera_, frame_.data(), &size, nullptr, error), 0);
  EXPECT_EQ(size, 460800u);
}

TEST_F(Camera, DeliveryNumbersFromOneAndEndsWithStop) {
  OpenDelivering(640, 480);
  ASSERT_TRUE(deliveries.WaitFor(3));
  // Polling an asynchronous camera is refused.
  std::vector<uint8_t> frame(460800);
  uint32_t size = static_cast<uint32_t>(frame.size());
  ErrorText error;
  EXPECT_EQ(MFCamGrabber_GrabFrame(camera_, frame.data(), &size, nullptr, error), 1);
  EXPECT_STREQ(error.text, kReadFailed);

  ASSERT_EQ(MFCamGrabber_StopGrabbing(camera_), 0);
  const std::size_t atStop = deliveries.Copy().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // about nine frames
  std::vector<Block> seen = deliveries.Copy();
  EXPECT_LE(seen.size(), atStop + 1);  // at most the block being handed over
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].number, i + 1);
    EXPECT_EQ(seen[i].bytes.size(), 460800u);
    if (i == 0) continue;
    // The reader's own clock: absolute, increasing with the camera's frames.
    EXPECT_GT(seen[i].Frame(), seen[i - 1].Frame());
    EXPECT_NEAR(static_cast<double>(seen[i].time - seen[i - 1].time),
                (seen[i].Frame() - seen[i - 1].Frame()) * kTicksPerSecond / 30, 1.0);
  }
  EXPECT_GT(seen[0].time, 0);

  // A new start numbers from 1 again, with the camera's frames going on.
  deliveries.Reset();
  ASSERT_EQ(MFCamGrabber_StartGrabbing(camera_, 640, 480, 0, 0, error), 0) << error.text;
  ASSERT_TRUE(deliveries.WaitFor(2));
  std::vector<Block> again = deliveries.Copy();
  EXPECT_EQ(again[0].number, 1u);
  EXPECT_EQ(again[1].number, 2u);
  EXPECT_GT(again[0].Frame(), seen.back().Frame());
}

TEST_F(Camera, StartWhileDeliveringChangesTheType) {
  OpenDelivering(640, 480);
  ASSERT_TRUE(deliveries.WaitFor(2));
  ErrorText error;
  ASSERT_EQ(MFCamGrabber_StartGrabbing(camera_, 320, 240, 60, 0, error), 0) << error.text;
  // A block being handed over during the start may still carry the old type.
  ASSERT_TRUE(deliveries.WaitUntil([](const std::vector<Block>& seen) {
    std::size_t small = 0;
    for (const Block& block : seen) small += block.bytes.size() == 115200;
    return small >= 4;
  }));
  std::vector<Block> seen = deliveries.Copy();
  std::size_t firstSmall = 0;
  while (seen[firstSmall].bytes.size() != 115200) ++firstSmall;
  EXPECT_LE(seen[firstSmall].number, 2u);
  for (std::size_t i = firstSmall + 1; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].bytes.size(), 115200u);
    EXPECT_EQ(seen[i].number, seen[i - 1].number + 1);
    EXPECT_GT(seen[i].Frame(), seen[i - 1].Frame());
  }
}

// What the callback does to its own grabber when block 2 arrives.
TEST_F(Camera, CallbackActsOnItsOwnGrabber) {
  for (InCallback action : {InCallback::kStop, InCallback::kUnregister, InCallback::kClear}) {
    SCOPED_TRACE(static_cast<int>(action));
    deliveries.Reset([action](const Block& block) { ActAtTwo(action, block); });
    OpenDelivering(640, 480);
    ASSERT_TRUE(deliveries.WaitFor(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(deliveries.Copy().size(), 2u);  // nothing after the block that acted
    if (action == InCallback::kUnregister) {
      // Frames went on being read and counted: registering again resumes.
      ASSERT_EQ(MFCamGrabber_SetFrameReadyCallBack(camera_, Record), 0);
      ASSERT_TRUE(deliveries.WaitFor(3));
      EXPECT_GT(deliveries.Copy()[2].number, 2u);
    }
    if (action == InCallback::kClear) {
      EXPECT_EQ(delivering, nullptr);
      camera_ = nullptr;  // the callback cleared it
    }
    MFCamGrabber_Clear(&camera_);
  }
}

// Start, deliver, stop and clear, some rounds with a slow callback being run
// while Clear comes, some with the first read still in flight: no block may
// arrive once Clear returned.
TEST_F(Camera, ClearWhileDeliveringEndsTheCallbacks) {
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    deliveries.Reset([slow = round % 2 == 1](const Block&) {
      if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(40));
    });
    OpenDelivering(round % 3 ? 640 : 320, round % 3 ? 480 : 240);
    if (round % 3) {
      ASSERT_TRUE(deliveries.WaitFor(round % 3));
    }
    if (round % 4 == 0) MFCamGrabber_StopGrabbing(camera_);
    delivering = nullptr;
    ASSERT_EQ(MFCamGrabber_Clear(&camera_), 0);
    deliveries.cleared = true;
    EXPECT_EQ(camera_, nullptr);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(deliveries.lateCalls, 0);
}

// ------------------------------------------------------------ controls

struct Reading {
  int32_t minimum, maximum, step, defaultValue, flags, value;
};
using GetExport = int(TARSEL_CALL*)(void*, int32_t, int32_t*, int32_t*, int32_t*, int32_t*,
                                    int32_t*, int32_t*, char*);
using SetExport = int(TARSEL_CALL*)(void*, int32_t, int32_t, int32_t, char*);

int Get(GetExport get, void* camera, int32_t property, Reading& out, char* error) {
  return get(camera, property, &out.minimum, &out.maximum, &out.step, &out.defaultValue, &out.flags,
             &out.value, error);
}

struct ControlCase {
  const char* name;
  GetExport get;
  SetExport set;
  int32_t property;
  Reading range;  // flags: the current ones, 2 (manual)
  int32_t newFlags, newValue;
};

// clang-format off
const ControlCase kControls[] = {
    {"pan", MFCamGrabber_GetCamCtrl, MFCamGrabber_SetCamCtrl, 0, {-180, 180, 1, 0, 2, 0}, 2, -45},
    {"exposure", MFCamGrabber_GetCamCtrl, MFCamGrabber_SetCamCtrl, 4, {-11, -2, 1, -6, 2, -6}, 1, -9},
    {"contrast", MFCamGrabber_GetVideoProp, MFCamGrabber_SetVideoProp, 1, {0, 100, 1, 50, 2, 50}, 2, 80},
    {"gain", MFCamGrabber_GetVideoProp, MFCamGrabber_SetVideoProp, 9, {0, 100, 1, 0, 2, 0}, 1, 7},
};
// clang-format on

bool SameReading(const Reading& a, const Reading& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(Camera, FirstControlCallOnlyObtainsTheInterface) {
  Open(0, false);
  const Reading untouched{11, 12, 13, 14, 15, 16};
  for (const ControlCase& control : {kControls[0], kControls[2]}) {
    SCOPED_TRACE(control.name);
    Reading out = untouched;
    ErrorText error;
    EXPECT_EQ(Get(control.get, camera_, control.property, out, error), 0);
    EXPECT_TRUE(error.AllZero());
    EXPECT_TRUE(SameReading(out, untouched));
    EXPECT_EQ(Get(control.get, camera_, control.property, out, error), 0);
    EXPECT_TRUE(SameReading(out, control.range));
  }
  // On a new grabber the first set changes nothing either; get and set of one
  // interface share it.
  MFCamGrabber_Clear(&camera_);
  Open(0, false);
  for (const ControlCase& control : {kControls[1], kControls[3]}) {
    SCOPED_TRACE(control.name);
    ErrorText error;
    EXPECT_EQ(control.set(camera_, control.property, control.newFlags, control.newValue, error), 0);
    Reading out{};
    EXPECT_EQ(Get(control.get, camera_, control.property, out, error), 0);
    EXPECT_TRUE(SameReading(out, control.range));
  }
  // The self-test obtains the camera controls: the next get reads at once.
  MFCamGrabber_Clear(&camera_);
  Open(0, false);
  MFCamGrabber_Test(camera_);
  MFCamGrabber_Test(camera_);
  Reading out{};
  ErrorText error;
  EXPECT_EQ(Get(MFCamGrabber_GetCamCtrl, camera_, kControls[0].property, out, error), 0);
  EXPECT_TRUE(SameReading(out, kControls[0].range));
}

TEST_F(Camera, ControlsSetAndReadBack) {
  Open(0, true);
  for (const ControlCase& control : kControls) {
    SCOPED_TRACE(control.name);
    Reading out{};
    ErrorText error;
    ASSERT_EQ(Get(control.get, camera_, control.property, out, error), 0);  // obtains, or reads
    ASSERT_EQ(control.set(camera_, control.property, control.newFlags, control.newValue, error), 0)
        << error.text;
    ASSERT_EQ(Get(control.get, camera_, control.property, out, error), 0) << error.text;
    Reading expected = control.range;
    expected.flags = control.newFlags;
    expected.value = control.newValue;
    EXPECT_TRUE(SameReading(out, expected));
    // Outputs the caller does not want may be null.
    int32_t value = 0;
    EXPECT_EQ(control.get(camera_, control.property, nullptr, nullptr, nullptr, nullptr, nullptr,
                          &value, error),
              0);
    EXPECT_EQ(value, control.newValue);
    // A property the camera does not have.
    EXPECT_EQ(Get(control.get, camera_, 99, out, error), 1);
    EXPECT_STREQ(error.text, kNotSupported);
    EXPECT_EQ(control.set(camera_, 99, 2, 1, error), 1);
    EXPECT_STREQ(error.text, kNotSupported);
  }
}

TEST_F(Camera, ControlsWithoutInterfacesOrCamera) {
  Open(1, false);  // the second camera has neither interface
  for (const ControlCase& control : {kControls[0], kControls[2]}) {
    SCOPED_TRACE(control.name);
    for (int call = 0; call < 2; ++call) {
      Reading out{};
      ErrorText error;
      EXPECT_EQ(Get(control.get, camera_, control.property, out, error), 1);
      EXPECT_STREQ(error.text, kNotSupported);
      EXPECT_EQ(control.set(camera_, control.property, 2, 1, error), 1);
      EXPECT_STREQ(error.text, kNotSupported);
    }
  }
  MFCamGrabber_Test(camera_);
}

// ------------------------------------------------------------ without a camera

TEST(CameraWithoutDevice, OperationsBeforeOpenAndNullHandles) {
  void* camera = nullptr;
  uint32_t devices = 0;
  ErrorText error;
  ASSERT_EQ(MFCamGrabber_Init(&camera, &devices, error), 0) << error.text;
  std::vector<uint8_t> frame(16);
  uint32_t size = 16;
  int64_t time = 0;
  Reading out{};
  for (void* handle : {camera, static_cast<void*>(nullptr)}) {
    const char* expected = handle ? kSourceNotActivated : kNotInitialized;
    SCOPED_TRACE(expected);
    ErrorText start, grab, getCam, setCam, getProp, setProp;
    EXPECT_EQ(MFCamGrabber_StartGrabbing(handle, 640, 480, 30, 0, start), 1);
    EXPECT_STREQ(start.text, expected);
    EXPECT_EQ(MFCamGrabber_GrabFrame(handle, frame.data(), &size, &time, grab), 1);
    EXPECT_STREQ(grab.text, expected);
    EXPECT_EQ(Get(MFCamGrabber_GetCamCtrl, handle, 0, out, getCam), 1);
    EXPECT_STREQ(getCam.text, expected);
    EXPECT_EQ(MFCamGrabber_SetCamCtrl(handle, 0, 2, 1, setCam), 1);
    EXPECT_STREQ(setCam.text, expected);
    EXPECT_EQ(Get(MFCamGrabber_GetVideoProp, handle, 0, out, getProp), 1);
    EXPECT_STREQ(getProp.text, expected);
    EXPECT_EQ(MFCamGrabber_SetVideoProp(handle, 0, 2, 1, setProp), 1);
    EXPECT_STREQ(setProp.text, expected);
    MFCamGrabber_Test(handle);
  }
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(MFCamGrabber_Clear(&camera), 0);
}

}  // namespace
