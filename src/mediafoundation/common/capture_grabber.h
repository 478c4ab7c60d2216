// What the camera and audio grabbers share: platform start-up, the device list,
// opening a device into a source reader, the format catalogue, the ready
// callback, stopping, and the COM shape of a source-reader callback.
//
// Lifetime: the caller's handle holds one reference, which Clear gives back
// after Close; the source reader holds another while it may call back. Close
// first stops further reads and waits for the read in flight and any callback
// running, so nothing reaches the caller after Clear, and the memory stays valid
// for the platform until its last Release.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/boundary.h"
#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/common/media_foundation.h"
#include "mediafoundation/common/mf_runtime.h"
#include "tarsel.h"

namespace tarsel {

// The activation objects of MFEnumDeviceSources: each released, then the array.
class ActivateList {
 public:
  ActivateList() = default;
  ActivateList(const ActivateList&) = delete;
  ActivateList& operator=(const ActivateList&) = delete;
  ~ActivateList() { Reset(); }

  IMFActivate*** ArrayPut() {
    Reset();
    return &array_;
  }
  UINT32* CountPut() { return &count_; }
  UINT32 size() const { return array_ ? count_ : 0; }
  IMFActivate* operator[](UINT32 index) const { return array_[index]; }
  void Reset();

 private:
  IMFActivate** array_ = nullptr;
  UINT32 count_ = 0;
};

// Low-byte narrowing of a UTF-16 name: byte k is the low 8 bits of code unit k.
template <class WideChar>
std::string NarrowLowBytes(const WideChar* wide) {
  std::string narrow;
  if (!wide) return narrow;
  for (; *wide; ++wide) narrow.push_back(static_cast<char>(static_cast<unsigned>(*wide) & 0xFF));
  return narrow;
}

class CaptureGrabber : public IMFSourceReaderCallback {
 public:
  static constexpr char kCreateAttributesFailed[] = "Error creating video configuation.";
  static constexpr char kSetDeviceClassFailed[] = "Error initialising video configuration object.";
  static constexpr char kEnumerateFailed[] = "Error enumerating video devices";
  static constexpr char kDeviceNameFailed[] = "Error getting device name.";
  static constexpr char kActivateFailed[] = "Error activating video device";
  static constexpr char kCreateReaderFailed[] = "Error creating video source reader";
  static constexpr char kCurrentTypeFailed[] =
      "Error retrieving current media type from first video stream";
  static constexpr char kNullConfig[] = "Config pointer is null";
  static constexpr char kConvertFailed[] = "ConvertToContiguousBuffer failed";
  static constexpr char kLengthFailed[] = "Get buffer length failed";

  CaptureGrabber(const CaptureGrabber&) = delete;
  CaptureGrabber& operator=(const CaptureGrabber&) = delete;

  // A new grabber of kind T; the pointer holds the reference that becomes the handle's.
  template <class T>
  static ComPtr<T> Make() {
    return ComPtr<T>::Adopt(std::make_unique<T>().release());
  }

  // IUnknown, answered through QISearch with the callback interface at offset 0.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IMFSourceReaderCallback.
  HRESULT STDMETHODCALLTYPE OnReadSample(HRESULT hrStatus, DWORD dwStreamIndex, DWORD dwStreamFlags,
                                         LONGLONG llTimestamp, IMFSample* pSample) override;
  HRESULT STDMETHODCALLTYPE OnFlush(DWORD dwStreamIndex) override;
  HRESULT STDMETHODCALLTYPE OnEvent(DWORD dwStreamIndex, IMFMediaEvent* pEvent) override;

  // Builds the device list (Init) and writes its size to deviceCount (if given).
  void ListDevices(uint32_t* deviceCount);
  uint32_t DeviceCount() const { return static_cast<uint32_t>(deviceNames_.size()); }
  // Copies min(name length, maxLength) bytes of device index's name, without a
  // terminator. Returns 0, also for an index out of range (nothing written), or
  // -1 for a null name with bytes to copy.
  int GetDeviceName(int32_t index, char* name, uint32_t* copiedLength, int32_t maxLength) const;
  // Opens device index into a source reader and catalogues its native formats.
  // An index out of range does nothing.
  void OpenDevice(int32_t index, bool asynchronous, uint32_t* formatCount);
  void SetReadyCallBack(FrameReadyCallBack callback) { readyCallBack_ = callback; }
  void StopGrabbing() { isGrabbing_ = false; }
  // Ends delivery and releases every platform object and the start-up pair.
  // Safe to call more than once; the destructor calls it too.
  void Close();

