// Pictures in memory of our own, laid out so that libswscale's vector code stays
// inside them: every row padded to a multiple of 64 bytes (the widest block it
// reads or writes at once) and spare bytes after the last row. The reader, the
// packet decoder, the converters and the writers keep their pictures this way and
// move rows between them and the caller's memory with CopyRows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

inline constexpr int kMaxPlanes = 4;
inline constexpr int kRowAlignment = 64;
// Bytes after a picture for reads and writes past its last row.
inline constexpr std::size_t kSpareBytes = 256;

// The pitch of a padded row of rowBytes bytes; 0 when rowBytes is not positive or
// the pitch would not fit in an int.
int PaddedPitch(int64_t rowBytes);

// Copies rows rows of rowBytes bytes each; either pitch may be negative.
void CopyRows(const uint8_t* source, std::ptrdiff_t sourcePitch, uint8_t* destination,
              std::ptrdiff_t destinationPitch, std::size_t rowBytes, int rows);

// Gives frame a zeroed buffer of its own (so an encoder may keep a reference)
// holding a width x height picture of format with padded rows, and sets its
// format and size. False when the picture has no layout at that size or memory
// is short.
bool FillPicture(AVFrame* frame, AVPixelFormat format, int width, int height);

// A new frame filled as FillPicture does; null on failure.
FramePtr AllocatePicture(AVPixelFormat format, int width, int height);

}  // namespace tarsel
