// The object behind a VIDEO_ handle: opens a file or stream, settles its frame
// rate and frame count, and hands out decoded pictures as BGR24 by sequence,
// time or index. Its parts: the input (VideoInput), what the stream's timeline
// is (AnalyseStream), the decoding (DecodeLoop), how pictures are numbered and
// repeated (FrameNumbering), and their conversion to BGR24 (PictureOutput).
#pragma once

#include <cstdint>

#include "ffmpeg/reader/decode_loop.h"
#include "ffmpeg/reader/frame_numbering.h"
#include "ffmpeg/reader/picture_output.h"
#include "ffmpeg/reader/stream_analysis.h"
#include "ffmpeg/reader/video_input.h"
#include "tarsel.h"

namespace tarsel {

class VideoReader {
 public:
  static constexpr char kNotInitialized[] = "Video grabber not inititialized";

  VideoReader() = default;
  VideoReader(const VideoReader&) = delete;
  VideoReader& operator=(const VideoReader&) = delete;

  void Open(const char* path, bool live, bool applyAspect, VideoInterruptCallBack interrupt,
            bool sequential);
  void GetVideoInfo(int32_t* width, int32_t* height, int32_t* frameCount, double* duration,
                    double* frameRate);
  void GetVidInfo(VidInfo* info);
  // The reader does not examine audio.
  uint32_t AudioInfo() const { return 0; }

  // The picture calls return false when no picture was delivered.
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
  double frameTimeAgain() const { return frameTime_; }

 private:
  // What a seeking request looks for: the picture with an index, or the first
  // picture at or after a time.
  struct Goal {
    bool byIndex;
    int64_t index;
    double seconds;
  };

  void ApplyAspect(const AVCodecContext& decoder);
  double TimeBase() const;
  double FrameRate() const;
  FrameNumbering::Stamp StampPicture();
  bool Refused(const uint8_t* pixels, int64_t stride) const;
  bool Deliver(uint8_t* pixels, int64_t stride, int64_t until, int64_t wanted);
  bool SeekAndDeliver(const Goal& goal, uint8_t* pixels, int64_t stride);
  bool WithinReach(const Goal& goal, int64_t target) const;
  bool ReadOnTo(int32_t index, uint8_t* pixels, int32_t stride);
  bool Reached(const Goal& goal, const FrameNumbering::Stamp& stamp) const;
  bool Beyond(const Goal& goal, const FrameNumbering::Stamp& stamp) const;

  // Where the reader stands, as the picture exports report it.
  int32_t frameIndex_ = -1;
  double frameTime_ = 0.0;
  int32_t frameCount_ = 0;
  // Stored by the information exports; time requests check against it.
  double durationSeconds_ = 0.0;
  bool live_ = false;
  bool sequential_ = false;
  int width_ = 0;
  int height_ = 0;
  // The picture held for the indices up to heldUntil_.
  bool holding_ = false;
  int64_t heldUntil_ = 0;
  Timeline timeline_;
  // Live streams without timestamps (MJPEG) are timed by arrival.
  bool arrivalTimes_ = false;
  ArrivalClock arrivals_;

  // Released bottom-up: the conversion, the decoder, then the input.
  VideoInput input_;
  DecodeLoop decoding_;
  FrameNumbering numbering_;
  PictureOutput output_;
};

}  // namespace tarsel
