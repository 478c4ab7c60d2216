// Reads back a file a writer made, with the FFmpeg libraries: its video stream's
// description and every decoded picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/macros.h>
#include <libavutil/rational.h>
}

namespace writers_test {

struct DecodedFile {
  bool opened = false;
  std::string container;  // the demuxer's short name, e.g. "avi"
  int streams = 0;
  std::string codec;  // e.g. "ffv1"
  uint32_t codecTag = 0;
  int width = 0;
  int height = 0;
  AVRational timeBase{0, 1};
  AVRational averageRate{0, 1};
  int decodeErrors = 0;
  uint64_t packetBytes = 0;                    // sum of the video packets' sizes
  std::vector<double> seconds;                 // presentation time of each decoded picture
  std::vector<std::vector<uint8_t>> pictures;  // each picture as packed BGR24
};

DecodedFile DecodeFile(const std::string& path);

// Largest difference of any byte of two pictures of the same size (255 when the
// sizes differ).
int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// Mean absolute difference of the bytes of two pictures of the same size.
double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace writers_test
