// The reader's BGR24 output: the scaler that converts decoded pictures, the
// padded picture buffers, and the copy into the caller's rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

class PictureOutput {
 public:
  // Prepares the conversion from the decoder's size and format to width x height
  // BGR24. Raises a Message when the scaler or a buffer cannot be made.
  void Prepare(int sourceWidth, int sourceHeight, AVPixelFormat sourceFormat, int width,
               int height);

  // Whether the caller's rows can hold the picture without overlapping.
  bool StrideFits(int64_t stride) const;

  // Converts the picture into the caller's rows (when pixels is not null) and,
  // when hold is set, into the repeat buffer as well. False when the picture
  // cannot be converted.
  bool Deliver(const AVFrame& picture, uint8_t* pixels, int64_t stride, bool hold);
  // Copies the held picture into the caller's rows.
  void DeliverHeld(uint8_t* pixels, int64_t stride) const;

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  bool FitScaler(const AVFrame& picture);
  bool ConvertInto(const AVFrame& picture, uint8_t* firstRow, int64_t stride);
  bool CanWriteInPlace(const uint8_t* pixels, int64_t stride) const;
  void CopyRows(const uint8_t* source, uint8_t* pixels, int64_t stride) const;

  int width_ = 0;
  int height_ = 0;
  int rowBytes_ = 0;
  // Row pitch of the internal buffers: 64-byte aligned with spare bytes, where
  // libswscale's SIMD row writers are exact.
  int pitch_ = 0;
  int sourceWidth_ = 0;
  int sourceHeight_ = 0;
  AVPixelFormat sourceFormat_ = AV_PIX_FMT_NONE;
  AvBufferPtr outputBuffer_;
  AvBufferPtr repeatBuffer_;
  ScalerPtr scaler_;
};

}  // namespace tarsel
