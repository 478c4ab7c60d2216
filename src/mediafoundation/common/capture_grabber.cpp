#include "mediafoundation/common/capture_grabber.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tarsel {

namespace {

// How long Close waits for a read that a flush should have ended. The platform
// keeps the grabber alive for a late completion, which then finds delivery over.
constexpr auto kFlushWait = std::chrono::seconds(5);

}  // namespace

void ActivateList::Reset() {
  if (!array_) return;
  for (UINT32 i = 0; i < count_; ++i) {
    if (array_[i]) array_[i]->Release();
  }
  CoTaskMemFree(array_);
  array_ = nullptr;
  count_ = 0;
}

CaptureGrabber::CaptureGrabber(const GUID& deviceClass, DWORD stream, bool nameRequired)
    : deviceClass_(deviceClass), stream_(stream), nameRequired_(nameRequired) {}

CaptureGrabber::~CaptureGrabber() { Close(); }

// ------------------------------------------------------------ COM

HRESULT CaptureGrabber::QueryInterface(REFIID riid, void** ppv) {
  // The callback interface is the object's first base, so it sits at offset 0.
  static const QITAB kInterfaces[] = {
      {&IID_IMFSourceReaderCallback, 0},
      {nullptr, 0},
  };
  return QISearch(this, kInterfaces, riid, ppv);
}

ULONG CaptureGrabber::AddRef() { return ++refCount_; }

ULONG CaptureGrabber::Release() {
  const ULONG left = --refCount_;
  // COM's rule: the last reference destroys the object.
  if (left == 0) delete this;
  return left;
}

HRESULT CaptureGrabber::OnReadSample(HRESULT hrStatus, DWORD, DWORD, LONGLONG llTimestamp,
                                     IMFSample* pSample) {
  {
    std::lock_guard lock(deliveryMutex_);
    if (readsInFlight_ > 0) --readsInFlight_;
    if (!acceptingReads_) {
      readChain_ = false;
      deliveryChanged_.notify_all();
      return S_OK;
    }
    ++deliveries_;
    deliveringThread_ = std::this_thread::get_id();
  }
  const HRESULT result = HandleRead(hrStatus, llTimestamp, pSample);
  std::lock_guard lock(deliveryMutex_);
  --deliveries_;
  deliveryChanged_.notify_all();
  return result;
}

HRESULT CaptureGrabber::HandleRead(HRESULT status, LONGLONG timestamp, IMFSample* sample) {
  if (FAILED(status)) {
    readyCallBack_ = nullptr;  // delivery ends until the next StartGrabbing
    EndReadChain();
    return status;
  }
  {
    // Decided under the lock, so a start that comes now finds delivery ended
    // and issues its own first read.
    std::lock_guard lock(deliveryMutex_);
    if (!isGrabbing_) {
      readChain_ = false;
      return S_OK;
    }
  }
  if (sample) {
    try {
      ProcessSample(sample, timestamp);
    } catch (...) {
      // No caller can receive a failure here: the sample is dropped and
      // delivery goes on with the next one.
    }
  }
  return RequestRead();
}

HRESULT CaptureGrabber::OnFlush(DWORD) {
  std::lock_guard lock(deliveryMutex_);
  readsInFlight_ = 0;  // a flush ends every pending read
  readChain_ = false;
  deliveryChanged_.notify_all();
  return S_OK;
}

HRESULT CaptureGrabber::OnEvent(DWORD, IMFMediaEvent*) { return S_OK; }

// ------------------------------------------------------------ devices

void CaptureGrabber::ListDevices(uint32_t* deviceCount) {
  if (FAILED(MFCreateAttributes(readerAttributes_.Put(), 2))) {
    throw Message(kCreateAttributesFailed);
  }
  if (FAILED(readerAttributes_->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, deviceClass_))) {
    throw Message(kSetDeviceClassFailed);
  }
  if (FAILED(MFEnumDeviceSources(readerAttributes_.Get(), deviceActivates_.ArrayPut(),
                                 deviceActivates_.CountPut()))) {
    throw Message(kEnumerateFailed);
  }
  deviceNames_.clear();
  for (UINT32 i = 0; i < deviceActivates_.size(); ++i) {
    deviceNames_.push_back(ReadDeviceName(deviceActivates_[i]));
  }
  if (deviceCount) *deviceCount = DeviceCount();
}

