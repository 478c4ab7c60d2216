// The object behind an AUDIO_ handle: reads the best audio stream of a file and
// hands it out block by block as interleaved signed 16-bit samples at the
// stream's own rate and channel count.
#pragma once

#include <cstdint>
#include <vector>

#include "ffmpeg/audio/sample_converter.h"
#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

class AudioReader {
 public:
  static constexpr char kNotInitialized[] = "Audio grabber not inititialized";
  static constexpr char kNoFormatContext[] = "Could not allocate format context.";
  static constexpr char kNoAudioStream[] = "Could not find audio stream";
  static constexpr char kNoDecoder[] = "Could not find the proper codec.";
  static constexpr char kNoCodecContext[] = "Could not allocate the codec context";
  static constexpr char kNoFrame[] = "Could not allocate audio frame.";
  static constexpr char kNoAudio[] = "File contains no audio streams.";
  static constexpr char kNoSampleBuffer[] = "The sample buffer is null.";
  // The most bytes one block holds.
  static constexpr int kBufferCapacity = 192000 + 64;

  struct Info {
    int32_t hasAudio = 0;
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t bufferSize = 0;
    double duration = 0.0;
  };
  struct Block {
    int32_t samples = 0;
    int32_t bytes = 0;
    double time = -1.0;
  };

  void Open(const char* path, int32_t* streamIndex);
  // Fills info and the decoder's name and settles the duration that jumps
  // check; false for a reader without an audio stream.
  bool GetAudioInfo(Info& info, char* codecName);
  // Converts the next block into the sample buffer; false at the end of the
  // file or when nothing more can be decoded.
  bool DecodeBlock(Block& block);
  const uint8_t* sampleBuffer() const { return sampleBuffer_.data(); }
  // Returns the time reached (from the stream's start), 0.0 at the end of the
  // file, or -1.0 when the jump is refused.
  double Jump(double seconds);

 private:
  void OpenInput(const char* path);
  void OpenDecoder();
  void SetUpConverter();
  bool ReadAudioPacket();
  bool ReceiveFrame();
  bool StartFrame();
  bool ConvertChunk(Block& block);
  double SecondsFromStart(int64_t ticks) const;
  void ForgetDecodedAudio();

  InputContextPtr formatContext_;
  AVStream* audioStream_ = nullptr;
  const AVCodec* decoder_ = nullptr;
  CodecContextPtr codecContext_;
  PacketPtr packet_;
  FramePtr decodedFrame_;
  SampleConverter converter_;
  std::vector<uint8_t> sampleBuffer_;
  std::vector<const uint8_t*> inputPlanes_;

  int audioStreamIndex_ = -1;
  int32_t hasAudio_ = 0;
  int32_t channels_ = 0;
  int32_t sampleRate_ = 0;
  int64_t startTicks_ = 0;
  int64_t durationTicks_ = 0;
  double durationSeconds_ = 0.0;
  double currentTime_ = 0.0;

  bool packetPending_ = false;
  bool drainSent_ = false;
  // The frame being handed out: the samples per channel already delivered and
  // the time of its first sample.
  int frameDelivered_ = 0;
  int frameRemaining_ = 0;
  double frameTime_ = 0.0;
  double nextFrameTime_ = 0.0;
};

}  // namespace tarsel
