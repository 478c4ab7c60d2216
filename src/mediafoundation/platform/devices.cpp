// Device enumeration, activation objects and capture media sources.
#include <algorithm>
#include <atomic>
#include <new>

#include "mediafoundation/platform/attributes.h"
#include "mediafoundation/platform/fake_devices.h"
#include "mediafoundation/platform/media_source.h"
#if defined(__linux__)
#include "mediafoundation/platform/linux/linux_devices.h"
#endif

namespace tarsel::platform {

namespace {

// The library's own way from a media source back to its stream.
struct ICaptureStreamAccess : IUnknown {
  virtual std::shared_ptr<CaptureStream> STDMETHODCALLTYPE Stream() = 0;
};
// {8E1B6C2A-3F4D-4B7A-9C21-5D6E7F809A1B}
inline constexpr IID IID_ICaptureStreamAccess{
    0x8e1b6c2a, 0x3f4d, 0x4b7a, {0x9c, 0x21, 0x5d, 0x6e, 0x7f, 0x80, 0x9a, 0x1b}};

// IAMCameraControl or IAMVideoProcAmp of a source: a part of the source that
// shares its identity and its reference count.
template <class Interface>
class ControlInterface final : public Interface {
 public:
  ControlInterface(IUnknown* owner, PropertySet* properties, const std::atomic<bool>* shutDown)
      : owner_(owner), properties_(properties), shutDown_(shutDown) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    return owner_->QueryInterface(riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
  HRESULT STDMETHODCALLTYPE GetRange(LONG property, LONG* minimum, LONG* maximum, LONG* step,
                                     LONG* defaultValue, LONG* capsFlags) override {
    if (*shutDown_) return MF_E_SHUTDOWN;
    return properties_->GetRange(property, minimum, maximum, step, defaultValue, capsFlags);
  }
  HRESULT STDMETHODCALLTYPE Set(LONG property, LONG value, LONG flags) override {
    if (*shutDown_) return MF_E_SHUTDOWN;
    return properties_->Set(property, value, flags);
  }
  HRESULT STDMETHODCALLTYPE Get(LONG property, LONG* value, LONG* flags) override {
    if (*shutDown_) return MF_E_SHUTDOWN;
    return properties_->Get(property, value, flags);
  }

 private:
  IUnknown* const owner_;
  PropertySet* const properties_;
  const std::atomic<bool>* const shutDown_;
};

class CaptureSource final : public ComObject<IMFMediaSource, ICaptureStreamAccess> {
 public:
  explicit CaptureSource(std::shared_ptr<CaptureStream> stream)
      : stream_(std::move(stream)),
        cameraControl_(AsUnknown(), stream_->CameraControls(), &shutDown_),
        videoProcAmp_(AsUnknown(), stream_->VideoProcAmp(), &shutDown_) {}

