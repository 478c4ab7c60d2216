// The sink writer: streams described by their output types, encoders opened by
// the input types, and samples encoded and muxed by libavformat into the
// container the file's extension names. The file is created with the writer.
//
// WriteSample turns a sample into the encoder's frames on the caller's thread
// and queues them; one worker per writer encodes and muxes them in the order
// of the calls. With throttling (the default) a write waits while a few frames
// are queued; with MF_SINK_WRITER_DISABLE_THROTTLING it returns at once unless
// the queue holds more than kQueueBudget bytes, which bounds the memory a
// caller faster than the encoder can take. A failure of the worker is kept and
// returned by every later write and by Finalize.
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "mediafoundation/platform/com_object.h"
#include "mediafoundation/platform/sink_stream.h"

namespace tarsel::platform {

namespace {

constexpr std::size_t kThrottledFrames = 8;
constexpr std::size_t kQueueBudget = std::size_t{256} << 20;

// The containers the platform writes, by extension.
struct Container {
  const char* extension;
  const char* muxer;
};
constexpr Container kContainers[] = {
    {".mp4", "mp4"}, {".m4v", "mp4"}, {".m4a", "mp4"}, {".3gp", "3gp"}, {".3g2", "3g2"},
};

// UTF-8 for a UTF-16 path; false for an unpaired surrogate.
bool ToUtf8(LPCWSTR wide, std::string* utf8) {
  for (; *wide; ++wide) {
    uint32_t code = *wide;
    if (code >= 0xD800 && code <= 0xDBFF && wide[1] >= 0xDC00 && wide[1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (*++wide - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      return false;
    }
    if (code < 0x80) {
      utf8->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      utf8->push_back(static_cast<char>(0xC0 | code >> 6));
      utf8->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      utf8->push_back(static_cast<char>(0xE0 | code >> 12));
      utf8->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      utf8->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      utf8->push_back(static_cast<char>(0xF0 | code >> 18));
      utf8->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      utf8->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      utf8->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return true;
}

// The muxer for the path's extension (compared without case), or null.
const char* MuxerFor(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) {
    return nullptr;
  }
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const Container& container : kContainers) {
    if (extension == container.extension) return container.muxer;
  }
  return nullptr;
}

class SinkWriter final : public ComObject<IMFSinkWriter> {
 public:
  SinkWriter(OutputContextPtr output, bool throttled)
      : output_(std::move(output)), maxQueuedFrames_(throttled ? kThrottledFrames : SIZE_MAX) {}

  ~SinkWriter() override {
    if (worker_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        stopping_ = true;
      }
      changed_.notify_all();
      worker_.join();
    }
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFSinkWriter) {
      return HandOut(static_cast<IMFSinkWriter*>(this), out);
    }
    return E_NOINTERFACE;
  }

  HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* type, DWORD* index) override {
    if (!type || !index) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (state_ != State::kConfiguring) return MF_E_INVALIDREQUEST;
    try {
      std::unique_ptr<SinkStream> stream = SinkStream::ForOutputType(type);
      if (!stream) return MF_E_INVALIDMEDIATYPE;
      streams_.push_back(std::move(stream));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    *index = static_cast<DWORD>(streams_.size() - 1);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD index, IMFMediaType* type,
                                              IMFAttributes*) override {
    if (!type) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (state_ != State::kConfiguring) return MF_E_INVALIDREQUEST;
    if (index >= streams_.size()) return MF_E_INVALIDSTREAMNUMBER;
    return streams_[index]->SetInputType(type, output_->oformat->flags & AVFMT_GLOBALHEADER);
  }

  HRESULT STDMETHODCALLTYPE BeginWriting() override {
    std::lock_guard lock(mutex_);
    if (state_ != State::kConfiguring || streams_.empty()) return MF_E_INVALIDREQUEST;
    for (const auto& stream : streams_) {
      // Samples that are already encoded are not taken: every stream needs its encoder.
      if (!stream->HasEncoder()) return MF_E_INVALIDREQUEST;
    }
    state_ = State::kFailed;  // until the header is written
    for (const auto& stream : streams_) {
      const HRESULT hr = stream->AddTo(output_.get());
      if (FAILED(hr)) return hr;
    }
    const int result = avformat_write_header(output_.get(), nullptr);
    if (result < 0) return HresultFromAv(result);
    try {
      worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return E_OUTOFMEMORY;
    }
    state_ = State::kWriting;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE WriteSample(DWORD index, IMFSample* sample) override {
    if (!sample) return E_POINTER;
    std::unique_lock lock(mutex_);
    if (state_ != State::kWriting) return MF_E_INVALIDREQUEST;
    if (index >= streams_.size()) return MF_E_INVALIDSTREAMNUMBER;
    if (FAILED(failure_)) return failure_;
    std::vector<EncoderInput> inputs;
    HRESULT hr = S_OK;
    try {
      hr = streams_[index]->Prepare(sample, &inputs);
      if (SUCCEEDED(hr)) Queue(index, &inputs);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    changed_.wait(lock, [&] {
      return (queue_.size() <= maxQueuedFrames_ && queuedBytes_ <= kQueueBudget) ||
             FAILED(failure_);
    });
    return hr;
  }

  // Encodes what is queued, drains the encoders and completes the file.
  HRESULT STDMETHODCALLTYPE Finalize() override {
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::kWriting) return MF_E_INVALIDREQUEST;
      state_ = State::kFinalizing;
      try {
        for (std::size_t index = 0; index < streams_.size(); ++index) {
          std::vector<EncoderInput> inputs;
          const HRESULT hr = streams_[index]->Finish(&inputs);
          Queue(index, &inputs);
          if (FAILED(hr) && SUCCEEDED(failure_)) failure_ = hr;
        }
      } catch (const std::bad_alloc&) {
        if (SUCCEEDED(failure_)) failure_ = E_OUTOFMEMORY;
      }
    }
    changed_.notify_all();
    worker_.join();
    std::lock_guard lock(mutex_);
    state_ = State::kFinalized;
    return failure_;
  }

  HRESULT STDMETHODCALLTYPE SendStreamTick(DWORD, LONGLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PlaceMarker(DWORD, LPVOID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NotifyEndOfSegment(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Flush(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD, REFGUID, REFIID, LPVOID* object) override {
    if (object) *object = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS*) override {
    return E_NOTIMPL;
  }

 private:
  enum class State { kConfiguring, kWriting, kFinalizing, kFinalized, kFailed };
  struct Job {
    std::size_t stream;
    EncoderInput input;
  };

  // With mutex_ held.
  void Queue(std::size_t stream, std::vector<EncoderInput>* inputs) {
    for (EncoderInput& input : *inputs) {
      queuedBytes_ += FrameBytes(input);
      queue_.push_back(Job{stream, std::move(input)});
    }
    changed_.notify_all();
  }

  static std::size_t FrameBytes(const EncoderInput& input) {
    std::size_t bytes = 0;
    for (AVBufferRef* buffer : input.frame->buf) {
      if (buffer) bytes += buffer->size;
    }
    return bytes;
  }

  // The worker: encodes and muxes the queue until Finalize, then completes the file.
  void Run() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock,
                      [&] { return stopping_ || !queue_.empty() || state_ == State::kFinalizing; });
        if (stopping_) return;
        if (queue_.empty()) break;
        job = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= FrameBytes(job.input);
        if (FAILED(failure_)) continue;  // nothing more reaches the file
      }
      changed_.notify_all();
      Fail(Encode(job.stream, &job.input));
    }
    Fail(Complete());
  }

