// The MFEncoder_ exports: H.264/AAC files from NV12 pictures and PCM.
#include "common/boundary.h"
#include "mediafoundation/encoder/wmf_encoder.h"
#include "tarsel.h"

using tarsel::WMFEncoder;

namespace {
constexpr char kInitUnknown[] = "Unknown exception in MFEncoder_Init";
constexpr char kAddVideoUnknown[] = "Unknown exception in MFEncoder_AddVideoFrame";
constexpr char kAddAudioUnknown[] = "Unknown exception in MFEncoder_AddAudioSamples";
}  // namespace

extern "C" TARSEL_EXPORT int TARSEL_CALL MFEncoder_Init(void** handle, const tarsel_char16* url,
                                                        EncoderSettings* settings,
                                                        char* errorText) {
  return tarsel::CreateThenOpen<WMFEncoder>(handle, errorText, kInitUnknown, url, settings);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddVideoFrame(void* handle,
                                                                 const uint8_t* picture,
                                                                 const uint32_t* byteCount,
                                                                 double timeSeconds,
                                                                 char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, kAddVideoUnknown, [&] {
    WMFEncoder& encoder = tarsel::Live<WMFEncoder>(handle);
    encoder.AddVideoFrame(picture, byteCount, tarsel::SecondsToTicks(timeSeconds));
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddVideoFrame_Ticks(void* handle,
                                                                       const uint8_t* picture,
                                                                       const uint32_t* byteCount,
                                                                       int64_t time,
                                                                       char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, kAddVideoUnknown, [&] {
    tarsel::Live<WMFEncoder>(handle).AddVideoFrame(picture, byteCount, time);
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFEncoder_AddAudioSamples(void* handle, const void* pcm,
                                                                   const uint32_t* byteCount,
                                                                   double timeSeconds,
                                                                   char* errorText) {
  tarsel::ClearErrorText(errorText);
  return tarsel::Guard(errorText, kAddAudioUnknown, [&] {
    WMFEncoder& encoder = tarsel::Live<WMFEncoder>(handle);
    encoder.AddAudioSamples(pcm, byteCount, tarsel::SecondsToTicks(timeSeconds));
    return 0;
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL MFEncoder_Clear(void** handle) {
  return tarsel::DestroyObject<WMFEncoder>(handle);
}
