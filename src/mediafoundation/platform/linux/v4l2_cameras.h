// V4L2 cameras: every video node that captures video, opened into a stream
// with the driver's formats, memory-mapped streaming capture and the camera's
// controls behind IAMCameraControl and IAMVideoProcAmp.
#pragma once

#include <memory>
#include <string>

#include "mediafoundation/platform/capture_device.h"
#include "mediafoundation/platform/linux/v4l2_io.h"

namespace tarsel::platform {

class V4l2CameraProvider final : public DeviceProvider {
 public:
  explicit V4l2CameraProvider(std::shared_ptr<V4l2Io> io) : io_(std::move(io)) {}
  // The capture nodes, named by their card names; other classes list nothing.
  std::vector<DeviceEntry> ListDevices(const GUID& sourceType) const override;

 private:
  const std::shared_ptr<V4l2Io> io_;
};

// Opens a camera node into a stream. Throws DeviceUnavailable when the node is
// gone (MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED), another process captures from
// it (MF_E_HW_MFT_FAILED_START_STREAMING), it may not be opened (E_ACCESSDENIED),
// or it offers no format the layer knows (MF_E_INVALIDMEDIATYPE).
std::shared_ptr<CaptureStream> OpenV4l2Camera(std::shared_ptr<V4l2Io> io, const std::string& path);

}  // namespace tarsel::platform
