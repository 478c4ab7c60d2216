// The callback registration both grabbers share: one function, two names.
#include "common/boundary.h"
#include "mediafoundation/common/capture_grabber.h"
#include "tarsel.h"

extern "C" TARSEL_EXPORT int TARSEL_CALL
MFCamGrabber_SetFrameReadyCallBack(void* handle, FrameReadyCallBack callback) {
  if (!handle) return 1;  // "Cam grabber not initialized", with no buffer to carry it
  // A null callback is allowed: blocks are still read and counted, not handed over.
  static_cast<tarsel::CaptureGrabber*>(handle)->SetReadyCallBack(callback);
  return 0;
}

TARSEL_EXPORT_ALIAS(int, MFAudioGrabber_SetAudioReadyCallBack, MFCamGrabber_SetFrameReadyCallBack,
                    (void* handle, AudioReadyCallBack callback));
