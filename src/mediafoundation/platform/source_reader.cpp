// The source reader over a capture source. Without a callback a read blocks
// until the device has a sample; with MF_SOURCE_READER_ASYNC_CALLBACK reads are
// queued and completed one after another on the reader's worker thread through
// OnReadSample, and synchronous reads are refused.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include "mediafoundation/platform/com_object.h"
#include "mediafoundation/platform/media_source.h"
#include "mediafoundation/platform/runtime.h"

namespace tarsel::platform {

namespace {

// The worker of an asynchronous reader. It lives apart from the reader, so the
// reader's last Release may come from inside a callback on the worker itself.
class AsyncWorker {
 public:
  AsyncWorker(std::shared_ptr<CaptureStream> stream, ComPtr<IMFSourceReaderCallback> callback)
      : stream_(std::move(stream)), callback_(std::move(callback)) {}

  static std::shared_ptr<AsyncWorker> Start(std::shared_ptr<CaptureStream> stream,
                                            ComPtr<IMFSourceReaderCallback> callback) {
    auto worker = std::make_shared<AsyncWorker>(std::move(stream), std::move(callback));
    worker->thread_ = std::thread([self = worker] { self->Run(); });
    return worker;
  }

  void QueueRead() {
    std::lock_guard lock(mutex_);
    queue_.push_back(Task::kRead);
    work_.notify_all();
  }

  // Cancels the queued reads and the one waiting for the device, then reports
  // the flush through OnFlush.
  void Flush() {
    {
      std::lock_guard lock(mutex_);
      queue_.erase(std::remove(queue_.begin(), queue_.end(), Task::kRead), queue_.end());
      queue_.push_back(Task::kFlush);
      ++cancelGeneration_;
      work_.notify_all();
    }
    stream_->Wake();
  }

  // Ends the worker: nothing queued is completed any more.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      work_.notify_all();
    }
    stream_->Wake();
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // the worker ends after the callback that stopped it
    } else if (thread_.joinable()) {
      thread_.join();
    }
  }

 private:
  enum class Task { kRead, kFlush };

  void Run() {
    for (;;) {
      Task task;
      std::uint64_t generation = 0;
      {
        std::unique_lock lock(mutex_);
        work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) break;
        task = queue_.front();
        queue_.pop_front();
        generation = cancelGeneration_;
      }
      if (task == Task::kFlush) {
        callback_->OnFlush(0);
        continue;
      }
      Complete(generation);
    }
    callback_.Reset();
  }

  void Complete(std::uint64_t generation) {
    LONGLONG timestamp = 0;
    ComPtr<IMFSample> sample;
    const HRESULT hr = stream_->Read(
        [&] {
          std::lock_guard lock(mutex_);
          return stopping_ || cancelGeneration_ != generation;
        },
        &timestamp, sample.Put());
    if (hr == E_ABORT) return;  // cancelled by a flush or by the reader going away
    const DWORD flags = FAILED(hr) ? MF_SOURCE_READERF_ERROR : 0;
    callback_->OnReadSample(hr, 0, flags, timestamp, sample.Get());
  }

  const std::shared_ptr<CaptureStream> stream_;
  ComPtr<IMFSourceReaderCallback> callback_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::deque<Task> queue_;
  std::uint64_t cancelGeneration_ = 0;
  bool stopping_ = false;
};

