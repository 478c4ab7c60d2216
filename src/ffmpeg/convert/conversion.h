// One libswscale conversion between two caller pictures of the same size that
// never reads or writes outside them.
//
// libswscale's vector code reads and writes in blocks: on tightly packed rows it
// reads past the end of the source's last rows, writes past the end of the
// destination's last row, and on some row pitches leaves the right edge of every
// row unwritten. Rows whose pitch is a multiple of 64 bytes, with spare bytes
// after the picture, convert exactly. So the conversion runs in two source
// slices: the top rows straight from the caller's source, and the last few rows
// from an internal copy with spare bytes after it. Those last rows always land in
// an internal padded picture and are copied out; the rows above them are written
// straight into the caller's destination when its pitches are multiples of 64
// bytes and it starts on a 64-byte boundary (libswscale's vector code stores
// some planes with aligned writes), and go through the internal picture
// otherwise. The result is byte-for-byte what libswscale gives on padded buffers.
//
// Where libswscale's shortcuts fall short even on padded buffers, the
// conversion mends them: a picture converted to its own layout is copied (the
// shortcut skips bytes of NV12 chroma rows and of odd-width YUYV rows), and
// YUYV to YUV420P at an odd height gets the last chroma row that the shortcut
// never writes.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/convert/picture_layout.h"

namespace tarsel {

class Conversion {
 public:
  // Makes the scaler (bicubic) and the internal buffers. False when libswscale
  // cannot convert between the formats at this size; throws std::bad_alloc when
  // the buffers cannot be allocated.
  bool Open(AVPixelFormat sourceFormat, AVPixelFormat destinationFormat, int width, int height);
  // Converts one picture in the caller's layouts. False on failure.
  bool Convert(const uint8_t* source, uint8_t* destination);

 private:
  void CopySourceTail(const uint8_t* source);
  bool Scale(const uint8_t* source, uint8_t* destination);
  void CompleteLastChromaRow(const uint8_t* source, uint8_t* destination) const;

  ScalerPtr scaler_;
  PictureLayout source_;
  PictureLayout destination_;
  PictureLayout padded_;            // the destination with padded rows
  PictureLayout tail_;              // the source's rows from directRows_ on, planes back to back
  int directRows_ = 0;              // source rows read straight from the caller's buffer
  bool directDestination_ = false;  // the caller's pitches allow writing straight into it
  bool copyOnly_ = false;           // the same layout on both sides
  AvBufferPtr tailBuffer_;
  AvBufferPtr paddedBuffer_;
};

}  // namespace tarsel
