// The H.264 packet decoder behind DECODER_ handles: one packet in, at most one
// picture out, handed to the caller as packed BGR24.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/common/bgr_scaler.h"

namespace tarsel {

class Decoder {
 public:
  static constexpr char kCodecNotFound[] = "Codec not found.";
  static constexpr char kNoCodecContext[] = "Could not allocate video codec context.";
  static constexpr char kCannotOpenCodec[] = "Could not open codec.";
  static constexpr char kNoFrame[] = "Could not allocate video frame.";
  static constexpr char kUnknownInit[] = "Unknown exception in GRABBER_Init";

  void Open();
  // -1: no data; 1: the decoder refused the packet (sizes -1); 0: the size of the
  // picture the packet completed (0 x 0 when it completed none).
  int DecodeFrame(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);
  // 0 with the picture's BGR24 byte count in size, copied into destination unless
  // it is null; -1 with size 0 when there is no picture or no room to convert it.
  int GetBitmapData(uint8_t* destination, uint32_t* size);

 private:
  bool PrepareOutput();

  // Released bottom-up: the decoder first, the output picture last.
  FramePtr output_;          // BGR24 at the current picture's size, padded rows
  uint32_t outputSize_ = 0;  // packed BGR24 bytes: 3 x width x height
  BgrScaler scaler_;
  FramePtr frame_;    // the picture most recently received
  PacketPtr packet_;  // describes the caller's bytes during DecodeFrame only
  CodecContextPtr codecContext_;
  int32_t width_ = -1;
  int32_t height_ = -1;
};

}  // namespace tarsel
