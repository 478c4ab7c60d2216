// V4L2 cameras: listing, opening, negotiation of the capture format and
// memory-mapped streaming capture.
#include "mediafoundation/platform/linux/v4l2_cameras.h"

#include <linux/videodev2.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "mediafoundation/platform/linux/linux_devices.h"
#include "mediafoundation/platform/linux/mjpeg_decoder.h"
#include "mediafoundation/platform/linux/v4l2_controls.h"
#include "mediafoundation/platform/linux/v4l2_modes.h"

namespace tarsel::platform {

namespace {

constexpr UINT32 kBufferCount = 4;
// A read looks at its cancel check at least this often.
constexpr int kPollSliceMs = 50;
// A camera that delivers no usable frame for this long does not work.
constexpr auto kStallLimit = std::chrono::seconds(10);

UINT32 Capabilities(const v4l2_capability& capability) {
  return capability.capabilities & V4L2_CAP_DEVICE_CAPS ? capability.device_caps
                                                        : capability.capabilities;
}

// Video capture with streaming I/O; metadata and output nodes are not cameras.
bool IsCamera(const v4l2_capability& capability) {
  const UINT32 caps = Capabilities(capability);
  return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::string CardName(const v4l2_capability& capability) {
  const auto* card = reinterpret_cast<const char*>(capability.card);
  return std::string(card, strnlen(card, sizeof capability.card));
}

// A descriptor closed when it goes out of scope, unless released.
class Descriptor {
 public:
  Descriptor(V4l2Io& io, int fd) : io_(io), fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) io_.Close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  V4l2Io& io_;
  int fd_;
};

// What the reader delivers: a mode and the interval asked for (none: the
// driver's choice).
struct Setting {
  std::size_t mode = 0;
  std::optional<FrameInterval> interval;
};

struct MappedBuffer {
  void* address = nullptr;
  std::size_t length = 0;
};

class V4l2Camera final : public CaptureStream {
 public:
  V4l2Camera(std::shared_ptr<V4l2Io> io, int fd, std::vector<CameraMode> modes)
      : io_(std::move(io)), fd_(fd), modes_(std::move(modes)) {
    for (const CameraMode& mode : modes_) {
      nativeTypes_.push_back(MakeNativeType(mode));
      if (!nativeTypes_.back()) throw std::bad_alloc();
    }
    if (V4l2Controls::AnyPresent(*io_, fd_, CameraControlMappings())) {
      cameraControls_.emplace(*io_, fd_, mutex_, CameraControlMappings());
    }
    if (V4l2Controls::AnyPresent(*io_, fd_, VideoProcAmpMappings())) {
      videoProcAmp_.emplace(*io_, fd_, mutex_, VideoProcAmpMappings());
    }
  }
  ~V4l2Camera() override {
    StopStreaming();
    io_->Close(fd_);
  }

  const GUID& MajorType() const override { return MFMediaType_Video; }
  HRESULT GetNativeType(DWORD index, IMFMediaType** type) const override {
    if (!type) return E_POINTER;
    if (index >= nativeTypes_.size()) return MF_E_NO_MORE_TYPES;
    return Copy(nativeTypes_[index].Get(), type);
  }
  HRESULT GetCurrentType(IMFMediaType** type) const override;
  HRESULT SetCurrentType(IMFMediaType* type) override;
  HRESULT Read(const CancelCheck& cancelled, LONGLONG* timestamp, IMFSample** sample) override;
  // Reads wait in short slices and ask their cancel check after each.
  void Wake() override {}
  void Shutdown() override {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    StopStreaming();  // the camera is free for others from here on
  }
  PropertySet* CameraControls() override { return cameraControls_ ? &*cameraControls_ : nullptr; }
  PropertySet* VideoProcAmp() override { return videoProcAmp_ ? &*videoProcAmp_ : nullptr; }

