// ALSA microphones: listing, the type catalogue and capture in 10 ms blocks.
#include "mediafoundation/platform/linux/alsa_microphones.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "mediafoundation/platform/linux/linux_devices.h"

namespace tarsel::platform {

namespace {

constexpr UINT32 kBlocksPerSecond = 100;  // 10 ms blocks
constexpr auto kStallLimit = std::chrono::seconds(10);
constexpr LONGLONG kLongestWaitMs = 20;

HRESULT MicrophoneFailure(long error) {
  switch (-error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOSYS:
      return MF_E_AUDIO_RECORDING_DEVICE_INVALIDATED;
    case EBUSY:
      return MF_E_AUDIO_RECORDING_DEVICE_IN_USE;
    case EACCES:
    case EPERM:
      return E_ACCESSDENIED;
    case ENOMEM:
      return E_OUTOFMEMORY;
    default:
      return kDeviceNotFunctioning;
  }
}

UINT32 BitsOf(AlsaSampleFormat format) { return format == AlsaSampleFormat::kFloat ? 32 : 16; }
UINT32 BlockAlignment(const AlsaParameters& parameters) {
  return BitsOf(parameters.format) / 8 * parameters.channels;
}

// The formats offered, in the order they are listed.
std::vector<AlsaParameters> Candidates() {
  std::vector<AlsaParameters> candidates;
  for (const AlsaSampleFormat format : {AlsaSampleFormat::kS16, AlsaSampleFormat::kFloat}) {
    for (const unsigned rate : {44100u, 48000u}) {
      for (const unsigned channels : {1u, 2u}) candidates.push_back({format, channels, rate});
    }
  }
  return candidates;
}

ComPtr<IMFMediaType> MakeAudioType(const AlsaParameters& parameters) {
  ComPtr<IMFMediaType> type;
  if (FAILED(MFCreateMediaType(type.Put()))) return type;
  const bool isFloat = parameters.format == AlsaSampleFormat::kFloat;
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  type->SetGUID(MF_MT_SUBTYPE, isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM);
  type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, parameters.channels);
  type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, parameters.rate);
  type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, BitsOf(parameters.format));
  type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, BlockAlignment(parameters));
  type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, BlockAlignment(parameters) * parameters.rate);
  type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
  return type;
}

// Whether type asks for parameters: subtype, bits, channels and rate equal,
// alignment and byte rate, where given, consistent with them.
bool Describes(IMFMediaType* type, const AlsaParameters& parameters) {
  GUID major{}, subtype{};
  UINT32 bits = 0, channels = 0, rate = 0, value = 0;
  if (SUCCEEDED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major != MFMediaType_Audio) {
    return false;
  }
  if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) ||
      FAILED(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits)) ||
      FAILED(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels)) ||
      FAILED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate))) {
    return false;
  }
  const GUID& wanted =
      parameters.format == AlsaSampleFormat::kFloat ? MFAudioFormat_Float : MFAudioFormat_PCM;
  if (subtype != wanted || bits != BitsOf(parameters.format) || channels != parameters.channels ||
      rate != parameters.rate) {
    return false;
  }
  if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &value)) &&
      value != BlockAlignment(parameters)) {
    return false;
  }
  return FAILED(type->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &value)) ||
         value == BlockAlignment(parameters) * parameters.rate;
}

class AlsaMicrophone final : public CaptureStream {
 public:
  AlsaMicrophone(std::unique_ptr<AlsaPcm> pcm, std::vector<AlsaParameters> formats)
      : pcm_(std::move(pcm)), formats_(std::move(formats)) {
    for (const AlsaParameters& format : formats_) {
      types_.push_back(MakeAudioType(format));
      if (!types_.back()) throw std::bad_alloc();
    }
  }

  const GUID& MajorType() const override { return MFMediaType_Audio; }
  HRESULT GetNativeType(DWORD index, IMFMediaType** type) const override {
    if (!type) return E_POINTER;
    if (index >= types_.size()) return MF_E_NO_MORE_TYPES;
    return Copy(types_[index].Get(), type);
  }
  HRESULT GetCurrentType(IMFMediaType** type) const override {
    if (!type) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (shutDown_) return MF_E_SHUTDOWN;
    return Copy(types_[current_].Get(), type);
  }
  HRESULT SetCurrentType(IMFMediaType* type) override;
  HRESULT Read(const CancelCheck& cancelled, LONGLONG* timestamp, IMFSample** sample) override;
  // Reads wait in short slices and ask their cancel check after each.
  void Wake() override {}
  void Shutdown() override {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    Stop();
  }

