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
  // Whether libswscale converts such pictures to BGR24 of their own size pixel
  // pair by pixel pair, each from its own samples (its converter for 8-bit
  // 4:2:0 and 4:2:2 of even height): a picture then converts in vertical
  // strips that start at even columns as it does whole.
  bool ConvertsByColumns() const;
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
  // The same from the planes of a picture of the fitted kind, given by the
  // first sample of each and their pitches.
  bool Convert(const uint8_t* const planes[], const int pitches[], uint8_t* firstRow, int pitch);

  const PictureKind& source() const { return source_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  bool Scale(const uint8_t* const planes[], const int pitches[], int rows, uint8_t* firstRow,
             int pitch);

  ScalerPtr scaler_;
  PictureKind source_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace tarsel
