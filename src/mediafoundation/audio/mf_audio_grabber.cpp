#include "mediafoundation/audio/mf_audio_grabber.h"

#include <cstring>
#include <new>

#include "mediafoundation/audio/audio_resampling.h"

namespace tarsel {

namespace {

GUID GuidOf(const TarselGuid& guid) {
  GUID result;
  static_assert(sizeof result == sizeof guid, "GUIDs share one layout");
  std::memcpy(&result, &guid, sizeof result);
  return result;
}

}  // namespace

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

void MFAudioGrabber::StartGrabbing(int32_t formatIndex) {
  if (!MediaSource()) throw Message(kSourceNotActivated);
  if (!SourceReader()) throw Message(kReaderNotActivated);
  if (formatIndex < 0 || static_cast<std::size_t>(formatIndex) >= formats_.size()) {
    throw Message(kFormatOutOfBounds);
  }
  const AudioConfig config = formats_[formatIndex];
  ComPtr<IMFMediaType> type = ReaderType(config);
  const bool useResampler = GuidOf(config.subtype) != MFAudioFormat_PCM;

  std::lock_guard lock(processing_);
  if (FAILED(SourceReader()->SetCurrentMediaType(0, nullptr, type.Get()))) {
    throw Message(kSetReaderTypeFailed);
  }
  // The reader now delivers the new format: the path follows it at once.
  useResampler_ = useResampler;
  if (useResampler) {
    // A resampler made for another format must not see this one, also when
    // the set-up below fails (samples are then dropped until the next start).
    resampler_.Reset();
    resampler_ = CreateResampler(type.Get());
  }
  BeginGrabbing();
}

ComPtr<IMFMediaType> MFAudioGrabber::ReaderType(const AudioConfig& config) {
  ComPtr<IMFMediaType> type;
  if (FAILED(MFCreateMediaType(type.Put()))) throw std::bad_alloc();
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  if (FAILED(type->SetGUID(MF_MT_SUBTYPE, GuidOf(config.subtype)))) {
    throw Message(kSetSubtypeFailed);
  }
  if (FAILED(type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, config.bitsPerSample))) {
    throw Message(kSetBitsFailed);
  }
  if (FAILED(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, config.numChannels))) {
    throw Message(kSetChannelsFailed);
  }
  if (FAILED(type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, config.samplesPerSecond))) {
    throw Message(kSetRateFailed);
  }
  if (FAILED(type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, config.avgBytesPerSecond))) {
    throw Message(kSetByteRateFailed);
  }
  if (FAILED(type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, config.blockAlignment))) {
    throw Message(kSetAlignmentFailed);
  }
  return type;
}

void MFAudioGrabber::ProcessSample(IMFSample* sample, LONGLONG timestamp) {
  std::lock_guard lock(processing_);
  if (!useResampler_) {
    CaptureGrabber::ProcessSample(sample, timestamp);  // the bytes as captured
    return;
  }
  // Held here: a start from inside the callback may replace the member.
  ComPtr<IMFTransform> resampler = resampler_;
  if (!resampler) return;  // the last start could not set one up
  Resample(resampler.Get(), sample, timestamp,
           [this](LONGLONG time, uint32_t size, uint8_t* block) {
             Deliver(time, size, block);
             return IsGrabbing();  // a callback that stopped grabbing gets no more
           });
}

void MFAudioGrabber::ReleaseDeviceInterfaces() {
  std::lock_guard lock(processing_);
  resampler_.Reset();
  useResampler_ = false;
}

}  // namespace tarsel
