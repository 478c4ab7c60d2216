// The DECODER_, PixConverter_ and ConverterNV12_ exports.
#include "common/boundary.h"
#include "ffmpeg/convert/decoder.h"
#include "ffmpeg/convert/pix_converter.h"
#include "tarsel.h"

using tarsel::CreateObject;
using tarsel::Decoder;
using tarsel::DestroyObject;
using tarsel::GuardSilently;
using tarsel::PixConverter;

extern "C" TARSEL_EXPORT int TARSEL_CALL DECODER_Init(void** handle, char* errorText) {
  return CreateObject<Decoder>(handle, errorText, Decoder::kUnknownInit);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL DECODER_DecodeFrame(void* handle, const uint8_t* data,
                                                             int32_t length, int32_t* width,
                                                             int32_t* height) {
  if (!handle) return -1;
  return GuardSilently(
      -1, [&] { return static_cast<Decoder*>(handle)->DecodeFrame(data, length, width, height); });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL DECODER_GetBitmapData(void* handle, uint8_t* destination,
                                                               uint32_t* size) {
  if (!handle) return -1;
  return GuardSilently(
      -1, [&] { return static_cast<Decoder*>(handle)->GetBitmapData(destination, size); });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL DECODER_Clear(void** handle) {
  return DestroyObject<Decoder>(handle);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL PixConverter_Init(void** handle, uint32_t sourceType,
                                                           uint32_t destinationType, int32_t width,
                                                           int32_t height, char* errorText) {
  return CreateObject<PixConverter>(handle, errorText, PixConverter::kUnknownInit, sourceType,
                                    destinationType, width, height);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL PixConverter_Convert(void* handle, const uint8_t* source,
                                                              uint8_t* destination,
                                                              char* errorText) {
  tarsel::ClearErrorText(errorText);
  if (!handle) return -1;
  return GuardSilently(
      -1, [&] { return static_cast<PixConverter*>(handle)->Convert(source, destination); });
}

extern "C" TARSEL_EXPORT int TARSEL_CALL PixConverter_Clear(void** handle) {
  return DestroyObject<PixConverter>(handle);
}

TARSEL_EXPORT_ALIAS(int, ConverterNV12_Clear, PixConverter_Clear, (void** handle));

extern "C" TARSEL_EXPORT int TARSEL_CALL ConverterNV12_Init(void) { return 1; }

namespace {

int ConvertNv12(void* handle, PixConverter::Nv12Conversion which, const uint8_t* source,
                uint8_t* destination) {
  if (!handle) return -1;
  return GuardSilently(
      -1, [&] { return static_cast<PixConverter*>(handle)->Convert(which, source, destination); });
}

}  // namespace

extern "C" TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertBGR2NV12(void* handle,
                                                                       const uint8_t* source,
                                                                       uint8_t* destination) {
  return ConvertNv12(handle, PixConverter::Nv12Conversion::kBgrToNv12, source, destination);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertBRGA2NV12(void* handle,
                                                                        const uint8_t* source,
                                                                        uint8_t* destination) {
  return ConvertNv12(handle, PixConverter::Nv12Conversion::kBgraToNv12, source, destination);
}

extern "C" TARSEL_EXPORT int TARSEL_CALL ConverterNV12_ConvertNV122BGR(void* handle,
                                                                       const uint8_t* source,
                                                                       uint8_t* destination) {
  return ConvertNv12(handle, PixConverter::Nv12Conversion::kNv12ToBgr, source, destination);
}
