// COM and Media Foundation start-up for one object, undone once.
#pragma once

#include <atomic>
#include <cstdint>

#include "mediafoundation/common/media_foundation.h"

namespace tarsel {

// A number for the calling thread that no other thread ever gets; thread ids
// are handed out again once their thread has ended.
inline std::uint64_t ThreadToken() {
  static std::atomic<std::uint64_t> next{1};
  thread_local const std::uint64_t token = next++;
  return token;
}

// Media Foundation's DLLs are bound on first use, so the library loads on
// Windows editions without them. Raises the platform's text for the load
// failure (HRESULT_FROM_WIN32 of the loader's error) when one is missing;
// elsewhere, and once they have loaded, it does nothing.
void RequireMediaFoundation();

class MfRuntime {
 public:
  // Apartment-threaded COM without OLE1 DDE (flags 6), then the full platform.
  // A thread already in another apartment (RPC_E_CHANGED_MODE) still works, so
  // neither result stops the object; COM's result only decides the undoing.
  // Without Media Foundation's DLLs nothing is started and the object is not made.
  MfRuntime() : comResult_(StartCom()), comThread_(ThreadToken()) {
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
  }
  MfRuntime(const MfRuntime&) = delete;
  MfRuntime& operator=(const MfRuntime&) = delete;
  ~MfRuntime() { Shutdown(); }

  void Shutdown() {
    if (!active_) return;
    active_ = false;
    MFShutdown();
    // COM counts initialisations per thread: only a successful one is ours to
    // undo, and only on its own thread. A failed one (the thread was already in
    // another apartment) belongs to the caller, and so does any other thread's.
    // Shut down elsewhere, the creating thread keeps its initialisation.
    if (SUCCEEDED(comResult_) && ThreadToken() == comThread_) CoUninitialize();
  }

 private:
  static HRESULT StartCom() {
    RequireMediaFoundation();
    return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  }

  const HRESULT comResult_;
  const std::uint64_t comThread_;
  bool active_ = true;
};

}  // namespace tarsel
