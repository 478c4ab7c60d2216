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

// A sample of size bytes, filled by fill, with its time and duration.
template <class Fill>
HRESULT MakeCaptureSample(DWORD size, LONGLONG time, LONGLONG duration, Fill fill,
                          IMFSample** sample);

// Attribute helpers for native types.
UINT64 PackPair(UINT32 high, UINT32 low);

// ------------------------------------------------------------ implementation

template <class Fill>
HRESULT MakeCaptureSample(DWORD size, LONGLONG time, LONGLONG duration, Fill fill,
                          IMFSample** sample) {
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = MFCreateMemoryBuffer(size, buffer.Put());
  if (FAILED(hr)) return hr;
  BYTE* bytes = nullptr;
  hr = buffer->Lock(&bytes, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  const bool filled = fill(bytes);
  buffer->Unlock();
  if (!filled) return S_FALSE;
  buffer->SetCurrentLength(size);
  ComPtr<IMFSample> made;
  hr = MFCreateSample(made.Put());
  if (SUCCEEDED(hr)) hr = made->AddBuffer(buffer.Get());
  if (SUCCEEDED(hr)) hr = made->SetSampleTime(time);
  if (SUCCEEDED(hr)) hr = made->SetSampleDuration(duration);
  if (SUCCEEDED(hr)) *sample = made.Detach();
  return hr;
}

}  // namespace tarsel::platform
