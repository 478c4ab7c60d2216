// Reads back what the writer stored, with the FFmpeg libraries: the streams,
// the video packets and the decoded pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mp4_test {

struct StreamInfo {
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID codec = AV_CODEC_ID_NONE;
  int width = 0;
  int height = 0;
  int channels = 0;
  int sampleRate = 0;
  AVRational timeBase{0, 1};
  int packets = 0;
};

struct PacketInfo {
  int64_t dts = 0;
  int64_t pts = 0;
  int64_t duration = 0;
  bool key = false;
};

struct Container {
  bool opened = false;
  std::vector<StreamInfo> streams;
  std::vector<PacketInfo> videoPackets;  // of the first video stream
};

// Decoded pictures as packed YUV 4:2:0 planes, one after another, in the form
// `ffmpeg -f rawvideo -pix_fmt yuv420p` writes them.
struct Pictures {
  int count = 0;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> yuv;
};

Container ReadContainer(const std::string& path);
Pictures DecodeVideo(const std::string& path);

}  // namespace mp4_test
