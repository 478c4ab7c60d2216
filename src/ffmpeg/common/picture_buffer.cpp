#include "ffmpeg/common/picture_buffer.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace tarsel {

int PaddedPitch(int64_t rowBytes) {
  if (rowBytes <= 0 || rowBytes > INT_MAX - kRowAlignment) return 0;
  return static_cast<int>(FFALIGN(rowBytes, int64_t{kRowAlignment}));
}

void CopyRows(const uint8_t* source, std::ptrdiff_t sourcePitch, uint8_t* destination,
              std::ptrdiff_t destinationPitch, std::size_t rowBytes, int rows) {
  for (int row = 0; row < rows; ++row) {
    std::memcpy(destination, source, rowBytes);
    source += sourcePitch;
    destination += destinationPitch;
  }
}

bool FillPicture(AVFrame* frame, AVPixelFormat format, int width, int height) {
  if (width < 1 || height < 1 || av_image_check_size(width, height, 0, nullptr) < 0) return false;
  int pitches[kMaxPlanes] = {};
  if (av_image_fill_linesizes(pitches, format, width) < 0) return false;
  ptrdiff_t padded[kMaxPlanes] = {};
  for (int plane = 0; plane < kMaxPlanes; ++plane) {
    if (pitches[plane] == 0) continue;
    pitches[plane] = PaddedPitch(pitches[plane]);
    if (pitches[plane] == 0) return false;
    padded[plane] = pitches[plane];
  }
  std::size_t sizes[kMaxPlanes] = {};
  if (av_image_fill_plane_sizes(sizes, format, height, padded) < 0) return false;
  std::size_t total = kSpareBytes;
  for (std::size_t size : sizes) total += size;
  AVBufferRef* buffer = av_buffer_allocz(total);
  if (!buffer) return false;
  av_buffer_unref(&frame->buf[0]);
  frame->buf[0] = buffer;
  if (av_image_fill_pointers(frame->data, format, height, buffer->data, pitches) < 0) return false;
  for (int plane = 0; plane < kMaxPlanes; ++plane) frame->linesize[plane] = pitches[plane];
  frame->format = format;
  frame->width = width;
  frame->height = height;
  return true;
}

FramePtr AllocatePicture(AVPixelFormat format, int width, int height) {
  FramePtr frame(av_frame_alloc());
  if (!frame || !FillPicture(frame.get(), format, width, height)) return nullptr;
  return frame;
}

}  // namespace tarsel