std::string CaptureGrabber::ReadDeviceName(IMFActivate* activate) const {
  CoTaskMemPtr<WCHAR> wideName;
  const HRESULT hr =
      activate->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, wideName.Put(), nullptr);
  if (FAILED(hr)) {
    if (nameRequired_) throw Message(kDeviceNameFailed);
    return std::string();
  }
  return NarrowLowBytes(wideName.Get());
}

int CaptureGrabber::GetDeviceName(int32_t index, char* name, uint32_t* copiedLength,
                                  int32_t maxLength) const {
  if (index < 0 || static_cast<std::size_t>(index) >= deviceNames_.size()) return 0;
  const std::string& deviceName = deviceNames_[index];
  // A length below 1 copies nothing rather than becoming a huge size.
  const std::size_t count =
      maxLength < 1 ? 0 : std::min(deviceName.size(), static_cast<std::size_t>(maxLength));
  if (count > 0 && !name) return -1;
  // strncpy semantics: bytes after a zero byte inside the name become zeros.
  if (count > 0) std::strncpy(name, deviceName.c_str(), count);
  if (copiedLength) *copiedLength = static_cast<uint32_t>(count);
  return 0;
}

void CaptureGrabber::OpenDevice(int32_t index, bool asynchronous, uint32_t* formatCount) {
  if (index < 0 || static_cast<UINT32>(index) >= deviceActivates_.size()) return;
  if (sourceReader_ || mediaSource_) {
    // A second open: the first device goes, and a new store carries the
    // reader's settings (the first one went to the first reader, or still
    // holds the callback of a failed asynchronous open).
    ReleaseDevice();
    if (FAILED(MFCreateAttributes(readerAttributes_.Put(), 2))) {
      throw Message(kCreateAttributesFailed);
    }
  }
  isAsync_ = asynchronous;
  openedDevice_ = index;
  if (FAILED(deviceActivates_[index]->ActivateObject(
          IID_IMFMediaSource, reinterpret_cast<void**>(mediaSource_.Put())))) {
    throw Message(kActivateFailed);
  }
  if (isAsync_) {
    readerAttributes_->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK,
                                  static_cast<IMFSourceReaderCallback*>(this));
  }
  if (FAILED(MFCreateSourceReaderFromMediaSource(mediaSource_.Get(), readerAttributes_.Get(),
                                                 sourceReader_.Put()))) {
    throw Message(kCreateReaderFailed);
  }
  {
    std::lock_guard lock(deliveryMutex_);
    acceptingReads_ = true;
    readChain_ = false;
  }
  if (FAILED(sourceReader_->GetCurrentMediaType(stream_, currentMediaType_.Put()))) {
    throw Message(kCurrentTypeFailed);
  }
  readerAttributes_.Reset();

  ClearFormats();
  for (DWORD n = 0;; ++n) {
    ComPtr<IMFMediaType> nativeType;
    // MF_E_NO_MORE_TYPES ends the list; any other failure ends it as well.
    if (sourceReader_->GetNativeMediaType(stream_, n, nativeType.Put()) != S_OK) break;
    AddFormat(nativeType.Get());
  }
  if (formatCount) *formatCount = static_cast<uint32_t>(FormatCount());
}

// ------------------------------------------------------------ delivery

void CaptureGrabber::BeginGrabbing() {
  sampleCounter_ = 0;
  {
    std::lock_guard lock(deliveryMutex_);
    isGrabbing_ = true;
    // A delivery still running requests the next read itself: a second read
    // would put two in flight and interleave the blocks.
    if (!isAsync_ || readChain_) return;
    readChain_ = true;
  }
  RequestRead();  // the result is not checked
}

