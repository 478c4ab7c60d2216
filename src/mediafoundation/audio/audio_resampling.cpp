#include "mediafoundation/audio/audio_resampling.h"

#include <algorithm>
#include <vector>

#include "common/boundary.h"
#include "mediafoundation/common/wm_resampler_props.h"

namespace tarsel {

namespace {

constexpr char kCreateFailed[] = "Failed to create resampler MFT.";
constexpr char kCopyInputFailed[] =
    "Failed to copy items from source reader out media type to MFT input type.";
constexpr char kSetInputFailed[] = "Failed to set input media type on resampler MFT.";
constexpr char kCopyOutputFailed[] =
    "Failed to copy items from source reader out media type to MFT output type";
constexpr char kSetOutputFailed[] = "Failed to set output media type on resampler MFT.";
constexpr char kInputStatusFailed[] = "Failed to get input status from resampler MFT.";
constexpr char kNotAccepting[] = "pTransform->GetInputStatus() not accept data.";
constexpr char kFlushFailed[] = "Failed to process FLUSH command on resampler MFT.";
constexpr char kBeginStreamingFailed[] =
    "Failed to process BEGIN_STREAMING command on resampler MFT.";
constexpr char kStartOfStreamFailed[] =
    "Failed to process START_OF_STREAM command on resampler MFT.";

constexpr char kProcessInputFailed[] = "The resampler MFT ProcessInput call failed.";
constexpr char kOutputInfoFailed[] = "Failed to get output stream info from resampler MFT.";
constexpr char kCreateSampleFailed[] = "Failed to create MF sample.";
constexpr char kCreateBufferFailed[] = "Failed to create memory buffer.";
constexpr char kAddBufferFailed[] = "Failed to add sample to buffer.";
constexpr char kConvertFailed[] = "ConvertToContiguousBuffer failed";
constexpr char kLengthFailed[] = "Get buffer length failed";
constexpr char kLockFailed[] = "Lock buffer failed";

// The filter quality asked of the resampler: 60 taps on each side.
constexpr LONG kHalfFilterLength = 60;
// The output buffer holds at least a tenth of a second, whatever smaller size
// the resampler states as its least, so a usual sample comes out in one call.
constexpr DWORD kLeastOutputBuffer = kResampledBytesPerSecond / 10;
// ProcessOutput calls for one sample: far more than any sample's output needs.
constexpr int kMaxOutputCalls = 1 << 16;
constexpr LONGLONG kTicksPerSecond = 10'000'000;

ComPtr<IMFMediaType> CopyOf(IMFMediaType* type, const char* failure) {
  ComPtr<IMFMediaType> copy;
  if (FAILED(MFCreateMediaType(copy.Put())) || FAILED(type->CopyAllItems(copy.Get()))) {
    throw Message(failure);
  }
  return copy;
}

// The platform's resampler answers IWMResamplerProps; one without it (Wine's)
// keeps its own filter.
void SetQuality(IUnknown* object) {
  ComPtr<IWMResamplerProps> props;
  if (SUCCEEDED(
          object->QueryInterface(ResamplerPropsIid(), reinterpret_cast<void**>(props.Put())))) {
    props->SetHalfFilterLength(kHalfFilterLength);
  }
}

void SetTypes(IMFTransform* resampler, IMFMediaType* readerType) {
  ComPtr<IMFMediaType> input = CopyOf(readerType, kCopyInputFailed);
  if (FAILED(resampler->SetInputType(0, input.Get(), 0))) throw Message(kSetInputFailed);
  ComPtr<IMFMediaType> output = CopyOf(readerType, kCopyOutputFailed);
  output->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
  output->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, kResampledChannels);
  output->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, kResampledBits);
  output->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, kResampledRate);
  output->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, kResampledBytesPerSecond);
  output->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, kResampledBlockAlignment);
  if (FAILED(resampler->SetOutputType(0, output.Get(), 0))) throw Message(kSetOutputFailed);
}

void StartStreaming(IMFTransform* resampler) {
  DWORD status = 0;
  if (FAILED(resampler->GetInputStatus(0, &status))) throw Message(kInputStatusFailed);
  if (status != MFT_INPUT_STATUS_ACCEPT_DATA) throw Message(kNotAccepting);
  if (FAILED(resampler->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0))) {
    throw Message(kFlushFailed);
  }
  if (FAILED(resampler->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0))) {
    throw Message(kBeginStreamingFailed);
  }
  if (FAILED(resampler->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0))) {
    throw Message(kStartOfStreamFailed);
  }
}

// Gathers a sample's output into blocks of at most kResampleBlockSize bytes.
class BlockGatherer {
 public:
  BlockGatherer(LONGLONG timestamp, const ResampledBlockSink& sink)
      : timestamp_(timestamp), sink_(sink) {}

