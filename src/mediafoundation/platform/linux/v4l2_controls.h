// The camera property interfaces over a V4L2 camera's controls.
#pragma once

#include <mutex>
#include <vector>

#include "mediafoundation/platform/capture_device.h"
#include "mediafoundation/platform/linux/v4l2_io.h"

namespace tarsel::platform {

// How a property's values relate to its V4L2 control's.
enum class ControlUnit {
  kSame,
  kDegrees,     // the control counts arc seconds
  kLog2Seconds  // the control counts 100 µs
};

// One property of IAMCameraControl or IAMVideoProcAmp, the V4L2 control that
// holds its value and the one that switches it to automatic (0: none).
struct ControlMapping {
  LONG property;
  UINT32 valueControl;
  UINT32 autoControl;
  ControlUnit unit;
};

// The properties of IAMCameraControl, and of IAMVideoProcAmp.
const std::vector<ControlMapping>& CameraControlMappings();
const std::vector<ControlMapping>& VideoProcAmpMappings();

// Properties read from and written to the camera at each call. Ranges and
// defaults are the driver's; the flags tell automatic (1) or manual (2)
// operation from the matching automatic control. A property whose control the
// camera lacks fails with E_PROP_ID_UNSUPPORTED.
class V4l2Controls final : public PropertySet {
 public:
  // mutex serialises the calls on fd with the camera's capture.
  V4l2Controls(V4l2Io& io, int fd, std::mutex& mutex, const std::vector<ControlMapping>& mappings);

  // Whether the camera has the value control of any of mappings.
  static bool AnyPresent(V4l2Io& io, int fd, const std::vector<ControlMapping>& mappings);

  HRESULT GetRange(LONG id, LONG* minimum, LONG* maximum, LONG* step, LONG* defaultValue,
                   LONG* capsFlags) const override;
  HRESULT Get(LONG id, LONG* value, LONG* flags) const override;
  HRESULT Set(LONG id, LONG value, LONG flags) override;

 private:
  const ControlMapping* Find(LONG id) const;
  HRESULT IsAutomatic(const ControlMapping& mapping, bool* automatic) const;
  HRESULT SetAutomatic(const ControlMapping& mapping, bool automatic);

  V4l2Io& io_;
  const int fd_;
  std::mutex& deviceMutex_;
  const std::vector<ControlMapping>& mappings_;
};

}  // namespace tarsel::platform