 private:
  // A filled buffer taken from the driver.
  struct Frame {
    LONGLONG time = 0;
    LONGLONG duration = 0;
    UINT32 width = 0;
    UINT32 height = 0;
    std::vector<BYTE> jpeg;  // a picture to decode, with the decoder's padding
  };

  static HRESULT Copy(IMFMediaType* from, IMFMediaType** to) {
    ComPtr<IMFMediaType> copy;
    HRESULT hr = MFCreateMediaType(copy.Put());
    if (SUCCEEDED(hr)) hr = from->CopyAllItems(copy.Get());
    if (SUCCEEDED(hr)) *to = copy.Detach();
    return hr;
  }
  std::optional<Setting> SettingFor(IMFMediaType* type) const;
  HRESULT Apply(const Setting& setting);
  HRESULT StartStreaming();
  void StopStreaming();
  HRESULT Fail(int error);
  HRESULT TakeFrame(IMFSample** sample, Frame* frame);
  HRESULT Decode(const Frame& frame, IMFSample** sample);
  LONGLONG Stamp(const v4l2_buffer& buffer);
  LONGLONG Duration() const { return actualInterval_ ? IntervalTicks(*actualInterval_) : 0; }

  const std::shared_ptr<V4l2Io> io_;
  const int fd_;
  const std::vector<CameraMode> modes_;
  std::vector<ComPtr<IMFMediaType>> nativeTypes_;
  std::optional<V4l2Controls> cameraControls_;
  std::optional<V4l2Controls> videoProcAmp_;

  // Serialises the calls on fd_ and guards the state below.
  mutable std::mutex mutex_;
  Setting current_;
  bool applied_ = false;  // the driver is set to current_
  std::optional<FrameInterval> actualInterval_;
  UINT32 bytesPerLine_ = 0;
  std::vector<MappedBuffer> buffers_;
  bool streaming_ = false;
  bool shutDown_ = false;
  HRESULT lost_ = S_OK;  // set once the camera is gone
  std::optional<LONGLONG> lastTime_;
  // When the last usable frame came (or streaming started): a camera whose
  // frames are all damaged does not keep a read waiting for ever.
  std::chrono::steady_clock::time_point lastFrame_;

  std::mutex decoderMutex_;
  MjpegDecoder decoder_;
};

HRESULT V4l2Camera::GetCurrentType(IMFMediaType** type) const {
  if (!type) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (shutDown_) return MF_E_SHUTDOWN;
  HRESULT hr = Copy(nativeTypes_[current_.mode].Get(), type);
  if (FAILED(hr)) return hr;
  const std::optional<FrameInterval> interval = applied_ ? actualInterval_ : current_.interval;
  if (interval) {
    (*type)->SetUINT64(MF_MT_FRAME_RATE, PackPair(interval->denominator, interval->numerator));
  }
  return S_OK;
}

// The mode of a type's subtype and size, and its frame rate if it states one.
std::optional<Setting> V4l2Camera::SettingFor(IMFMediaType* type) const {
  GUID major{}, subtype{};
  UINT64 size = 0, rate = 0;
  if (SUCCEEDED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major != MFMediaType_Video) {
    return std::nullopt;
  }
  if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) ||
      FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &size))) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < modes_.size(); ++i) {
    const CameraMode& mode = modes_[i];
    if (mode.subtype != subtype || PackPair(mode.width, mode.height) != size) continue;
    Setting setting{i, std::nullopt};
    if (FAILED(type->GetUINT64(MF_MT_FRAME_RATE, &rate))) return setting;
    setting.interval = mode.Match(static_cast<UINT32>(rate >> 32), static_cast<UINT32>(rate));
    if (!setting.interval) return std::nullopt;
    return setting;
  }
  return std::nullopt;
}

