// The timed audio/video writer: BGR24 pictures carrying times in seconds,
// written at a constant frame rate with the container's default video codec,
// each picture repeated or dropped so that the frame count keeps up with time.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/writers/encoding_steps.h"

namespace tarsel {

// The sample rate and channel layout an audio encoder is opened with: the
// listed rate nearest to 44100 Hz and the listed layout with the most channels
// (the first of equals wins), or 44100 Hz stereo where the encoder lists none.
struct AudioChoice {
  int sampleRate = 44100;
  AVChannelLayout layout = AV_CHANNEL_LAYOUT_STEREO;
};
AudioChoice ChooseAudioSettings(const AVCodec* encoder);

class VidWriter {
 public:
  static constexpr char kNotInitialized[] = "Video writer not inititialized";

  VidWriter() = default;
  VidWriter(const VidWriter&) = delete;
  VidWriter& operator=(const VidWriter&) = delete;
  // Drains both encoders and writes the trailer.
  ~VidWriter();

  // formatName: a container short name, or null or empty to choose by the path.
  void Open(const char* path, int width, int height, bool withAudio, const char* formatName,
            int bitRate, int frameRate, int gopSize);
  // Encodes the picture as often as needed to reach time (seconds); a negative
  // or non-finite time writes exactly one frame.
  void WriteFrame(const uint8_t* pixels, int stride, double time);
  uint32_t encodedBytes() const { return video_.bytes; }
  uint32_t framesWritten() const { return framesWritten_; }

 private:
  void ChooseContainer(const char* path, const char* formatName);
  void CreateVideoEncoder(int width, int height, int bitRate, int gopSize);
  void AddAudioStream();
  void EncodeOnce(const uint8_t* pixels, int stride);
  EncodedStream VideoTarget() const;
  EncodedStream AudioTarget() const;

  uint32_t framesWritten_ = 0;
  DrainCount video_;
  bool hasAudio_ = false;
  const AVOutputFormat* outputFormat_ = nullptr;
  OutputContextPtr formatContext_;
  CodecContextPtr codecContext_;
  AVStream* stream_ = nullptr;
  BgrConverter converter_;
  FramePtr frame_;
  PacketPtr packet_;
  CodecContextPtr audioCodecContext_;
  PacketPtr audioPacket_;
  FramePtr audioFrame_;
  AVStream* audioStream_ = nullptr;
  DrainCount audio_;
  bool headerWritten_ = false;
  // Frames are scheduled against 1/frameRate fixed at open, whatever time base
  // the container chose for the stream.
  int frameRate_ = 0;
  int64_t nextPts_ = 0;
};

}  // namespace tarsel