class SourceReader final : public ComObject<IMFSourceReader> {
 public:
  SourceReader(ComPtr<IMFMediaSource> source, std::shared_ptr<CaptureStream> stream,
               ComPtr<IMFSourceReaderCallback> callback)
      : source_(std::move(source)), stream_(std::move(stream)) {
    if (callback) worker_ = AsyncWorker::Start(stream_, std::move(callback));
  }
  // As on the platform, a reader going away shuts its source down.
  ~SourceReader() override {
    if (worker_) worker_->Stop();
    source_->Shutdown();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFSourceReader) {
      return HandOut(static_cast<IMFSourceReader*>(this), out);
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetStreamSelection(DWORD stream, BOOL* selected) override {
    if (!selected) return E_POINTER;
    HRESULT hr = Resolve(stream);
    if (SUCCEEDED(hr)) *selected = TRUE;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetStreamSelection(DWORD stream, BOOL) override {
    return stream == MF_SOURCE_READER_ALL_STREAMS ? S_OK : Resolve(stream);
  }
  HRESULT STDMETHODCALLTYPE GetNativeMediaType(DWORD stream, DWORD index,
                                               IMFMediaType** type) override {
    HRESULT hr = Resolve(stream);
    if (FAILED(hr)) return hr;
    if (index == MF_SOURCE_READER_CURRENT_TYPE_INDEX) return stream_->GetCurrentType(type);
    return stream_->GetNativeType(index, type);
  }
  HRESULT STDMETHODCALLTYPE GetCurrentMediaType(DWORD stream, IMFMediaType** type) override {
    HRESULT hr = Resolve(stream);
    return FAILED(hr) ? hr : stream_->GetCurrentType(type);
  }
  HRESULT STDMETHODCALLTYPE SetCurrentMediaType(DWORD stream, DWORD*, IMFMediaType* type) override {
    HRESULT hr = Resolve(stream);
    return FAILED(hr) ? hr : stream_->SetCurrentType(type);
  }
  HRESULT STDMETHODCALLTYPE ReadSample(DWORD stream, DWORD, DWORD* actualStream, DWORD* flags,
                                       LONGLONG* timestamp, IMFSample** sample) override {
    HRESULT hr = Resolve(stream == MF_SOURCE_READER_ANY_STREAM ? 0 : stream);
    if (FAILED(hr)) return hr;
    if (worker_) {
      // Asynchronous mode: results come through the callback, never here.
      if (actualStream || flags || timestamp || sample) return E_INVALIDARG;
      worker_->QueueRead();
      return S_OK;
    }
    if (!flags || !sample) return E_POINTER;
    *sample = nullptr;
    LONGLONG time = 0;
    hr = stream_->Read(nullptr, &time, sample);
    if (actualStream) *actualStream = 0;
    *flags = FAILED(hr) ? MF_SOURCE_READERF_ERROR : 0;
    if (timestamp) *timestamp = SUCCEEDED(hr) ? time : 0;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Flush(DWORD stream) override {
    HRESULT hr = stream == MF_SOURCE_READER_ALL_STREAMS ? S_OK : Resolve(stream);
    if (SUCCEEDED(hr) && worker_) worker_->Flush();
    return hr;
  }

 private:
  // The source has one stream, index 0, reached also by its kind's selector.
  HRESULT Resolve(DWORD stream) const {
    const bool video = stream_->MajorType() == MFMediaType_Video;
    if (stream == 0 || (stream == MF_SOURCE_READER_FIRST_VIDEO_STREAM && video) ||
        (stream == MF_SOURCE_READER_FIRST_AUDIO_STREAM && !video)) {
      return S_OK;
    }
    return MF_E_INVALIDSTREAMNUMBER;
  }

  const ComPtr<IMFMediaSource> source_;
  const std::shared_ptr<CaptureStream> stream_;
  std::shared_ptr<AsyncWorker> worker_;
};

}  // namespace
}  // namespace tarsel::platform

using namespace tarsel::platform;

HRESULT MFCreateSourceReaderFromMediaSource(IMFMediaSource* pMediaSource,
                                            IMFAttributes* pAttributes,
                                            IMFSourceReader** ppSourceReader) {
  if (!pMediaSource || !ppSourceReader) return E_POINTER;
  if (MediaFoundationStartups() == 0) return MF_E_PLATFORM_NOT_INITIALIZED;
  std::shared_ptr<CaptureStream> stream;
  HRESULT hr = StreamOfSource(pMediaSource, &stream);
  if (FAILED(hr)) return hr;
  tarsel::ComPtr<IMFSourceReaderCallback> callback;
  if (pAttributes) {
    hr = pAttributes->GetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, IID_IMFSourceReaderCallback,
                                 reinterpret_cast<void**>(callback.Put()));
    if (FAILED(hr) && hr != MF_E_ATTRIBUTENOTFOUND) return hr;
  }
  try {
    *ppSourceReader = MakeCom<SourceReader>(tarsel::ComPtr<IMFMediaSource>(pMediaSource),
                                            std::move(stream), std::move(callback))
                          .Detach();
    return S_OK;
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;  // no memory or no thread for the worker
  }
}
