// The camera's modes from the driver's enumeration of formats, frame sizes and
// frame intervals, and the layout of the frames it delivers.
#include "mediafoundation/platform/linux/v4l2_modes.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>

#include "mediafoundation/platform/linux/linux_devices.h"

namespace tarsel::platform {

namespace {

// Bounds on the driver's lists, so a faulty driver cannot keep the listing going.
constexpr UINT32 kMaxFormats = 64;
constexpr UINT32 kMaxSizes = 256;
constexpr UINT32 kMaxIntervals = 256;

struct PixelFormatMapping {
  UINT32 pixelFormat;
  const GUID* subtype;
};
constexpr PixelFormatMapping kPixelFormats[] = {
    {V4L2_PIX_FMT_YUYV, &MFVideoFormat_YUY2},    {V4L2_PIX_FMT_UYVY, &MFVideoFormat_UYVY},
    {V4L2_PIX_FMT_NV12, &MFVideoFormat_NV12},    {V4L2_PIX_FMT_YUV420, &MFVideoFormat_I420},
    {V4L2_PIX_FMT_YVU420, &MFVideoFormat_YV12},  {V4L2_PIX_FMT_MJPEG, &MFVideoFormat_MJPG},
    {V4L2_PIX_FMT_JPEG, &MFVideoFormat_MJPG},    {V4L2_PIX_FMT_BGR24, &MFVideoFormat_RGB24},
    {V4L2_PIX_FMT_XBGR32, &MFVideoFormat_RGB32}, {V4L2_PIX_FMT_BGR32, &MFVideoFormat_RGB32},
    {V4L2_PIX_FMT_H264, &MFVideoFormat_H264},
};

const GUID* SubtypeOf(UINT32 pixelFormat) {
  for (const auto& mapping : kPixelFormats) {
    if (mapping.pixelFormat == pixelFormat) return mapping.subtype;
  }
  return nullptr;
}

bool IsJpeg(UINT32 pixelFormat) {
  return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

// Sizes offered from a stepwise or continuous range: the common ones that the
// range reaches on its grid, and its largest, smallest area first.
constexpr std::pair<UINT32, UINT32> kCommonSizes[] = {
    {160, 120},  {176, 144},  {320, 240},  {352, 288},   {640, 360},   {640, 480},   {800, 600},
    {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080}, {2560, 1440}, {3840, 2160},
};

bool OnGrid(UINT32 value, UINT32 minimum, UINT32 maximum, UINT32 step) {
  return value >= minimum && value <= maximum && (step == 0 || (value - minimum) % step == 0);
}

std::vector<std::pair<UINT32, UINT32>> StepwiseSizes(const v4l2_frmsize_stepwise& range) {
  std::vector<std::pair<UINT32, UINT32>> sizes;
  for (const auto& [width, height] : kCommonSizes) {
    if (OnGrid(width, range.min_width, range.max_width, range.step_width) &&
        OnGrid(height, range.min_height, range.max_height, range.step_height)) {
      sizes.emplace_back(width, height);
    }
  }
  if (range.max_width > 0 && range.max_height > 0 &&
      std::find(sizes.begin(), sizes.end(), std::make_pair(range.max_width, range.max_height)) ==
          sizes.end()) {
    sizes.emplace_back(range.max_width, range.max_height);
  }
  return sizes;
}

bool Valid(const v4l2_fract& fraction) {
  return fraction.numerator > 0 && fraction.denominator > 0;
}
FrameInterval From(const v4l2_fract& fraction) {
  return {fraction.numerator, fraction.denominator};
}
// Compares the time two intervals last, without rounding.
bool Shorter(FrameInterval a, FrameInterval b) {
  return UINT64{a.numerator} * b.denominator < UINT64{b.numerator} * a.denominator;
}

void ReadIntervals(V4l2Io& io, int fd, CameraMode& mode) {
  for (UINT32 index = 0; index < kMaxIntervals; ++index) {
    v4l2_frmivalenum entry{};
    entry.index = index;
    entry.pixel_format = mode.pixelFormat;
    entry.width = mode.width;
    entry.height = mode.height;
    if (io.Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &entry) < 0) break;
    if (entry.type != V4L2_FRMIVAL_TYPE_DISCRETE) {
      // A range: listed once, as its bounds.
      if (index == 0 && Valid(entry.stepwise.min) && Valid(entry.stepwise.max)) {
        mode.stepwise = true;
        mode.fastest = From(entry.stepwise.min);
        mode.slowest = From(entry.stepwise.max);
      }
      break;
    }
    if (!Valid(entry.discrete)) continue;
    const FrameInterval interval = From(entry.discrete);
    mode.intervals.push_back(interval);
    if (!mode.fastest || Shorter(interval, *mode.fastest)) mode.fastest = interval;
    if (!mode.slowest || Shorter(*mode.slowest, interval)) mode.slowest = interval;
  }
}

void ReadSizes(V4l2Io& io, int fd, UINT32 pixelFormat, const GUID& subtype,
               std::vector<CameraMode>& modes) {
  std::vector<std::pair<UINT32, UINT32>> sizes;
  for (UINT32 index = 0; index < kMaxSizes; ++index) {
    v4l2_frmsizeenum entry{};
    entry.index = index;
    entry.pixel_format = pixelFormat;
    if (io.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &entry) < 0) break;
    if (entry.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
      if (index == 0) sizes = StepwiseSizes(entry.stepwise);
      break;
    }
    if (entry.discrete.width > 0 && entry.discrete.height > 0) {
      sizes.emplace_back(entry.discrete.width, entry.discrete.height);
    }
  }
  for (const auto& [width, height] : sizes) {
    CameraMode mode;
    mode.pixelFormat = pixelFormat;
    mode.subtype = subtype;
    mode.width = width;
    mode.height = height;
    ReadIntervals(io, fd, mode);
    modes.push_back(std::move(mode));
  }
}

// NV12 decoded from MJPEG, for each MJPEG size without an NV12 mode of its own.
void AddDecodedModes(std::vector<CameraMode>& modes) {
  const auto hasNv12 = [&](UINT32 width, UINT32 height) {
    return std::any_of(modes.begin(), modes.end(), [&](const CameraMode& mode) {
      return mode.subtype == MFVideoFormat_NV12 && mode.width == width && mode.height == height;
    });
  };
  const std::size_t listed = modes.size();
  for (std::size_t i = 0; i < listed; ++i) {
    if (!IsJpeg(modes[i].pixelFormat) || hasNv12(modes[i].width, modes[i].height)) continue;
    CameraMode decoded = modes[i];
    decoded.subtype = MFVideoFormat_NV12;
    decoded.decoded = true;
    modes.push_back(std::move(decoded));
  }
}

UINT32 RowBytes(const GUID& subtype, UINT32 width);

UINT64 RateOf(FrameInterval interval) {
  const UINT32 divisor = std::gcd(interval.numerator, interval.denominator);
  return PackPair(interval.denominator / divisor, interval.numerator / divisor);
}

}  // namespace

