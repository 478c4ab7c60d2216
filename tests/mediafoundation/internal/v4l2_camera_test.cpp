// V4L2 cameras against scripted devices that answer the driver calls as a
// UVC driver does: listing and names, the type catalogue, format, size and
// interval negotiation, frames in both read modes, every control mapping,
// busy, missing and unplugged cameras. The scripted device counts what is
// open and mapped, so each case also proves that nothing is left behind.
#if defined(__linux__)

#include <linux/videodev2.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../deliveries.h"
#include "../fake_env.h"
#include "mediafoundation/platform/linux/v4l2_cameras.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

using namespace tarsel::platform;
using tarsel_test::deliveries;
using tarsel_test::ErrorText;
using tarsel_test::Record;
using Clock = std::chrono::steady_clock;

constexpr LONGLONG kBaseSeconds = 5000;  // the scripted cameras' clock at the first frame
// Frames come this often in real time, whatever interval they carry.
constexpr auto kFramePace = std::chrono::milliseconds(4);

struct ScriptedSize {
  UINT32 width, height;
  std::vector<v4l2_fract> intervals;  // discrete
  std::optional<v4l2_frmival_stepwise> intervalRange;
};
struct ScriptedFormat {
  UINT32 pixelFormat;
  std::vector<ScriptedSize> sizes;
  std::optional<v4l2_frmsize_stepwise> sizeRange;  // then each size has 1/30
};
struct ScriptedControl {
  UINT32 id;
  int32_t minimum, maximum, step, defaultValue, value;
  std::vector<int32_t> refused = {};  // menu entries the camera does not have
};
struct CameraScript {
  std::string card = "Scripted Camera";
  UINT32 caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  std::vector<ScriptedFormat> formats;
  std::vector<ScriptedControl> controls;
  int openError = 0;           // what opening answers once listed
  bool busy = false;           // another process captures from it
  bool adjustsSizes = false;   // the driver answers another size than asked
  bool fixedInterval = false;  // the driver keeps 1/30 whatever is asked
  bool frozenClock = false;    // every frame carries the same time
  bool firstFrameDamaged = false;
  int framesBeforeUnplug = -1;
  UINT32 rowPadding = 0;  // bytes after each row of an uncompressed frame
};

// Frame n of an uncompressed format: a pattern that moves with n, n in its
// first four bytes (the layout without padding).
std::vector<uint8_t> Pattern(std::size_t size, UINT32 n) {
  std::vector<uint8_t> frame(size);
  for (std::size_t i = 0; i < size; ++i) frame[i] = static_cast<uint8_t>(i * 7 + n * 3);
  for (int k = 0; k < 4 && k < static_cast<int>(size); ++k)
    frame[k] = static_cast<uint8_t>(n >> 8 * k);
  return frame;
}

std::vector<uint8_t> Jpeg(UINT32 width) {
  return tarsel_test::ReadFile(
      tarsel_test::FixturePath(width == 1280 ? "camera_1280x720.jpg" : "camera_640x480.jpg"));
}

// One scripted node.
struct Node {
  CameraScript script;
  int openFiles = 0;
  v4l2_pix_format format{};
  v4l2_fract interval{1, 30};
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<bool> queued;
  int mapped = 0;
  bool streaming = false;
  UINT32 delivered = 0;
  Clock::time_point started;
  bool gone = false;
};

