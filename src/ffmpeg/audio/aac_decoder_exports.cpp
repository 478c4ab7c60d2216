// The AACDECODER_ exports: shells over AacDecoder. Only Init has an error text
// buffer; the others report through their results.
#include "common/boundary.h"
#include "ffmpeg/audio/aac_decoder.h"
#include "tarsel.h"

using tarsel::AacDecoder;

namespace {
constexpr char kUnknownInit[] = "Unknown exception in AACDECODER_Init";
constexpr int kNullHandle = -1;
constexpr int kRefused = 1;
}  // namespace

extern "C" TARSEL_EXPORT int TARSEL_CALL AACDECODER_Init(void** handle, int32_t channels,
                                                         int32_t inSampleRate,
                                                         int32_t outSampleRate, char* errorText) {
  return tarsel::CreateObject<AacDecoder>(handle, errorText, kUnknownInit, channels, inSampleRate,
                                          outSampleRate);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AACDECODER_DecodePacket(void* handle, const uint8_t* data,
                                                                 int32_t size,
                                                                 int32_t* outSamples) {
  if (!handle || !data || size < 1) return kNullHandle;
  return tarsel::GuardSilently(kRefused, [&] {
    return static_cast<AacDecoder*>(handle)->DecodePacket(data, size, outSamples);
  });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AACDECODER_GetDecodedData(void* handle, uint8_t* pcm,
                                                                   int32_t size) {
  if (!handle) return kNullHandle;
  static_cast<const AacDecoder*>(handle)->GetDecodedData(pcm, size);
  return 1;
}

extern "C" TARSEL_EXPORT int TARSEL_CALL AACDECODER_Clear(void** handle) {
  return tarsel::DestroyObject<AacDecoder>(handle);
}
