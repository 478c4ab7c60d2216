// The MFCamGrabber_ exports that need nothing camera-specific beyond the
// catalogue: creation, opening, the name and format queries, stop and Clear.
#include "common/boundary.h"
#include "mediafoundation/camera/mf_cam_grabber.h"
#include "tarsel.h"

using tarsel::GrabberOf;
using tarsel::MFCamGrabber;

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_Init(void** handle, uint32_t* deviceCount,
                                                           char* errorText) {
  return tarsel::CreateGrabber<MFCamGrabber>(handle, deviceCount, errorText,
                                             MFCamGrabber::kInitUnknown);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetDeviceName(void* handle, int32_t index,
                                                                    char* name,
                                                                    uint32_t* copiedLength,
                                                                    int32_t maxLength) {
  if (!handle) return -1;
  return GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
      .GetDeviceName(index, name, copiedLength, maxLength);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_OpenCamera(void* handle, int32_t deviceIndex,
                                                                 bool asynchronous,
                                                                 uint32_t* formatCount,
                                                                 char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFCamGrabber::kUnknown, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
        .OpenDevice(deviceIndex, asynchronous, formatCount);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetConfig(void* handle, int32_t index,
                                                                CamConfig* config,
                                                                char* errorText) {
  return tarsel::GuardMessages(errorText, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized).GetConfig(index, config);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_StopGrabbing(void* handle) {
  if (!handle) return 1;  // "Cam grabber not initialized", with no buffer to carry it
  GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized).StopGrabbing();
  return 0;
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_Clear(void** handle) {
  return tarsel::DestroyGrabber(handle);
}