class ScriptedV4l2 final : public V4l2Io {
 public:
  void Add(const std::string& path, CameraScript script) {
    nodes_[path].script = std::move(script);
    order_.push_back(path);
  }
  std::vector<std::string> DeviceNodes() override { return order_; }
  int Open(const std::string& path) override {
    std::lock_guard lock(mutex_);
    Node& node = nodes_.at(path);
    if (node.gone) return -ENOENT;
    if (node.script.openError && listed_) return -node.script.openError;
    ++node.openFiles;
    files_[nextFd_] = &node;
    return nextFd_++;
  }
  void Close(int fd) override {
    std::lock_guard lock(mutex_);
    --files_.at(fd)->openFiles;
    files_.erase(fd);
  }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    std::lock_guard lock(mutex_);
    Node& node = *files_.at(fd);
    if (node.gone) return -ENODEV;
    return Answer(node, request, argument);
  }
  void* Map(int fd, std::size_t length, std::int64_t offset) override {
    std::lock_guard lock(mutex_);
    Node& node = *files_.at(fd);
    const auto index = static_cast<std::size_t>(offset / kOffsetStep);
    if (index >= node.buffers.size() || length != node.buffers[index].size()) return nullptr;
    ++node.mapped;
    return node.buffers[index].data();
  }
  void Unmap(void* address, std::size_t) override {
    std::lock_guard lock(mutex_);
    for (auto& [path, node] : nodes_) {
      for (auto& buffer : node.buffers) node.mapped -= buffer.data() == address;
    }
  }
  int Poll(int fd, int timeoutMs) override {
    Clock::time_point due;
    {
      std::lock_guard lock(mutex_);
      Node& node = *files_.at(fd);
      if (node.gone || !node.streaming) return POLLERR;
      due = node.started + kFramePace * (node.delivered + 1);
    }
    std::this_thread::sleep_until(
        std::min(due, Clock::now() + std::chrono::milliseconds(timeoutMs)));
    return Clock::now() >= due ? POLLIN : 0;
  }

  // Called once the grabber has listed the devices: open errors apply from then.
  void Listed() { listed_ = true; }
  Node Snapshot(const std::string& path) {
    std::lock_guard lock(mutex_);
    return nodes_.at(path);
  }
  // Nothing open or mapped on any node.
  bool Released() {
    std::lock_guard lock(mutex_);
    for (auto& [path, node] : nodes_) {
      if (node.openFiles || node.mapped) return false;
    }
    return true;
  }
  int32_t Control(const std::string& path, UINT32 id) {
    std::lock_guard lock(mutex_);
    const ScriptedControl* control = FindControl(nodes_.at(path), id);
    return control ? control->value : -999;
  }

 private:
  static constexpr std::int64_t kOffsetStep = 0x10000;

  static const ScriptedFormat* FindFormat(const Node& node, UINT32 pixelFormat) {
    for (const auto& format : node.script.formats) {
      if (format.pixelFormat == pixelFormat) return &format;
    }
    return nullptr;
  }
  static std::vector<v4l2_fract> IntervalsOf(const ScriptedFormat& format, UINT32 width,
                                             UINT32 height,
                                             std::optional<v4l2_frmival_stepwise>* range) {
    if (format.sizeRange) return {{1, 30}};
    for (const auto& size : format.sizes) {
      if (size.width == width && size.height == height) {
        *range = size.intervalRange;
        return size.intervals;
      }
    }
    return {};
  }
  static ScriptedControl* FindControl(Node& node, UINT32 id) {
    for (auto& control : node.script.controls) {
      if (control.id == id) return &control;
    }
    return nullptr;
  }
  static UINT32 RowBytes(const v4l2_pix_format& format) {
    return format.pixelformat == V4L2_PIX_FMT_YUYV ? format.width * 2 : format.width;
  }

  int SetFormat(Node& node, v4l2_pix_format& asked) {
    if (node.script.busy || node.streaming) return -EBUSY;
    const ScriptedFormat* format = FindFormat(node, asked.pixelformat);
    if (!format) format = &node.script.formats.front();
    bool listed = format->sizeRange.has_value();
    for (const auto& size : format->sizes) {
      listed = listed || (size.width == asked.width && size.height == asked.height);
    }
    if (!listed || node.script.adjustsSizes) {
      asked.width = format->sizes.front().width + (node.script.adjustsSizes ? 16 : 0);
      asked.height = format->sizes.front().height;
    }
    asked.pixelformat = format->pixelFormat;
    asked.bytesperline =
        format->pixelFormat == V4L2_PIX_FMT_MJPEG ? 0 : RowBytes(asked) + node.script.rowPadding;
    asked.sizeimage = asked.pixelformat == V4L2_PIX_FMT_MJPEG ? asked.width * asked.height * 2
                                                              : asked.bytesperline * asked.height;
    node.format = asked;
    return 0;
  }

  // The listed interval nearest to the one asked, as UVC drivers choose.
  int SetInterval(Node& node, v4l2_captureparm& asked) {
    std::optional<v4l2_frmival_stepwise> range;
    const auto intervals = IntervalsOf(*FindFormat(node, node.format.pixelformat),
                                       node.format.width, node.format.height, &range);
    const double wanted = double(asked.timeperframe.numerator) / asked.timeperframe.denominator;
    const auto seconds = [](v4l2_fract f) { return double(f.numerator) / f.denominator; };
    if (range) {
      if (wanted < seconds(range->min)) asked.timeperframe = range->min;
      if (wanted > seconds(range->max)) asked.timeperframe = range->max;
    } else {
      v4l2_fract best = intervals.front();
      for (const auto& interval : intervals) {
        if (std::abs(seconds(interval) - wanted) < std::abs(seconds(best) - wanted))
          best = interval;
      }
      asked.timeperframe = best;
    }
    if (node.script.fixedInterval) asked.timeperframe = {1, 30};
    asked.capability = V4L2_CAP_TIMEPERFRAME;
    node.interval = asked.timeperframe;
    return 0;
  }

  int Request(Node& node, v4l2_requestbuffers& request) {
    if (node.script.busy) return -EBUSY;
    if (request.count == 0) {
      if (node.mapped) return -EBUSY;  // as the kernel answers while buffers are mapped
      node.buffers.clear();
      node.queued.clear();
      return 0;
    }
    request.count = std::min<UINT32>(request.count, 3);
    node.buffers.assign(request.count, std::vector<uint8_t>(node.format.sizeimage));
    node.queued.assign(request.count, false);
    return 0;
  }

  int Dequeue(Node& node, v4l2_buffer& buffer) {
    if (!node.streaming) return -EINVAL;
    if (Clock::now() < node.started + kFramePace * (node.delivered + 1)) return -EAGAIN;
    std::size_t index = 0;
    while (index < node.queued.size() && !node.queued[index]) ++index;
    if (index == node.queued.size()) return -EAGAIN;
    const UINT32 n = node.delivered++;
    std::vector<uint8_t>& memory = node.buffers[index];
    std::size_t used = memory.size();
    if (node.format.pixelformat == V4L2_PIX_FMT_MJPEG) {
      std::vector<uint8_t> picture = Jpeg(node.format.width);
      if (n == 0 && node.script.firstFrameDamaged) std::fill(picture.begin(), picture.end(), 0);
      used = std::min(picture.size(), memory.size());
      std::copy(picture.begin(), picture.begin() + used, memory.begin());
    } else {
      const UINT32 row = RowBytes(node.format);
      const std::vector<uint8_t> frame = Pattern(std::size_t{row} * node.format.height, n);
      for (UINT32 y = 0; y < node.format.height; ++y) {
        std::copy_n(frame.begin() + std::size_t{y} * row, row,
                    memory.begin() + std::size_t{y} * node.format.bytesperline);
      }
    }
    const UINT32 k = node.script.frozenClock ? 0 : n;
    const LONGLONG micros = kBaseSeconds * 1'000'000 + LONGLONG{k} * 1'000'000 *
                                                           node.interval.numerator /
                                                           node.interval.denominator;
    buffer.index = static_cast<UINT32>(index);
    buffer.bytesused = static_cast<UINT32>(used);
    buffer.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    buffer.timestamp.tv_sec = micros / 1'000'000;
    buffer.timestamp.tv_usec = micros % 1'000'000;
    node.queued[index] = false;
    if (node.script.framesBeforeUnplug >= 0 &&
        node.delivered >= static_cast<UINT32>(node.script.framesBeforeUnplug)) {
      node.gone = true;
    }
    return 0;
  }

  int AnswerControl(Node& node, unsigned long request, void* argument) {
    if (request == VIDIOC_QUERYCTRL) {
      auto& query = *static_cast<v4l2_queryctrl*>(argument);
      const ScriptedControl* control = FindControl(node, query.id);
      if (!control) return -EINVAL;
      query.type = V4L2_CTRL_TYPE_INTEGER;
      query.minimum = control->minimum;
      query.maximum = control->maximum;
      query.step = control->step;
      query.default_value = control->defaultValue;
      return 0;
    }
    auto& value = *static_cast<v4l2_control*>(argument);
    ScriptedControl* control = FindControl(node, value.id);
    if (!control) return -EINVAL;
    if (request == VIDIOC_G_CTRL) {
      value.value = control->value;
      return 0;
    }
    if (value.value < control->minimum || value.value > control->maximum) return -ERANGE;
    if (std::count(control->refused.begin(), control->refused.end(), value.value)) return -EINVAL;
    control->value = value.value;
    return 0;
  }

  int Answer(Node& node, unsigned long request, void* argument) {
    switch (request) {
      case VIDIOC_QUERYCAP: {
        auto& capability = *static_cast<v4l2_capability*>(argument);
        std::memcpy(capability.card, node.script.card.data(),
                    std::min(node.script.card.size(), sizeof capability.card));
        capability.capabilities = node.script.caps | V4L2_CAP_DEVICE_CAPS;
        capability.device_caps = node.script.caps;
        return 0;
      }
      case VIDIOC_ENUM_FMT: {
        auto& format = *static_cast<v4l2_fmtdesc*>(argument);
        if (format.index >= node.script.formats.size()) return -EINVAL;
        format.pixelformat = node.script.formats[format.index].pixelFormat;
        return 0;
      }
      case VIDIOC_ENUM_FRAMESIZES: {
        auto& size = *static_cast<v4l2_frmsizeenum*>(argument);
        const ScriptedFormat* format = FindFormat(node, size.pixel_format);
        if (!format) return -EINVAL;
        if (format->sizeRange) {
          if (size.index > 0) return -EINVAL;
          size.type = V4L2_FRMSIZE_TYPE_STEPWISE;
          size.stepwise = *format->sizeRange;
          return 0;
        }
        if (size.index >= format->sizes.size()) return -EINVAL;
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete = {format->sizes[size.index].width, format->sizes[size.index].height};
        return 0;
      }
      case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto& entry = *static_cast<v4l2_frmivalenum*>(argument);
        const ScriptedFormat* format = FindFormat(node, entry.pixel_format);
        if (!format) return -EINVAL;
        std::optional<v4l2_frmival_stepwise> range;
        const auto intervals = IntervalsOf(*format, entry.width, entry.height, &range);
        if (range) {
          if (entry.index > 0) return -EINVAL;
          entry.type = V4L2_FRMIVAL_TYPE_STEPWISE;
          entry.stepwise = *range;
          return 0;
        }
        if (entry.index >= intervals.size()) return -EINVAL;
        entry.type = V4L2_FRMIVAL_TYPE_DISCRETE;
        entry.discrete = intervals[entry.index];
        return 0;
      }
      case VIDIOC_S_FMT:
        return SetFormat(node, static_cast<v4l2_format*>(argument)->fmt.pix);
      case VIDIOC_S_PARM:
        return SetInterval(node, static_cast<v4l2_streamparm*>(argument)->parm.capture);
      case VIDIOC_G_PARM: {
        auto& capture = static_cast<v4l2_streamparm*>(argument)->parm.capture;
        capture.capability = V4L2_CAP_TIMEPERFRAME;
        capture.timeperframe = node.interval;
        return 0;
      }
      case VIDIOC_REQBUFS:
        return Request(node, *static_cast<v4l2_requestbuffers*>(argument));
      case VIDIOC_QUERYBUF: {
        auto& buffer = *static_cast<v4l2_buffer*>(argument);
        if (buffer.index >= node.buffers.size()) return -EINVAL;
        buffer.length = static_cast<UINT32>(node.buffers[buffer.index].size());
        buffer.m.offset = static_cast<UINT32>(buffer.index * kOffsetStep);
        return 0;
      }
      case VIDIOC_QBUF: {
        const auto& buffer = *static_cast<v4l2_buffer*>(argument);
        if (buffer.index >= node.queued.size()) return -EINVAL;
        node.queued[buffer.index] = true;
        return 0;
      }
      case VIDIOC_DQBUF:
        return Dequeue(node, *static_cast<v4l2_buffer*>(argument));
      case VIDIOC_STREAMON:
        node.streaming = true;
        node.started = Clock::now();
        node.delivered = 0;
        return 0;
      case VIDIOC_STREAMOFF:
        node.streaming = false;
        std::fill(node.queued.begin(), node.queued.end(), false);
        return 0;
      case VIDIOC_QUERYCTRL:
      case VIDIOC_G_CTRL:
      case VIDIOC_S_CTRL:
        return AnswerControl(node, request, argument);
      default:
        return -ENOTTY;
    }
  }

  std::mutex mutex_;
  std::map<std::string, Node> nodes_;
  std::vector<std::string> order_;
  std::map<int, Node*> files_;
  int nextFd_ = 100;
  std::atomic<bool> listed_{false};
};

