// AAC from 16-bit PCM with FFmpeg's AAC encoder, limited to what the
// platform's AAC encoder takes: 16-bit samples, 1, 2 or 6 channels, 44,100 or
// 48,000 Hz, and 12,000, 16,000, 20,000 or 24,000 bytes a second.
#include <algorithm>
#include <cstring>

#include "mediafoundation/platform/sink_stream.h"

namespace tarsel::platform {

namespace {

constexpr AVRational kHundredNanoseconds{1, 10000000};
constexpr UINT32 kChannelCounts[] = {1, 2, 6};
constexpr UINT32 kSampleRates[] = {44100, 48000};
constexpr UINT32 kBytesPerSecond[] = {12000, 16000, 20000, 24000};
constexpr UINT32 kDefaultBytesPerSecond = 12000;

template <class List>
bool Contains(const List& list, UINT32 value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

struct PcmFormat {
  UINT32 channels = 0, rate = 0, bits = 0;
  bool operator==(const PcmFormat& other) const {
    return channels == other.channels && rate == other.rate && bits == other.bits;
  }
};

bool ReadFormat(IMFMediaType* type, PcmFormat* format) {
  return SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &format->channels)) &&
         SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &format->rate)) &&
         SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &format->bits));
}

class AacStream final : public SinkStream {
 public:
  explicit AacStream(IMFMediaType* output) : SinkStream(output) {}

  HRESULT SetInputType(IMFMediaType* input, bool globalHeader) override {
    if (encoder_) return MF_E_INVALIDREQUEST;
    GUID major{}, subtype{};
    PcmFormat format, inputFormat;
    if (FAILED(input->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Audio ||
        FAILED(input->GetGUID(MF_MT_SUBTYPE, &subtype)) || subtype != MFAudioFormat_PCM ||
        !ReadFormat(output_.Get(), &format) || !ReadFormat(input, &inputFormat) ||
        !(format == inputFormat)) {
      return MF_E_INVALIDMEDIATYPE;
    }
    UINT32 blockAlignment = 0;
    if (SUCCEEDED(input->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &blockAlignment)) &&
        blockAlignment != format.channels * format.bits / 8) {
      return MF_E_INVALIDMEDIATYPE;
    }
    UINT32 bytesPerSecond = kDefaultBytesPerSecond;
    output_->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &bytesPerSecond);
    if (format.bits != 16 || !Contains(kChannelCounts, format.channels) ||
        !Contains(kSampleRates, format.rate) || !Contains(kBytesPerSecond, bytesPerSecond)) {
      return MF_E_TOPO_CODEC_NOT_FOUND;
    }
    channels_ = static_cast<int>(format.channels);
    return Open(static_cast<int>(format.rate), bytesPerSecond * 8, globalHeader);
  }

  // The audio runs on from the first sample's time, counting samples: later
  // times do not move it, so blocks of any length join without gaps.
  HRESULT Prepare(IMFSample* sample, std::vector<EncoderInput>* inputs) override {
    LONGLONG time = 0;
    HRESULT hr = sample->GetSampleTime(&time);
    if (FAILED(hr)) return hr;
    hr = AppendSamples(sample);
    if (FAILED(hr)) return hr;
    if (!started_) {
      started_ = true;
      nextPts_ = av_rescale_q(time, kHundredNanoseconds, AVRational{1, sampleRate_});
    }
    return TakeFrames(false, inputs);
  }

  HRESULT Finish(std::vector<EncoderInput>* inputs) override { return TakeFrames(true, inputs); }

 private:
  HRESULT Open(int rate, int64_t bitRate, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) return MF_E_TOPO_CODEC_NOT_FOUND;
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) return E_OUTOFMEMORY;
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = rate;
    av_channel_layout_default(&encoder->ch_layout, channels_);
    encoder->bit_rate = bitRate;
    encoder->time_base = AVRational{1, rate};
    if (globalHeader) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int result = avcodec_open2(encoder.get(), codec, nullptr);
    if (result < 0) return result == AVERROR(ENOMEM) ? E_OUTOFMEMORY : MF_E_TOPO_CODEC_NOT_FOUND;
    // What the caller's thread needs of the encoder, kept apart from the
    // context the writer's worker uses.
    sampleRate_ = rate;
    frameSize_ = encoder->frame_size;
    encoder_ = std::move(encoder);
    return S_OK;
  }

  HRESULT AppendSamples(IMFSample* sample) {
    ComPtr<IMFMediaBuffer> buffer;
    HRESULT hr = sample->ConvertToContiguousBuffer(buffer.Put());
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    DWORD length = 0;
    hr = buffer->Lock(&data, nullptr, &length);
    if (FAILED(hr)) return hr;
    try {
      pending_.insert(pending_.end(), data, data + length);
    } catch (...) {
      hr = E_OUTOFMEMORY;
    }
    buffer->Unlock();
    return hr;
  }

  // Whole frames from the pending samples; at the end also the shorter rest.
  HRESULT TakeFrames(bool finishing, std::vector<EncoderInput>* inputs) {
    const std::size_t bytesPerSample = static_cast<std::size_t>(channels_) * 2;
    std::size_t taken = 0;
    HRESULT hr = S_OK;
    for (;;) {
      const auto count = static_cast<int>(
          std::min<std::size_t>((pending_.size() - taken) / bytesPerSample, frameSize_));
      if (count == 0 || (!finishing && count < frameSize_)) break;
      hr = MakeFrame(pending_.data() + taken, count, inputs);
      if (FAILED(hr)) break;
      taken += static_cast<std::size_t>(count) * bytesPerSample;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken));
    return hr;
  }

  // Interleaved 16-bit samples into the encoder's planar floats.
  HRESULT MakeFrame(const BYTE* samples, int count, std::vector<EncoderInput>* inputs) {
    FramePtr frame(av_frame_alloc());
    if (!frame) return E_OUTOFMEMORY;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = count;
    frame->sample_rate = sampleRate_;
    av_channel_layout_default(&frame->ch_layout, channels_);
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
      return E_OUTOFMEMORY;
    }
    for (int channel = 0; channel < channels_; ++channel) {
      auto* plane = reinterpret_cast<float*>(frame->extended_data[channel]);
      for (int i = 0; i < count; ++i) {
        int16_t value = 0;
        std::memcpy(&value, samples + (static_cast<std::size_t>(i) * channels_ + channel) * 2, 2);
        plane[i] = static_cast<float>(value) / 32768.0f;
      }
    }
    frame->pts = nextPts_;
    nextPts_ += count;
    inputs->push_back(EncoderInput{std::move(frame), 0});
    return S_OK;
  }

  int channels_ = 0;
  int sampleRate_ = 0;
  int frameSize_ = 0;
  bool started_ = false;
  int64_t nextPts_ = 0;
  std::vector<BYTE> pending_;  // whole and partial samples not yet in a frame
};

}  // namespace

std::unique_ptr<SinkStream> MakeAacStream(IMFMediaType* output) {
  return std::make_unique<AacStream>(output);
}

}  // namespace tarsel::platform