 protected:
  // deviceClass: the MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE value; stream: the
  // reader's stream selector; nameRequired: a friendly name that cannot be read
  // fails the listing (otherwise the device is listed with an empty name).
  CaptureGrabber(const GUID& deviceClass, DWORD stream, bool nameRequired);
  virtual ~CaptureGrabber();

  // The format catalogue of the grabber's record type.
  virtual void ClearFormats() = 0;
  virtual void AddFormat(IMFMediaType* nativeType) = 0;
  virtual std::size_t FormatCount() const = 0;
  // Turns a delivered sample into one block for the caller. By default the
  // block is the sample's bytes as captured.
  virtual void ProcessSample(IMFSample* sample, LONGLONG timestamp);
  // Releases the grabber's own interfaces on the media source.
  virtual void ReleaseDeviceInterfaces() {}

  // The common tail of StartGrabbing: grabbing, counter reset, and in
  // asynchronous mode the first read. A start while delivery still runs (a read
  // in flight, or a block being handed over) lets that delivery go on, so one
  // read at most is ever in flight.
  void BeginGrabbing();
  // Counts a block and hands it to the caller's callback, if one is set.
  void Deliver(LONGLONG timestamp, uint32_t byteCount, uint8_t* block);

  IMFMediaSource* MediaSource() const { return mediaSource_.Get(); }
  IMFSourceReader* SourceReader() const { return sourceReader_.Get(); }
  IMFMediaType* CurrentMediaType() const { return currentMediaType_.Get(); }
  DWORD Stream() const { return stream_; }
  bool IsAsync() const { return isAsync_; }
  bool IsGrabbing() const { return isGrabbing_; }
  uint32_t SampleCounter() const { return sampleCounter_; }
  // Asynchronous reads requested and not yet completed.
  int ReadsInFlight() {
    std::lock_guard lock(deliveryMutex_);
    return readsInFlight_;
  }

 private:
  HRESULT HandleRead(HRESULT status, LONGLONG timestamp, IMFSample* sample);
  // Issues the next asynchronous read unless grabbing stopped or delivery is
  // being shut down.
  HRESULT RequestRead();
  // Records that no read is pending and none will be requested.
  void EndReadChain();
  // Stops issuing reads and waits for the read in flight and the running callback.
  void StopDelivery();
  // Releases the reader, its media type and the opened source.
  void ReleaseDevice();
  std::string ReadDeviceName(IMFActivate* activate) const;

  MfRuntime runtime_;  // first: undone last
  const GUID deviceClass_;
  const DWORD stream_;
  const bool nameRequired_;
  std::atomic<ULONG> refCount_{1};  // the handle's reference

  std::atomic<FrameReadyCallBack> readyCallBack_{nullptr};
  ComPtr<IMFMediaSource> mediaSource_;
  ComPtr<IMFAttributes> readerAttributes_;
  ActivateList deviceActivates_;
  int openedDevice_ = -1;
  ComPtr<IMFSourceReader> sourceReader_;
  ComPtr<IMFMediaType> currentMediaType_;
  std::vector<std::string> deviceNames_;
  std::atomic<bool> isGrabbing_{false};
  bool isAsync_ = false;
  std::atomic<uint32_t> sampleCounter_{0};
  bool closed_ = false;

  // Delivery bookkeeping between the caller's thread and the reader's worker.
  std::mutex deliveryMutex_;
  std::condition_variable deliveryChanged_;
  bool acceptingReads_ = false;
  int readsInFlight_ = 0;
  // A read is pending, or a completion is running that will request the next:
  // set by the read that starts delivery, cleared by the completion that ends it.
  bool readChain_ = false;
  int deliveries_ = 0;
  std::thread::id deliveringThread_;
};

// The grabber behind a handle, as its kind T; null raises notInitialized.
template <class T>
T& GrabberOf(void* handle, const char* notInitialized) {
  if (!handle) throw Message(notInitialized);
  return *static_cast<T*>(static_cast<CaptureGrabber*>(handle));
}

// Init of a grabber: clears the buffer, lists the devices and writes the handle
// only on success.
template <class T>
int CreateGrabber(void** handle, uint32_t* deviceCount, char* errorText,
                  const char* unknownText) noexcept {
  ClearErrorText(errorText);
  return Guard(errorText, unknownText, [&] {
    if (!handle) throw Message(kNullHandlePointer);
    ComPtr<T> grabber = CaptureGrabber::Make<T>();
    grabber->ListDevices(deviceCount);
    *handle = static_cast<CaptureGrabber*>(grabber.Detach());
    return 0;
  });
}

// Clear of a grabber: closes it and gives back the handle's reference.
int DestroyGrabber(void** handle) noexcept;

}  // namespace tarsel