// ------------------------------------------------------------ scripts

constexpr v4l2_fract k30{1, 30};
constexpr v4l2_fract k15{1, 15};

// Two formats, three sizes, discrete and stepwise intervals, four controls.
CameraScript UsualCamera() {
  CameraScript script;
  script.formats = {
      {V4L2_PIX_FMT_YUYV, {{640, 480, {k30, k15}, {}}, {320, 240, {k30}, {}}}, {}},
      {V4L2_PIX_FMT_MJPEG,
       {{640, 480, {k30}, {}}, {1280, 720, {}, v4l2_frmival_stepwise{k30, {1, 5}, {1, 30}}}},
       {}},
  };
  script.controls = {
      {V4L2_CID_BRIGHTNESS, -64, 64, 1, 0, 0, {}},
      {V4L2_CID_CONTRAST, 0, 100, 1, 50, 50, {}},
      {V4L2_CID_EXPOSURE_AUTO, 0, 3, 1, 3, 3, {0, 2}},
      {V4L2_CID_EXPOSURE_ABSOLUTE, 1, 5000, 1, 156, 312, {}},
  };
  return script;
}

// A camera with a stepwise size range, a name in UTF-8 and no controls.
CameraScript RangeCamera() {
  CameraScript script;
  script.card = "Cam\xC3\xA9ra \xE4\xB8\xAD";  // "Caméra 中"
  script.formats = {{V4L2_PIX_FMT_NV12, {}, v4l2_frmsize_stepwise{160, 1280, 16, 120, 720, 8}}};
  return script;
}