HRESULT V4l2Camera::SetCurrentType(IMFMediaType* type) {
  if (!type) return E_POINTER;
  const std::optional<Setting> setting = SettingFor(type);
  if (!setting) return MF_E_INVALIDMEDIATYPE;
  std::lock_guard lock(mutex_);
  if (shutDown_) return MF_E_SHUTDOWN;
  if (FAILED(lost_)) return lost_;
  const HRESULT hr = Apply(*setting);
  if (FAILED(hr)) {
    if (applied_ && hr == MF_E_INVALIDMEDIATYPE) Apply(current_);  // back to what was set
    return hr;
  }
  current_ = *setting;
  applied_ = true;
  return S_OK;
}

// Sets the driver to a setting; the driver must take format, size and
// interval exactly as asked.
HRESULT V4l2Camera::Apply(const Setting& setting) {
  StopStreaming();
  const CameraMode& mode = modes_[setting.mode];
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = mode.width;
  format.fmt.pix.height = mode.height;
  format.fmt.pix.pixelformat = mode.pixelFormat;
  format.fmt.pix.field = V4L2_FIELD_ANY;
  int result = io_->Ioctl(fd_, VIDIOC_S_FMT, &format);
  if (result == -EINVAL) return MF_E_INVALIDMEDIATYPE;
  if (result < 0) return Fail(result);
  if (format.fmt.pix.width != mode.width || format.fmt.pix.height != mode.height ||
      format.fmt.pix.pixelformat != mode.pixelFormat) {
    return MF_E_INVALIDMEDIATYPE;
  }
  bytesPerLine_ = format.fmt.pix.bytesperline;
  v4l2_streamparm parameters{};
  parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (setting.interval) {
    parameters.parm.capture.timeperframe = {setting.interval->numerator,
                                            setting.interval->denominator};
    result = io_->Ioctl(fd_, VIDIOC_S_PARM, &parameters);
    if (result == -EINVAL || result == -ENOTTY) return MF_E_INVALIDMEDIATYPE;
    if (result < 0) return Fail(result);
    const v4l2_fract& chosen = parameters.parm.capture.timeperframe;
    if (IntervalTicks({chosen.numerator, chosen.denominator}) != IntervalTicks(*setting.interval)) {
      return MF_E_INVALIDMEDIATYPE;
    }
  } else if (io_->Ioctl(fd_, VIDIOC_G_PARM, &parameters) < 0) {
    parameters = v4l2_streamparm{};
  }
  const v4l2_fract& interval = parameters.parm.capture.timeperframe;
  actualInterval_.reset();
  if (interval.numerator > 0 && interval.denominator > 0) {
    actualInterval_ = FrameInterval{interval.numerator, interval.denominator};
  }
  return S_OK;
}

// Remembers a failure that means the camera is gone, so later calls fail alike.
HRESULT V4l2Camera::Fail(int error) {
  const HRESULT hr = CameraFailure(error);
  if (hr == MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED) lost_ = hr;
  return hr;
}

HRESULT V4l2Camera::StartStreaming() {
  if (!applied_) {
    HRESULT hr = Apply(current_);
    if (FAILED(hr)) return hr;
    applied_ = true;
  }
  v4l2_requestbuffers request{};
  request.count = kBufferCount;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  int result = io_->Ioctl(fd_, VIDIOC_REQBUFS, &request);
  if (result < 0) return Fail(result);
  for (UINT32 index = 0; index < request.count && result >= 0; ++index) {
    v4l2_buffer buffer{};
    buffer.index = index;
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    result = io_->Ioctl(fd_, VIDIOC_QUERYBUF, &buffer);
    if (result < 0) break;
    void* address = io_->Map(fd_, buffer.length, buffer.m.offset);
    if (!address) {
      result = -ENOMEM;
      break;
    }
    buffers_.push_back({address, buffer.length});
    result = io_->Ioctl(fd_, VIDIOC_QBUF, &buffer);
  }
  if (result >= 0 && buffers_.empty()) result = -EIO;
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (result >= 0) result = io_->Ioctl(fd_, VIDIOC_STREAMON, &type);
  streaming_ = true;  // so a failure below releases what was set up
  if (result < 0) {
    StopStreaming();
    return Fail(result);
  }
  lastFrame_ = std::chrono::steady_clock::now();
  return S_OK;
}

