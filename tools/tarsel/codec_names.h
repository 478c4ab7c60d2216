// Names for the FFmpeg codec id numbers that the video reader reports.
#pragma once

#include <string>

namespace tool {

// FFmpeg's short name of a video codec ("h264"), or "codec N" for a number the
// tool does not know.
std::string VideoCodecName(int codecId);

}  // namespace tool