HRESULT CameraFailure(int error) {
  switch (-error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
    case EBUSY:
      return MF_E_HW_MFT_FAILED_START_STREAMING;
    case EACCES:
    case EPERM:
      return E_ACCESSDENIED;
    case ENOMEM:
      return E_OUTOFMEMORY;
    default:
      return kDeviceNotFunctioning;
  }
}

LONGLONG IntervalTicks(FrameInterval interval) {
  if (interval.denominator == 0) return 0;
  const UINT64 scaled = UINT64{interval.numerator} * kTicksPerSecond;
  return static_cast<LONGLONG>((scaled + interval.denominator / 2) / interval.denominator);
}

std::optional<FrameInterval> CameraMode::Match(UINT32 numerator, UINT32 denominator) const {
  if (numerator == 0 || denominator == 0 || !fastest) return std::nullopt;
  const FrameInterval wanted{denominator, numerator};
  const LONGLONG ticks = IntervalTicks(wanted);
  if (stepwise) {
    if (ticks < IntervalTicks(*fastest) || ticks > IntervalTicks(*slowest)) return std::nullopt;
    return wanted;
  }
  for (const FrameInterval& interval : intervals) {
    if (IntervalTicks(interval) == ticks) return interval;
  }
  return std::nullopt;
}

std::vector<CameraMode> ReadModes(V4l2Io& io, int fd) {
  std::vector<CameraMode> modes;
  for (UINT32 index = 0; index < kMaxFormats; ++index) {
    v4l2_fmtdesc format{};
    format.index = index;
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (io.Ioctl(fd, VIDIOC_ENUM_FMT, &format) < 0) break;
    if (const GUID* subtype = SubtypeOf(format.pixelformat)) {
      ReadSizes(io, fd, format.pixelformat, *subtype, modes);
    }
  }
  AddDecodedModes(modes);
  return modes;
}