 private:
  static HRESULT Copy(IMFMediaType* from, IMFMediaType** to) {
    ComPtr<IMFMediaType> copy;
    HRESULT hr = MFCreateMediaType(copy.Put());
    if (SUCCEEDED(hr)) hr = from->CopyAllItems(copy.Get());
    if (SUCCEEDED(hr)) *to = copy.Detach();
    return hr;
  }
  UINT32 BlockFrames() const { return formats_[current_].rate / kBlocksPerSecond; }
  LONGLONG TicksOf(UINT64 frames) const {
    return static_cast<LONGLONG>(frames * kTicksPerSecond / formats_[current_].rate);
  }
  HRESULT Fail(long error) {
    const HRESULT hr = MicrophoneFailure(error);
    if (hr == MF_E_AUDIO_RECORDING_DEVICE_INVALIDATED) lost_ = hr;
    return hr;
  }
  void Stop() {
    if (running_) pcm_->Drop();
    running_ = false;
  }
  HRESULT Begin();
  HRESULT Fill(bool* complete);
  HRESULT Deliver(LONGLONG* timestamp, IMFSample** sample);

  const std::unique_ptr<AlsaPcm> pcm_;
  const std::vector<AlsaParameters> formats_;
  std::vector<ComPtr<IMFMediaType>> types_;

  mutable std::mutex mutex_;
  std::size_t current_ = 0;
  bool configured_ = false;  // the device is set to current_
  bool running_ = false;
  bool shutDown_ = false;
  HRESULT lost_ = S_OK;
  std::vector<BYTE> block_;  // the block being gathered
  UINT32 gathered_ = 0;      // frames in block_
  // The capture time of the first frame since capture (re)started, and the
  // frames delivered since.
  std::optional<LONGLONG> anchor_;
  UINT64 delivered_ = 0;
  std::optional<LONGLONG> lastTime_;
  std::chrono::steady_clock::time_point lastProgress_;
};

HRESULT AlsaMicrophone::SetCurrentType(IMFMediaType* type) {
  if (!type) return E_POINTER;
  std::size_t index = 0;
  while (index < formats_.size() && !Describes(type, formats_[index])) ++index;
  if (index == formats_.size()) return MF_E_INVALIDMEDIATYPE;
  std::lock_guard lock(mutex_);
  if (shutDown_) return MF_E_SHUTDOWN;
  if (FAILED(lost_)) return lost_;
  Stop();
  const int result = pcm_->Configure(formats_[index], formats_[index].rate / kBlocksPerSecond);
  if (result < 0) {
    if (configured_) pcm_->Configure(formats_[current_], BlockFrames());  // back to what was set
    const HRESULT hr = Fail(result);
    return hr == kDeviceNotFunctioning || result == -EINVAL ? MF_E_INVALIDMEDIATYPE : hr;
  }
  current_ = index;
  configured_ = true;
  return S_OK;
}

// Starts capture: a new block and a new anchor.
HRESULT AlsaMicrophone::Begin() {
  if (!configured_) {
    const int result = pcm_->Configure(formats_[current_], BlockFrames());
    if (result < 0) return Fail(result);
    configured_ = true;
  }
  int result = pcm_->Prepare();
  if (result >= 0) result = pcm_->Start();
  if (result < 0) return Fail(result);
  running_ = true;
  block_.assign(std::size_t{BlockFrames()} * BlockAlignment(formats_[current_]), 0);
  gathered_ = 0;
  anchor_.reset();
  delivered_ = 0;
  lastProgress_ = std::chrono::steady_clock::now();
  return S_OK;
}

// Reads what the device has into the block. An overrun loses what was
// gathered and starts over with a new anchor.
HRESULT AlsaMicrophone::Fill(bool* complete) {
  const AlsaParameters& format = formats_[current_];
  if (!anchor_) {
    // The first frame to read was captured when the clock stood at the stamp,
    // less the time of the frames captured before the stamp.
    unsigned long available = 0;
    timespec time{};
    if (pcm_->Stamp(&available, &time) < 0) {
      anchor_ = MonotonicTicks();  // no stamps from this device: the time of reading
    } else if (available == 0) {
      *complete = false;
      return S_OK;
    } else {
      const LONGLONG stamp = time.tv_sec > 0 || time.tv_nsec > 0
                                 ? LONGLONG{time.tv_sec} * kTicksPerSecond + time.tv_nsec / 100
                                 : MonotonicTicks();
      anchor_ = stamp - TicksOf(available);
    }
  }
  const UINT32 alignment = BlockAlignment(format);
  const long read =
      pcm_->Read(block_.data() + std::size_t{gathered_} * alignment, BlockFrames() - gathered_);
  if (read == -EPIPE || read == -ESTRPIPE) {
    Stop();
    *complete = false;
    return Begin();
  }
  if (read < 0 && read != -EAGAIN) return Fail(read);
  if (read > 0) {
    gathered_ += static_cast<UINT32>(read);
    lastProgress_ = std::chrono::steady_clock::now();
  }
  *complete = gathered_ == BlockFrames();
  return S_OK;
}

