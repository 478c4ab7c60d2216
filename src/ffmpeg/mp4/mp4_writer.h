// Stores a pre-encoded H.264 elementary stream in the container that the file
// name selects (MP4 or any other). Nothing is decoded or encoded: the caller
// hands over the parameter sets, then one Annex-B access unit per call, and the
// writer passes them on with the stream, the key-frame flag and 90 kHz times.
#pragma once

#include <cstdint>

#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

class MP4Writer {
 public:
  static constexpr char kNotInitialized[] = "Writer is null";
  static constexpr char kTooFewBytes[] = "Nr of input bytes is smaller than 1";
  static constexpr char kCouldNotWrite[] = "Could not write data";
  static constexpr char kCodecNotFound[] = "video codec not found";
  static constexpr char kStreamNotAllocated[] = "Could not alloc video stream";
  static constexpr char kNullPath[] = "Path is null";
  static constexpr char kNullInput[] = "Input data is null";
  static constexpr char kInvalidSize[] = "Invalid picture size";
  static constexpr char kNoH264[] = "Container does not support H.264";
  static constexpr char kParameterSetsTooLarge[] = "Parameter sets are too large";
  static constexpr char kParameterSetsFixed[] =
      "Parameter sets cannot change after the first frame";

  MP4Writer() = default;
  // Finishes the file when it was opened.
  ~MP4Writer();
  MP4Writer(const MP4Writer&) = delete;
  MP4Writer& operator=(const MP4Writer&) = delete;

  // An unknown container ends the open silently: the writer then refuses frames.
  void Open(const char* path, uint32_t width, uint32_t height, uint32_t frameRate);
  void AddSPSPPS(const uint8_t* sps, int32_t spsLength, const uint8_t* pps, int32_t ppsLength);
  void AddFrame(const uint8_t* data, int32_t length);
  void AddRawH264FrameWithTime(const uint8_t* data, int32_t length, double time);

 protected:
  // The muxer declares an AAC mono 16 kHz stream beside the video.
  explicit MP4Writer(bool declareAudio) : declareAudio_(declareAudio) {}

 private:
  void CheckSize(const AVOutputFormat& format, uint32_t width, uint32_t height) const;
  void AddStreams();
  void ConfigureVideo(const AVOutputFormat& format, uint32_t width, uint32_t height,
                      uint32_t frameRate);
  void ConfigureAudio();
  void CopyStreamParameters();
  void CheckAccessUnit(const uint8_t* data, int32_t length) const;
  void RefuseUnwritable(bool keyFrame) const;
  void Write(const uint8_t* data, int32_t length, bool keyFrame, int64_t dts, int64_t duration);
  void CopyIntoPacket(const uint8_t* data, int32_t length, bool keyFrame);
  bool WriteHeader() noexcept;
  void Finish() noexcept;

  const bool declareAudio_ = false;
  OutputContextPtr formatContext_;
  CodecContextPtr codecContext_;  // stream parameters only, never opened
  CodecContextPtr audioCodecContext_;
  PacketPtr packet_;
  AVStream* stream_ = nullptr;
  AVStream* audioStream_ = nullptr;
  bool opened_ = false;  // every open step succeeded
  bool headerWritten_ = false;
  bool headerFailed_ = false;
  bool seenKeyFrame_ = false;
  bool hasStartTime_ = false;
  double startTime_ = -1.0;
  int64_t frameTicks_ = 1;  // one frame at the open's rate, in 90 kHz ticks
  int64_t lastDts_ = AV_NOPTS_VALUE;
  bool inBandParameterSets_ = false;  // the container has no place for them
};

// The MP4 writer with a declared, always empty AAC mono 16 kHz stream at index 1.
class MP4Muxer : public MP4Writer {
 public:
  MP4Muxer() : MP4Writer(true) {}
};

}  // namespace tarsel
