// The MFCamGrabber_ exports: creation, opening, the name and format queries,
// grabbing by polling or callback, stop, Clear, and the camera controls.
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

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_StartGrabbing(void* handle, uint32_t width,
                                                                    uint32_t height,
                                                                    int32_t frameRate,
                                                                    int32_t pixelFormat,
                                                                    char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFCamGrabber::kUnknown, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
        .StartGrabbing(width, height, frameRate, pixelFormat);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GrabFrame(void* handle, uint8_t* frameBuffer,
                                                                uint32_t* size, int64_t* timestamp,
                                                                char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFCamGrabber::kUnknown, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
        .GrabFrame(frameBuffer, size, timestamp);
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

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetCamCtrl(
    void* handle, int32_t property, int32_t* minimum, int32_t* maximum, int32_t* steppingDelta,
    int32_t* defaultValue, int32_t* flags, int32_t* value, char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFCamGrabber::kUnknown, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
        .GetCamCtrl(property, {minimum, maximum, steppingDelta, defaultValue, flags, value});
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetCamCtrl(void* handle, int32_t property,
                                                                 int32_t flags, int32_t value,
                                                                 char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFCamGrabber::kUnknown, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
        .SetCamCtrl(property, flags, value);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_GetVideoProp(
    void* handle, int32_t property, int32_t* minimum, int32_t* maximum, int32_t* steppingDelta,
    int32_t* defaultValue, int32_t* flags, int32_t* value, char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFCamGrabber::kUnknown, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
        .GetVideoProp(property, {minimum, maximum, steppingDelta, defaultValue, flags, value});
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFCamGrabber_SetVideoProp(void* handle, int32_t property,
                                                                   int32_t flags, int32_t value,
                                                                   char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFCamGrabber::kUnknown, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized)
        .SetVideoProp(property, flags, value);
    return 0;
  });
}

// A probe of the camera control interface with no result; with a null handle,
// or anything failing, it does nothing.
extern "C" TARSEL_EXPORT void TARSEL_CALL MFCamGrabber_Test(void* handle) {
  if (!handle) return;
  tarsel::GuardSilently(0, [&] {
    GrabberOf<MFCamGrabber>(handle, MFCamGrabber::kNotInitialized).Test();
    return 0;
  });
}
