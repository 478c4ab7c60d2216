// Where the planes of one picture sit in a single buffer: either packed
// exactly as callers lay them out (alignment 1, planes back to back) or with
// rows padded as every picture of our own is (ffmpeg/common/picture_buffer.h).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "ffmpeg/common/picture_buffer.h"

namespace tarsel {

struct PictureLayout {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  int width = 0;
  int height = 0;
  int planeCount = 0;
  int pitch[kMaxPlanes] = {};
  int rows[kMaxPlanes] = {};
  // log2 of the vertical chroma subsampling of each plane (0 for full-height planes).
  int rowShift[kMaxPlanes] = {};
  std::size_t offset[kMaxPlanes] = {};
  std::size_t size = 0;  // bytes of the whole picture

  // The caller's layout. False when the format or size has no layout.
  static bool Packed(AVPixelFormat format, int width, int height, PictureLayout& layout);
  // The same planes with padded rows.
  PictureLayout Padded() const;
  // Plane pointers into a buffer holding a picture of this layout.
  void Planes(const uint8_t* base, const uint8_t* planes[kMaxPlanes]) const;
  void Planes(uint8_t* base, uint8_t* planes[kMaxPlanes]) const;
  // Rows of plane `plane` that belong to picture rows [firstRow, height).
  int FirstPlaneRow(int plane, int firstRow) const;
  bool PitchesAligned() const;
};

// Copies rows [firstRow, height) of every plane from one layout to another of
// the same picture (the pitches may differ; each row copies the packed width).
void CopyPlanes(const PictureLayout& from, const uint8_t* source, const PictureLayout& to,
                uint8_t* destination, int firstRow);

}  // namespace tarsel
