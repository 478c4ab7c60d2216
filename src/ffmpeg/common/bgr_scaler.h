// Decoded pictures to BGR24 as the ffmpeg tool converts them: bicubic filtering,
// each picture's own YUV matrix (BT.709, BT.601, SMPTE 240M, BT.2020, FCC) and
// range (limited or full). Untagged pictures convert as BT.601, libswscale's
// default, in the range their format implies.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

// What a conversion depends on in the pictures it reads.
struct PictureKind {
  int width = 0;
  int height = 0;
  AVPixelFormat format = AV_PIX_FMT_NONE;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;

  static PictureKind Of(const AVFrame& picture);
  // What the decoder announces before its first picture.
  static PictureKind Of(const AVCodecContext& decoder);
  // Whether libswscale can read such pictures: a known format it reads, a size.
  bool Convertible() const;
  bool operator==(const PictureKind& other) const;
};

class BgrScaler {
 public:
  // Makes or keeps the conversion from pictures of this kind to width x height
  // BGR24. False (and no conversion) when the pictures cannot be converted.
  bool Fit(const PictureKind& source, int width, int height);
  // Converts a picture of the fitted kind into rows pitch bytes apart. False
  // unless every row came out.
  bool Convert(const AVFrame& picture, uint8_t* firstRow, int pitch);

  const PictureKind& source() const { return source_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  ScalerPtr scaler_;
  PictureKind source_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace tarsel
