#include "ffmpeg/reader/frame_numbering.h"

#include <algorithm>
#include <climits>
#include <cmath>

extern "C" {
#include <libavutil/avutil.h>
}

namespace tarsel {
namespace {

// Products of doubles that should be whole numbers come out a little off.
constexpr double kRoundingSlack = 1e-6;

int64_t ToInteger(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int64_t>(std::clamp(value, -9.0e18, 9.0e18));
}

}  // namespace

void FrameNumbering::Describe(AVRational timeBase, int64_t start, int64_t lastPicture,
                              int64_t length) {
  timeBase_ = timeBase;
  tick_ = av_q2d(timeBase);
  halfTick_ = tick_ / 2;
  start_ = start;
  lastPictureKnown_ = lastPicture != AV_NOPTS_VALUE;
  lastPicture_ = lastPictureKnown_ ? lastPicture : start;
  length_ = length;
  previous_ = -1;
}

void FrameNumbering::NumberAt(double rate, bool imposed) {
  rate_ = rate;
  imposed_ = imposed;
  lastIndex_ = lastPictureKnown_ ? IndexOf(lastPicture_) : -1;
  const double frames = static_cast<double>(length_) * tick_ * rate_;
  const double covered =
      imposed_ ? std::ceil(frames - halfTick_ * rate_ - kRoundingSlack) : std::floor(frames + 0.5);
  const int64_t count = std::max(lastIndex_ + 1, ToInteger(covered));
  count_ = static_cast<int32_t>(std::clamp<int64_t>(count, 0, INT32_MAX));
}

double FrameNumbering::Frames(int64_t timestamp) const {
  return (static_cast<double>(timestamp) - static_cast<double>(start_)) * tick_ * rate_;
}

int64_t FrameNumbering::IndexOf(int64_t timestamp) const {
  const double frames = Frames(timestamp);
  if (!imposed_) return ToInteger(std::floor(frames + 0.5));
  return ToInteger(std::floor(frames + halfTick_ * rate_ + kRoundingSlack));
}

int64_t FrameNumbering::TimestampOf(int64_t index) const {
  const double ticks = std::round(static_cast<double>(index) / (tick_ * rate_));
  if (!std::isfinite(ticks)) return start_;
  return SaturatingSum(start_, ToInteger(ticks));
}

int64_t FrameNumbering::EarliestTimestampOf(int64_t index) const {
  const double reach = imposed_ ? halfTick_ * rate_ + kRoundingSlack : 0.5;
  const double ticks = std::floor((static_cast<double>(index) - reach) / (tick_ * rate_));
  if (!std::isfinite(ticks)) return start_;
  return SaturatingSum(start_, SaturatingSum(ToInteger(ticks), -1));
}

double FrameNumbering::SecondsOf(int64_t timestamp) const {
  return tick_ * (static_cast<double>(timestamp) - static_cast<double>(start_));
}

FrameNumbering::Stamp FrameNumbering::StampOf(int64_t timestamp) {
  if (startPending_ && timestamp != AV_NOPTS_VALUE) {
    startPending_ = false;
    const double ticks = rate_ > 0.0 ? std::round((previous_ + 1) / (tick_ * rate_)) : 0.0;
    start_ = SaturatingSum(timestamp, -ToInteger(ticks));
  }
  Stamp stamp;
  if (timestamp != AV_NOPTS_VALUE) {
    stamp.index = IndexOf(timestamp);
    stamp.seconds = SecondsOf(timestamp);
  } else {
    stamp.index = previous_ + 1;
    stamp.seconds = rate_ > 0.0 ? static_cast<double>(stamp.index) / rate_ : 0.0;
  }
  previous_ = stamp.index;
  return stamp;
}

bool FrameNumbering::Serves(int64_t index, int64_t want) const {
  return index >= want || (index == lastIndex_ && want < count_);
}

int64_t FrameNumbering::LastIndexFor(int64_t index) const {
  return index == lastIndex_ ? std::max<int64_t>(index, int64_t{count_} - 1) : index;
}

double ArrivalClock::Stamp() {
  const auto now = std::chrono::steady_clock::now();
  if (arrivals_++ == 0) first_ = now;
  last_ = std::chrono::duration<double>(now - first_).count();
  return last_;
}

double ArrivalClock::rate() const {
  return arrivals_ > 1 && last_ > 0.0 ? static_cast<double>(arrivals_ - 1) / last_ : 0.0;
}

}  // namespace tarsel
