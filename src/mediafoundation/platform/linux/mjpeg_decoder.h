// Decodes the MJPEG pictures of a camera into NV12, for the sizes a camera
// gives only as MJPEG.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffmpeg/common/av_ptr.h"

namespace tarsel::platform {

class MjpegDecoder {
 public:
  // Room that must follow the picture's bytes, zero-filled, for the decoder.
  static constexpr std::size_t kPadding = AV_INPUT_BUFFER_PADDING_SIZE;

  // Decodes one picture of width x height into nv12 (width x height luma
  // bytes, then the interleaved chroma rows). False when the bytes are no
  // such picture; the caller then drops the frame.
  bool Decode(const std::uint8_t* data, std::size_t size, std::uint32_t width, std::uint32_t height,
              std::uint8_t* nv12);

 private:
  bool Open();
  bool Convert(std::uint32_t width, std::uint32_t height, std::uint8_t* nv12);

  CodecContextPtr context_;
  PacketPtr packet_;
  FramePtr frame_;
  ScalerPtr scaler_;
};

}  // namespace tarsel::platform
