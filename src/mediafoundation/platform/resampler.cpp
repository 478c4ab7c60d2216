// The audio resampler transform (CLSID_CResamplerMediaObject) on libswresample:
// uncompressed PCM (8, 16, 24 or 32 bits) or IEEE float (32 or 64 bits) of any
// rate and channel count in, the output type set on it out. Like the platform's
// resampler it holds the output of one input sample at a time: ProcessInput
// converts a whole sample, ProcessOutput hands the result out in pieces the size
// of the caller's buffers, and MF_E_TRANSFORM_NEED_MORE_INPUT says it is all out.
#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include "ffmpeg/common/av_ptr.h"
#include "mediafoundation/platform/com_object.h"
#include "mediafoundation/platform/runtime.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace tarsel::platform {

namespace {

constexpr LONGLONG kTicksPerSecond = 10'000'000;
constexpr UINT32 kMaxChannels = 32;
constexpr UINT32 kMinRate = 1000;
constexpr UINT32 kMaxRate = 768000;
constexpr LONG kDefaultHalfFilterLength = 30;
constexpr LONG kMaxHalfFilterLength = 60;
// The output of one input sample is held whole; an input that would need more
// is refused rather than allocated.
constexpr std::int64_t kMaxHeldBytes = std::int64_t{1} << 30;

// An uncompressed audio format as the media type states it.
struct AudioFormat {
  bool isFloat = false;
  UINT32 bits = 0;
  UINT32 channels = 0;
  UINT32 rate = 0;
  UINT32 channelMask = 0;  // 0: the usual layout for the channel count
  UINT32 BlockAlignment() const { return bits / 8 * channels; }
};

bool BitsFit(bool isFloat, UINT32 bits) {
  return isFloat ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The type's format, or false when it is not uncompressed audio this
// transform converts. Alignment and byte rate, where stated, must agree.
bool ReadFormat(IMFMediaType* type, AudioFormat* format) {
  GUID major{}, subtype{};
  if (SUCCEEDED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major != MFMediaType_Audio) {
    return false;
  }
  if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) return false;
  if (subtype != MFAudioFormat_PCM && subtype != MFAudioFormat_Float) return false;
  format->isFloat = subtype == MFAudioFormat_Float;
  if (FAILED(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &format->bits)) ||
      FAILED(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &format->channels)) ||
      FAILED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &format->rate))) {
    return false;
  }
  if (!BitsFit(format->isFloat, format->bits) || format->channels < 1 ||
      format->channels > kMaxChannels || format->rate < kMinRate || format->rate > kMaxRate) {
    return false;
  }
  UINT32 value = 0;
  if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &value)) &&
      value != format->BlockAlignment()) {
    return false;
  }
  if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &value)) &&
      value != format->BlockAlignment() * format->rate) {
    return false;
  }
  UINT32 mask = 0;
  if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_CHANNEL_MASK, &mask)) &&
      static_cast<UINT32>(__builtin_popcount(mask)) == format->channels) {
    format->channelMask = mask;
  }
  return true;
}

// The sample format libswresample works in; 24-bit samples travel as 32-bit.
AVSampleFormat WorkingFormat(const AudioFormat& format) {
  if (format.isFloat) return format.bits == 64 ? AV_SAMPLE_FMT_DBL : AV_SAMPLE_FMT_FLT;
  if (format.bits == 8) return AV_SAMPLE_FMT_U8;
  if (format.bits == 16) return AV_SAMPLE_FMT_S16;
  return AV_SAMPLE_FMT_S32;
}

UINT32 WorkingBlockAlignment(const AudioFormat& format) {
  return format.bits == 24 ? 4 * format.channels : format.BlockAlignment();
}

AVChannelLayout LayoutOf(const AudioFormat& format) {
  AVChannelLayout layout{};
  if (format.channelMask == 0 || av_channel_layout_from_mask(&layout, format.channelMask) < 0) {
    av_channel_layout_default(&layout, static_cast<int>(format.channels));
  }
  return layout;
}