// ------------------------------------------------------------ fixture

class V4l2Cameras : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Close(); }
  void Close() {
    MFCamGrabber_Clear(&camera_);
    if (io_) {
      EXPECT_TRUE(io_->Released()) << "a descriptor or a mapping was left behind";
    }
  }
  // A new scripted machine with no nodes yet.
  void Reset() {
    Close();
    added_.reset();
    io_ = std::make_shared<ScriptedV4l2>();
    provider_.emplace(io_);
    added_.emplace(&*provider_);
    deliveries.Reset();
  }
  // Lists the scripted nodes and opens the first camera.
  void Open(std::vector<CameraScript> scripts, bool asynchronous) {
    for (std::size_t i = 0; i < scripts.size(); ++i) {
      io_->Add("/dev/video" + std::to_string(i), std::move(scripts[i]));
    }
    ErrorText error;
    ASSERT_EQ(MFCamGrabber_Init(&camera_, &devices_, error), 0) << error.text;
    io_->Listed();
    ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 0, asynchronous, &formats_, error), 0) << error.text;
  }
  int Start(UINT32 width, UINT32 height, int rate, int pixelFormat) {
    ErrorText error;
    const int result = MFCamGrabber_StartGrabbing(camera_, width, height, rate, pixelFormat, error);
    if (result) {
      EXPECT_STREQ(error.text, "Failed to set media type on source reader");
    }
    return result;
  }
  std::vector<uint8_t> Grab(int64_t* time = nullptr) {
    std::vector<uint8_t> frame(4'000'000);
    uint32_t size = static_cast<uint32_t>(frame.size());
    int64_t stamp = -1;
    ErrorText error;
    const int result = MFCamGrabber_GrabFrame(camera_, frame.data(), &size, &stamp, error);
    if (result) return {};
    frame.resize(size);
    if (time) *time = stamp;
    return frame;
  }

  tarsel_test::FakeDevicesOff noFakes_;
  std::shared_ptr<ScriptedV4l2> io_;
  std::optional<V4l2CameraProvider> provider_;
  std::optional<ScopedDeviceProvider> added_;
  void* camera_ = nullptr;
  uint32_t devices_ = 0;
  uint32_t formats_ = 0;
};

