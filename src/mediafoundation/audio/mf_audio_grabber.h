// The audio grabber: the shared grabber with the audio device class, the first
// audio stream and a catalogue of AudioConfig records. A format in PCM is
// delivered as captured; any other goes through the resampler and arrives as
// 16-bit stereo PCM at 44,100 Hz.
#pragma once

#include <mutex>
#include <vector>

#include "mediafoundation/common/capture_grabber.h"

namespace tarsel {

class MFAudioGrabber : public CaptureGrabber {
 public:
  static constexpr char kNotInitialized[] = "Audio grabber not initialized";
  static constexpr char kOpenNotInitialized[] = "Audiograbber not initialized";
  static constexpr char kInitUnknown[] = "Unknown exception in MFAudioGrabber_Init";
  static constexpr char kOpenUnknown[] = "Unknown exception in MFAudioGrabber_OpenDevice";
  static constexpr char kStartNotInitialized[] = "Cam grabber not initialized";
  static constexpr char kStartUnknown[] = "Unknown exception in Brevant_Init";
  static constexpr char kSourceNotActivated[] = "Video source not activated";
  static constexpr char kReaderNotActivated[] = "Video reader not activated";
  static constexpr char kFormatOutOfBounds[] = "format idx out of bounds";
  static constexpr char kSetSubtypeFailed[] = "Failed to set video grabber MF_MT_SUBTYPE";
  static constexpr char kSetBitsFailed[] = "Failed to set MF_MT_AUDIO_BITS_PER_SAMPLE";
  static constexpr char kSetChannelsFailed[] = "Failed to set MF_MT_AUDIO_NUM_CHANNELS";
  static constexpr char kSetRateFailed[] = "Failed to set MF_MT_AUDIO_SAMPLES_PER_SECOND";
  static constexpr char kSetByteRateFailed[] = "Failed to set MF_MT_AUDIO_AVG_BYTES_PER_SECOND";
  static constexpr char kSetAlignmentFailed[] = "Failed to set MF_MT_AUDIO_BLOCK_ALIGNMENT";
  static constexpr char kSetReaderTypeFailed[] = "Failed to set media type on source reader";

  MFAudioGrabber();
  ~MFAudioGrabber() override;

  // Copies catalogue entry index into *config. Out of range, only the bit
  // depth, channel count, rate and block alignment are zeroed.
  void GetConfig(int32_t index, AudioConfig* config) const;
  // Sets the reader to catalogue entry formatIndex, sets up the resampler for a
  // format other than PCM, and starts delivery. A start while a sample is being
  // processed waits for it, so each sample takes one path to the end.
  void StartGrabbing(int32_t formatIndex);

 protected:
  void ClearFormats() override { formats_.clear(); }
  void AddFormat(IMFMediaType* nativeType) override;
  std::size_t FormatCount() const override { return formats_.size(); }
  void ProcessSample(IMFSample* sample, LONGLONG timestamp) override;
  // The resampler belongs to the opened device's format.
  void ReleaseDeviceInterfaces() override;

 private:
  // The reader's media type for a catalogue entry.
  static ComPtr<IMFMediaType> ReaderType(const AudioConfig& config);

  std::vector<AudioConfig> formats_;
  // Taken by the worker for each sample and by a start; recursive, as the
  // caller's callback may start again from inside a delivery.
  std::recursive_mutex processing_;
  ComPtr<IMFTransform> resampler_;
  bool useResampler_ = false;
};

}  // namespace tarsel
