// Frame access: decoding, numbering pictures by their timestamps, seeking, and
// delivering BGR24 pictures to the caller.
#include <algorithm>
#include <cmath>

#include "ffmpeg/reader/video_reader.h"

namespace tarsel {
namespace {

// Frames to step back when a seek lands beyond the wanted picture.
constexpr int64_t kStepBackFrames = 100;
// Times are compared with this slack, so that a picture whose time is a request's
// time up to rounding counts as at that time.
constexpr double kTimeSlack = 1e-9;

int32_t LowBits(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

}  // namespace

// ---------------------------------------------------------------- decoding

void VideoReader::FlushDecoder() {
  avcodec_flush_buffers(codecContext_.get());
  if (packetPending_) av_packet_unref(packet_.get());
  packetPending_ = false;
  draining_ = false;
  slots_.clear();
  // The decoder drops pictures before the first key frame; with display slots
  // such packets are not sent at all, so that every slot taken has its picture.
  awaitingKeyPacket_ = slotTimestamps_;
  skippingLeading_ = false;
  slotsToDrop_ = 0;
}

bool VideoReader::SeekStream(int64_t timestamp, int flags) {
  FlushDecoder();
  return av_seek_frame(formatContext_.get(), videoStreamIndex_, timestamp, flags) >= 0;
}

// Back to the first packet. Inputs without timestamps (raw elementary streams)
// cannot seek by time; they go back to their first byte.
bool VideoReader::SeekToStart() {
  if (SeekStream(0, AVSEEK_FLAG_BACKWARD) || SeekStream(firstTimestamp_, AVSEEK_FLAG_BACKWARD) ||
      SeekStream(firstTimestamp_, 0) || SeekStream(startTime_, AVSEEK_FLAG_BACKWARD))
    return true;
  if (formatContext_->iformat->flags & AVFMT_NO_BYTE_SEEK) return false;
  return SeekStream(0, AVSEEK_FLAG_BYTE);
}

void VideoReader::RememberSlot(int64_t timestamp) {
  if (slots_.size() >= kSlotRoom) slots_.erase(slots_.begin());
  slots_.insert(std::upper_bound(slots_.begin(), slots_.end(), timestamp), timestamp);
}

bool VideoReader::TakeSlot(int64_t* timestamp) {
  for (; slotsToDrop_ > 0 && !slots_.empty(); --slotsToDrop_) slots_.erase(slots_.begin());
  if (slots_.empty()) return false;
  *timestamp = slots_.front();
  slots_.erase(slots_.begin());
  return true;
}

void VideoReader::SendPacket(int64_t discardBelowIndex) {
  AVPacket& packet = *packet_;
  if (slotTimestamps_) {
    const int64_t timestamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (timestamp != AV_NOPTS_VALUE) RememberSlot(timestamp);
  }
  // Pictures before a wanted index are decoded only as far as other pictures
  // refer to them. (With slot timestamps every packet must give its picture.)
  const bool skippable = discardBelowIndex >= 0 && !slotTimestamps_ &&
                         packet.pts != AV_NOPTS_VALUE && !(packet.flags & AV_PKT_FLAG_KEY) &&
                         IndexOfTimestamp(packet.pts) < discardBelowIndex;
  const AVDiscard discard = skippable ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
  if (codecContext_->skip_frame != discard) codecContext_->skip_frame = discard;
  const int result = avcodec_send_packet(codecContext_.get(), &packet);
  if (result == AVERROR(EAGAIN)) {
    // The decoder has pictures to hand out first; the packet waits.
    packetPending_ = true;
    return;
  }
  // A packet the decoder refuses is dropped; the stream reads on.
  av_packet_unref(&packet);
}

VideoReader::Pull VideoReader::SendEndOfInput() {
  const int result = avcodec_send_packet(codecContext_.get(), nullptr);
  if (result < 0 && result != AVERROR_EOF) return Pull::kFailed;
  draining_ = true;
  return Pull::kPicture;
}

// The next picture in decoder output order, reading and sending packets as the
// decoder needs them; at the end of input the decoder is drained.
VideoReader::Pull VideoReader::DecodeNext(int64_t discardBelowIndex) {
  AVCodecContext* codec = codecContext_.get();
  for (;;) {
    if (packetPending_) {
      packetPending_ = false;
      SendPacket(discardBelowIndex);
    }
    const int received = avcodec_receive_frame(codec, decodedFrame_.get());
    if (received == 0) return Pull::kPicture;
    if (received == AVERROR_EOF) {
      drained_ = true;
      return Pull::kEnd;
    }
    if (draining_) return Pull::kFailed;
    if (packetPending_) {
      // A decoder that neither takes the packet nor gives a picture would stall.
      if (received == AVERROR(EAGAIN)) {
        av_packet_unref(packet_.get());
        packetPending_ = false;
      }
      continue;
    }
    // Anything but EAGAIN is a picture the decoder could not make: read on.
    drained_ = false;
    const int read = av_read_frame(formatContext_.get(), packet_.get());
    if (read == AVERROR_EOF) {
      av_packet_unref(packet_.get());
      if (SendEndOfInput() == Pull::kFailed) return Pull::kFailed;
      continue;
    }
    if (read < 0) return Pull::kFailed;
    if (packet_->stream_index != videoStreamIndex_ ||
        (awaitingKeyPacket_ && !(packet_->flags & AV_PKT_FLAG_KEY))) {
      av_packet_unref(packet_.get());
      continue;
    }
    if (awaitingKeyPacket_) {
      awaitingKeyPacket_ = false;
      skippingLeading_ = true;
    } else if (skippingLeading_ && packet_->pts != AV_NOPTS_VALUE) {
      // A B-picture right after the key frame shows before it and refers to a
      // picture before the seek: the decoder could not make it. Its slot is one
      // of the earliest, and goes unused.
      RememberSlot(packet_->pts);
      ++slotsToDrop_;
      av_packet_unref(packet_.get());
      continue;
    } else {
      skippingLeading_ = false;
    }
    SendPacket(discardBelowIndex);
  }
}

int64_t VideoReader::IndexOfTimestamp(int64_t timestamp) const {
  const double index =
      std::floor(static_cast<double>(timestamp - startTime_) * TimeBase() * frameRate_ + 0.5);
  if (!std::isfinite(index)) return 0;
  return static_cast<int64_t>(std::clamp(index, -9.0e18, 9.0e18));
}

int64_t VideoReader::TimestampOfIndex(int64_t index) const {
  const double ticks = std::round(static_cast<double>(index) / (TimeBase() * frameRate_));
  if (!std::isfinite(ticks)) return startTime_;
  return startTime_ + static_cast<int64_t>(std::clamp(ticks, -9.0e18, 9.0e18));
}

// Numbers the decoded picture by its timestamp, counted from the stream's start
// at the exact frame rate. In inputs whose packets lack presentation times
// (AVI), each packet is one display slot and pictures leave the decoder in
// display order, so each picture takes the earliest slot not yet taken; the
// decoder's own stamps run a picture late there. Pictures with no timestamp at
// all follow the previous picture.
void VideoReader::Stamp() {
  const AVFrame& picture = *decodedFrame_;
  int64_t timestamp = picture.pts;
  if (!(slotTimestamps_ && TakeSlot(&timestamp)) && timestamp == AV_NOPTS_VALUE)
    timestamp = picture.pkt_dts;
  const bool timed = timestamp != AV_NOPTS_VALUE;
  int64_t index;
  if (timed) {
    lastTimestamp_ = timestamp;
    index = IndexOfTimestamp(timestamp);
    frameTime_ = TimeBase() * static_cast<double>(timestamp - startTime_);
  } else {
    index = lastStampedIndex_ + 1;
    lastTimestamp_ = TimestampOfIndex(index);
    frameTime_ = frameRate_ > 0.0 ? static_cast<double>(index) / frameRate_ : 0.0;
  }
  lastTimestampAgain_ = lastTimestamp_;
  frameTimeAgain_ = frameTime_;
  lastStampedIndex_ = index;
  frameIndex_ = LowBits(index);
}

// ------------------------------------------------------------ delivering

bool VideoReader::Refused(uint8_t* pixels, int64_t stride) const {
  return pixels && !output_.StrideFits(stride);
}

bool VideoReader::Deliver(uint8_t* pixels, int64_t stride) {
  return output_.Deliver(*decodedFrame_, pixels, stride, repeatPending_);
}

bool VideoReader::NextFrame(uint8_t* pixels, int32_t stride) {
  stride_ = stride;
  if (Refused(pixels, stride)) return false;
  const int64_t want = static_cast<int64_t>(frameIndex_) + 1;
  if (!live_ && want >= frameCount_) return false;
  if (repeatPending_) {
    if (want <= repeatUntil_) {
      frameIndex_ = LowBits(want);
      output_.DeliverHeld(pixels, stride);
      if (want == repeatUntil_) repeatPending_ = false;
      return true;
    }
    repeatPending_ = false;
  }
  for (;;) {
    if (DecodeNext() != Pull::kPicture) return false;
    Stamp();
    if (!live_ && !sequential_) {
      // Early pictures are dropped; a late one stands in for every index up to
      // its own.
      if (lastStampedIndex_ < want) continue;
      if (lastStampedIndex_ > want) {
        repeatPending_ = true;
        repeatUntil_ = frameIndex_;
      }
    }
    if (live_ || sequential_) lastStampedIndex_ = want;
    const bool delivered = Deliver(pixels, stride);
    frameIndex_ = LowBits(want);
    return delivered;
  }
}

bool VideoReader::Reached(const Goal& goal) const {
  return goal.byIndex ? lastStampedIndex_ >= goal.index : frameTime_ >= goal.seconds - kTimeSlack;
}

bool VideoReader::Beyond(const Goal& goal) const {
  return goal.byIndex ? lastStampedIndex_ > goal.index : frameTime_ > goal.seconds + kTimeSlack;
}

// Seeks to the key frame at or before the goal and decodes forward to it. The
// first picture after a seek must be a key frame not beyond the goal; when the
// demuxer lands too late, the reader steps back and seeks again.
bool VideoReader::SeekAndDeliver(const Goal& goal, uint8_t* pixels, int64_t stride) {
  repeatPending_ = false;
  int64_t target = goal.byIndex ? TimestampOfIndex(goal.index)
                                : startTime_ + static_cast<int64_t>(goal.seconds / TimeBase());
  target = std::max(target, startTime_);
  const int64_t discardBelow = goal.byIndex ? goal.index : -1;
  bool keyCheck = true;
  for (;;) {
    if (live_) {
      keyCheck = false;
    } else if (target <= startTime_ ||
               (!SeekStream(target, AVSEEK_FLAG_BACKWARD) && !SeekStream(target, 0))) {
      // From the very start every picture counts; inputs that cannot seek by
      // time start over from there too.
      if (!SeekToStart()) return false;
      target = startTime_;
    }
    if (target <= startTime_) keyCheck = false;
    lastStampedIndex_ = -1;
    bool overshot = false;
    while (!overshot && DecodeNext(discardBelow) == Pull::kPicture) {
      Stamp();
      if (keyCheck && !decodedFrame_->key_frame) {
        overshot = Beyond(goal);
        continue;
      }
      if (!live_ && Beyond(goal)) {
        if (keyCheck) {
          overshot = true;
          continue;
        }
        if (goal.byIndex) {
          repeatPending_ = true;
          repeatUntil_ = frameIndex_;
        }
      }
      keyCheck = false;
      if (Reached(goal)) {
        codecContext_->skip_frame = AVDISCARD_DEFAULT;
        return Deliver(pixels, stride);
      }
    }
    codecContext_->skip_frame = AVDISCARD_DEFAULT;
    if (target <= startTime_ || !keyCheck) return false;
    target = std::max(startTime_, target - kStepBackFrames * ticksPerFrame_);
  }
}

bool VideoReader::FrameAtIndex(uint8_t* pixels, int32_t stride, int32_t index) {
  stride_ = stride;
  if (Refused(pixels, stride) || index < 0 || index >= frameCount_) return false;
  const bool delivered = SeekAndDeliver(Goal{true, index, 0.0}, pixels, stride);
  // The next picture in sequence follows the requested one, delivered or not.
  frameIndex_ = index;
  if (delivered) lastStampedIndex_ = index;
  return delivered;
}

bool VideoReader::FrameAtTime(uint8_t* pixels, int32_t stride, double seconds) {
  stride_ = stride;
  if (Refused(pixels, stride) || live_ || !(seconds >= 0.0) || seconds >= durationSeconds_)
    return false;
  return SeekAndDeliver(Goal{false, 0, seconds}, pixels, stride);
}

// ------------------------------------------------------ whole-stream work

bool VideoReader::Rewind() {
  if (live_) return true;
  if (!SeekToStart()) return false;
  repeatPending_ = false;
  frameIndex_ = -1;
  lastStampedIndex_ = -1;
  drained_ = false;
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
  while (DecodeNext() == Pull::kPicture) {
    if (pictures == 0) first = decodedFrame_->pts;
    last = decodedFrame_->pts;
    ++pictures;
  }
  if (count) *count = pictures;
  if (firstPts) *firstPts = first;
  if (lastPts) *lastPts = last;
  if (timeBaseNum) *timeBaseNum = static_cast<uint32_t>(Stream().time_base.num);
  if (timeBaseDen) *timeBaseDen = static_cast<uint32_t>(Stream().time_base.den);
}

// A positive finite rate renumbers the stream at that rate; anything else
// leaves the reader as it was.
void VideoReader::SetFrameRate(double framesPerSecond) {
  if (live_ || !(framesPerSecond > 0.0) || !std::isfinite(framesPerSecond)) return;
  const AVRational timeBase = Stream().time_base;
  const double ticks =
      static_cast<double>(timeBase.den) / (static_cast<double>(timeBase.num) * framesPerSecond);
  frameRate_ = framesPerSecond;
  ticksPerFrame_ = ticks >= 1.0 && ticks < 9.0e18 ? static_cast<int64_t>(ticks) : 1;
  const double count =
      std::floor(static_cast<double>(endTimestamp_) * TimeBase() * frameRate_ + 0.5);
  frameCount_ = count >= 0.0 && count < 9.0e18 ? LowBits(static_cast<int64_t>(count)) : 0;
}

void VideoReader::SelfTest() {
  Rewind();
  while (DecodeNext() == Pull::kPicture) {
  }
}

}  // namespace tarsel
