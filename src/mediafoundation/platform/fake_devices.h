// The fake capture devices, modelled on the fake media devices browsers offer
// for testing: two cameras and a microphone, listed only when the environment
// variable TARSEL_FAKE_DEVICES is "1".
#pragma once

#include "mediafoundation/platform/capture_device.h"

namespace tarsel::platform {

class FakeDeviceProvider final : public DeviceProvider {
 public:
  // Whether TARSEL_FAKE_DEVICES asks for the fake devices (read at each listing).
  static bool Enabled();
  std::vector<DeviceEntry> ListDevices(const GUID& sourceType) const override;
};

// The streams behind the fake devices, for tests of the layer itself.
std::shared_ptr<CaptureStream> OpenVirtualCamera();
std::shared_ptr<CaptureStream> OpenSecondCamera();
std::shared_ptr<CaptureStream> OpenVirtualMicrophone();

}  // namespace tarsel::platform
