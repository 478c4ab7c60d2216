// What a V4L2 camera can deliver: its modes (format, size, frame intervals) as
// the driver lists them, the native media types made from them, and the
// layout of uncompressed frames.
#pragma once

#include <optional>
#include <vector>

#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/platform/linux/v4l2_io.h"
#include "mediafoundation/platform/mf_types.h"

namespace tarsel::platform {

// Seconds one frame lasts, as V4L2 gives them.
struct FrameInterval {
  UINT32 numerator = 0;
  UINT32 denominator = 0;
};
// The interval rounded to 100-ns units, the platform's grid for frame times.
LONGLONG IntervalTicks(FrameInterval interval);

struct CameraMode {
  UINT32 pixelFormat = 0;  // what the driver captures
  GUID subtype{};          // what the reader delivers
  UINT32 width = 0;
  UINT32 height = 0;
  std::vector<FrameInterval> intervals;  // discrete intervals, as listed
  std::optional<FrameInterval> fastest;  // a stepwise range: its bounds
  std::optional<FrameInterval> slowest;
  bool stepwise = false;
  bool decoded = false;  // MJPEG pictures decoded to NV12 by the layer

  bool HasRates() const { return fastest.has_value(); }
  // The interval to ask the driver for, for a frame rate of numerator /
  // denominator frames a second; none when the mode has no such rate.
  std::optional<FrameInterval> Match(UINT32 numerator, UINT32 denominator) const;
};

// The driver's modes in its order (formats, then their sizes), followed by an
// NV12 mode for each MJPEG size that the camera does not give as NV12 itself.
std::vector<CameraMode> ReadModes(V4l2Io& io, int fd);

// The native media type of a mode: its rate range from the fastest and
// slowest intervals, the frame rate the fastest.
ComPtr<IMFMediaType> MakeNativeType(const CameraMode& mode);

// The platform's HRESULT for a failed V4L2 call (-errno): a node that is gone,
// a camera another process captures from, one that may not be opened; other
// failures mean a device that does not work.
HRESULT CameraFailure(int error);

// Bytes of one uncompressed frame without row padding; 0 for compressed ones.
DWORD FrameBytes(const GUID& subtype, UINT32 width, UINT32 height);

// Copies an uncompressed frame whose rows lie bytesPerLine apart into the
// layout without padding; false when source is too short for it.
bool CopyFrame(const GUID& subtype, UINT32 width, UINT32 height, UINT32 bytesPerLine,
               const BYTE* source, std::size_t sourceSize, BYTE* target);

}  // namespace tarsel::platform
