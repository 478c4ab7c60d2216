#include "ffmpeg/reader/picture_output.h"

#include <cstring>

#include "common/boundary.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace tarsel {
namespace {

constexpr int kBytesPerPixel = 3;
constexpr int kAlignment = 64;
// libswscale's SIMD converters write whole blocks of pixels; a row whose width is
// a multiple of this ends on a block boundary, so they write it exactly.
constexpr int kExactWidthMultiple = 32;
// SIMD stores are safest on 16-byte aligned rows.
constexpr uintptr_t kRowAlignment = 16;

constexpr char kPictureSize[] = "Could not retrieve correct video size";
constexpr char kNoBuffer[] = "Could not allocate the picture buffer";
constexpr char kNoScaler[] = "Could not create the picture converter";

int64_t Magnitude(int64_t value) { return value < 0 ? -value : value; }

}  // namespace

void PictureOutput::Prepare(int sourceWidth, int sourceHeight, AVPixelFormat sourceFormat,
                            int width, int height) {
  if (av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, 1) < 1) throw Message(kPictureSize);
  width_ = width;
  height_ = height;
  rowBytes_ = kBytesPerPixel * width;
  pitch_ = FFALIGN(rowBytes_, kAlignment) + kAlignment;
  const std::size_t size =
      static_cast<std::size_t>(pitch_) * static_cast<std::size_t>(height) + kAlignment;
  outputBuffer_ = AllocateAvBuffer(size);
  repeatBuffer_ = AllocateAvBuffer(size);
  if (!outputBuffer_ || !repeatBuffer_) throw Message(kNoBuffer);
  // The repeat buffer may be served before any picture was held (a caller
  // skipping into a gap); it then shows black rather than stale memory.
  std::memset(repeatBuffer_.get(), 0, size);
  scaler_.reset(sws_getContext(sourceWidth, sourceHeight, sourceFormat, width, height,
                               AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!scaler_) throw Message(kNoScaler);
  sourceWidth_ = sourceWidth;
  sourceHeight_ = sourceHeight;
  sourceFormat_ = sourceFormat;
}

bool PictureOutput::StrideFits(int64_t stride) const { return Magnitude(stride) >= rowBytes_; }

// A stream may change its picture size or format midway (broadcasts, adaptive
// streams); the scaler follows the decoded picture, the output size stays.
bool PictureOutput::FitScaler(const AVFrame& picture) {
  const auto format = static_cast<AVPixelFormat>(picture.format);
  if (picture.width == sourceWidth_ && picture.height == sourceHeight_ && format == sourceFormat_ &&
      scaler_)
    return true;
  scaler_.reset(sws_getCachedContext(scaler_.release(), picture.width, picture.height, format,
                                     width_, height_, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                                     nullptr, nullptr));
  sourceWidth_ = picture.width;
  sourceHeight_ = picture.height;
  sourceFormat_ = format;
  return scaler_ != nullptr;
}

bool PictureOutput::ConvertInto(const AVFrame& picture, uint8_t* firstRow, int64_t stride) {
  if (!FitScaler(picture)) return false;
  uint8_t* planes[4] = {firstRow, nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(stride), 0, 0, 0};
  const int rows =
      sws_scale(scaler_.get(), picture.data, picture.linesize, 0, picture.height, planes, strides);
  return rows == height_;
}

// Only unscaled conversions, whose row writers are known to be exact at such
// widths, write straight into the caller's rows.
bool PictureOutput::CanWriteInPlace(const uint8_t* pixels, int64_t stride) const {
  return width_ % kExactWidthMultiple == 0 && sourceWidth_ == width_ && sourceHeight_ == height_ &&
         stride % static_cast<int64_t>(kRowAlignment) == 0 &&
         reinterpret_cast<uintptr_t>(pixels) % kRowAlignment == 0 && Magnitude(stride) <= INT32_MAX;
}

void PictureOutput::CopyRows(const uint8_t* source, uint8_t* pixels, int64_t stride) const {
  for (int row = 0; row < height_; ++row) {
    std::memcpy(pixels + static_cast<std::ptrdiff_t>(row * stride), source, rowBytes_);
    source += pitch_;
  }
}

bool PictureOutput::Deliver(const AVFrame& picture, uint8_t* pixels, int64_t stride, bool hold) {
  if (!FitScaler(picture)) return false;
  if (hold) {
    if (!ConvertInto(picture, repeatBuffer_.get(), pitch_)) return false;
    if (pixels) CopyRows(repeatBuffer_.get(), pixels, stride);
    return true;
  }
  if (!pixels) return true;
  if (CanWriteInPlace(pixels, stride)) return ConvertInto(picture, pixels, stride);
  if (!ConvertInto(picture, outputBuffer_.get(), pitch_)) return false;
  CopyRows(outputBuffer_.get(), pixels, stride);
  return true;
}

void PictureOutput::DeliverHeld(uint8_t* pixels, int64_t stride) const {
  if (pixels) CopyRows(repeatBuffer_.get(), pixels, stride);
}

}  // namespace tarsel
