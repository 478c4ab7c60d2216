// A pixel-layout converter of fixed size: the object behind PixConverter_ and
// ConverterNV12_ handles.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "ffmpeg/convert/conversion.h"

namespace tarsel {

class PixConverter {
 public:
  static constexpr char kInvalidFormat[] = "pixel format type is not valid";
  static constexpr char kTooLarge[] = "picture size is too large";
  static constexpr char kUnknownInit[] = "Unknown exception in PixConverter_Init";

  // The three fixed conversions of the NV12 exports.
  enum class Nv12Conversion { kBgrToNv12, kBgraToNv12, kNv12ToBgr };

  // Maps the layout codes (1 to 8) and, for a positive size, makes the
  // conversion. A converter without a positive size, or whose formats libswscale
  // cannot convert, exists but refuses every picture.
  void Open(uint32_t sourceType, uint32_t destinationType, int32_t width, int32_t height);
  // 0, or -1 when the converter cannot convert or the conversion failed.
  int Convert(const uint8_t* source, uint8_t* destination);
  // The NV12 conversions at this converter's size; each is made at its first use
  // and kept.
  int Convert(Nv12Conversion which, const uint8_t* source, uint8_t* destination);

 private:
  bool HasSize() const { return width_ >= 1 && height_ >= 1; }

  std::unique_ptr<Conversion> conversion_;  // null: no valid size or no scaler
  AVPixelFormat sourceFormat_ = AV_PIX_FMT_NONE;
  AVPixelFormat destinationFormat_ = AV_PIX_FMT_NONE;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::array<std::unique_ptr<Conversion>, 3> nv12Conversions_;
};

}  // namespace tarsel