  // Appends length bytes, handing each full block over. False once the sink
  // wants no more.
  bool Append(const BYTE* bytes, std::size_t length) {
    while (length > 0 && wanted_) {
      const std::size_t taken = std::min<std::size_t>(length, kResampleBlockSize - block_.size());
      block_.insert(block_.end(), bytes, bytes + taken);
      bytes += taken;
      length -= taken;
      if (block_.size() == kResampleBlockSize) HandOver();
    }
    return wanted_;
  }
  // Hands over the rest; a sample whose output was empty still makes one block.
  void Finish() {
    if (wanted_ && (!block_.empty() || blocks_ == 0)) HandOver();
  }

 private:
  void HandOver() {
    const LONGLONG offset =
        static_cast<LONGLONG>(handedBytes_ * kTicksPerSecond / kResampledBytesPerSecond);
    wanted_ = sink_(timestamp_ + offset, static_cast<uint32_t>(block_.size()), block_.data());
    ++blocks_;
    handedBytes_ += block_.size();
    block_.clear();
  }

  const LONGLONG timestamp_;
  const ResampledBlockSink& sink_;
  std::vector<uint8_t> block_;
  uint64_t handedBytes_ = 0;
  int blocks_ = 0;
  bool wanted_ = true;
};

// Output left in the resampler would refuse the next sample: unless the
// output was taken to the end, the resampler is flushed.
class FlushUnlessDrained {
 public:
  explicit FlushUnlessDrained(IMFTransform* resampler) : resampler_(resampler) {}
  FlushUnlessDrained(const FlushUnlessDrained&) = delete;
  FlushUnlessDrained& operator=(const FlushUnlessDrained&) = delete;
  ~FlushUnlessDrained() {
    if (!drained_) resampler_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  }
  void Drained() { drained_ = true; }

 private:
  IMFTransform* const resampler_;
  bool drained_ = false;
};

// Appends what the last ProcessOutput wrote into sample; returns the byte
// count taken (0 when nothing came out) or -1 once the sink wants no more.
long long TakeOutput(IMFSample* sample, BlockGatherer& gatherer) {
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(buffer.Put()))) throw Message(kConvertFailed);
  DWORD length = 0;
  if (FAILED(buffer->GetCurrentLength(&length))) throw Message(kLengthFailed);
  BYTE* bytes = nullptr;
  DWORD capacity = 0;
  if (FAILED(buffer->Lock(&bytes, &capacity, nullptr))) throw Message(kLockFailed);
  length = std::min(length, capacity);
  const bool wanted = gatherer.Append(bytes, length);
  buffer->Unlock();
  return wanted ? static_cast<long long>(length) : -1;
}

}  // namespace

ComPtr<IMFTransform> CreateResampler(IMFMediaType* readerType) {
  ComPtr<IUnknown> object;
  if (FAILED(CoCreateInstance(CLSID_CResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(object.Put()))) ||
      !object) {
    throw Message(kCreateFailed);
  }
  ComPtr<IMFTransform> resampler;
  if (FAILED(object->QueryInterface(IID_IMFTransform, reinterpret_cast<void**>(resampler.Put())))) {
    throw Message(kCreateFailed);
  }
  SetQuality(object.Get());
  SetTypes(resampler.Get(), readerType);
  StartStreaming(resampler.Get());
  return resampler;
}

void Resample(IMFTransform* resampler, IMFSample* sample, LONGLONG timestamp,
              const ResampledBlockSink& sink) {
  FlushUnlessDrained flush(resampler);
  if (FAILED(resampler->ProcessInput(0, sample, 0))) throw Message(kProcessInputFailed);
  MFT_OUTPUT_STREAM_INFO info{};
  if (FAILED(resampler->GetOutputStreamInfo(0, &info))) throw Message(kOutputInfoFailed);
  ComPtr<IMFSample> outputSample;
  if (FAILED(MFCreateSample(outputSample.Put()))) throw Message(kCreateSampleFailed);
  ComPtr<IMFMediaBuffer> outputBuffer;
  if (FAILED(MFCreateMemoryBuffer(std::max(info.cbSize, kLeastOutputBuffer), outputBuffer.Put()))) {
    throw Message(kCreateBufferFailed);
  }
  if (FAILED(outputSample->AddBuffer(outputBuffer.Get()))) throw Message(kAddBufferFailed);

  // The same sample and buffer take every piece of output in turn.
  BlockGatherer gatherer(timestamp, sink);
  for (int call = 0; call < kMaxOutputCalls; ++call) {
    MFT_OUTPUT_DATA_BUFFER description{0, outputSample.Get(), 0, nullptr};
    DWORD status = 0;
    const HRESULT hr = resampler->ProcessOutput(0, 1, &description, &status);
    if (description.pEvents) description.pEvents->Release();
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) {
      flush.Drained();
      break;
    }
    // Another failure, or output that stopped coming, ends the sample with
    // what it gave so far.
    if (FAILED(hr) || TakeOutput(outputSample.Get(), gatherer) <= 0) break;
  }
  gatherer.Finish();
}

}  // namespace tarsel