// 24-bit little-endian samples widened to the top of 32-bit ones, and back
// (in place: the first narrowed sample overlaps its source).
void Widen24(const BYTE* in, std::size_t samples, BYTE* out) {
  for (std::size_t i = 0; i < samples; ++i, in += 3, out += 4) {
    out[0] = 0;
    std::memcpy(out + 1, in, 3);
  }
}
void Narrow24(const BYTE* in, std::size_t samples, BYTE* out) {
  for (std::size_t i = 0; i < samples; ++i, in += 4, out += 3) std::memmove(out, in + 1, 3);
}

ComPtr<IMFMediaType> CopyType(IMFMediaType* type) {
  ComPtr<IMFMediaType> copy;
  if (FAILED(MFCreateMediaType(copy.Put())) || FAILED(type->CopyAllItems(copy.Get()))) {
    throw std::bad_alloc();
  }
  return copy;
}

class Resampler final : public ComObject<IMFTransform, IWMResamplerProps> {
 public:
  // ------------------------------------------------------------ IUnknown

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFTransform) {
      return HandOut(static_cast<IMFTransform*>(this), out);
    }
    if (riid == IID_IWMResamplerProps) return HandOut(static_cast<IWMResamplerProps*>(this), out);
    return E_NOINTERFACE;
  }

  // ------------------------------------------------------------ IWMResamplerProps

  HRESULT STDMETHODCALLTYPE SetHalfFilterLength(LONG length) override {
    if (length < 1 || length > kMaxHalfFilterLength) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (length != halfFilterLength_) {
      halfFilterLength_ = length;
      converter_.reset();  // rebuilt with the new filter for the next input
    }
    return S_OK;
  }
  // Channels are mixed by the transform's own rules; a caller's matrix is not taken.
  HRESULT STDMETHODCALLTYPE SetUserChannelMtx(ChMtxType*) override { return E_NOTIMPL; }

  // ------------------------------------------------------------ streams

  HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD* inputMinimum, DWORD* inputMaximum,
                                            DWORD* outputMinimum, DWORD* outputMaximum) override {
    if (!inputMinimum || !inputMaximum || !outputMinimum || !outputMaximum) return E_POINTER;
    *inputMinimum = *inputMaximum = *outputMinimum = *outputMaximum = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* inputs, DWORD* outputs) override {
    if (!inputs || !outputs) return E_POINTER;
    *inputs = *outputs = 1;
    return S_OK;
  }
  // One input and one output stream with the fixed identifier 0.
  HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD stream, MFT_INPUT_STREAM_INFO* info) override {
    if (!info) return E_POINTER;
    if (stream != 0) return MF_E_INVALIDSTREAMNUMBER;
    std::lock_guard lock(mutex_);
    if (!inputType_) return MF_E_TRANSFORM_TYPE_NOT_SET;
    *info = MFT_INPUT_STREAM_INFO{0, MFT_INPUT_STREAM_WHOLE_SAMPLES, input_.BlockAlignment(), 0, 0};
    return S_OK;
  }
  // The least a buffer takes is one frame; a tenth of a second is asked for, so
  // that an input sample of usual length comes out in one piece.
  HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD stream,
                                                MFT_OUTPUT_STREAM_INFO* info) override {
    if (!info) return E_POINTER;
    if (stream != 0) return MF_E_INVALIDSTREAMNUMBER;
    std::lock_guard lock(mutex_);
    if (!outputType_) return MF_E_TRANSFORM_TYPE_NOT_SET;
    const DWORD frames = std::max<DWORD>(1, output_.rate / 10);
    *info = MFT_OUTPUT_STREAM_INFO{MFT_OUTPUT_STREAM_WHOLE_SAMPLES,
                                   frames * output_.BlockAlignment(), 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD, IMFAttributes**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD, IMFAttributes**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD, DWORD*) override { return E_NOTIMPL; }

  // ------------------------------------------------------------ types

  // Partial types: IEEE float, then PCM.
  HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD stream, DWORD index,
                                                  IMFMediaType** type) override {
    return AvailableType(stream, index, type);
  }
  HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD stream, DWORD index,
                                                   IMFMediaType** type) override {
    return AvailableType(stream, index, type);
  }
  HRESULT STDMETHODCALLTYPE SetInputType(DWORD stream, IMFMediaType* type, DWORD flags) override {
    return SetType(stream, type, flags, &inputType_, &input_);
  }
  HRESULT STDMETHODCALLTYPE SetOutputType(DWORD stream, IMFMediaType* type, DWORD flags) override {
    return SetType(stream, type, flags, &outputType_, &output_);
  }
  HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD stream, IMFMediaType** type) override {
    return CurrentType(stream, inputType_, type);
  }
  HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD stream, IMFMediaType** type) override {
    return CurrentType(stream, outputType_, type);
  }

  // ------------------------------------------------------------ status and messages

  HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD stream, DWORD* flags) override {
    if (!flags) return E_POINTER;
    if (stream != 0) return MF_E_INVALIDSTREAMNUMBER;
    std::lock_guard lock(mutex_);
    if (!inputType_ || !outputType_) return MF_E_TRANSFORM_TYPE_NOT_SET;
    *flags = HasOutput() ? 0 : MFT_INPUT_STATUS_ACCEPT_DATA;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD* flags) override {
    if (!flags) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (!inputType_ || !outputType_) return MF_E_TRANSFORM_TYPE_NOT_SET;
    *flags = HasOutput() ? MFT_OUTPUT_STATUS_SAMPLE_READY : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override {
    std::lock_guard lock(mutex_);
    switch (message) {
      case MFT_MESSAGE_COMMAND_FLUSH:
        // Held output and the filter's history go; the next input starts afresh.
        DropOutput();
        converter_.reset();
        return S_OK;
      case MFT_MESSAGE_COMMAND_DRAIN:
        return Drain();
      case MFT_MESSAGE_NOTIFY_BEGIN_STREAMING:
      case MFT_MESSAGE_NOTIFY_END_STREAMING:
      case MFT_MESSAGE_NOTIFY_START_OF_STREAM:
      case MFT_MESSAGE_NOTIFY_END_OF_STREAM:
        return S_OK;
      default:
        return E_NOTIMPL;  // no Direct3D manager, no markers
    }
  }

  // ------------------------------------------------------------ processing

  HRESULT STDMETHODCALLTYPE ProcessInput(DWORD stream, IMFSample* sample, DWORD) override {
    if (!sample) return E_POINTER;
    if (stream != 0) return MF_E_INVALIDSTREAMNUMBER;
    std::lock_guard lock(mutex_);
    if (!inputType_ || !outputType_) return MF_E_TRANSFORM_TYPE_NOT_SET;
    if (HasOutput()) return MF_E_NOTACCEPTING;
    HRESULT hr = EnsureConverter();
    if (FAILED(hr)) return hr;
    ComPtr<IMFMediaBuffer> buffer;
    hr = sample->ConvertToContiguousBuffer(buffer.Put());
    if (FAILED(hr)) return hr;
    BYTE* bytes = nullptr;
    DWORD length = 0;
    hr = buffer->Lock(&bytes, nullptr, &length);
    if (FAILED(hr)) return hr;
    LONGLONG time = 0;
    const bool timed = SUCCEEDED(sample->GetSampleTime(&time));
    // Only whole frames are converted.
    hr = Convert(bytes, length / input_.BlockAlignment(), timed, time);
    buffer->Unlock();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                          DWORD* status) override {
    if (!buffers || !status) return E_POINTER;
    if (count != 1) return E_INVALIDARG;
    *status = 0;
    buffers->dwStatus = 0;
    std::lock_guard lock(mutex_);
    if (!inputType_ || !outputType_) return MF_E_TRANSFORM_TYPE_NOT_SET;
    if (!HasOutput()) return MF_E_TRANSFORM_NEED_MORE_INPUT;
    if (buffers->dwStreamID != 0) return MF_E_INVALIDSTREAMNUMBER;
    // The caller brings the sample and its buffer.
    if (!buffers->pSample) return E_INVALIDARG;
    ComPtr<IMFMediaBuffer> buffer;
    HRESULT hr = buffers->pSample->ConvertToContiguousBuffer(buffer.Put());
    if (FAILED(hr)) return hr;
    BYTE* bytes = nullptr;
    DWORD capacity = 0;
    hr = buffer->Lock(&bytes, &capacity, nullptr);
    if (FAILED(hr)) return hr;
    const DWORD alignment = output_.BlockAlignment();
    const std::size_t taken =
        std::min<std::size_t>(held_.size() - handedOut_, capacity / alignment * alignment);
    if (taken > 0) std::memcpy(bytes, held_.data() + handedOut_, taken);
    buffer->Unlock();
    if (taken == 0) return MF_E_BUFFERTOOSMALL;
    buffer->SetCurrentLength(static_cast<DWORD>(taken));
    StampOutput(buffers->pSample, handedOut_ / alignment, taken / alignment);
    handedOut_ += taken;
    if (HasOutput()) {
      buffers->dwStatus = MFT_OUTPUT_DATA_BUFFER_INCOMPLETE;
    } else {
      DropOutput();
    }
    return S_OK;
  }

 private:
  HRESULT AvailableType(DWORD stream, DWORD index, IMFMediaType** type) const {
    if (!type) return E_POINTER;
    if (stream != 0) return MF_E_INVALIDSTREAMNUMBER;
    if (index > 1) return MF_E_NO_MORE_TYPES;
    ComPtr<IMFMediaType> partial;
    HRESULT hr = MFCreateMediaType(partial.Put());
    if (SUCCEEDED(hr)) hr = partial->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) {
      hr = partial->SetGUID(MF_MT_SUBTYPE, index == 0 ? MFAudioFormat_Float : MFAudioFormat_PCM);
    }
    if (SUCCEEDED(hr)) *type = partial.Detach();
    return hr;
  }

  HRESULT SetType(DWORD stream, IMFMediaType* type, DWORD flags, ComPtr<IMFMediaType>* slot,
                  AudioFormat* format) {
    if (stream != 0) return MF_E_INVALIDSTREAMNUMBER;
    AudioFormat read;
    if (type && !ReadFormat(type, &read)) return MF_E_INVALIDMEDIATYPE;
    if (flags & MFT_SET_TYPE_TEST_ONLY) return S_OK;
    std::lock_guard lock(mutex_);
    if (HasOutput()) return MF_E_TRANSFORM_CANNOT_CHANGE_MEDIATYPE_WHILE_PROCESSING;
    try {
      *slot = type ? CopyType(type) : nullptr;  // a null type clears the stream's type
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    *format = read;
    converter_.reset();
    if (!inputType_ || !outputType_) return S_OK;
    // A pair of formats libswresample cannot join is refused when it is formed.
    HRESULT hr = EnsureConverter();
    if (FAILED(hr)) {
      slot->Reset();
      return MF_E_INVALIDMEDIATYPE;
    }
    return S_OK;
  }

  HRESULT CurrentType(DWORD stream, const ComPtr<IMFMediaType>& slot, IMFMediaType** type) {
    if (!type) return E_POINTER;
    if (stream != 0) return MF_E_INVALIDSTREAMNUMBER;
    std::lock_guard lock(mutex_);
    if (!slot) return MF_E_TRANSFORM_TYPE_NOT_SET;
    try {
      *type = CopyType(slot.Get()).Detach();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT EnsureConverter() {
    if (converter_) return S_OK;
    AVChannelLayout inLayout = LayoutOf(input_);
    AVChannelLayout outLayout = LayoutOf(output_);
    SwrContext* raw = nullptr;
    int result = swr_alloc_set_opts2(
        &raw, &outLayout, WorkingFormat(output_), static_cast<int>(output_.rate), &inLayout,
        WorkingFormat(input_), static_cast<int>(input_.rate), 0, nullptr);
    ResamplerPtr converter(raw);
    if (result >= 0) result = av_opt_set_int(raw, "filter_size", 2 * halfFilterLength_, 0);
    if (result >= 0) result = SetMixing(raw);
    if (result >= 0) result = swr_init(raw);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (result < 0) return result == AVERROR(ENOMEM) ? E_OUTOFMEMORY : E_FAIL;
    converter_ = std::move(converter);
    return S_OK;
  }

  // A single channel goes to every output channel at full level, and two
  // channels become one as their mean; other layouts mix as libswresample does.
  int SetMixing(SwrContext* converter) const {
    if (input_.channels == 1 && output_.channels > 1) {
      const std::vector<double> matrix(output_.channels, 1.0);
      return swr_set_matrix(converter, matrix.data(), 1);
    }
    if (input_.channels == 2 && output_.channels == 1) {
      const double matrix[] = {0.5, 0.5};
      return swr_set_matrix(converter, matrix, 2);
    }
    return 0;
  }

  // Converts frames of input into the held output. Output time starts at the
  // input's time less what the filter still holds of earlier input.
  HRESULT Convert(const BYTE* bytes, std::size_t frames, bool timed, LONGLONG time) {
    if (frames > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        av_rescale_rnd(static_cast<std::int64_t>(frames), output_.rate, input_.rate, AV_ROUND_UP) *
                WorkingBlockAlignment(output_) >
            kMaxHeldBytes) {
      return E_INVALIDARG;
    }
    const int outFrames = swr_get_out_samples(converter_.get(), static_cast<int>(frames));
    if (outFrames < 0) return E_FAIL;
    try {
      std::vector<BYTE> widened;
      if (input_.bits == 24) {
        widened.resize(frames * WorkingBlockAlignment(input_));
        Widen24(bytes, frames * input_.channels, widened.data());
        bytes = widened.data();
      }
      heldTimed_ = timed;
      if (timed) heldTime_ = time - swr_get_delay(converter_.get(), kTicksPerSecond);
      held_.resize(static_cast<std::size_t>(outFrames) * WorkingBlockAlignment(output_));
      BYTE* out = held_.data();
      const int made =
          swr_convert(converter_.get(), &out, outFrames, &bytes, static_cast<int>(frames));
      if (made < 0) {
        DropOutput();
        return E_FAIL;
      }
      KeepConverted(static_cast<std::size_t>(made));
      return S_OK;
    } catch (const std::bad_alloc&) {
      DropOutput();
      return E_OUTOFMEMORY;
    }
  }

  // What the filter still holds becomes output, after any output not yet taken.
  HRESULT Drain() {
    if (!converter_) return S_OK;
    const int tail = swr_get_out_samples(converter_.get(), 0);
    if (tail <= 0) return S_OK;
    try {
      const std::size_t kept = held_.size();
      std::vector<BYTE> more(static_cast<std::size_t>(tail) * WorkingBlockAlignment(output_));
      BYTE* out = more.data();
      const int made = swr_convert(converter_.get(), &out, tail, nullptr, 0);
      if (made <= 0) return S_OK;
      if (kept == 0) {
        held_.swap(more);
        heldTime_ = endTime_;  // the tail follows the output already taken
      } else {
        held_.insert(held_.end(), more.begin(), more.end());
      }
      KeepConverted(static_cast<std::size_t>(made), kept);
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  // Trims the held bytes from offset on to frames converted frames, packing
  // 24-bit samples down from their working width.
  void KeepConverted(std::size_t frames, std::size_t offset = 0) {
    if (output_.bits == 24) {
      Narrow24(held_.data() + offset, frames * output_.channels, held_.data() + offset);
    }
    held_.resize(offset + frames * output_.BlockAlignment());
    endTime_ = heldTime_ + Ticks(held_.size() / output_.BlockAlignment());
  }

  LONGLONG Ticks(std::size_t frames) const {
    return av_rescale(static_cast<std::int64_t>(frames), kTicksPerSecond, output_.rate);
  }

  void StampOutput(IMFSample* sample, std::size_t firstFrame, std::size_t frames) const {
    if (!heldTimed_) return;
    sample->SetSampleTime(heldTime_ + Ticks(firstFrame));
    sample->SetSampleDuration(Ticks(firstFrame + frames) - Ticks(firstFrame));
  }

  bool HasOutput() const { return handedOut_ < held_.size(); }
  void DropOutput() {
    held_.clear();
    handedOut_ = 0;
  }

  std::mutex mutex_;
  ComPtr<IMFMediaType> inputType_;
  ComPtr<IMFMediaType> outputType_;
  AudioFormat input_;
  AudioFormat output_;
  LONG halfFilterLength_ = kDefaultHalfFilterLength;
  ResamplerPtr converter_;
  std::vector<BYTE> held_;  // output of the last input, in the output format
  std::size_t handedOut_ = 0;
  LONGLONG heldTime_ = 0;  // time of the first held frame
  LONGLONG endTime_ = 0;   // time just after the last held frame
  bool heldTimed_ = false;
};

}  // namespace

HRESULT CreateResamplerObject(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  try {
    ComPtr<Resampler> resampler = MakeCom<Resampler>();
    return resampler->QueryInterface(riid, object);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tarsel::platform
