// Capture devices of the portable layer. Providers list devices; each device
// opens into a stream, the live part behind a media source: its native formats,
// the current one, and samples delivered in real time on the stream's own clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/platform/mf_types.h"

namespace tarsel::platform {

// One property of a camera control interface, as GetRange, Get and Set see it.
struct ControlProperty {
  LONG id;
  LONG minimum;
  LONG maximum;
  LONG step;
  LONG defaultValue;
  LONG capsFlags;
  LONG value;
  LONG flags;
};

// The properties behind IAMCameraControl or IAMVideoProcAmp. Values set are kept
// and read back; an unknown property fails with E_PROP_ID_UNSUPPORTED.
// A device may answer from its own controls instead.
class PropertySet {
 public:
  explicit PropertySet(std::vector<ControlProperty> properties);
  virtual ~PropertySet() = default;
  virtual HRESULT GetRange(LONG id, LONG* minimum, LONG* maximum, LONG* step, LONG* defaultValue,
                           LONG* capsFlags) const;
  virtual HRESULT Get(LONG id, LONG* value, LONG* flags) const;
  virtual HRESULT Set(LONG id, LONG value, LONG flags);

 private:
  const ControlProperty* Find(LONG id) const;
  mutable std::mutex mutex_;
  std::vector<ControlProperty> properties_;
};

// Asked by a waiting read whether it should give up.
using CancelCheck = std::function<bool()>;

// The live part of a capture device, shared by its media source and the source
// readers on it. A read waits until the next sample is due.
class CaptureStream {
 public:
  virtual ~CaptureStream() = default;
  virtual const GUID& MajorType() const = 0;
  // A copy of native type index (MF_E_NO_MORE_TYPES past the last).
  virtual HRESULT GetNativeType(DWORD index, IMFMediaType** type) const = 0;
  // A copy of the current type.
  virtual HRESULT GetCurrentType(IMFMediaType** type) const = 0;
  // Accepts a type the device can deliver, or fails with MF_E_INVALIDMEDIATYPE.
  virtual HRESULT SetCurrentType(IMFMediaType* type) = 0;
  // Waits for the next sample. E_ABORT when cancelled, MF_E_SHUTDOWN once the
  // stream is shut down.
  virtual HRESULT Read(const CancelCheck& cancelled, LONGLONG* timestamp, IMFSample** sample) = 0;
  // Wakes waiting reads so they ask their cancel check again.
  virtual void Wake() = 0;
  // Ends the stream for good: waiting and later reads fail with MF_E_SHUTDOWN.
  virtual void Shutdown() = 0;
  // The camera property interfaces; null when the device has none.
  virtual PropertySet* CameraControls() { return nullptr; }
  virtual PropertySet* VideoProcAmp() { return nullptr; }
};

// A stream whose samples come at a fixed rate from its own clock. The clock
// starts with the first read (as a source starts when it is first read); sample
// n is due at start + n periods and carries the timestamp origin + n periods.
// A reader late by more than the backlog loses the oldest samples, as a device
// overwrites what nobody collects.
class PacedStream : public CaptureStream {
 public:
  // In 100-ns units: the first sample's timestamp, so the clock does not start at 0.
  static constexpr LONGLONG kClockOrigin = 1'000'000'000;

  PacedStream(const GUID& majorType, std::vector<ComPtr<IMFMediaType>> nativeTypes);

  const GUID& MajorType() const override { return majorType_; }
  HRESULT GetNativeType(DWORD index, IMFMediaType** type) const override;
  HRESULT GetCurrentType(IMFMediaType** type) const override;
  HRESULT SetCurrentType(IMFMediaType* type) override;
  HRESULT Read(const CancelCheck& cancelled, LONGLONG* timestamp, IMFSample** sample) override;
  void Wake() override;
  void Shutdown() override;

