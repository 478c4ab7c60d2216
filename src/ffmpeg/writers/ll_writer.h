// The low-level video writer: every BGR24 picture becomes one FFV1 frame in a
// container chosen by the output file's name.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/writers/encoding_steps.h"

namespace tarsel {

// The encoder's pixel format for a codec fed pictures in sourceFormat.
AVPixelFormat EncoderPixelFormat(AVCodecID codec, AVPixelFormat sourceFormat);

class LLWriter {
 public:
  static constexpr char kNotInitialized[] = "Video writer not inititialized";

  LLWriter() = default;
  LLWriter(const LLWriter&) = delete;
  LLWriter& operator=(const LLWriter&) = delete;
  // Finishes the file if Close was not called.
  ~LLWriter();

  // Writes the header of path; frameRate is in frames per second.
  void Open(const char* path, int width, int height, double frameRate);
  // Encodes one BGR24 picture of the open size, rows stride bytes apart.
  void WriteFrame(const uint8_t* pixels, int stride);
  // Drains the encoder and writes the trailer; raises FFmpeg's text when the
  // trailer cannot be written. Idempotent.
  void Close();

 private:
  void CreateEncoder(AVCodecID codecId, int width, int height, AVRational timeBase);
  // Configures and opens codecContext_; false when the encoder refuses.
  bool OpenEncoder(const AVCodec* codec, int width, int height, AVRational timeBase,
                   int ffv1Slices);
  void ApplyFfv1Options(AVDictionary** options, int slices);
  EncodedStream Target() const;

  const AVOutputFormat* outputFormat_ = nullptr;
  OutputContextPtr formatContext_;
  CodecContextPtr codecContext_;
  FramePtr frame_;
  BgrConverter converter_;
  AVStream* stream_ = nullptr;
  PacketPtr packet_;
  AVPixelFormat sourcePixelFormat_ = AV_PIX_FMT_BGR24;
  AVPixelFormat encoderPixelFormat_ = AV_PIX_FMT_YUV420P;
  bool headerWritten_ = false;
  DrainCount written_;
  // Frames are timed by their order alone: one tick of the encoder's time base each.
  int64_t nextPts_ = 0;
};

}  // namespace tarsel
