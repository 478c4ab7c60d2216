#include "mediafoundation/audio/mf_audio_grabber.h"

#include <cstring>

namespace tarsel {

MFAudioGrabber::MFAudioGrabber()
    : CaptureGrabber(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID,
                     MF_SOURCE_READER_FIRST_AUDIO_STREAM, true) {}

MFAudioGrabber::~MFAudioGrabber() { Close(); }

void MFAudioGrabber::AddFormat(IMFMediaType* nativeType) {
  AudioConfig config{};
  // A number the type does not carry stays 0.
  nativeType->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &config.bitsPerSample);
  nativeType->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &config.numChannels);
  nativeType->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &config.samplesPerSecond);
  nativeType->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &config.blockAlignment);
  nativeType->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &config.avgBytesPerSecond);
  nativeType->GetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, &config.allSamplesIndependent);
  GUID subtype{};  // a type without a subtype is listed with the null GUID
  nativeType->GetGUID(MF_MT_SUBTYPE, &subtype);
  static_assert(sizeof(subtype) == sizeof(config.subtype), "GUIDs share one layout");
  std::memcpy(&config.subtype, &subtype, sizeof subtype);
  formats_.push_back(config);
}

void MFAudioGrabber::GetConfig(int32_t index, AudioConfig* config) const {
  if (!config) throw Message(kNullConfig);
  if (index >= 0 && static_cast<std::size_t>(index) < formats_.size()) {
    *config = formats_[index];
    return;
  }
  config->bitsPerSample = 0;
  config->numChannels = 0;
  config->samplesPerSecond = 0;
  config->blockAlignment = 0;
}

}  // namespace tarsel