ComPtr<IMFMediaType> MakeNativeType(const CameraMode& mode) {
  ComPtr<IMFMediaType> type;
  if (FAILED(MFCreateMediaType(type.Put()))) return type;
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, mode.subtype);
  type->SetUINT64(MF_MT_FRAME_SIZE, PackPair(mode.width, mode.height));
  if (mode.HasRates()) {
    type->SetUINT64(MF_MT_FRAME_RATE, RateOf(*mode.fastest));
    type->SetUINT64(MF_MT_FRAME_RATE_RANGE_MAX, RateOf(*mode.fastest));
    type->SetUINT64(MF_MT_FRAME_RATE_RANGE_MIN, RateOf(*mode.slowest));
  }
  type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, PackPair(1, 1));
  type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
  if (const DWORD bytes = FrameBytes(mode.subtype, mode.width, mode.height)) {
    type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, 1);
    type->SetUINT32(MF_MT_SAMPLE_SIZE, bytes);
    type->SetUINT32(MF_MT_DEFAULT_STRIDE, RowBytes(mode.subtype, mode.width));
  } else {
    type->SetUINT32(MF_MT_COMPRESSED, 1);
  }
  return type;
}

namespace {

// One plane of an uncompressed frame: rows of rowBytes, rowsOf them, which in
// the driver's layout start at offset and lie stride apart.
struct Plane {
  std::size_t rowBytes;
  std::size_t rows;
  std::size_t offset;
  std::size_t stride;
};

// The planes of a frame whose first plane's rows lie bytesPerLine apart.
std::vector<Plane> PlanesOf(const GUID& subtype, UINT32 width, UINT32 height, UINT32 bytesPerLine) {
  const std::size_t chromaWidth = (width + std::size_t{1}) / 2;
  const std::size_t chromaHeight = (height + std::size_t{1}) / 2;
  const auto packed = [&](std::size_t rowBytes) {
    return std::vector<Plane>{{rowBytes, height, 0, std::max<std::size_t>(bytesPerLine, rowBytes)}};
  };
  if (subtype == MFVideoFormat_YUY2 || subtype == MFVideoFormat_UYVY)
    return packed(chromaWidth * 4);
  if (subtype == MFVideoFormat_RGB24) return packed(std::size_t{width} * 3);
  if (subtype == MFVideoFormat_RGB32) return packed(std::size_t{width} * 4);
  const std::size_t luma = std::max<std::size_t>(bytesPerLine, width);
  if (subtype == MFVideoFormat_NV12) {
    return {{width, height, 0, luma}, {chromaWidth * 2, chromaHeight, luma * height, luma}};
  }
  if (subtype == MFVideoFormat_I420 || subtype == MFVideoFormat_YV12) {
    const std::size_t chroma = std::max<std::size_t>(luma / 2, chromaWidth);
    const std::size_t first = luma * height;
    return {{width, height, 0, luma},
            {chromaWidth, chromaHeight, first, chroma},
            {chromaWidth, chromaHeight, first + chroma * chromaHeight, chroma}};
  }
  return {};
}

UINT32 RowBytes(const GUID& subtype, UINT32 width) {
  const std::vector<Plane> planes = PlanesOf(subtype, width, 1, 0);
  return planes.empty() ? 0 : static_cast<UINT32>(planes.front().rowBytes);
}

}  // namespace

DWORD FrameBytes(const GUID& subtype, UINT32 width, UINT32 height) {
  std::size_t total = 0;
  for (const Plane& plane : PlanesOf(subtype, width, height, 0))
    total += plane.rowBytes * plane.rows;
  return static_cast<DWORD>(total);
}

bool CopyFrame(const GUID& subtype, UINT32 width, UINT32 height, UINT32 bytesPerLine,
               const BYTE* source, std::size_t sourceSize, BYTE* target) {
  const std::vector<Plane> planes = PlanesOf(subtype, width, height, bytesPerLine);
  for (const Plane& plane : planes) {
    if (plane.rows == 0) continue;
    const std::size_t end = plane.offset + (plane.rows - 1) * plane.stride + plane.rowBytes;
    if (end > sourceSize) return false;
  }
  for (const Plane& plane : planes) {
    for (std::size_t row = 0; row < plane.rows; ++row) {
      std::memcpy(target, source + plane.offset + row * plane.stride, plane.rowBytes);
      target += plane.rowBytes;
    }
  }
  return !planes.empty();
}

}  // namespace tarsel::platform
