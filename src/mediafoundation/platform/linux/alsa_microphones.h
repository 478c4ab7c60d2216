// ALSA microphones: the hardware capture PCMs, named by their descriptions,
// captured in 10 ms blocks on the reader's thread and stamped from the
// capture clock.
#pragma once

#include <memory>
#include <string>

#include "mediafoundation/platform/capture_device.h"
#include "mediafoundation/platform/linux/alsa_io.h"

namespace tarsel::platform {

class AlsaMicrophoneProvider final : public DeviceProvider {
 public:
  explicit AlsaMicrophoneProvider(std::shared_ptr<AlsaIo> io) : io_(std::move(io)) {}
  // The capture PCMs; nothing when ALSA is missing or not configured.
  std::vector<DeviceEntry> ListDevices(const GUID& sourceType) const override;

 private:
  const std::shared_ptr<AlsaIo> io_;
};

// Opens a capture PCM into a stream whose native types are, in this order and
// where the device takes them: 16-bit PCM, then 32-bit float; each at 44100
// and then 48000 Hz; each mono and then stereo. A device that takes none of
// them directly is opened through ALSA's converting plug-in, which takes all.
// Throws DeviceUnavailable when the device is gone
// (MF_E_AUDIO_RECORDING_DEVICE_INVALIDATED), in use
// (MF_E_AUDIO_RECORDING_DEVICE_IN_USE) or may not be opened (E_ACCESSDENIED).
std::shared_ptr<CaptureStream> OpenAlsaMicrophone(std::shared_ptr<AlsaIo> io,
                                                  const std::string& name);

}  // namespace tarsel::platform
