// COM and Media Foundation start-up for one object, undone once, on the thread
// that shuts the object down.
#pragma once

#include "mediafoundation/common/media_foundation.h"

namespace tarsel {

class MfRuntime {
 public:
  // Apartment-threaded COM without OLE1 DDE (flags 6), then the full platform.
  // Neither result is checked: a thread already in another apartment still works.
  MfRuntime() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
  }
  MfRuntime(const MfRuntime&) = delete;
  MfRuntime& operator=(const MfRuntime&) = delete;
  ~MfRuntime() { Shutdown(); }

  void Shutdown() {
    if (!active_) return;
    active_ = false;
    MFShutdown();
    CoUninitialize();
  }

 private:
  bool active_ = true;
};

}  // namespace tarsel
