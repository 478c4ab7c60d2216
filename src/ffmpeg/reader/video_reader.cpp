#include "ffmpeg/reader/video_reader.h"

#include <algorithm>
#include <cmath>

#include "common/boundary.h"
#include "ffmpeg/common/codec_support.h"

namespace tarsel {
namespace {

// When a seek lands beyond the wanted picture, the reader seeks again this many
// frames further back, twice as far each time, and after that many tries starts
// from the beginning: a request costs a few seeks and one pass of decoding.
constexpr int64_t kStepBackFrames = 100;
constexpr int kStepBacks = 3;

int32_t LowBits(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int64_t SaturatingProduct(int64_t a, int64_t b) {
  return b != 0 && a > INT64_MAX / 4 / b ? INT64_MAX / 4 : a * b;
}

}  // namespace

double VideoReader::TimeBase() const { return av_q2d(input_.stream().time_base); }

double VideoReader::FrameRate() const {
  return arrivalTimes_ ? arrivals_.rate() : timeline_.frameRate;
}

void VideoReader::Open(const char* path, bool live, bool applyAspect,
                       VideoInterruptCallBack interrupt, bool sequential) {
  live_ = live;
  sequential_ = sequential;
  input_.Open(path, live, interrupt);
  decoding_.Open(input_, live, input_.TakeUnusedOptions());
  const AVCodecContext& decoder = decoding_.decoder();
  width_ = decoder.width;
  height_ = decoder.height;
  if (applyAspect) ApplyAspect(decoder);
  output_.Prepare(decoder, width_, height_);

  timeline_ = AnalyseStream(input_, live_, sequential_);
  decoding_.NumberBySlots(timeline_.bySlots);
  numbering_.Describe(input_.stream().time_base, timeline_.start, timeline_.lastPicture,
                      timeline_.lastPictureEnd);
  numbering_.NumberAt(timeline_.frameRate, false);
  if (live_) {
    numbering_.StartAtFirstTimestamp();
    // The demuxer's times would be its guess of 25 pictures a second.
    arrivalTimes_ = input_.context().iformat->flags & AVFMT_NOTIMESTAMPS;
  }
  frameCount_ = timeline_.frameCount;
  if (!live_ && !decoding_.Rewind()) throw input_.Failure();
  frameIndex_ = -1;
  frameTime_ = 0.0;
}

// The output width follows the sample aspect ratio. Bit 1 (not bit 0) is
// cleared, which keeps the width even for most ratios; a width that comes out
// as 0 keeps the smallest even one.
void VideoReader::ApplyAspect(const AVCodecContext& decoder) {
  const AVRational aspect = decoder.sample_aspect_ratio;
  if (aspect.num == 0 || aspect.den == 0 || decoder.height <= 0) return;
  const double scaled =
      static_cast<double>(aspect.num) / aspect.den * decoder.width / decoder.height * height_;
  if (!(std::isfinite(scaled) && scaled > 0 && scaled < 65536)) return;
  width_ = static_cast<int>(scaled) & ~2;
  if (width_ == 0) width_ = 2;
}

void VideoReader::GetVideoInfo(int32_t* width, int32_t* height, int32_t* frameCount,
                               double* duration, double* frameRate) {
  durationSeconds_ = TimeBase() * static_cast<double>(timeline_.length);
  if (width) *width = width_;
  if (height) *height = height_;
  if (frameCount) *frameCount = frameCount_;
  if (duration) *duration = durationSeconds_;
  if (frameRate) *frameRate = FrameRate();
}

void VideoReader::GetVidInfo(VidInfo* info) {
  durationSeconds_ = TimeBase() * static_cast<double>(timeline_.length);
  if (!info) return;
  const AVStream& stream = input_.stream();
  const AVCodecContext& decoder = decoding_.decoder();
  info->width = width_;
  info->height = height_;
  info->frameCount = frameCount_;
  info->duration = durationSeconds_;
  info->frameRate = FrameRate();
  info->bitRate = decoder.bit_rate;
  info->gopSize = decoder.gop_size;
  info->codecId = decoder.codec_id;
  info->startTimestamp = input_.firstTimestamp();
  info->timeBaseNum = stream.time_base.num;
  info->timeBaseDen = stream.time_base.den;
  info->realFrameRateNum = stream.r_frame_rate.num;
  info->realFrameRateDen = stream.r_frame_rate.den;
  info->avgFrameRateNum = stream.avg_frame_rate.num;
  info->avgFrameRateDen = stream.avg_frame_rate.den;
  // FFmpeg's "no value" is reported as 0.
  const int64_t streamDuration = stream.duration != AV_NOPTS_VALUE ? stream.duration : 0;
  info->streamDuration = TimeBase() * static_cast<double>(streamDuration);
  info->lastPacketTime = TimeBase() * static_cast<double>(timeline_.lastPacket);
  info->streamDurationTicks = streamDuration;
  info->streamFrameCount = stream.nb_frames;
}

// ------------------------------------------------------------ delivering

FrameNumbering::Stamp VideoReader::StampPicture() {
  const FrameNumbering::Stamp stamp =
      arrivalTimes_ ? FrameNumbering::Stamp{int64_t{frameIndex_} + 1, arrivals_.Stamp()}
                    : numbering_.StampOf(decoding_.pictureTimestamp());
  frameTime_ = stamp.seconds;
  frameIndex_ = LowBits(stamp.index);
  return stamp;
}

bool VideoReader::Refused(const uint8_t* pixels, int64_t stride) const {
  return pixels && !output_.StrideFits(stride);
}

// Delivers the decoded picture for index wanted; a picture that also stands for
// later indices (up to until) is held for them.
bool VideoReader::Deliver(uint8_t* pixels, int64_t stride, int64_t until, int64_t wanted) {
  const bool hold = until > wanted;
  const bool delivered = output_.Deliver(decoding_.picture(), pixels, stride, hold);
  if (delivered && hold) {
    holding_ = true;
    heldUntil_ = until;
  }
  return delivered;
}

bool VideoReader::NextFrame(uint8_t* pixels, int32_t stride) {
  if (Refused(pixels, stride)) return false;
  const int64_t want = static_cast<int64_t>(frameIndex_) + 1;
  if (!live_ && want >= frameCount_) return false;
  if (holding_) {
    if (want <= heldUntil_) {
      frameIndex_ = LowBits(want);
      if (want == heldUntil_) holding_ = false;
      return output_.DeliverHeld(pixels, stride);
    }
    holding_ = false;
  }
  // Live and sequential readers deliver every picture in turn; the others drop
  // early pictures and let a late one stand in for the indices before it.
  const bool inTurn = live_ || sequential_;
  for (;;) {
    if (decoding_.Next() != DecodeLoop::Pull::kPicture) return false;
    // A live picture the decoder could not make whole is skipped.
    const AVFrame& picture = decoding_.picture();
    if (live_ && (picture.decode_error_flags != 0 || (picture.flags & AV_FRAME_FLAG_CORRUPT)))
      continue;
    const FrameNumbering::Stamp stamp = StampPicture();
    if (!inTurn && !numbering_.Serves(stamp.index, want)) continue;
    if (inTurn) numbering_.Follow(want);
    const int64_t until = inTurn ? want : numbering_.LastIndexFor(stamp.index);
    const bool delivered = Deliver(pixels, stride, until, want);
    frameIndex_ = LowBits(want);
    return delivered;
  }
}

bool VideoReader::Reached(const Goal& goal, const FrameNumbering::Stamp& stamp) const {
  return goal.byIndex ? numbering_.Serves(stamp.index, goal.index)
                      : stamp.seconds >= goal.seconds - numbering_.halfTick();
}

bool VideoReader::Beyond(const Goal& goal, const FrameNumbering::Stamp& stamp) const {
  return goal.byIndex ? stamp.index > goal.index
                      : stamp.seconds > goal.seconds + numbering_.halfTick();
}

// Seeks to the key frame at or before the goal and decodes forward to it. The
// first picture after a seek must be a key frame not beyond the goal; when the
// demuxer lands too late, the reader steps back and seeks again.
bool VideoReader::SeekAndDeliver(const Goal& goal, uint8_t* pixels, int64_t stride) {
  holding_ = false;
  const int64_t start = numbering_.start();
  int64_t target = goal.byIndex
                       ? numbering_.TimestampOf(goal.index)
                       : SaturatingSum(start, static_cast<int64_t>(goal.seconds / TimeBase()));
  target = std::max(target, start);
  const int64_t skipBefore =
      goal.byIndex ? numbering_.EarliestTimestampOf(goal.index) : AV_NOPTS_VALUE;
  if (WithinReach(goal, target)) {
    while (decoding_.Next(skipBefore) == DecodeLoop::Pull::kPicture) {
      const FrameNumbering::Stamp stamp = StampPicture();
      if (!Reached(goal, stamp)) continue;
      const int64_t until = goal.byIndex ? numbering_.LastIndexFor(stamp.index) : 0;
      return Deliver(pixels, stride, until, goal.index);
    }
    // The input ended on the way; the seek below starts over.
  }
  int64_t stepBack = SaturatingProduct(kStepBackFrames, timeline_.ticksPerFrame);
  bool keyCheck = true;
  for (int stepsBack = 0;; ++stepsBack) {
    if (live_) {
      keyCheck = false;
    } else if (target <= start ||
               (!decoding_.Seek(target, AVSEEK_FLAG_BACKWARD) && !decoding_.Seek(target, 0))) {
      // From the very start every picture counts; inputs that cannot seek by
      // time start over from there too.
      if (!decoding_.Rewind()) return false;
      target = start;
    }
    if (target <= start) keyCheck = false;
    numbering_.Follow(-1);
    bool overshot = false;
    while (!overshot && decoding_.Next(skipBefore) == DecodeLoop::Pull::kPicture) {
      const FrameNumbering::Stamp stamp = StampPicture();
      const bool beyond = Beyond(goal, stamp);
      if (keyCheck && (beyond || !IsKeyFrame(&decoding_.picture()))) {
        overshot = beyond;
        continue;
      }
      keyCheck = false;
      if (!Reached(goal, stamp)) continue;
      const int64_t until = goal.byIndex && !live_ ? numbering_.LastIndexFor(stamp.index) : 0;
      return Deliver(pixels, stride, until, goal.index);
    }
    if (target <= start || !keyCheck) return false;
    target = stepsBack < kStepBacks ? std::max(start, SaturatingSum(target, -stepBack)) : start;
    stepBack = SaturatingProduct(stepBack, 2);
  }
}

// A picture the decoder has not yet reached, with no key frame before it that
// the decoder has not yet passed, is reached by decoding on: a seek would start
// again from a key frame already decoded.
bool VideoReader::WithinReach(const Goal& goal, int64_t target) const {
  if (live_ || !decoding_.Continuing()) return false;
  const int64_t latest = decoding_.latestPicture();
  const FrameNumbering::Stamp reached{numbering_.IndexOf(latest), numbering_.SecondsOf(latest)};
  return !Reached(goal, reached) && input_.NoKeyFrameBetween(decoding_.lastSentDts(), target);
}

// A live stream reaches a later index by reading on; an index already passed is
// not delivered again, as times are not.
bool VideoReader::ReadOnTo(int32_t index, uint8_t* pixels, int32_t stride) {
  if (index <= frameIndex_) return false;
  while (frameIndex_ + 1 < index) {
    if (!NextFrame(nullptr, stride)) return false;
  }
  return NextFrame(pixels, stride);
}

bool VideoReader::FrameAtIndex(uint8_t* pixels, int32_t stride, int32_t index) {
  if (Refused(pixels, stride) || index < 0) return false;
  if (live_) return ReadOnTo(index, pixels, stride);
  if (index >= frameCount_) return false;
  const bool delivered = SeekAndDeliver(Goal{true, index, 0.0}, pixels, stride);
  // The next picture in sequence follows the requested one, delivered or not.
  frameIndex_ = index;
  if (delivered) numbering_.Follow(index);
  return delivered;
}

bool VideoReader::FrameAtTime(uint8_t* pixels, int32_t stride, double seconds) {
  if (Refused(pixels, stride) || live_ || !(seconds >= 0.0) || seconds >= durationSeconds_)
    return false;
  return SeekAndDeliver(Goal{false, 0, seconds}, pixels, stride);
}

// ------------------------------------------------------ whole-stream work

bool VideoReader::Rewind() {
  if (live_) return true;
  if (!decoding_.Rewind()) return false;
  holding_ = false;
  frameIndex_ = -1;
  numbering_.Follow(-1);
  return true;
}

void VideoReader::SkipFrames(int32_t count) {
  if (count <= 0) return;
  frameIndex_ =
      static_cast<int32_t>(std::min<int64_t>(INT32_MAX, static_cast<int64_t>(frameIndex_) + count));
}

void VideoReader::ReadAllFrames(uint32_t* count, int64_t* firstPts, int64_t* lastPts,
                                uint32_t* timeBaseNum, uint32_t* timeBaseDen) {
  Rewind();
  uint32_t pictures = 0;
  int64_t first = -1, last = -1;
  while (decoding_.Next() == DecodeLoop::Pull::kPicture) {
    if (pictures == 0) first = decoding_.picture().pts;
    last = decoding_.picture().pts;
    ++pictures;
  }
  const AVRational timeBase = input_.stream().time_base;
  if (count) *count = pictures;
  if (firstPts) *firstPts = first;
  if (lastPts) *lastPts = last;
  if (timeBaseNum) *timeBaseNum = static_cast<uint32_t>(timeBase.num);
  if (timeBaseDen) *timeBaseDen = static_cast<uint32_t>(timeBase.den);
}

// A positive finite rate renumbers the stream at that rate: index k is then the
// first picture at or after k / rate. Anything else leaves the reader as it was.
void VideoReader::SetFrameRate(double framesPerSecond) {
  if (live_ || !(framesPerSecond > 0.0) || !std::isfinite(framesPerSecond)) return;
  const AVRational timeBase = input_.stream().time_base;
  const double ticks =
      static_cast<double>(timeBase.den) / (static_cast<double>(timeBase.num) * framesPerSecond);
  timeline_.frameRate = framesPerSecond;
  timeline_.ticksPerFrame = ticks >= 1.0 && ticks < 9.0e18 ? static_cast<int64_t>(ticks) : 1;
  numbering_.NumberAt(framesPerSecond, true);
  if (!sequential_) {
    frameCount_ = numbering_.count();
    return;
  }
  const double count =
      std::floor(static_cast<double>(timeline_.length) * TimeBase() * framesPerSecond + 0.5);
  frameCount_ = count >= 0.0 && count < INT32_MAX ? static_cast<int32_t>(count) : INT32_MAX;
}

void VideoReader::SelfTest() {
  Rewind();
  while (decoding_.Next() == DecodeLoop::Pull::kPicture) {
  }
}

}  // namespace tarsel
