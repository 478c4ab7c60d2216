#include "ffmpeg/common/network.h"

#include <mutex>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tarsel {
namespace {

void StartOnce(std::once_flag& flag) noexcept {
  try {
    std::call_once(flag, [] { avformat_network_init(); });
  } catch (...) {
    // call_once only raises when the platform cannot run it; FFmpeg then starts
    // its network layer on demand when a network input is opened.
  }
}

}  // namespace

void StartReaderNetwork() noexcept {
  static std::once_flag readerFlag;
  StartOnce(readerFlag);
}

void StartWriterNetwork() noexcept {
  static std::once_flag writerFlag;
  StartOnce(writerFlag);
}

}  // namespace tarsel