void V4l2Camera::StopStreaming() {
  if (!streaming_) return;
  streaming_ = false;
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  io_->Ioctl(fd_, VIDIOC_STREAMOFF, &type);
  for (const MappedBuffer& buffer : buffers_) io_->Unmap(buffer.address, buffer.length);
  buffers_.clear();
  v4l2_requestbuffers release{};
  release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  release.memory = V4L2_MEMORY_MMAP;
  io_->Ioctl(fd_, VIDIOC_REQBUFS, &release);
}

// The buffer's capture time on the monotonic clock, or the time it was taken
// when the driver stamps otherwise; each frame later than the one before.
LONGLONG V4l2Camera::Stamp(const v4l2_buffer& buffer) {
  const bool monotonic =
      (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
  LONGLONG time = MonotonicTicks();
  if (monotonic && (buffer.timestamp.tv_sec > 0 || buffer.timestamp.tv_usec > 0)) {
    time = LONGLONG{buffer.timestamp.tv_sec} * kTicksPerSecond +
           LONGLONG{buffer.timestamp.tv_usec} * 10;
  }
  if (lastTime_ && time <= *lastTime_) time = *lastTime_ + 1;
  lastTime_ = time;
  return time;
}

// Takes a filled buffer: an uncompressed or compressed frame as a sample, or
// a picture to decode into frame->jpeg. S_FALSE when none is ready (or the
// one taken was damaged).
HRESULT V4l2Camera::TakeFrame(IMFSample** sample, Frame* frame) {
  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  const int result = io_->Ioctl(fd_, VIDIOC_DQBUF, &buffer);
  if (result == -EAGAIN) return S_FALSE;
  if (result < 0) return Fail(result);
  HRESULT hr = S_FALSE;
  if (buffer.index < buffers_.size() && !(buffer.flags & V4L2_BUF_FLAG_ERROR)) {
    const CameraMode& mode = modes_[current_.mode];
    const auto* bytes = static_cast<const BYTE*>(buffers_[buffer.index].address);
    const std::size_t filled = std::min<std::size_t>(
        buffer.bytesused ? buffer.bytesused : buffer.length, buffers_[buffer.index].length);
    const LONGLONG time = Stamp(buffer);
    if (mode.decoded) {
      // Pictures that do not start as JPEG does are dropped before decoding.
      if (filled > 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
        *frame = Frame{time, Duration(), mode.width, mode.height, {}};
        frame->jpeg.assign(bytes, bytes + filled);
        frame->jpeg.resize(filled + MjpegDecoder::kPadding, 0);
        hr = S_OK;
      }
    } else if (const DWORD size = FrameBytes(mode.subtype, mode.width, mode.height)) {
      hr = MakeCaptureSample(
          size, time, Duration(),
          [&](BYTE* target) {
            return CopyFrame(mode.subtype, mode.width, mode.height, bytesPerLine_, bytes, filled,
                             target);
          },
          sample);
    } else if (filled > 0) {
      hr = MakeCaptureSample(
          static_cast<DWORD>(filled), time, Duration(),
          [&](BYTE* target) {
            std::memcpy(target, bytes, filled);
            return true;
          },
          sample);
    }
  }
  // A buffer that cannot go back is lost to the queue; a frame taken is still
  // delivered, and a camera that went away fails the next read.
  const int requeued = io_->Ioctl(fd_, VIDIOC_QBUF, &buffer);
  if (requeued < 0) Fail(requeued);
  return hr;
}

HRESULT V4l2Camera::Decode(const Frame& frame, IMFSample** sample) {
  std::lock_guard lock(decoderMutex_);
  return MakeCaptureSample(
      FrameBytes(MFVideoFormat_NV12, frame.width, frame.height), frame.time, frame.duration,
      [&](BYTE* target) {
        return decoder_.Decode(frame.jpeg.data(), frame.jpeg.size() - MjpegDecoder::kPadding,
                               frame.width, frame.height, target);
      },
      sample);
}

HRESULT V4l2Camera::Read(const CancelCheck& cancelled, LONGLONG* timestamp, IMFSample** sample) {
  if (!timestamp || !sample) return E_POINTER;
  *sample = nullptr;
  for (;;) {
    Frame frame;
    HRESULT hr = S_FALSE;
    {
      std::lock_guard lock(mutex_);
      if (shutDown_) return MF_E_SHUTDOWN;
      if (FAILED(lost_)) return lost_;
      if (cancelled && cancelled()) return E_ABORT;
      if (!streaming_) {
        hr = StartStreaming();
        if (FAILED(hr)) return hr;
      }
      hr = TakeFrame(sample, &frame);
      if (FAILED(hr)) return hr;
      if (hr == S_FALSE && std::chrono::steady_clock::now() - lastFrame_ > kStallLimit) {
        return kDeviceNotFunctioning;
      }
    }
    if (hr == S_OK && !frame.jpeg.empty()) hr = Decode(frame, sample);
    if (hr == S_OK) {
      LONGLONG time = 0;
      (*sample)->GetSampleTime(&time);
      *timestamp = time;
      std::lock_guard lock(mutex_);
      lastFrame_ = std::chrono::steady_clock::now();
      return S_OK;
    }
    if (FAILED(hr)) return hr;
    // Nothing yet: wait for the driver. The descriptor stays open while the
    // camera exists, so the wait needs no lock.
    const int events = io_->Poll(fd_, kPollSliceMs);
    if (events < 0) {
      std::lock_guard lock(mutex_);
      return Fail(events);
    }
    if (events & (POLLERR | POLLHUP | POLLNVAL)) {
      // The next DQBUF tells what happened; until then, no busy loop.
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
    }
  }
}

}  // namespace