 protected:
  // Samples per second as a ratio for a current type.
  struct Rate {
    UINT64 numerator;
    UINT64 denominator;
  };
  virtual Rate SampleRate(IMFMediaType* current) const = 0;
  // Whether the device can deliver type.
  virtual bool Accepts(IMFMediaType* type) const = 0;
  // Size in bytes of one sample of the current type.
  virtual DWORD SampleSize(IMFMediaType* current) const = 0;
  // Writes sample number index of the current type into bytes (SampleSize long).
  virtual void FillSample(IMFMediaType* current, UINT64 index, BYTE* bytes) const = 0;

 private:
  using Clock = std::chrono::steady_clock;
  // Offset of sample index from the anchor, in 100-ns units at the current rate.
  LONGLONG TicksSinceAnchor(UINT64 index) const;
  Clock::time_point DueTime(UINT64 index) const;
  // Makes the first native type current if none was set yet.
  HRESULT SettleCurrentType() const;
  HRESULT MakeSample(IMFMediaType* current, UINT64 index, LONGLONG timestamp, LONGLONG duration,
                     IMFSample** sample) const;

  const GUID majorType_;
  const std::vector<ComPtr<IMFMediaType>> nativeTypes_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  mutable ComPtr<IMFMediaType> current_;
  mutable Rate rate_{};
  bool started_ = false;
  bool shutDown_ = false;
  // The clock's anchor: sample anchorIndex_ is due at anchorTime_ with anchorTimestamp_.
  UINT64 anchorIndex_ = 0;
  Clock::time_point anchorTime_{};
  LONGLONG anchorTimestamp_ = kClockOrigin;
  UINT64 nextIndex_ = 0;
};

// Thrown by DeviceEntry::open when the device cannot be opened; its
// activation then fails with hr.
struct DeviceUnavailable {
  HRESULT hr;
};

// One device as a provider lists it.
struct DeviceEntry {
  // Absent when the device does not tell its name.
  std::optional<std::u16string> friendlyName;
  std::u16string symbolicLink;
  // Opens the device's stream; called at each activation. May throw
  // DeviceUnavailable.
  std::function<std::shared_ptr<CaptureStream>()> open;
};

// A source of capture devices behind MFEnumDeviceSources.
class DeviceProvider {
 public:
  virtual ~DeviceProvider() = default;
  // The devices of a class (the video or audio capture GUID), in order.
  virtual std::vector<DeviceEntry> ListDevices(const GUID& sourceType) const = 0;
};

// The providers, in listing order: the added ones first, in the order they
// were added, then the system's devices, the fake devices last.
std::vector<const DeviceProvider*> DeviceProviders();

// Adds a provider to the listing for as long as this object lives.
class ScopedDeviceProvider {
 public:
  explicit ScopedDeviceProvider(const DeviceProvider* provider);
  ScopedDeviceProvider(const ScopedDeviceProvider&) = delete;
  ScopedDeviceProvider& operator=(const ScopedDeviceProvider&) = delete;
  ~ScopedDeviceProvider();

 private:
  const DeviceProvider* const provider_;
};

// MFEnumDeviceSources over the given providers.
HRESULT EnumerateDevices(const std::vector<const DeviceProvider*>& providers, IMFAttributes* filter,
                         IMFActivate*** activates, UINT32* count);

// A sample of size bytes, filled by fill, with its time and duration.
template <class Fill>
HRESULT MakeCaptureSample(DWORD size, LONGLONG time, LONGLONG duration, Fill fill,
                          IMFSample** sample) {
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = MFCreateMemoryBuffer(size, buffer.Put());
  if (FAILED(hr)) return hr;
  BYTE* bytes = nullptr;
  hr = buffer->Lock(&bytes, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  const bool filled = fill(bytes);
  buffer->Unlock();
  if (!filled) return S_FALSE;
  buffer->SetCurrentLength(size);
  ComPtr<IMFSample> made;
  hr = MFCreateSample(made.Put());
  if (SUCCEEDED(hr)) hr = made->AddBuffer(buffer.Get());
  if (SUCCEEDED(hr)) hr = made->SetSampleTime(time);
  if (SUCCEEDED(hr)) hr = made->SetSampleDuration(duration);
  if (SUCCEEDED(hr)) *sample = made.Detach();
  return hr;
}

}  // namespace tarsel::platform
