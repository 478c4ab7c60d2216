#include "mediafoundation/encoder/wmf_encoder.h"

#include <cstring>

#include "common/boundary.h"
#include "mediafoundation/common/hresult_text.h"

namespace tarsel {

namespace {

constexpr UINT64 kTicksPerSecond = 10000000;
constexpr UINT32 kProgressive = 2;  // MFVideoInterlace_Progressive
constexpr UINT32 kRateControlQuality = 3;
constexpr UINT32 kAacBytesPerSecond = 24000;  // 192 kbit/s whatever the input

constexpr UINT64 Pack(UINT32 high, UINT32 low) { return UINT64{high} << 32 | low; }

// The input's frame rate: 90 and 120 frames a second as their 100-ns frame
// periods (111,111 and 83,333 units); the output keeps frameRate / 1.
UINT64 InputFrameRate(UINT32 frameRate) {
  if (frameRate == 90) return Pack(kTicksPerSecond, 111111);
  if (frameRate == 120) return Pack(kTicksPerSecond, 83333);
  return Pack(frameRate, 1);
}

}  // namespace

int64_t SecondsToTicks(double seconds) {
  const double ticks = seconds * static_cast<double>(kTicksPerSecond);
  // The int64 range is [-2^63, 2^63); NaN fails both comparisons.
  if (!(ticks >= -9223372036854775808.0 && ticks < 9223372036854775808.0)) {
    throw Message(WMFEncoder::kBadTime);
  }
  return static_cast<int64_t>(ticks);
}

WMFEncoder::~WMFEncoder() {
  // Completes the file; a failure here has no caller left to hear of it.
  if (sinkWriter_) sinkWriter_->Finalize();
}

void WMFEncoder::Open(const tarsel_char16* url, EncoderSettings* settings) {
  if (!url) throw Message(kNullUrl);
  if (!settings) throw Message(kNullSettings);
  if (settings->frameRate == 0) throw Message(kZeroFrameRate);
  if (UINT64{settings->width} * settings->height * 4 > UINT32{0xFFFFFFFF}) {
    throw Message(kFrameTooLarge);
  }
  width_ = settings->width;
  height_ = settings->height;
  frameDuration_ = settings->zeroDuration ? 0 : kTicksPerSecond / settings->frameRate;

  ComPtr<IMFAttributes> attributes;
  MFCreateAttributes(attributes.Put(), 3);
  if (attributes) attributes->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, TRUE);
  ThrowIfFailed(MFCreateSinkWriterFromURL(url, nullptr, attributes.Get(), sinkWriter_.Put()));
  AddVideoStream(*settings);
  if (settings->hasAudio) AddAudioStream(*settings);
  ThrowIfFailed(sinkWriter_->BeginWriting());
  hasAudio_ = settings->hasAudio != 0;
  writing_ = true;
}

void WMFEncoder::SetVideoOutputAttributes(IMFMediaType* type,
                                          const EncoderSettings& settings) const {
  ThrowIfFailed(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
  ThrowIfFailed(type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264));
  ThrowIfFailed(type->SetUINT32(MF_MT_AVG_BITRATE, settings.bitRateKbps * 1024));
  ThrowIfFailed(type->SetUINT32(MF_MT_INTERLACE_MODE, kProgressive));
  ThrowIfFailed(type->SetUINT64(MF_MT_FRAME_SIZE, Pack(width_, height_)));
  ThrowIfFailed(type->SetUINT64(MF_MT_FRAME_RATE, Pack(settings.frameRate, 1)));
  ThrowIfFailed(type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE));
  ThrowIfFailed(type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Pack(1, 1)));
  ThrowIfFailed(type->SetUINT32(MF_MT_MPEG2_PROFILE, settings.profile));
  ThrowIfFailed(type->SetUINT32(MF_MT_MPEG2_LEVEL, settings.level));
  ThrowIfFailed(type->SetUINT32(CODECAPI_AVEncCommonRateControlMode, settings.rateControlMode));
  if (settings.rateControlMode == kRateControlQuality) {
    ThrowIfFailed(type->SetUINT32(CODECAPI_AVEncCommonQuality, settings.quality));
    ThrowIfFailed(type->SetUINT32(CODECAPI_AVEncVideoMinQP, settings.minQP));
  }
}

