// The object behind a VIDEO_ handle: opens a file or stream, settles its frame
// rate and frame count, and hands out decoded pictures as BGR24 by sequence,
// time or index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/reader/picture_output.h"
#include "tarsel.h"

namespace tarsel {

class VideoReader {
 public:
  static constexpr char kNotInitialized[] = "Video grabber not inititialized";

  VideoReader() = default;
  VideoReader(const VideoReader&) = delete;
  VideoReader& operator=(const VideoReader&) = delete;

  // Opening and information (video_reader_open.cpp).
  void Open(const char* path, bool live, bool applyAspect, VideoInterruptCallBack interrupt,
            bool sequential);
  void GetVideoInfo(int32_t* width, int32_t* height, int32_t* frameCount, double* duration,
                    double* frameRate);
  void GetVidInfo(VidInfo* info);
  uint32_t AudioInfo() const { return static_cast<uint32_t>(audioInfo_); }

  // Frame access (video_reader_frames.cpp). The picture calls return false when
  // no picture was delivered.
  bool NextFrame(uint8_t* pixels, int32_t stride);
  bool FrameAtTime(uint8_t* pixels, int32_t stride, double seconds);
  bool FrameAtIndex(uint8_t* pixels, int32_t stride, int32_t index);
  bool Rewind();
  void SkipFrames(int32_t count);
  void ReadAllFrames(uint32_t* count, int64_t* firstPts, int64_t* lastPts, uint32_t* timeBaseNum,
                     uint32_t* timeBaseDen);
  void SetFrameRate(double framesPerSecond);
  void SelfTest();

  int32_t frameIndex() const { return frameIndex_; }
  double frameTime() const { return frameTime_; }
  double frameTimeAgain() const { return frameTimeAgain_; }

 private:
  enum class Pull { kPicture, kEnd, kFailed };
  // Room for the display slots of packets whose pictures are still in the decoder.
  static constexpr std::size_t kSlotRoom = 64;
  // What a seeking request looks for: the picture with an index, or the first
  // picture at or after a time.
  struct Goal {
    bool byIndex;
    int64_t index;
    double seconds;
  };

  // Opening.
  void OpenInput(const char* path, bool applyAspect);
  void OpenDecoder(AVDictionary** options);
  void ReadFirstTimestamp();
  void Analyse();
  double TimeBase() const;
  AVStream& Stream() const;

  // Decoding.
  Pull DecodeNext(int64_t discardBelowIndex = -1);
  Pull SendEndOfInput();
  void SendPacket(int64_t discardBelowIndex);
  void FlushDecoder();
  bool SeekStream(int64_t timestamp, int flags);
  bool SeekToStart();
  void Stamp();
  int64_t IndexOfTimestamp(int64_t timestamp) const;
  int64_t TimestampOfIndex(int64_t index) const;
  void RememberSlot(int64_t timestamp);
  bool TakeSlot(int64_t* timestamp);

  // Frame access.
  bool SeekAndDeliver(const Goal& goal, uint8_t* pixels, int64_t stride);
  bool Reached(const Goal& goal) const;
  bool Beyond(const Goal& goal) const;
  bool Deliver(uint8_t* pixels, int64_t stride);
  bool Refused(uint8_t* pixels, int64_t stride) const;

  // State of the reader.
  int32_t frameIndex_ = -1;
  double frameTime_ = 0.0;
  double frameTimeAgain_ = 0.0;
  double durationSeconds_ = 0.0;
  int32_t frameCount_ = 0;
  int64_t stride_ = 0;
  int videoStreamIndex_ = -1;
  int64_t audioInfo_ = 0;
  // The first packet's timestamp (dts, or pts without one), reported as the
  // start timestamp; pictures are numbered from startTime_, the stream's first
  // presentation time.
  int64_t firstTimestamp_ = 0;
  int64_t startTime_ = 0;
  int64_t lastTimestamp_ = 0;
  int64_t lastTimestampAgain_ = 0;
  int64_t ticksPerFrame_ = 1;
  bool repeatPending_ = false;
  int32_t repeatUntil_ = 0;
  double frameRate_ = 0.0;
  // Length of the stream in ticks from startTime_.
  int64_t endTimestamp_ = 0;
  int64_t lastPacketTimestamp_ = 0;
  bool live_ = false;
  bool sequential_ = false;
  bool draining_ = false;
  bool drained_ = false;
  bool packetPending_ = false;
  bool ptsValid_ = true;
  int width_ = 0;
  int height_ = 0;
  // Index of the last picture stamped, for pictures that carry no timestamp.
  int64_t lastStampedIndex_ = -1;
  // Inputs whose packets lack presentation times (AVI) number pictures by
  // display slot: the sorted timestamps of the packets sent since the last flush.
  bool slotTimestamps_ = false;
  bool awaitingKeyPacket_ = false;
  bool skippingLeading_ = false;
  int slotsToDrop_ = 0;
  std::vector<int64_t> slots_;
  VideoInterruptCallBack interrupt_ = nullptr;

  // FFmpeg objects, released in reverse order.
  InputContextPtr formatContext_;
  CodecContextPtr codecContext_;
  FramePtr decodedFrame_;
  PacketPtr packet_;
  PictureOutput output_;
};

}  // namespace tarsel
