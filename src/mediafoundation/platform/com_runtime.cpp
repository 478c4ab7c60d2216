// COM start-up, task memory, QISearch and Media Foundation start-up.
#include <atomic>
#include <cstdlib>

#include "mediafoundation/platform/mf_transform.h"
#include "mediafoundation/platform/mf_types.h"
#include "mediafoundation/platform/runtime.h"

namespace {

std::atomic<int> startups{0};

// COM keeps its initialisation per thread, with the model chosen first.
struct ThreadApartment {
  int initializations = 0;
  DWORD model = 0;
};
thread_local ThreadApartment apartment;

constexpr DWORD kModelFlags = COINIT_APARTMENTTHREADED;

}  // namespace

namespace tarsel::platform {

// The classes CoCreateInstance makes. Each family that brings a platform class
// (the audio resampler, for one) adds its entry here.
const ComClass kClasses[] = {
    {&CLSID_CResamplerMediaObject, CreateResamplerObject},
    {nullptr, nullptr},  // the end of the table
};

const ComClass* FindComClass(REFCLSID clsid) {
  for (const ComClass& entry : kClasses) {
    if (entry.clsid && *entry.clsid == clsid) return &entry;
  }
  return nullptr;
}

int MediaFoundationStartups() { return startups.load(); }
int ComInitializationsOnThisThread() { return apartment.initializations; }

}  // namespace tarsel::platform

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  const DWORD model = dwCoInit & kModelFlags;
  if (apartment.initializations > 0 && apartment.model != model) return RPC_E_CHANGED_MODE;
  apartment.model = model;
  return apartment.initializations++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (apartment.initializations > 0) --apartment.initializations;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  const tarsel::platform::ComClass* found = tarsel::platform::FindComClass(rclsid);
  return found ? found->create(riid, ppv) : REGDB_E_CLASSNOTREG;
}

HRESULT QISearch(void* that, LPCQITAB pqit, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!that || !pqit) return E_INVALIDARG;
  for (LPCQITAB entry = pqit; entry->piid; ++entry) {
    // IUnknown is answered by the first interface of the table.
    if (*entry->piid == riid || (riid == IID_IUnknown && entry == pqit)) {
      auto* object = reinterpret_cast<IUnknown*>(static_cast<char*>(that) + entry->dwOffset);
      object->AddRef();
      *ppv = object;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

HRESULT MFStartup(ULONG Version, DWORD) {
  if (Version != MF_VERSION) return MF_E_BAD_STARTUP_VERSION;
  ++startups;
  return S_OK;
}

HRESULT MFShutdown() {
  int current = startups.load();
  while (current > 0 && !startups.compare_exchange_weak(current, current - 1)) {
  }
  return S_OK;
}