HRESULT CaptureGrabber::RequestRead() {
  ComPtr<IMFSourceReader> reader;
  {
    std::lock_guard lock(deliveryMutex_);
    // Stopped meanwhile: nothing more is requested.
    if (!acceptingReads_ || !sourceReader_ || !isGrabbing_) {
      readChain_ = false;
      return S_OK;
    }
    ++readsInFlight_;
    readChain_ = true;
    reader = sourceReader_;
  }
  const HRESULT hr = reader->ReadSample(stream_, 0, nullptr, nullptr, nullptr, nullptr);
  if (FAILED(hr)) {
    std::lock_guard lock(deliveryMutex_);
    --readsInFlight_;
    readChain_ = false;
    deliveryChanged_.notify_all();
  }
  return hr;
}

void CaptureGrabber::EndReadChain() {
  std::lock_guard lock(deliveryMutex_);
  readChain_ = false;
}

void CaptureGrabber::ProcessSample(IMFSample* sample, LONGLONG timestamp) {
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(buffer.Put()))) throw Message(kConvertFailed);
  DWORD length = 0;
  if (FAILED(buffer->GetCurrentLength(&length))) throw Message(kLengthFailed);
  BYTE* bytes = nullptr;
  // A buffer that cannot be locked has nothing to copy from: the sample is dropped.
  if (FAILED(buffer->Lock(&bytes, nullptr, nullptr))) return;
  std::vector<uint8_t> block(bytes, bytes + length);
  buffer->Unlock();
  Deliver(timestamp, static_cast<uint32_t>(block.size()), block.data());
}

void CaptureGrabber::Deliver(LONGLONG timestamp, uint32_t byteCount, uint8_t* block) {
  const uint32_t number = ++sampleCounter_;
  if (FrameReadyCallBack callback = readyCallBack_) {
    callback(number, static_cast<int64_t>(timestamp), byteCount, block);
  }
}

void CaptureGrabber::StopDelivery() {
  std::unique_lock lock(deliveryMutex_);
  acceptingReads_ = false;
  // Closing from inside the caller's own callback: that delivery is this call.
  const int own = deliveries_ > 0 && deliveringThread_ == std::this_thread::get_id() ? 1 : 0;
  deliveryChanged_.wait(lock, [&] { return deliveries_ == own; });
  if (own || readsInFlight_ == 0 || !sourceReader_) return;
  lock.unlock();
  sourceReader_->Flush(MF_SOURCE_READER_ALL_STREAMS);
  lock.lock();
  deliveryChanged_.wait_for(lock, kFlushWait,
                            [&] { return readsInFlight_ == 0 && deliveries_ == 0; });
}

void CaptureGrabber::ReleaseDevice() {
  StopDelivery();
  isGrabbing_ = false;
  currentMediaType_.Reset();
  sourceReader_.Reset();
  if (mediaSource_) {
    mediaSource_->Shutdown();
    mediaSource_.Reset();
  }
  if (openedDevice_ >= 0) {
    deviceActivates_[openedDevice_]->ShutdownObject();
    openedDevice_ = -1;
  }
  ReleaseDeviceInterfaces();
}

void CaptureGrabber::Close() {
  if (closed_) return;
  closed_ = true;
  ReleaseDevice();
  readerAttributes_.Reset();
  deviceActivates_.Reset();
  runtime_.Shutdown();
  deviceNames_.clear();
}

int DestroyGrabber(void** handle) noexcept {
  if (!handle || !*handle) return 0;
  auto* grabber = static_cast<CaptureGrabber*>(std::exchange(*handle, nullptr));
  try {
    grabber->Close();
  } catch (...) {
    // Releasing never raises; the handle's reference goes back regardless.
  }
  grabber->Release();
  return 0;
}

}  // namespace tarsel
