#include "ffmpeg/convert/pix_converter.h"

#include <climits>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "common/boundary.h"

namespace tarsel {

namespace {

AVPixelFormat FormatOfCode(uint32_t code) {
  switch (code) {
    case 1:
      return AV_PIX_FMT_BGR24;
    case 2:
      return AV_PIX_FMT_BGRA;
    case 3:
      return AV_PIX_FMT_NV12;
    case 4:
      return AV_PIX_FMT_YUYV422;
    case 5:
      return AV_PIX_FMT_RGB24;
    case 6:
      return AV_PIX_FMT_GRAY8;
    case 7:
      return AV_PIX_FMT_YUV420P;
    case 8:
      return AV_PIX_FMT_RGBA;
    default:
      return AV_PIX_FMT_NONE;
  }
}

// Picture sizes are counted in int by FFmpeg (four bytes a pixel is the widest
// layout), and its image helpers refuse pictures beyond their own limit. That
// limit is checked first: it bounds both sides, so the product cannot overflow.
bool SizeFits(int32_t width, int32_t height) {
  return av_image_check_size(static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                             nullptr) >= 0 &&
         static_cast<int64_t>(width) * height * 4 <= INT_MAX;
}

std::unique_ptr<Conversion> MakeConversion(AVPixelFormat source, AVPixelFormat destination,
                                           int width, int height) {
  auto conversion = std::make_unique<Conversion>();
  if (!conversion->Open(source, destination, width, height)) return nullptr;
  return conversion;
}

}  // namespace

void PixConverter::Open(uint32_t sourceType, uint32_t destinationType, int32_t width,
                        int32_t height) {
  sourceFormat_ = FormatOfCode(sourceType);
  destinationFormat_ = FormatOfCode(destinationType);
  if (sourceFormat_ == AV_PIX_FMT_NONE || destinationFormat_ == AV_PIX_FMT_NONE)
    throw Message(kInvalidFormat);
  width_ = width;
  height_ = height;
  if (!HasSize()) return;
  if (!SizeFits(width, height)) throw Message(kTooLarge);
  conversion_ = MakeConversion(sourceFormat_, destinationFormat_, width, height);
}

int PixConverter::Convert(const uint8_t* source, uint8_t* destination) {
  if (!conversion_) return -1;
  return conversion_->Convert(source, destination) ? 0 : -1;
}

int PixConverter::Convert(Nv12Conversion which, const uint8_t* source, uint8_t* destination) {
  if (!HasSize()) return -1;
  auto& conversion = nv12Conversions_[static_cast<std::size_t>(which)];
  if (!conversion) {
    switch (which) {
      case Nv12Conversion::kBgrToNv12:
        conversion = MakeConversion(AV_PIX_FMT_BGR24, AV_PIX_FMT_NV12, width_, height_);
        break;
      case Nv12Conversion::kBgraToNv12:
        conversion = MakeConversion(AV_PIX_FMT_BGRA, AV_PIX_FMT_NV12, width_, height_);
        break;
      case Nv12Conversion::kNv12ToBgr:
        conversion = MakeConversion(AV_PIX_FMT_NV12, AV_PIX_FMT_BGR24, width_, height_);
        break;
    }
    if (!conversion) return -1;
  }
  return conversion->Convert(source, destination) ? 0 : -1;
}

}  // namespace tarsel