// ------------------------------------------------------------ tests

// Capture nodes only, by their card names; each catalogue follows the driver,
// then the sizes decoded from MJPEG.
TEST_F(V4l2Cameras, CaptureNodesAreListedWithTheirCatalogues) {
  CameraScript metadata, output;
  metadata.caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
  output.caps = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
  Open({UsualCamera(), metadata, RangeCamera(), output}, false);
  EXPECT_EQ(devices_, 2u);
  char name[32] = {};
  uint32_t copied = 0;
  ASSERT_EQ(MFCamGrabber_GetDeviceName(camera_, 0, name, &copied, 32), 0);
  EXPECT_EQ(std::string(name, copied), "Scripted Camera");
  ASSERT_EQ(MFCamGrabber_GetDeviceName(camera_, 1, name, &copied, 32), 0);
  EXPECT_EQ(std::string(name, copied), "Cam\xE9ra \x2D");  // one byte per UTF-16 unit
  struct Entry {
    const GUID& subtype;
    UINT32 width, height, numerator, denominator;
  };
  const Entry expected[] = {
      {MFVideoFormat_YUY2, 640, 480, 30, 1}, {MFVideoFormat_YUY2, 320, 240, 30, 1},
      {MFVideoFormat_MJPG, 640, 480, 30, 1}, {MFVideoFormat_MJPG, 1280, 720, 30, 1},
      {MFVideoFormat_NV12, 640, 480, 30, 1}, {MFVideoFormat_NV12, 1280, 720, 30, 1},
  };
  ASSERT_EQ(formats_, std::size(expected));
  for (UINT32 i = 0; i < formats_; ++i) {
    CamConfig config{};
    ErrorText error;
    ASSERT_EQ(MFCamGrabber_GetConfig(camera_, i, &config, error), 0);
    EXPECT_EQ(std::memcmp(&config.subtype, &expected[i].subtype, 16), 0) << i;
    EXPECT_EQ(config.width, expected[i].width) << i;
    EXPECT_EQ(config.height, expected[i].height) << i;
    EXPECT_EQ(config.frameRateNumerator, expected[i].numerator) << i;
    EXPECT_EQ(config.frameRateDenominator, expected[i].denominator) << i;
  }
  // A size range offers the common sizes on its grid and its largest.
  ErrorText error;
  ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 1, false, &formats_, error), 0) << error.text;
  std::vector<std::pair<UINT32, UINT32>> sizes;
  for (UINT32 i = 0; i < formats_; ++i) {
    CamConfig config{};
    MFCamGrabber_GetConfig(camera_, i, &config, error);
    sizes.emplace_back(config.width, config.height);
  }
  const std::vector<std::pair<UINT32, UINT32>> grid = {{160, 120}, {176, 144}, {320, 240},
                                                       {352, 288}, {640, 360}, {640, 480},
                                                       {800, 600}, {1280, 720}};
  EXPECT_EQ(sizes, grid);
}

TEST_F(V4l2Cameras, TypesAreTakenExactlyOrRefused) {
  enum Driver { kUsual, kAdjustsSizes, kFixedInterval };
  struct Case {
    const char* what;
    UINT32 width, height;
    int rate, pixelFormat;
    Driver driver;
    bool accepted;
    UINT32 frameSize;    // of the next frame; 0: none comes
    UINT32 driverWidth;  // the driver's size and interval afterwards
    v4l2_fract interval;
  };
  // clang-format off
  const Case cases[] = {
      {"listed interval", 640, 480, 15, 1, kUsual, true, 640 * 480 * 2, 640, k15},
      {"interval not listed", 640, 480, 20, 1, kUsual, false, 640 * 480 * 2, 640, k30},
      {"the driver's rate", 320, 240, 0, 1, kUsual, true, 320 * 240 * 2, 320, k30},
      {"size not in this format", 1280, 720, 0, 1, kUsual, false, 640 * 480 * 2, 640, k30},
      {"format not offered", 640, 480, 30, 2, kUsual, false, 640 * 480 * 2, 640, k30},
      {"decoded, rate in the range", 1280, 720, 10, 0, kUsual, true, 1280 * 720 * 3 / 2, 1280, {1, 10}},
      {"decoded, rate past the range", 1280, 720, 60, 0, kUsual, false, 640 * 480 * 2, 640, k30},
      {"driver keeps its rate: the type before stays", 1280, 720, 10, 0, kFixedInterval, false,
       640 * 480 * 2, 640, k30},
      {"driver answers another size", 320, 240, 30, 1, kAdjustsSizes, false, 0, 0, k30},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    CameraScript script = UsualCamera();
    script.adjustsSizes = c.driver == kAdjustsSizes;
    script.fixedInterval = c.driver == kFixedInterval;
    Open({script}, false);
    EXPECT_EQ(Start(640, 480, 30, 1), c.driver == kAdjustsSizes ? 1 : 0);
    EXPECT_EQ(Start(c.width, c.height, c.rate, c.pixelFormat), c.accepted ? 0 : 1);
    EXPECT_EQ(Grab().size(), c.frameSize);
    if (c.driver == kAdjustsSizes) continue;
    const Node node = io_->Snapshot("/dev/video0");
    EXPECT_EQ(node.format.width, c.driverWidth);
    EXPECT_EQ(node.interval.numerator * c.interval.denominator,
              c.interval.numerator * node.interval.denominator);
  }
}

