#include "ffmpeg/convert/conversion.h"

#include <cstdint>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/common.h>
}

#include "ffmpeg/common/scaler.h"

namespace tarsel {

namespace {

// Reads past the end of a source row stay within this many bytes; the rows read
// straight from the caller are followed by at least this many of its bytes in
// every plane.
constexpr std::size_t kReadSlack = 256;

AvBufferPtr AllocateZeroed(std::size_t size) {
  AvBufferPtr buffer(static_cast<uint8_t*>(av_mallocz(size)));
  if (!buffer) throw std::bad_alloc();
  return buffer;
}

// libswscale's BGR24-to-YUV420P shortcut converts the last two rows of every
// call with other arithmetic than the rows above, so that conversion must see
// the whole picture in one call.
bool NeedsWholePicture(AVPixelFormat source, AVPixelFormat destination) {
  return source == AV_PIX_FMT_BGR24 && destination == AV_PIX_FMT_YUV420P;
}

// Even (so that chroma rows split cleanly) and short of the last row, with
// enough of the caller's bytes after it in every plane.
int DirectSourceRows(const PictureLayout& source, AVPixelFormat destination) {
  if (NeedsWholePicture(source.format, destination)) return 0;
  int rows = (source.height - 1) & ~1;
  for (; rows > 0; rows -= 2) {
    bool roomy = true;
    for (int plane = 0; plane < source.planeCount; ++plane) {
      const int after = source.rows[plane] - source.FirstPlaneRow(plane, rows);
      if (static_cast<std::size_t>(after) * source.pitch[plane] < kReadSlack) roomy = false;
    }
    if (roomy) break;
  }
  return rows;
}

PictureLayout TailLayout(const PictureLayout& source, int firstRow) {
  PictureLayout tail = source;
  std::size_t offset = 0;
  for (int plane = 0; plane < source.planeCount; ++plane) {
    tail.rows[plane] = source.rows[plane] - source.FirstPlaneRow(plane, firstRow);
    tail.offset[plane] = offset;
    offset += FFALIGN(static_cast<std::size_t>(tail.rows[plane]) * tail.pitch[plane],
                      static_cast<std::size_t>(kRowAlignment));
  }
  tail.size = offset;
  return tail;
}

}  // namespace

bool Conversion::Open(AVPixelFormat sourceFormat, AVPixelFormat destinationFormat, int width,
                      int height) {
  if (!PictureLayout::Packed(sourceFormat, width, height, source_) ||
      !PictureLayout::Packed(destinationFormat, width, height, destination_))
    return false;
  copyOnly_ = sourceFormat == destinationFormat;
  if (copyOnly_) return true;
  scaler_ =
      CreateScaler(width, height, sourceFormat, width, height, destinationFormat, SWS_BICUBIC);
  if (!scaler_) return false;
  padded_ = destination_.Padded();
  directRows_ = DirectSourceRows(source_, destinationFormat);
  tail_ = TailLayout(source_, directRows_);
  directDestination_ = destination_.PitchesAligned();
  tailBuffer_ = AllocateZeroed(tail_.size + kSpareBytes);
  paddedBuffer_ = AllocateZeroed(padded_.size + kSpareBytes);
  return true;
}

void Conversion::CopySourceTail(const uint8_t* source) {
  for (int plane = 0; plane < source_.planeCount; ++plane) {
    const std::size_t firstRow = source_.FirstPlaneRow(plane, directRows_);
    std::memcpy(tailBuffer_.get() + tail_.offset[plane],
                source + source_.offset[plane] + firstRow * source_.pitch[plane],
                static_cast<std::size_t>(tail_.rows[plane]) * tail_.pitch[plane]);
  }
}

bool Conversion::Convert(const uint8_t* source, uint8_t* destination) {
  if (!source || !destination) return false;
  if (copyOnly_) {
    std::memcpy(destination, source, source_.size);
    return true;
  }
  if (!Scale(source, destination)) return false;
  CompleteLastChromaRow(source, destination);
  return true;
}

bool Conversion::Scale(const uint8_t* source, uint8_t* destination) {
  if (!scaler_) return false;
  const bool direct =
      directDestination_ && reinterpret_cast<uintptr_t>(destination) % kRowAlignment == 0;
  uint8_t* padded[kMaxPlanes];
  padded_.Planes(paddedBuffer_.get(), padded);

  int directRowsWritten = 0;
  if (directRows_ > 0) {
    const uint8_t* sourcePlanes[kMaxPlanes];
    source_.Planes(source, sourcePlanes);
    uint8_t* caller[kMaxPlanes];
    destination_.Planes(destination, caller);
    directRowsWritten =
        sws_scale(scaler_.get(), sourcePlanes, source_.pitch, 0, directRows_,
                  direct ? caller : padded, direct ? destination_.pitch : padded_.pitch);
    if (directRowsWritten < 0) return false;
  }

  CopySourceTail(source);
  const uint8_t* tailPlanes[kMaxPlanes];
  tail_.Planes(tailBuffer_.get(), tailPlanes);
  const int tailRowsWritten = sws_scale(scaler_.get(), tailPlanes, tail_.pitch, directRows_,
                                        source_.height - directRows_, padded, padded_.pitch);
  // Every row must have come out, or the caller would get a partly old picture.
  if (tailRowsWritten < 0 || directRowsWritten + tailRowsWritten != source_.height) return false;
  CopyPlanes(padded_, paddedBuffer_.get(), destination_, destination,
             direct ? directRowsWritten : 0);
  return true;
}

// The chroma of YUV420P's last row pair is the average of the pair's YUYV
// chroma; with an odd height the last pair has one row, whose chroma it takes.
void Conversion::CompleteLastChromaRow(const uint8_t* source, uint8_t* destination) const {
  if (source_.format != AV_PIX_FMT_YUYV422 || destination_.format != AV_PIX_FMT_YUV420P ||
      source_.height % 2 == 0)
    return;
  const uint8_t* lastRow =
      source + source_.offset[0] + static_cast<std::size_t>(source_.height - 1) * source_.pitch[0];
  const std::size_t chromaRow = destination_.rows[1] - 1;
  uint8_t* u = destination + destination_.offset[1] + chromaRow * destination_.pitch[1];
  uint8_t* v = destination + destination_.offset[2] + chromaRow * destination_.pitch[2];
  for (int i = 0; i < destination_.pitch[1]; ++i) {
    u[i] = lastRow[4 * i + 1];
    v[i] = lastRow[4 * i + 3];
  }
}

}  // namespace tarsel