  ~CaptureSource() override { stream_->Shutdown(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFMediaSource) {
      return HandOut(static_cast<IMFMediaSource*>(this), out);
    }
    if (riid == IID_ICaptureStreamAccess) {
      return HandOut(static_cast<ICaptureStreamAccess*>(this), out);
    }
    if (riid == IID_IAMCameraControl && stream_->CameraControls()) {
      return HandOut(static_cast<IAMCameraControl*>(&cameraControl_), out);
    }
    if (riid == IID_IAMVideoProcAmp && stream_->VideoProcAmp()) {
      return HandOut(static_cast<IAMVideoProcAmp*>(&videoProcAmp_), out);
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override {
    if (!characteristics) return E_POINTER;
    if (shutDown_) return MF_E_SHUTDOWN;
    *characteristics = MFMEDIASOURCE_IS_LIVE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override { return shutDown_ ? MF_E_SHUTDOWN : S_OK; }
  HRESULT STDMETHODCALLTYPE Pause() override {
    return shutDown_ ? MF_E_SHUTDOWN : MF_E_INVALIDREQUEST;  // live sources do not pause
  }
  HRESULT STDMETHODCALLTYPE Shutdown() override {
    if (shutDown_.exchange(true)) return MF_E_SHUTDOWN;
    stream_->Shutdown();
    return S_OK;
  }
  std::shared_ptr<CaptureStream> STDMETHODCALLTYPE Stream() override {
    return shutDown_ ? nullptr : stream_;
  }

 private:
  IUnknown* AsUnknown() { return static_cast<IMFMediaSource*>(this); }

  const std::shared_ptr<CaptureStream> stream_;
  std::atomic<bool> shutDown_{false};
  ControlInterface<IAMCameraControl> cameraControl_;
  ControlInterface<IAMVideoProcAmp> videoProcAmp_;
};

// The activation object of one listed device. Like the platform's, it keeps the
// source it made and hands out that same source until ShutdownObject or
// DetachObject.
class DeviceActivate final : public Attributes<IMFActivate> {
 public:
  DeviceActivate(const GUID& sourceType, DeviceEntry entry) : entry_(std::move(entry)) {
    SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, sourceType);
    if (entry_.friendlyName) {
      SetString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, entry_.friendlyName->c_str());
    }
    const GUID& linkKey = sourceType == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID
                              ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID
                              : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK;
    SetString(linkKey, entry_.symbolicLink.c_str());
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMFAttributes || riid == IID_IMFActivate) {
      return HandOut(static_cast<IMFActivate*>(this), out);
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::lock_guard lock(mutex_);
    if (!source_) {
      std::shared_ptr<CaptureStream> stream;
      try {
        stream = entry_.open();
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      } catch (const DeviceUnavailable& unavailable) {
        return unavailable.hr;
      }
      if (!stream) return MF_E_NOT_FOUND;
      HRESULT hr = CreateCaptureSource(std::move(stream), source_.Put());
      if (FAILED(hr)) return hr;
    }
    return source_->QueryInterface(riid, out);
  }
  HRESULT STDMETHODCALLTYPE ShutdownObject() override {
    ComPtr<IMFMediaSource> source;
    {
      std::lock_guard lock(mutex_);
      source = std::move(source_);
    }
    if (source) source->Shutdown();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DetachObject() override {
    ComPtr<IMFMediaSource> source;
    std::lock_guard lock(mutex_);
    source = std::move(source_);
    return S_OK;
  }

 private:
  const DeviceEntry entry_;
  std::mutex mutex_;
  ComPtr<IMFMediaSource> source_;
};

}  // namespace

HRESULT CreateCaptureSource(std::shared_ptr<CaptureStream> stream, IMFMediaSource** source) {
  if (!source) return E_POINTER;
  if (!stream) return E_INVALIDARG;
  try {
    *source = MakeCom<CaptureSource>(std::move(stream)).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT StreamOfSource(IMFMediaSource* source, std::shared_ptr<CaptureStream>* stream) {
  if (!source || !stream) return E_POINTER;
  ComPtr<ICaptureStreamAccess> access;
  if (FAILED(source->QueryInterface(IID_ICaptureStreamAccess,
                                    reinterpret_cast<void**>(access.Put())))) {
    return E_INVALIDARG;
  }
  *stream = access->Stream();
  return *stream ? S_OK : MF_E_SHUTDOWN;
}

namespace {

struct ProviderRegistry {
  std::mutex mutex;
  std::vector<const DeviceProvider*> added;
};

ProviderRegistry& Registry() {
  static ProviderRegistry registry;
  return registry;
}

}  // namespace

std::vector<const DeviceProvider*> DeviceProviders() {
  static const FakeDeviceProvider fake;
  ProviderRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  std::vector<const DeviceProvider*> providers = registry.added;
#if defined(__linux__)
  for (const DeviceProvider* system : LinuxDeviceProviders()) providers.push_back(system);
#endif
  providers.push_back(&fake);
  return providers;
}

ScopedDeviceProvider::ScopedDeviceProvider(const DeviceProvider* provider) : provider_(provider) {
  ProviderRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.added.push_back(provider_);
}

ScopedDeviceProvider::~ScopedDeviceProvider() {
  ProviderRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.added.erase(std::remove(registry.added.begin(), registry.added.end(), provider_),
                       registry.added.end());
}

HRESULT EnumerateDevices(const std::vector<const DeviceProvider*>& providers, IMFAttributes* filter,
                         IMFActivate*** activates, UINT32* count) {
  if (!filter || !activates || !count) return E_POINTER;
  GUID sourceType{};
  if (FAILED(filter->GetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, &sourceType))) {
    return E_INVALIDARG;
  }
  try {
    std::vector<ComPtr<IMFActivate>> found;
    for (const DeviceProvider* provider : providers) {
      for (DeviceEntry& entry : provider->ListDevices(sourceType)) {
        found.push_back(MakeCom<DeviceActivate>(sourceType, std::move(entry)));
      }
    }
    IMFActivate** array = nullptr;
    if (!found.empty()) {
      array = static_cast<IMFActivate**>(CoTaskMemAlloc(found.size() * sizeof(IMFActivate*)));
      if (!array) return E_OUTOFMEMORY;
      for (std::size_t i = 0; i < found.size(); ++i) array[i] = found[i].Detach();
    }
    *activates = array;
    *count = static_cast<UINT32>(found.size());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tarsel::platform

HRESULT MFEnumDeviceSources(IMFAttributes* pAttributes, IMFActivate*** pppSourceActivate,
                            UINT32* pcSourceActivate) {
  return tarsel::platform::EnumerateDevices(tarsel::platform::DeviceProviders(), pAttributes,
                                            pppSourceActivate, pcSourceActivate);
}
