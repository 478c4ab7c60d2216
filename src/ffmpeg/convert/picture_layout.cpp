#include "ffmpeg/convert/picture_layout.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace tarsel {

bool PictureLayout::Packed(AVPixelFormat format, int width, int height, PictureLayout& layout) {
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  if (!descriptor || width < 1 || height < 1) return false;
  int pitches[kMaxPlanes] = {};
  if (av_image_fill_linesizes(pitches, format, width) < 0) return false;
  ptrdiff_t linesizes[kMaxPlanes] = {};
  for (int plane = 0; plane < kMaxPlanes; ++plane) linesizes[plane] = pitches[plane];
  std::size_t sizes[kMaxPlanes] = {};
  if (av_image_fill_plane_sizes(sizes, format, height, linesizes) < 0) return false;

  PictureLayout result;
  result.format = format;
  result.width = width;
  result.height = height;
  result.planeCount = av_pix_fmt_count_planes(format);
  std::size_t offset = 0;
  for (int plane = 0; plane < result.planeCount; ++plane) {
    const bool chroma = (plane == 1 || plane == 2) && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB);
    result.rowShift[plane] = chroma ? descriptor->log2_chroma_h : 0;
    result.rows[plane] = AV_CEIL_RSHIFT(height, result.rowShift[plane]);
    result.pitch[plane] = pitches[plane];
    result.offset[plane] = offset;
    offset += sizes[plane];
  }
  result.size = offset;
  layout = result;
  return true;
}

PictureLayout PictureLayout::Padded() const {
  PictureLayout padded = *this;
  std::size_t offset = 0;
  for (int plane = 0; plane < planeCount; ++plane) {
    padded.pitch[plane] = PaddedPitch(pitch[plane]);
    padded.offset[plane] = offset;
    offset += static_cast<std::size_t>(padded.pitch[plane]) * rows[plane];
  }
  padded.size = offset;
  return padded;
}

void PictureLayout::Planes(const uint8_t* base, const uint8_t* planes[kMaxPlanes]) const {
  for (int plane = 0; plane < kMaxPlanes; ++plane)
    planes[plane] = plane < planeCount ? base + offset[plane] : nullptr;
}

void PictureLayout::Planes(uint8_t* base, uint8_t* planes[kMaxPlanes]) const {
  for (int plane = 0; plane < kMaxPlanes; ++plane)
    planes[plane] = plane < planeCount ? base + offset[plane] : nullptr;
}

int PictureLayout::FirstPlaneRow(int plane, int firstRow) const {
  return AV_CEIL_RSHIFT(firstRow, rowShift[plane]);
}

bool PictureLayout::PitchesAligned() const {
  for (int plane = 0; plane < planeCount; ++plane)
    if (pitch[plane] % kRowAlignment != 0) return false;
  return true;
}

void CopyPlanes(const PictureLayout& from, const uint8_t* source, const PictureLayout& to,
                uint8_t* destination, int firstRow) {
  for (int plane = 0; plane < from.planeCount; ++plane) {
    const std::size_t row = static_cast<std::size_t>(from.FirstPlaneRow(plane, firstRow));
    CopyRows(source + from.offset[plane] + row * from.pitch[plane], from.pitch[plane],
             destination + to.offset[plane] + row * to.pitch[plane], to.pitch[plane],
             static_cast<std::size_t>(std::min(from.pitch[plane], to.pitch[plane])),
             from.rows[plane] - static_cast<int>(row));
  }
}

}  // namespace tarsel
