#include "ffmpeg/reader/picture_output.h"

#include "common/boundary.h"
#include "ffmpeg/common/picture_buffer.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace tarsel {
namespace {

constexpr int kBytesPerPixel = 3;
// libswscale's SIMD converters write whole blocks of pixels; a row whose width is
// a multiple of this ends on a block boundary, so they write it exactly.
constexpr int kExactWidthMultiple = 32;
// SIMD stores are safest on 16-byte aligned rows.
constexpr uintptr_t kStoreAlignment = 16;

constexpr char kPictureSize[] = "Could not retrieve correct video size";
constexpr char kNoScaler[] = "Could not create the picture converter";

int64_t Magnitude(int64_t value) { return value < 0 ? -value : value; }

// A picture buffer of our own, made on first use; false when memory is short.
bool Ensure(FramePtr& picture, int width, int height) {
  if (!picture) picture = AllocatePicture(AV_PIX_FMT_BGR24, width, height);
  return picture != nullptr;
}

}  // namespace

void PictureOutput::Prepare(const AVCodecContext& decoder, int width, int height) {
  if (av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, 1) < 1 ||
      PaddedPitch(int64_t{kBytesPerPixel} * width) == 0)
    throw Message(kPictureSize);
  width_ = width;
  height_ = height;
  rowBytes_ = kBytesPerPixel * width;
  // Damaged or unusual streams may leave the format unknown until a picture is
  // decoded; the conversion is then made for that picture.
  const PictureKind announced = PictureKind::Of(decoder);
  if (announced.format == AV_PIX_FMT_NONE) return;
  if (!scaler_.Fit(announced, width_, height_)) throw Message(kNoScaler);
}

bool PictureOutput::StrideFits(int64_t stride) const { return Magnitude(stride) >= rowBytes_; }

// Only unscaled conversions, whose row writers are known to be exact at such
// widths, write straight into the caller's rows. libswscale's own YUV to RGB
// converter stores to rows at any address; the general one is given aligned rows.
bool PictureOutput::CanWriteInPlace(const uint8_t* pixels, int64_t stride) const {
  const PictureKind& source = scaler_.source();
  if (width_ % kExactWidthMultiple != 0 || source.width != width_ || source.height != height_ ||
      Magnitude(stride) > INT32_MAX)
    return false;
  return source.ConvertsByColumns() || (stride % static_cast<int64_t>(kStoreAlignment) == 0 &&
                                        reinterpret_cast<uintptr_t>(pixels) % kStoreAlignment == 0);
}

// Other widths of such pictures are written in place up to the last multiple of
// kExactWidthMultiple; the columns right of it are converted aside and copied.
bool PictureOutput::CanWriteByColumns(int64_t stride) const {
  const PictureKind& source = scaler_.source();
  return width_ > kExactWidthMultiple && source.width == width_ && source.height == height_ &&
         source.ConvertsByColumns() && Magnitude(stride) <= INT32_MAX;
}

bool PictureOutput::WriteByColumns(const AVFrame& picture, uint8_t* pixels, int64_t stride) {
  const int left = width_ - width_ % kExactWidthMultiple, right = width_ - left;
  PictureKind part = scaler_.source();
  part.width = left;
  if (!leftColumns_.Fit(part, left, height_)) return false;
  part.width = right;
  if (!rightColumns_.Fit(part, right, height_) || !Ensure(rightPart_, right, height_)) return false;
  // The chroma planes of 4:2:0 and 4:2:2 have one sample for two columns.
  const uint8_t* const rightPlanes[4] = {picture.data[0] + left, picture.data[1] + left / 2,
                                         picture.data[2] + left / 2, nullptr};
  if (!leftColumns_.Convert(picture.data, picture.linesize, pixels, static_cast<int>(stride)) ||
      !rightColumns_.Convert(rightPlanes, picture.linesize, rightPart_->data[0],
                             rightPart_->linesize[0]))
    return false;
  CopyRows(rightPart_->data[0], rightPart_->linesize[0], pixels + kBytesPerPixel * left,
           static_cast<std::ptrdiff_t>(stride), static_cast<std::size_t>(kBytesPerPixel) * right,
           height_);
  return true;
}

bool PictureOutput::ConvertInto(const AVFrame& picture, AVFrame& target) {
  return scaler_.Convert(picture, target.data[0], target.linesize[0]);
}

void PictureOutput::CopyOut(const AVFrame& source, uint8_t* pixels, int64_t stride) const {
  CopyRows(source.data[0], source.linesize[0], pixels, static_cast<std::ptrdiff_t>(stride),
           static_cast<std::size_t>(rowBytes_), height_);
}

bool PictureOutput::Deliver(const AVFrame& picture, uint8_t* pixels, int64_t stride, bool hold) {
  // A stream may change its picture size, format or colours midway (broadcasts,
  // adaptive streams); the conversion follows the picture, the output size stays.
  if (!scaler_.Fit(PictureKind::Of(picture), width_, height_)) return false;
  if (hold) {
    if (!Ensure(held_, width_, height_) || !ConvertInto(picture, *held_)) return false;
    if (pixels) CopyOut(*held_, pixels, stride);
    return true;
  }
  if (!pixels) return true;
  if (CanWriteInPlace(pixels, stride)) {
    return scaler_.Convert(picture, pixels, static_cast<int>(stride));
  }
  if (CanWriteByColumns(stride)) return WriteByColumns(picture, pixels, stride);
  if (!Ensure(converted_, width_, height_) || !ConvertInto(picture, *converted_)) return false;
  CopyOut(*converted_, pixels, stride);
  return true;
}

bool PictureOutput::DeliverHeld(uint8_t* pixels, int64_t stride) {
  if (!pixels) return true;
  if (!Ensure(held_, width_, height_)) return false;
  CopyOut(*held_, pixels, stride);
  return true;
}

}  // namespace tarsel
