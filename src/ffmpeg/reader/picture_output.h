// The reader's BGR24 output: the conversion of decoded pictures to the output
// size, the picture held for repeats, and the copy into the caller's rows.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/common/bgr_scaler.h"

namespace tarsel {

class PictureOutput {
 public:
  // Prepares the conversion from the decoder's pictures to width x height BGR24.
  // Raises a Message when the size gives no picture or the decoder's format
  // cannot be converted. A decoder that knows its format only at its first
  // picture gets its conversion then.
  void Prepare(const AVCodecContext& decoder, int width, int height);

  // Whether the caller's rows can hold the picture without overlapping.
  bool StrideFits(int64_t stride) const;

  // Converts the picture into the caller's rows (when pixels is not null) and,
  // when hold is set, keeps it for DeliverHeld. False when the picture cannot be
  // converted.
  bool Deliver(const AVFrame& picture, uint8_t* pixels, int64_t stride, bool hold);
  // Copies the held picture into the caller's rows (black when none was held).
  bool DeliverHeld(uint8_t* pixels, int64_t stride);

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  bool ConvertInto(const AVFrame& picture, AVFrame& target);
  bool CanWriteInPlace(const uint8_t* pixels, int64_t stride) const;
  bool CanWriteByColumns(int64_t stride) const;
  bool WriteByColumns(const AVFrame& picture, uint8_t* pixels, int64_t stride);
  void CopyOut(const AVFrame& source, uint8_t* pixels, int64_t stride) const;

  int width_ = 0;
  int height_ = 0;
  int rowBytes_ = 0;
  BgrScaler scaler_;
  // Made at first use: a full-size picture costs as much as the decoder's.
  FramePtr converted_;
  FramePtr held_;
  // Pictures converted by columns: the columns written in place, and the few
  // right of them, converted aside and copied.
  BgrScaler leftColumns_;
  BgrScaler rightColumns_;
  FramePtr rightPart_;
};

}  // namespace tarsel
