// How the reader numbers pictures and when it hands a picture out more than
// once. Index k stands for the time start + k / rate. At the stream's own rate a
// picture takes the nearest index (its timestamps lie on the rate's grid, or
// jitter about it); at a rate the caller imposed, index k goes to the first
// picture at or after k / rate, a picture within half a time-base unit of that
// time counting as at it. A picture stands for its own index and, after a gap,
// for the missing indices before it; the stream's last picture also stands for
// every index after it up to the end of the stream.
#pragma once

#include <chrono>
#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

namespace tarsel {

// a + b, held at the ends of int64_t: damaged files carry any timestamp.
inline int64_t SaturatingSum(int64_t a, int64_t b) {
  if (b > 0 && a > INT64_MAX - b) return INT64_MAX;
  if (b < 0 && a < INT64_MIN - b) return INT64_MIN;
  return a + b;
}

class FrameNumbering {
 public:
  // The stream's time base and first presentation time (index 0), the timestamp
  // of its last picture (AV_NOPTS_VALUE when unknown) and the end of its last
  // picture in ticks from the start.
  void Describe(AVRational timeBase, int64_t start, int64_t lastPicture, int64_t length);
  // Numbers at rate (frames per second), the stream's own or one imposed.
  void NumberAt(double rate, bool imposed);

  double rate() const { return rate_; }
  int64_t start() const { return start_; }
  // Indices from 0 to one past the last: every index a reading in sequence
  // delivers. At most INT32_MAX.
  int32_t count() const { return count_; }

  int64_t IndexOf(int64_t timestamp) const;
  // The timestamp index k stands for.
  int64_t TimestampOf(int64_t index) const;
  // No timestamp before this one is numbered index or later.
  int64_t EarliestTimestampOf(int64_t index) const;
  // Seconds from the start.
  double SecondsOf(int64_t timestamp) const;
  // Half a time-base unit, in seconds: the slack of comparisons by time.
  double halfTick() const { return halfTick_; }

  struct Stamp {
    int64_t index;
    double seconds;  // from the start
  };
  // Numbers a picture by its timestamp; a picture without one follows the
  // previous picture.
  Stamp StampOf(int64_t timestamp);
  // The index the next picture without a timestamp follows.
  void Follow(int64_t index) { previous_ = index; }
  // For live streams, whose first pictures may come without timestamps (RTSP
  // before its first timing report): the first timestamp continues their
  // sequence, so that every picture has its own time.
  void StartAtFirstTimestamp() { startPending_ = true; }

  // Whether the picture numbered index is the one for index want: not when it is
  // early, unless it is the stream's last picture.
  bool Serves(int64_t index, int64_t want) const;
  // The last index the picture numbered index stands for.
  int64_t LastIndexFor(int64_t index) const;

 private:
  double Frames(int64_t timestamp) const;

  AVRational timeBase_{1, 1};
  double tick_ = 1.0;  // seconds
  double halfTick_ = 0.5;
  int64_t start_ = 0;
  int64_t lastPicture_ = 0;
  bool lastPictureKnown_ = false;
  int64_t length_ = 0;
  double rate_ = 0.0;
  bool imposed_ = false;
  int64_t lastIndex_ = -1;  // of the stream's last picture
  int32_t count_ = 0;
  int64_t previous_ = -1;
  bool startPending_ = false;
};

// Live streams without timestamps (MJPEG cameras) are timed by the arrival of
// their pictures at the reader, from the first picture; their rate is measured
// from the arrivals.
class ArrivalClock {
 public:
  // Seconds from the first picture's arrival to this one's.
  double Stamp();
  // Pictures a second over the arrivals so far; 0 before the second.
  double rate() const;

 private:
  std::chrono::steady_clock::time_point first_;
  int64_t arrivals_ = 0;
  double last_ = 0.0;
};

}  // namespace tarsel