std::shared_ptr<CaptureStream> OpenV4l2Camera(std::shared_ptr<V4l2Io> io, const std::string& path) {
  const int opened = io->Open(path);
  if (opened < 0) throw DeviceUnavailable{CameraFailure(opened)};
  Descriptor fd(*io, opened);
  v4l2_capability capability{};
  const int result = io->Ioctl(fd.get(), VIDIOC_QUERYCAP, &capability);
  if (result < 0) throw DeviceUnavailable{CameraFailure(result)};
  if (!IsCamera(capability)) throw DeviceUnavailable{MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED};
  // Asking for no buffers tells whether another process captures from the
  // camera, without taking it.
  v4l2_requestbuffers probe{};
  probe.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  probe.memory = V4L2_MEMORY_MMAP;
  const int busy = io->Ioctl(fd.get(), VIDIOC_REQBUFS, &probe);
  if (busy < 0) throw DeviceUnavailable{CameraFailure(busy)};
  std::vector<CameraMode> modes = ReadModes(*io, fd.get());
  if (modes.empty()) throw DeviceUnavailable{MF_E_INVALIDMEDIATYPE};
  auto camera = std::make_shared<V4l2Camera>(io, fd.get(), std::move(modes));
  fd.release();
  return camera;
}

std::vector<DeviceEntry> V4l2CameraProvider::ListDevices(const GUID& sourceType) const {
  if (sourceType != MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID) return {};
  std::vector<DeviceEntry> cameras;
  for (const std::string& path : io_->DeviceNodes()) {
    const int opened = io_->Open(path);
    if (opened < 0) continue;  // not ours to use
    Descriptor fd(*io_, opened);
    v4l2_capability capability{};
    if (io_->Ioctl(fd.get(), VIDIOC_QUERYCAP, &capability) < 0 || !IsCamera(capability)) continue;
    DeviceEntry entry;
    entry.friendlyName = Utf16FromUtf8(CardName(capability));
    entry.symbolicLink = Utf16FromUtf8(path);
    entry.open = [io = io_, path] { return OpenV4l2Camera(io, path); };
    cameras.push_back(std::move(entry));
  }
  return cameras;
}

}  // namespace tarsel::platform
