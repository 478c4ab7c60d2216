// Opening the file behind an output context, shared by every family that
// writes a container.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

namespace tarsel {

// Opens the output file unless the container writes none; raises FFmpeg's text.
void OpenOutputFile(AVFormatContext* output, const char* path);

}  // namespace tarsel