  HRESULT Encode(std::size_t stream, EncoderInput* input) {
    try {
      return streams_[stream]->Encode(input, [this](AVPacket* packet) {
        const int result = av_interleaved_write_frame(output_.get(), packet);
        return result < 0 ? HresultFromAv(result) : S_OK;
      });
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT Complete() {
    if (HasFailed()) return S_OK;
    for (std::size_t stream = 0; stream < streams_.size(); ++stream) {
      const HRESULT hr = Encode(stream, nullptr);
      if (FAILED(hr)) return hr;
    }
    int result = av_write_trailer(output_.get());
    if (result >= 0) result = avio_closep(&output_->pb);
    return result < 0 ? HresultFromAv(result) : S_OK;
  }

  bool HasFailed() {
    std::lock_guard lock(mutex_);
    return FAILED(failure_);
  }

  void Fail(HRESULT hr) {
    if (SUCCEEDED(hr)) return;
    {
      std::lock_guard lock(mutex_);
      if (SUCCEEDED(failure_)) failure_ = hr;
    }
    changed_.notify_all();
  }

  OutputContextPtr output_;
  const std::size_t maxQueuedFrames_;
  std::vector<std::unique_ptr<SinkStream>> streams_;

  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::kConfiguring;
  std::deque<Job> queue_;
  std::size_t queuedBytes_ = 0;
  HRESULT failure_ = S_OK;
  bool stopping_ = false;
  std::thread worker_;
};

// The output context for the path, its file created and empty.
HRESULT CreateOutput(LPCWSTR url, OutputContextPtr* output) {
  std::string path;
  if (!ToUtf8(url, &path)) return E_INVALIDARG;
  const char* muxer = MuxerFor(path);
  if (!muxer) return E_INVALIDARG;
  AVFormatContext* context = nullptr;
  const int allocated = avformat_alloc_output_context2(&context, nullptr, muxer, nullptr);
  if (allocated < 0) return HresultFromAv(allocated);
  output->reset(context);
  // The "file:" prefix keeps the path a path, whatever it contains.
  const int result = avio_open(&context->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
  return result < 0 ? HresultFromAv(result) : S_OK;
}

}  // namespace
}  // namespace tarsel::platform

using namespace tarsel::platform;

HRESULT MFCreateSinkWriterFromURL(LPCWSTR pwszOutputURL, IMFByteStream* pByteStream,
                                  IMFAttributes* pAttributes, IMFSinkWriter** ppSinkWriter) {
  if (!ppSinkWriter) return E_POINTER;
  *ppSinkWriter = nullptr;
  if (!pwszOutputURL) return E_INVALIDARG;
  if (pByteStream) return E_NOTIMPL;  // only files named by the url
  UINT32 unthrottled = 0;
  if (pAttributes) pAttributes->GetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, &unthrottled);
  try {
    tarsel::OutputContextPtr output;
    const HRESULT hr = CreateOutput(pwszOutputURL, &output);
    if (FAILED(hr)) return hr;
    *ppSinkWriter = MakeCom<SinkWriter>(std::move(output), unthrottled == 0).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
