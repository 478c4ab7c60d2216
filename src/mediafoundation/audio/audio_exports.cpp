// The MFAudioGrabber_ exports: creation, opening, the name and format queries,
// start and stop, Clear and the self-test.
#include "common/boundary.h"
#include "mediafoundation/audio/mf_audio_grabber.h"
#include "tarsel.h"

using tarsel::GrabberOf;
using tarsel::MFAudioGrabber;

namespace {
constexpr char kCamNotInitialized[] = "Cam grabber not initialized";
}  // namespace

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_Init(void** handle, uint32_t* deviceCount,
                                                             char* errorText) {
  return tarsel::CreateGrabber<MFAudioGrabber>(handle, deviceCount, errorText,
                                               MFAudioGrabber::kInitUnknown);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GetDeviceName(void* handle, int32_t index,
                                                                      char* name,
                                                                      int32_t maxLength) {
  if (!handle) return -1;
  return GrabberOf<MFAudioGrabber>(handle, MFAudioGrabber::kNotInitialized)
      .GetDeviceName(index, name, nullptr, maxLength);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_OpenDevice(
    void* handle, int32_t deviceIndex, bool asynchronous, uint32_t* formatCount, char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFAudioGrabber::kOpenUnknown, [&] {
    GrabberOf<MFAudioGrabber>(handle, MFAudioGrabber::kOpenNotInitialized)
        .OpenDevice(deviceIndex, asynchronous, formatCount);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_GetConfig(void* handle, int32_t index,
                                                                  AudioConfig* config,
                                                                  char* errorText) {
  return tarsel::GuardMessages(errorText, [&] {
    GrabberOf<MFAudioGrabber>(handle, MFAudioGrabber::kNotInitialized).GetConfig(index, config);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_StartGrabbing(void* handle,
                                                                      int32_t formatIndex,
                                                                      char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, MFAudioGrabber::kStartUnknown, [&] {
    GrabberOf<MFAudioGrabber>(handle, MFAudioGrabber::kStartNotInitialized)
        .StartGrabbing(formatIndex);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_StopGrabbing(void* handle) {
  if (!handle) return 1;  // "Cam grabber not initialized", with no buffer to carry it
  GrabberOf<MFAudioGrabber>(handle, kCamNotInitialized).StopGrabbing();
  return 0;
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFAudioGrabber_Clear(void** handle) {
  return tarsel::DestroyGrabber(handle);
}

// Lists the audio devices and opens the first one synchronously, then lets the
// grabber go. It reports nothing.
extern "C" TARSEL_EXPORT int TARSEL_CALL TestAudioStuff(void) {
  return tarsel::GuardSilently(0, [] {
    auto grabber = tarsel::CaptureGrabber::Make<MFAudioGrabber>();
    uint32_t deviceCount = 0;
    grabber->ListDevices(&deviceCount);
    uint32_t formatCount = 0;
    if (deviceCount > 0) grabber->OpenDevice(0, false, &formatCount);
    grabber->Close();
    return 0;
  });
}
