// The capture devices of a Linux system: V4L2 cameras and ALSA microphones,
// and what their streams share.
#pragma once

#include <string>
#include <vector>

#include "mediafoundation/platform/capture_device.h"

namespace tarsel::platform {

// The camera and microphone providers over the system's devices, in listing
// order.
std::vector<const DeviceProvider*> LinuxDeviceProviders();

// A device that no longer answers: HRESULT_FROM_WIN32(ERROR_GEN_FAILURE).
inline constexpr HRESULT kDeviceNotFunctioning = MakeHresult(0x8007001Fu);

// Text from a device (UTF-8, possibly not valid) as UTF-16; a byte that does not
// belong to a valid sequence becomes U+FFFD.
std::u16string Utf16FromUtf8(const std::string& text);

// The monotonic clock, on which V4L2 and ALSA stamp what they capture, in
// 100-ns units.
LONGLONG MonotonicTicks();
inline constexpr LONGLONG kTicksPerSecond = 10'000'000;

// Attribute helpers for native types.
UINT64 PackPair(UINT32 high, UINT32 low);

}  // namespace tarsel::platform