TEST_F(V4l2Cameras, PolledFramesAreTheDriversInOrderWithItsTimes) {
  struct Case {
    const char* what;
    bool frozenClock;
    UINT32 rowPadding;
  };
  for (const Case& c : {Case{"padded rows", false, 64}, Case{"frozen driver clock", true, 0}}) {
    SCOPED_TRACE(c.what);
    Reset();
    CameraScript script = UsualCamera();
    script.frozenClock = c.frozenClock;
    script.rowPadding = c.rowPadding;
    Open({script}, false);
    ASSERT_EQ(Start(320, 240, 30, 1), 0);
    int64_t previous = -1;
    for (UINT32 n = 0; n < 3; ++n) {
      int64_t time = -1;
      const std::vector<uint8_t> frame = Grab(&time);
      EXPECT_EQ(frame, Pattern(320 * 240 * 2, n)) << n;
      if (c.frozenClock) {
        EXPECT_GT(time, previous);
      } else {
        EXPECT_EQ(time, n * 1'000'000 / 30 * 10);  // the driver's microseconds, from the first
      }
      previous = time;
    }
  }
}

// The camera is unplugged after its third frame: delivery ends there.
TEST_F(V4l2Cameras, DeliveredFramesCarryTheDriversTimesUntilUnplugged) {
  CameraScript script = UsualCamera();
  script.framesBeforeUnplug = 3;
  Open({script}, true);
  ASSERT_EQ(MFCamGrabber_SetFrameReadyCallBack(camera_, Record), 0);
  ASSERT_EQ(Start(640, 480, 15, 1), 0);
  ASSERT_TRUE(deliveries.WaitFor(3));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto seen = deliveries.Copy();
  ASSERT_EQ(seen.size(), 3u);
  for (UINT32 n = 0; n < 3; ++n) {
    EXPECT_EQ(seen[n].number, n + 1);
    EXPECT_EQ(seen[n].Frame(), n);
    EXPECT_EQ(seen[n].bytes.size(), 640u * 480 * 2);
    EXPECT_EQ(seen[n].time, kBaseSeconds * 10'000'000 + n * 1'000'000 / 15 * 10);
  }
  // Registering again does not restart delivery.
  ASSERT_EQ(MFCamGrabber_SetFrameReadyCallBack(camera_, Record), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(deliveries.Copy().size(), 3u);
}

TEST_F(V4l2Cameras, MjpegSizesAreDecodedToNv12LikeTheReference) {
  CameraScript script = UsualCamera();
  script.firstFrameDamaged = true;
  Open({script}, true);
  ASSERT_EQ(MFCamGrabber_SetFrameReadyCallBack(camera_, Record), 0);
  ASSERT_EQ(Start(640, 480, 30, 0), 0);
  ASSERT_TRUE(deliveries.WaitFor(1));
  MFCamGrabber_StopGrabbing(camera_);
  // The damaged first picture is dropped: the first block is the second frame.
  EXPECT_EQ(deliveries.Copy()[0].time, kBaseSeconds * 10'000'000 + 333'330);
  MFCamGrabber_Clear(&camera_);

  Open({}, false);  // the same camera again, polled
  ASSERT_EQ(Start(640, 480, 30, 0), 0);
  const std::vector<uint8_t> frame = Grab();
  const std::vector<uint8_t> reference =
      tarsel_test::ReadFile(tarsel_test::FixturePath("camera_640x480_nv12.yuv"));
  ASSERT_EQ(frame.size(), reference.size());
  long total = 0;
  int worst = 0;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    const int difference = std::abs(frame[i] - reference[i]);
    total += difference;
    worst = std::max(worst, difference);
  }
  EXPECT_LT(double(total) / frame.size(), 0.5);
  EXPECT_LE(worst, 3);
}

// Each property both ways: the driver's range and value as the caller sees
// them, the caller's value and mode as the driver gets them.
TEST_F(V4l2Cameras, ControlsMapOntoTheDriversControls) {
  constexpr LONG kPowerline = 13;
  constexpr int32_t kManual = V4L2_EXPOSURE_MANUAL, kAperture = V4L2_EXPOSURE_APERTURE_PRIORITY;
  struct Case {
    bool procAmp;
    LONG property;
    UINT32 control;
    int32_t minimum, maximum, step, defaultValue, value;  // the driver's
    UINT32 autoControl;                                   // 0: none
    int32_t autoMaximum, autoValue;
    std::vector<int32_t> refused;                 // automatic modes the driver lacks
    std::vector<int32_t> seen;                    // minimum, maximum, step, default, flags, value
    int32_t set, driverValue;                     // a value set manually, as the driver gets it
    int32_t autoAfterManual, autoAfterAutomatic;  // the driver's automatic control then
  };
  // clang-format off
  const Case cases[] = {
      {false, CameraControl_Pan, V4L2_CID_PAN_ABSOLUTE, -36000, 36000, 3600, 0, 7200, 0, 0, 0, {},
       {-10, 10, 1, 0, 2, 2}, 5, 18000, 0, 0},
      {false, CameraControl_Tilt, V4L2_CID_TILT_ABSOLUTE, -18000, 18000, 3600, 0, -3600, 0, 0, 0, {},
       {-5, 5, 1, 0, 2, -1}, -4, -14400, 0, 0},
      {false, CameraControl_Zoom, V4L2_CID_ZOOM_ABSOLUTE, 100, 500, 1, 100, 150, 0, 0, 0, {},
       {100, 500, 1, 100, 2, 150}, 300, 300, 0, 0},
      {false, CameraControl_Exposure, V4L2_CID_EXPOSURE_ABSOLUTE, 1, 5000, 1, 156, 312,
       V4L2_CID_EXPOSURE_AUTO, 3, kAperture, {V4L2_EXPOSURE_AUTO, V4L2_EXPOSURE_SHUTTER_PRIORITY},
       {-13, -1, 1, -6, 1, -5}, -7, 78, kManual, kAperture},
      {false, CameraControl_Exposure, V4L2_CID_EXPOSURE_ABSOLUTE, 1, 5000, 1, 156, 312,
       V4L2_CID_EXPOSURE_AUTO, 1, V4L2_EXPOSURE_AUTO, {},
       {-13, -1, 1, -6, 1, -5}, -7, 78, kManual, V4L2_EXPOSURE_AUTO},
      {false, CameraControl_Iris, V4L2_CID_IRIS_ABSOLUTE, 100, 800, 10, 200, 400,
       V4L2_CID_EXPOSURE_AUTO, 3, kAperture, {},
       {100, 800, 10, 200, 2, 400}, 500, 500, kAperture, V4L2_EXPOSURE_AUTO},
      {false, CameraControl_Focus, V4L2_CID_FOCUS_ABSOLUTE, 0, 250, 5, 0, 50,
       V4L2_CID_FOCUS_AUTO, 1, 1, {}, {0, 250, 5, 0, 1, 50}, 100, 100, 0, 1},
      {true, VideoProcAmp_Brightness, V4L2_CID_BRIGHTNESS, -64, 64, 1, 0, 10,
       V4L2_CID_AUTOBRIGHTNESS, 1, 0, {}, {-64, 64, 1, 0, 2, 10}, -20, -20, 0, 1},
      {true, VideoProcAmp_Contrast, V4L2_CID_CONTRAST, 0, 100, 1, 50, 60, 0, 0, 0, {},
       {0, 100, 1, 50, 2, 60}, 40, 40, 0, 0},
      {true, VideoProcAmp_Hue, V4L2_CID_HUE, -180, 180, 1, 0, 5, V4L2_CID_HUE_AUTO, 1, 0, {},
       {-180, 180, 1, 0, 2, 5}, 30, 30, 0, 1},
      {true, VideoProcAmp_Saturation, V4L2_CID_SATURATION, 0, 100, 1, 64, 64, 0, 0, 0, {},
       {0, 100, 1, 64, 2, 64}, 80, 80, 0, 0},
      {true, VideoProcAmp_Sharpness, V4L2_CID_SHARPNESS, 0, 7, 1, 3, 3, 0, 0, 0, {},
       {0, 7, 1, 3, 2, 3}, 6, 6, 0, 0},
      {true, VideoProcAmp_Gamma, V4L2_CID_GAMMA, 72, 500, 1, 100, 100, 0, 0, 0, {},
       {72, 500, 1, 100, 2, 100}, 220, 220, 0, 0},
      {true, VideoProcAmp_WhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, 2800, 6500, 10, 4600,
       5000, V4L2_CID_AUTO_WHITE_BALANCE, 1, 1, {}, {2800, 6500, 10, 4600, 1, 5000}, 3200, 3200, 0, 1},
      {true, VideoProcAmp_BacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0, 2, 1, 1, 1,
       0, 0, 0, {}, {0, 2, 1, 1, 2, 1}, 2, 2, 0, 0},
      {true, VideoProcAmp_Gain, V4L2_CID_GAIN, 0, 255, 1, 0, 32, V4L2_CID_AUTOGAIN, 1, 0, {},
       {0, 255, 1, 0, 2, 32}, 64, 64, 0, 1},
      {true, kPowerline, V4L2_CID_POWER_LINE_FREQUENCY, 0, 3, 1, 1, 2, 0, 0, 0, {},
       {0, 3, 1, 1, 2, 2}, 1, 1, 0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.procAmp ? "video property " : "camera control ")
                                    << c.property << " on " << std::hex << c.control);
    Reset();
    CameraScript script = UsualCamera();
    script.controls = {{c.control, c.minimum, c.maximum, c.step, c.defaultValue, c.value}};
    if (c.autoControl) {
      script.controls.push_back({c.autoControl, 0, c.autoMaximum, 1, 0, c.autoValue, c.refused});
    }
    Open({script}, false);
    const auto get = c.procAmp ? MFCamGrabber_GetVideoProp : MFCamGrabber_GetCamCtrl;
    const auto set = c.procAmp ? MFCamGrabber_SetVideoProp : MFCamGrabber_SetCamCtrl;
    std::vector<int32_t> seen(6, 77);
    ErrorText error;
    const auto read = [&] {
      return get(camera_, c.property, &seen[0], &seen[1], &seen[2], &seen[3], &seen[4], &seen[5],
                 error);
    };
    ASSERT_EQ(read(), 0);  // the first call obtains the interface
    ASSERT_EQ(read(), 0) << error.text;
    EXPECT_EQ(seen, c.seen);
    ASSERT_EQ(set(camera_, c.property, CameraControl_Flags_Manual, c.set, error), 0) << error.text;
    EXPECT_EQ(io_->Control("/dev/video0", c.control), c.driverValue);
    if (!c.autoControl) {
      // Nothing switches the property to automatic.
      EXPECT_EQ(set(camera_, c.property, CameraControl_Flags_Auto, 0, error), 1);
      EXPECT_STREQ(error.text, "Not supported");
      continue;
    }
    EXPECT_EQ(io_->Control("/dev/video0", c.autoControl), c.autoAfterManual);
    ASSERT_EQ(set(camera_, c.property, CameraControl_Flags_Auto, 0, error), 0) << error.text;
    EXPECT_EQ(io_->Control("/dev/video0", c.autoControl), c.autoAfterAutomatic);
    EXPECT_EQ(read(), 0);
    EXPECT_EQ(seen[4], CameraControl_Flags_Auto);
  }
}

