// The object behind an AACDECODER_ handle: decodes single AAC packets (raw
// access units or ADTS frames, no extradata) and converts each decoded frame
// to interleaved signed 16-bit samples at the caller's output rate.
#pragma once

#include <cstdint>
#include <vector>

#include "ffmpeg/audio/sample_converter.h"
#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

class AacDecoder {
 public:
  // Never shown: the decoder's exports report a null handle by their result.
  static constexpr char kNotInitialized[] = "AAC decoder not initialized";
  static constexpr char kBadChannels[] = "The channel count must be between 1 and 8.";
  static constexpr char kBadSampleRate[] = "The sample rates must be above 0.";
  static constexpr char kNoCodec[] = "Codec not found.";
  static constexpr char kNoCodecContext[] = "Could not allocate audio codec context.";
  static constexpr char kCannotOpen[] = "Could not open codec.";
  static constexpr char kNoFrame[] = "Could not allocate audio frame.";
  // The most bytes one fetch copies.
  static constexpr int kBufferCapacity = 192000;

  void Open(int channels, int inSampleRate, int outSampleRate);
  // 0 with the samples per channel now ready to fetch, 1 when the packet is
  // refused or cannot be decoded.
  int DecodePacket(const uint8_t* data, int size, int32_t* outSamples);
  // Copies at most the ready block, and nothing for a size above the capacity.
  void GetDecodedData(uint8_t* pcm, int size) const;

 private:
  int ConvertFrame();

  CodecContextPtr codecContext_;
  PacketPtr packet_;
  FramePtr decodedFrame_;
  SampleConverter converter_;
  std::vector<uint8_t> packetBytes_;
  AvBufferPtr outputBuffer_;
  int channels_ = 0;
  int outSampleRate_ = 0;
  // Bytes of the converted block that the resampler actually produced.
  int readyBytes_ = 0;
};

}  // namespace tarsel
