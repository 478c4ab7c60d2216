// The real-time clock of paced capture streams, and camera property sets.
#include <algorithm>

#include "mediafoundation/platform/capture_device.h"

namespace tarsel::platform {

namespace {

constexpr LONGLONG kTicksPerSecond = 10'000'000;
// How far a reader may fall behind before the oldest samples are lost.
constexpr auto kBacklog = std::chrono::seconds(1);

}  // namespace

// ------------------------------------------------------------ PropertySet

PropertySet::PropertySet(std::vector<ControlProperty> properties)
    : properties_(std::move(properties)) {}

const ControlProperty* PropertySet::Find(LONG id) const {
  auto found = std::find_if(properties_.begin(), properties_.end(),
                            [id](const ControlProperty& p) { return p.id == id; });
  return found == properties_.end() ? nullptr : &*found;
}

HRESULT PropertySet::GetRange(LONG id, LONG* minimum, LONG* maximum, LONG* step, LONG* defaultValue,
                              LONG* capsFlags) const {
  if (!minimum || !maximum || !step || !defaultValue || !capsFlags) return E_POINTER;
  std::lock_guard lock(mutex_);
  const ControlProperty* property = Find(id);
  if (!property) return E_PROP_ID_UNSUPPORTED;
  *minimum = property->minimum;
  *maximum = property->maximum;
  *step = property->step;
  *defaultValue = property->defaultValue;
  *capsFlags = property->capsFlags;
  return S_OK;
}

HRESULT PropertySet::Get(LONG id, LONG* value, LONG* flags) const {
  if (!value || !flags) return E_POINTER;
  std::lock_guard lock(mutex_);
  const ControlProperty* property = Find(id);
  if (!property) return E_PROP_ID_UNSUPPORTED;
  *value = property->value;
  *flags = property->flags;
  return S_OK;
}

HRESULT PropertySet::Set(LONG id, LONG value, LONG flags) {
  std::lock_guard lock(mutex_);
  auto* property = const_cast<ControlProperty*>(Find(id));
  if (!property) return E_PROP_ID_UNSUPPORTED;
  property->value = value;
  property->flags = flags;
  return S_OK;
}

// ------------------------------------------------------------ PacedStream

PacedStream::PacedStream(const GUID& majorType, std::vector<ComPtr<IMFMediaType>> nativeTypes)
    : majorType_(majorType), nativeTypes_(std::move(nativeTypes)) {}

HRESULT PacedStream::GetNativeType(DWORD index, IMFMediaType** type) const {
  if (!type) return E_POINTER;
  if (index >= nativeTypes_.size()) return MF_E_NO_MORE_TYPES;
  ComPtr<IMFMediaType> copy;
  HRESULT hr = MFCreateMediaType(copy.Put());
  if (SUCCEEDED(hr)) hr = nativeTypes_[index]->CopyAllItems(copy.Get());
  if (SUCCEEDED(hr)) *type = copy.Detach();
  return hr;
}

HRESULT PacedStream::GetCurrentType(IMFMediaType** type) const {
  if (!type) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (shutDown_) return MF_E_SHUTDOWN;
  HRESULT hr = SettleCurrentType();
  if (FAILED(hr)) return hr;
  ComPtr<IMFMediaType> copy;
  hr = MFCreateMediaType(copy.Put());
  if (SUCCEEDED(hr)) hr = current_->CopyAllItems(copy.Get());
  if (SUCCEEDED(hr)) *type = copy.Detach();
  return hr;
}

HRESULT PacedStream::SettleCurrentType() const {
  if (current_) return S_OK;
  // The device starts in its first native format.
  HRESULT hr = GetNativeType(0, current_.Put());
  if (SUCCEEDED(hr)) rate_ = SampleRate(current_.Get());
  return hr;
}

HRESULT PacedStream::SetCurrentType(IMFMediaType* type) {
  if (!type) return E_POINTER;
  if (!Accepts(type)) return MF_E_INVALIDMEDIATYPE;
  ComPtr<IMFMediaType> copy;
  HRESULT hr = MFCreateMediaType(copy.Put());
  if (SUCCEEDED(hr)) hr = type->CopyAllItems(copy.Get());
  if (FAILED(hr)) return hr;
  std::lock_guard lock(mutex_);
  if (shutDown_) return MF_E_SHUTDOWN;
  if (started_) {
    // Samples already due keep their times; the new rate counts from the next one.
    anchorTime_ = DueTime(nextIndex_);
    anchorTimestamp_ += TicksSinceAnchor(nextIndex_);
    anchorIndex_ = nextIndex_;
  }
  current_ = copy;
  rate_ = SampleRate(current_.Get());
  return S_OK;
}

LONGLONG PacedStream::TicksSinceAnchor(UINT64 index) const {
  // index * 10^7 * denominator / numerator, without overflowing the product.
  const UINT64 count = index - anchorIndex_;
  const UINT64 scaled = kTicksPerSecond * rate_.denominator;
  const UINT64 whole = scaled / rate_.numerator;
  const UINT64 rest = scaled % rate_.numerator;
  return static_cast<LONGLONG>(count * whole + count * rest / rate_.numerator);
}

PacedStream::Clock::time_point PacedStream::DueTime(UINT64 index) const {
  return anchorTime_ + std::chrono::nanoseconds(TicksSinceAnchor(index) * 100);
}

HRESULT PacedStream::Read(const CancelCheck& cancelled, LONGLONG* timestamp, IMFSample** sample) {
  if (!timestamp || !sample) return E_POINTER;
  std::unique_lock lock(mutex_);
  HRESULT hr = SettleCurrentType();
  if (FAILED(hr)) return hr;
  if (!started_) {
    started_ = true;
    anchorIndex_ = nextIndex_;
    anchorTime_ = Clock::now();
  }
  for (;;) {
    if (shutDown_) return MF_E_SHUTDOWN;
    if (cancelled && cancelled()) return E_ABORT;
    const auto due = DueTime(nextIndex_);
    if (Clock::now() >= due) break;
    wake_.wait_until(lock, due);
  }
  while (Clock::now() - DueTime(nextIndex_) > kBacklog) ++nextIndex_;
  const UINT64 index = nextIndex_++;
  const LONGLONG time = anchorTimestamp_ + TicksSinceAnchor(index);
  const LONGLONG duration = TicksSinceAnchor(index + 1) - TicksSinceAnchor(index);
  ComPtr<IMFMediaType> current = current_;
  lock.unlock();

  hr = MakeSample(current.Get(), index, time, duration, sample);
  if (SUCCEEDED(hr)) *timestamp = time;
  return hr;
}

HRESULT PacedStream::MakeSample(IMFMediaType* current, UINT64 index, LONGLONG timestamp,
                                LONGLONG duration, IMFSample** sample) const {
  return MakeCaptureSample(
      SampleSize(current), timestamp, duration,
      [&](BYTE* bytes) {
        FillSample(current, index, bytes);
        return true;
      },
      sample);
}

void PacedStream::Wake() {
  std::lock_guard lock(mutex_);
  wake_.notify_all();
}

void PacedStream::Shutdown() {
  std::lock_guard lock(mutex_);
  shutDown_ = true;
  wake_.notify_all();
}

}  // namespace tarsel::platform