TEST_F(V4l2Cameras, PropertiesTheCameraLacksAreNotSupported) {
  Open({UsualCamera(), RangeCamera()}, false);
  int32_t value[6];
  ErrorText error;
  for (const LONG property : {LONG{CameraControl_Exposure}, LONG{CameraControl_Roll},
                              LONG{CameraControl_Pan}, LONG{42}}) {
    MFCamGrabber_GetCamCtrl(camera_, property, &value[0], &value[1], &value[2], &value[3],
                            &value[4], &value[5], error);
    const bool known = property == CameraControl_Exposure;
    EXPECT_EQ(MFCamGrabber_GetCamCtrl(camera_, property, &value[0], &value[1], &value[2], &value[3],
                                      &value[4], &value[5], error),
              known ? 0 : 1)
        << property;
  }
  EXPECT_EQ(MFCamGrabber_SetVideoProp(camera_, VideoProcAmp_ColorEnable, 2, 1, error), 0);
  EXPECT_EQ(MFCamGrabber_SetVideoProp(camera_, VideoProcAmp_ColorEnable, 2, 1, error), 1);
  EXPECT_STREQ(error.text, "Not supported");
  // A camera without controls has neither interface.
  void* other = nullptr;
  uint32_t count = 0;
  ASSERT_EQ(MFCamGrabber_Init(&other, &count, error), 0);
  ASSERT_EQ(MFCamGrabber_OpenCamera(other, 1, false, &formats_, error), 0);
  EXPECT_EQ(MFCamGrabber_GetVideoProp(other, VideoProcAmp_Brightness, &value[0], &value[1],
                                      &value[2], &value[3], &value[4], &value[5], error),
            1);
  EXPECT_EQ(MFCamGrabber_SetCamCtrl(other, CameraControl_Zoom, 2, 1, error), 1);
  MFCamGrabber_Clear(&other);
}

