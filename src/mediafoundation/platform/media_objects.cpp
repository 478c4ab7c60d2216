// Attribute stores, media types, samples and memory buffers.
#include <memory>
#include <new>
#include <vector>

#include "mediafoundation/platform/attributes.h"

namespace tarsel::platform {

std::u16string CopyWideString(LPCWSTR text) { return text ? std::u16string(text) : u""; }

namespace {

inline constexpr HRESULT MF_E_NO_SAMPLE_TIMESTAMP = MakeHresult(0xC00D36C8u);
inline constexpr HRESULT MF_E_NO_SAMPLE_DURATION = MakeHresult(0xC00D36C9u);

class AttributeStore final : public Attributes<IMFAttributes> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFAttributes) {
      return HandOut(static_cast<IMFAttributes*>(this), out);
    }
    return E_NOINTERFACE;
  }
};

class MediaType final : public Attributes<IMFMediaType> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFAttributes || riid == IID_IMFMediaType) {
      return HandOut(static_cast<IMFMediaType*>(this), out);
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetMajorType(GUID* major) override {
    return GetGUID(MF_MT_MAJOR_TYPE, major);
  }
  // A format is compressed unless it says so itself or declares every sample
  // independent.
  HRESULT STDMETHODCALLTYPE IsCompressedFormat(BOOL* compressed) override {
    if (!compressed) return E_POINTER;
    UINT32 flag = 0;
    if (SUCCEEDED(GetUINT32(MF_MT_COMPRESSED, &flag))) {
      *compressed = flag != 0;
    } else {
      *compressed = !(SUCCEEDED(GetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, &flag)) && flag != 0);
    }
    return S_OK;
  }
};

class MemoryBuffer final : public ComObject<IMFMediaBuffer> {
 public:
  explicit MemoryBuffer(DWORD maxLength) : bytes_(maxLength) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFMediaBuffer) {
      return HandOut(static_cast<IMFMediaBuffer*>(this), out);
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE Lock(BYTE** buffer, DWORD* maxLength, DWORD* currentLength) override {
    if (!buffer) return E_POINTER;
    std::lock_guard lock(mutex_);
    ++locks_;
    *buffer = bytes_.data();
    if (maxLength) *maxLength = static_cast<DWORD>(bytes_.size());
    if (currentLength) *currentLength = currentLength_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unlock() override {
    std::lock_guard lock(mutex_);
    if (locks_ == 0) return E_FAIL;
    --locks_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* length) override {
    if (!length) return E_POINTER;
    std::lock_guard lock(mutex_);
    *length = currentLength_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD length) override {
    std::lock_guard lock(mutex_);
    if (length > bytes_.size()) return E_INVALIDARG;
    currentLength_ = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<DWORD>(bytes_.size());
    return S_OK;
  }

 private:
  std::mutex mutex_;
  std::vector<BYTE> bytes_;
  DWORD currentLength_ = 0;
  int locks_ = 0;
};

class Sample final : public Attributes<IMFSample> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFAttributes || riid == IID_IMFSample) {
      return HandOut(static_cast<IMFSample*>(this), out);
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetSampleTime(LONGLONG* time) override {
    return ReadTime(time_, hasTime_, time, MF_E_NO_SAMPLE_TIMESTAMP);
  }
  HRESULT STDMETHODCALLTYPE SetSampleTime(LONGLONG time) override {
    std::lock_guard lock(mutex_);
    time_ = time;
    hasTime_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSampleDuration(LONGLONG* duration) override {
    return ReadTime(duration_, hasDuration_, duration, MF_E_NO_SAMPLE_DURATION);
  }
  HRESULT STDMETHODCALLTYPE SetSampleDuration(LONGLONG duration) override {
    std::lock_guard lock(mutex_);
    duration_ = duration;
    hasDuration_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBufferCount(DWORD* count) override {
    if (!count) return E_POINTER;
    std::lock_guard lock(mutex_);
    *count = static_cast<DWORD>(buffers_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBufferByIndex(DWORD index, IMFMediaBuffer** buffer) override {
    if (!buffer) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (index >= buffers_.size()) return E_INVALIDARG;
    *buffer = ComPtr<IMFMediaBuffer>(buffers_[index]).Detach();
    return S_OK;
  }
  // One buffer is handed out as it is; several are joined into a new one that
  // then replaces them, as the platform does.
  HRESULT STDMETHODCALLTYPE ConvertToContiguousBuffer(IMFMediaBuffer** buffer) override {
    if (!buffer) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (buffers_.empty()) return E_UNEXPECTED;
    if (buffers_.size() > 1) {
      HRESULT hr = JoinBuffers();
      if (FAILED(hr)) return hr;
    }
    *buffer = ComPtr<IMFMediaBuffer>(buffers_.front()).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddBuffer(IMFMediaBuffer* buffer) override {
    if (!buffer) return E_POINTER;
    std::lock_guard lock(mutex_);
    buffers_.emplace_back(buffer);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveAllBuffers() override {
    std::vector<ComPtr<IMFMediaBuffer>> released;
    std::lock_guard lock(mutex_);
    released.swap(buffers_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTotalLength(DWORD* total) override {
    if (!total) return E_POINTER;
    std::lock_guard lock(mutex_);
    DWORD sum = 0;
    for (const auto& buffer : buffers_) {
      DWORD length = 0;
      buffer->GetCurrentLength(&length);
      sum += length;
    }
    *total = sum;
    return S_OK;
  }

 private:
  HRESULT ReadTime(LONGLONG value, bool present, LONGLONG* out, HRESULT missing) {
    if (!out) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (!present) return missing;
    *out = value;
    return S_OK;
  }
  HRESULT JoinBuffers() {
    DWORD total = 0;
    for (const auto& part : buffers_) {
      DWORD length = 0;
      part->GetCurrentLength(&length);
      total += length;
    }
    ComPtr<IMFMediaBuffer> joined;
    HRESULT hr = MFCreateMemoryBuffer(total, joined.Put());
    if (FAILED(hr)) return hr;
    BYTE* target = nullptr;
    joined->Lock(&target, nullptr, nullptr);
    DWORD offset = 0;
    for (const auto& part : buffers_) {
      BYTE* source = nullptr;
      DWORD length = 0;
      if (SUCCEEDED(part->Lock(&source, nullptr, &length))) {
        std::memcpy(target + offset, source, length);
        offset += length;
        part->Unlock();
      }
    }
    joined->Unlock();
    joined->SetCurrentLength(offset);
    buffers_.assign(1, joined);
    return S_OK;
  }

  std::mutex mutex_;
  std::vector<ComPtr<IMFMediaBuffer>> buffers_;
  LONGLONG time_ = 0;
  LONGLONG duration_ = 0;
  bool hasTime_ = false;
  bool hasDuration_ = false;
};

template <class Object, class Interface>
HRESULT Create(Interface** out) {
  if (!out) return E_POINTER;
  try {
    *out = MakeCom<Object>().Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace
}  // namespace tarsel::platform

using namespace tarsel::platform;

HRESULT MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32) {
  return Create<AttributeStore>(ppMFAttributes);
}

HRESULT MFCreateMediaType(IMFMediaType** ppMFType) { return Create<MediaType>(ppMFType); }

HRESULT MFCreateSample(IMFSample** ppIMFSample) { return Create<Sample>(ppIMFSample); }

HRESULT MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer) {
  if (!ppBuffer) return E_POINTER;
  try {
    *ppBuffer = MakeCom<MemoryBuffer>(cbMaxLength).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