void WMFEncoder::AddVideoStream(const EncoderSettings& settings) {
  ComPtr<IMFMediaType> output;
  ThrowIfFailed(MFCreateMediaType(output.Put()));
  SetVideoOutputAttributes(output.Get(), settings);
  ThrowIfFailed(sinkWriter_->AddStream(output.Get(), &videoStreamIndex_));

  ComPtr<IMFMediaType> input;
  ThrowIfFailed(MFCreateMediaType(input.Put()));
  ThrowIfFailed(input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
  ThrowIfFailed(input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12));
  ThrowIfFailed(input->SetUINT32(MF_MT_INTERLACE_MODE, kProgressive));
  ThrowIfFailed(input->SetUINT64(MF_MT_FRAME_SIZE, Pack(width_, height_)));
  ThrowIfFailed(input->SetUINT64(MF_MT_FRAME_RATE, InputFrameRate(settings.frameRate)));
  ThrowIfFailed(input->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Pack(1, 1)));
  ThrowIfFailed(sinkWriter_->SetInputMediaType(videoStreamIndex_, input.Get(), nullptr));
}

void WMFEncoder::AddAudioStream(EncoderSettings& settings) {
  // Written back before any audio step, so also when one of them fails.
  const UINT32 blockAlignment = settings.bitsPerSample / 8 * settings.numChannels;
  if (settings.blockAlignment != blockAlignment) settings.blockAlignment = blockAlignment;

  ComPtr<IMFMediaType> output;
  ThrowIfFailed(MFCreateMediaType(output.Put()));
  ThrowIfFailed(output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio));
  ThrowIfFailed(output->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC));
  ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, settings.numChannels));
  ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, settings.samplesPerSecond));
  ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, settings.bitsPerSample));
  ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, kAacBytesPerSecond));
  ThrowIfFailed(sinkWriter_->AddStream(output.Get(), &audioStreamIndex_));

  ComPtr<IMFMediaType> input;
  ThrowIfFailed(MFCreateMediaType(input.Put()));
  ThrowIfFailed(input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio));
  ThrowIfFailed(input->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM));
  ThrowIfFailed(input->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, settings.numChannels));
  ThrowIfFailed(input->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, settings.samplesPerSecond));
  ThrowIfFailed(input->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, settings.bitsPerSample));
  ThrowIfFailed(input->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, blockAlignment));
  ThrowIfFailed(sinkWriter_->SetInputMediaType(audioStreamIndex_, input.Get(), nullptr));
}

void WMFEncoder::AddVideoFrame(const uint8_t* picture, const uint32_t* byteCount, int64_t time) {
  if (!writing_) throw Message(kNotInitialized);
  if (!byteCount) throw Message(kNullByteCount);
  if (!picture) throw Message(kNullPicture);
  // The sample's buffer holds width x height x 4 bytes; an NV12 picture needs
  // width x height x 3 / 2 of them, and fewer would be encoded from bytes
  // nobody wrote.
  const UINT64 pixels = UINT64{width_} * height_;
  if (*byteCount > pixels * 4) throw Message(kPictureTooLong);
  if (*byteCount < pixels * 3 / 2) throw Message(kPictureTooShort);
  WriteBytes(videoStreamIndex_, picture, *byteCount, static_cast<DWORD>(pixels * 4), time,
             static_cast<int64_t>(frameDuration_));
}

void WMFEncoder::AddAudioSamples(const void* pcm, const uint32_t* byteCount, int64_t time) {
  if (!writing_) throw Message(kNotInitialized);
  // Without an audio stream the samples would go to the video stream.
  if (!hasAudio_) throw Message(kNoAudioStream);
  if (!byteCount) throw Message(kNullByteCount);
  if (!pcm && *byteCount > 0) throw Message(kNullSamples);
  WriteBytes(audioStreamIndex_, pcm, *byteCount, *byteCount, time, -1);
}

void WMFEncoder::WriteBytes(DWORD stream, const void* bytes, uint32_t byteCount, DWORD bufferLength,
                            int64_t time, int64_t duration) {
  std::lock_guard lock(writeLock_);
  ComPtr<IMFMediaBuffer> buffer;
  ThrowIfFailed(MFCreateMemoryBuffer(bufferLength, buffer.Put()));
  BYTE* data = nullptr;
  const HRESULT locked = buffer->Lock(&data, nullptr, nullptr);
  if (SUCCEEDED(locked)) {
    if (byteCount > 0) std::memcpy(data, bytes, byteCount);
    buffer->Unlock();
  }
  ThrowIfFailed(locked);
  ThrowIfFailed(buffer->SetCurrentLength(bufferLength));

  ComPtr<IMFSample> sample;
  ThrowIfFailed(MFCreateSample(sample.Put()));
  ThrowIfFailed(sample->AddBuffer(buffer.Get()));
  ThrowIfFailed(sample->SetSampleTime(time));
  if (duration >= 0) ThrowIfFailed(sample->SetSampleDuration(duration));
  ThrowIfFailed(sinkWriter_->WriteSample(stream, sample.Get()));
}

}  // namespace tarsel