// Activation and reading fail with the platform's codes.
TEST_F(V4l2Cameras, BusyMissingAndUnpluggedCamerasFailWithThePlatformsCodes) {
  struct Case {
    const char* what;
    void (*prepare)(CameraScript&);
    HRESULT activation;
    HRESULT reading;
  };
  const Case cases[] = {
      {"busy", [](CameraScript& s) { s.busy = true; }, MF_E_HW_MFT_FAILED_START_STREAMING, S_OK},
      {"gone after listing", [](CameraScript& s) { s.openError = ENOENT; },
       MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, S_OK},
      {"no permission", [](CameraScript& s) { s.openError = EACCES; }, E_ACCESSDENIED, S_OK},
      {"unplugged while capturing", [](CameraScript& s) { s.framesBeforeUnplug = 2; }, S_OK,
       MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();  // and the case before left nothing open or mapped
    CameraScript script = UsualCamera();
    c.prepare(script);
    io_->Add("/dev/video0", script);
    std::vector<DeviceEntry> listed =
        provider_->ListDevices(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    ASSERT_EQ(listed.size(), 1u);
    io_->Listed();
    HRESULT activation = S_OK;
    std::shared_ptr<CaptureStream> stream;
    try {
      stream = listed[0].open();
    } catch (const DeviceUnavailable& unavailable) {
      activation = unavailable.hr;
    }
    EXPECT_EQ(activation, c.activation);
    if (stream) {
      HRESULT hr = S_OK;
      for (int n = 0; n < 4 && SUCCEEDED(hr); ++n) {
        LONGLONG time = 0;
        tarsel::ComPtr<IMFSample> sample;
        hr = stream->Read(nullptr, &time, sample.Put());
      }
      EXPECT_EQ(hr, c.reading);
    }
  }
}

}  // namespace

#endif  // __linux__