HRESULT AlsaMicrophone::Deliver(LONGLONG* timestamp, IMFSample** sample) {
  LONGLONG time = *anchor_ + TicksOf(delivered_);
  if (lastTime_ && time <= *lastTime_) time = *lastTime_ + 1;
  const LONGLONG duration = TicksOf(delivered_ + gathered_) - TicksOf(delivered_);
  const HRESULT hr = MakeCaptureSample(
      static_cast<DWORD>(block_.size()), time, duration,
      [&](BYTE* target) {
        std::copy(block_.begin(), block_.end(), target);
        return true;
      },
      sample);
  if (FAILED(hr)) return hr;
  lastTime_ = time;
  delivered_ += gathered_;
  gathered_ = 0;
  *timestamp = time;
  return S_OK;
}

HRESULT AlsaMicrophone::Read(const CancelCheck& cancelled, LONGLONG* timestamp,
                             IMFSample** sample) {
  if (!timestamp || !sample) return E_POINTER;
  *sample = nullptr;
  for (;;) {
    LONGLONG waitMs = kLongestWaitMs;
    {
      std::lock_guard lock(mutex_);
      if (shutDown_) return MF_E_SHUTDOWN;
      if (FAILED(lost_)) return lost_;
      if (cancelled && cancelled()) return E_ABORT;
      if (!running_) {
        const HRESULT hr = Begin();
        if (FAILED(hr)) return hr;
      }
      bool complete = false;
      const HRESULT hr = Fill(&complete);
      if (FAILED(hr)) return hr;
      if (complete) return Deliver(timestamp, sample);
      if (std::chrono::steady_clock::now() - lastProgress_ > kStallLimit) {
        return kDeviceNotFunctioning;
      }
      // Sleep about until the block is complete.
      const UINT32 missing = BlockFrames() - gathered_;
      waitMs = std::clamp<LONGLONG>(missing * 1000LL / formats_[current_].rate, 1, kLongestWaitMs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  }
}

}  // namespace

std::shared_ptr<CaptureStream> OpenAlsaMicrophone(std::shared_ptr<AlsaIo> io,
                                                  const std::string& name) {
  const std::vector<AlsaParameters> candidates = Candidates();
  // The hardware device as it is, then through the plug-in that converts.
  std::vector<std::string> names = {name};
  if (name.rfind("hw:", 0) == 0) names.push_back("plug" + name);
  for (const std::string& opened : names) {
    std::unique_ptr<AlsaPcm> pcm;
    const int result = io->Open(opened, &pcm);
    if (result < 0) throw DeviceUnavailable{MicrophoneFailure(result)};
    std::vector<AlsaParameters> supported;
    for (const AlsaParameters& candidate : candidates) {
      if (pcm->Supports(candidate)) supported.push_back(candidate);
    }
    if (!supported.empty()) return std::make_shared<AlsaMicrophone>(std::move(pcm), supported);
  }
  throw DeviceUnavailable{MF_E_INVALIDMEDIATYPE};
}

std::vector<DeviceEntry> AlsaMicrophoneProvider::ListDevices(const GUID& sourceType) const {
  if (sourceType != MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID) return {};
  std::vector<AlsaCaptureDevice> devices;
  if (io_->CaptureDevices(&devices) < 0) return {};
  std::vector<DeviceEntry> microphones;
  for (const AlsaCaptureDevice& device : devices) {
    DeviceEntry entry;
    entry.friendlyName = Utf16FromUtf8(device.description);
    entry.symbolicLink = Utf16FromUtf8(device.name);
    entry.open = [io = io_, name = device.name] { return OpenAlsaMicrophone(io, name); };
    microphones.push_back(std::move(entry));
  }
  return microphones;
}

}  // namespace tarsel::platform
