// The system's providers, and what the camera and microphone streams share.
#include "mediafoundation/platform/linux/linux_devices.h"

#include <time.h>

#include "mediafoundation/platform/linux/alsa_microphones.h"
#include "mediafoundation/platform/linux/v4l2_cameras.h"

namespace tarsel::platform {

std::vector<const DeviceProvider*> LinuxDeviceProviders() {
  static const V4l2CameraProvider cameras(SystemV4l2Io());
  static const AlsaMicrophoneProvider microphones(SystemAlsaIo());
  return {&cameras, &microphones};
}

std::u16string Utf16FromUtf8(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < text.size()) {
    const unsigned char lead = byte(i);
    int length = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      length = 4;
      code = lead & 0x07;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      valid = (byte(i + k) & 0xC0) == 0x80;
      code = code << 6 | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && code >= kSmallest[length] && code <= 0x10FFFF &&
            !(code >= 0xD800 && code <= 0xDFFF);
    if (!valid) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return out;
}

LONGLONG MonotonicTicks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return LONGLONG{now.tv_sec} * kTicksPerSecond + now.tv_nsec / 100;
}

UINT64 PackPair(UINT32 high, UINT32 low) { return UINT64{high} << 32 | low; }

}  // namespace tarsel::platform
