// What the reader settles about a stream when it opens it: the rate its pictures
// are numbered at, how many frames it has, how long it lasts, and its first and
// last timestamps. The container's claims are checked against the packets' own
// timestamps: in file mode the packets from the stream's tail (or, where the
// container's numbers are doubtful or missing, from the whole stream) are read,
// and the container's index is consulted where it lists every frame.
#pragma once

#include <cstdint>

#include "ffmpeg/reader/video_input.h"

namespace tarsel {

struct Timeline {
  double frameRate = 0.0;
  int64_t ticksPerFrame = 1;  // one frame in stream ticks, whole, at least 1
  int32_t frameCount = 0;
  int64_t start = 0;   // the first presentation time: index 0
  int64_t length = 0;  // ticks from the start to the stream's end
  // The last picture's presentation time (AV_NOPTS_VALUE when the packets carry
  // none) and the end of that picture in ticks from the start.
  int64_t lastPicture = AV_NOPTS_VALUE;
  int64_t lastPictureEnd = 0;
  int64_t lastPacket = 0;  // timestamp of the last video packet read
  bool bySlots = false;    // the packets lack presentation times (AVI)
};

// Settles the timeline of the input's video stream. The input is left anywhere.
// Raises the reader's message when the input cannot return to its start.
Timeline AnalyseStream(VideoInput& input, bool live, bool sequential);

}  // namespace tarsel
