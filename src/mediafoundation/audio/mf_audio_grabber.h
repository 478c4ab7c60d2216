// The audio grabber: the shared grabber with the audio device class, the first
// audio stream and a catalogue of AudioConfig records.
#pragma once

#include <vector>

#include "mediafoundation/common/capture_grabber.h"

namespace tarsel {

class MFAudioGrabber : public CaptureGrabber {
 public:
  static constexpr char kNotInitialized[] = "Audio grabber not initialized";
  static constexpr char kOpenNotInitialized[] = "Audiograbber not initialized";
  static constexpr char kInitUnknown[] = "Unknown exception in MFAudioGrabber_Init";
  static constexpr char kOpenUnknown[] = "Unknown exception in MFAudioGrabber_OpenDevice";

  MFAudioGrabber();
  ~MFAudioGrabber() override;

  // Copies catalogue entry index into *config. Out of range, only the bit
  // depth, channel count, rate and block alignment are zeroed.
  void GetConfig(int32_t index, AudioConfig* config) const;

 protected:
  void ClearFormats() override { formats_.clear(); }
  void AddFormat(IMFMediaType* nativeType) override;
  std::size_t FormatCount() const override { return formats_.size(); }

 private:
  std::vector<AudioConfig> formats_;
};

}  // namespace tarsel
