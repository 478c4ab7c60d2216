#include "ffmpeg/reader/stream_analysis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "common/boundary.h"
#include "ffmpeg/reader/frame_numbering.h"

namespace tarsel {
namespace {

// Rates outside this range are taken as a container's guess and measured.
constexpr double kLowestTrustedRate = 1.0;
constexpr double kHighestTrustedRate = 100.0;
// A raw stream without a rate of its own is numbered at this one.
constexpr double kRawStreamRate = 25.0;
// Frames between the end and the first tail seek target: some demuxers (MPEG-TS)
// seek by decoding time, which runs behind the presentation time by the
// pictures held for reordering.
constexpr int64_t kTailMarginFrames = 32;
// Tail seeks tried, each twice as far back, before the whole stream is read.
constexpr int kTailSeeks = 3;
// The last picture's own duration is believed up to this many frames.
constexpr int64_t kLongestLastPicture = 16;
// Timestamps kept for finding the grid; a longer stream is judged by its first ones.
constexpr std::size_t kMostTimes = std::size_t{1} << 21;
// Two rates count as one when they differ by less than this fraction, plus the
// rounding of the timestamps they were measured from.
constexpr double kSameRate = 1e-4;

double RateOf(AVRational rate) {
  return rate.den != 0 && rate.num > 0 ? static_cast<double>(rate.num) / rate.den : 0.0;
}

// floor(x + 0.5) as a 64-bit integer, with non-finite or huge values as 0.
int64_t Rounded(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 9.0e18) return 0;
  return static_cast<int64_t>(std::floor(value + 0.5));
}

int32_t ClampedCount(int64_t count) {
  return static_cast<int32_t>(std::clamp<int64_t>(count, 0, INT32_MAX));
}

// Ticks of one frame, truncated as the container's rate gives them, or rounded
// for a measured rate; at least 1.
int64_t TicksPerFrame(double rate, double timeBase, bool measured) {
  const double ticks = rate > 0.0 ? 1.0 / timeBase / rate : 1.0;
  if (!(ticks >= 1.0 && ticks < 9.0e18)) return 1;
  return measured ? std::max<int64_t>(1, Rounded(ticks)) : static_cast<int64_t>(ticks);
}

// What the container says about the stream, and whether it is believed.
struct Claims {
  double rate = 0.0;      // average rate, or base rate without one
  double baseRate = 0.0;  // the rate all timestamps can be expressed in
  int64_t duration = 0;   // ticks; 0 when unknown
  int64_t frames = 0;     // 0 when unknown
  int64_t estimate = 0;   // frames from duration and rate
  bool trusted = false;
};

Claims ReadClaims(const AVStream& stream, bool live, bool sequential) {
  const double timeBase = av_q2d(stream.time_base);
  Claims claims;
  claims.baseRate = RateOf(stream.r_frame_rate);
  claims.rate = RateOf(stream.avg_frame_rate);
  if (claims.rate == 0.0) claims.rate = claims.baseRate;
  claims.duration = std::max<int64_t>(0, stream.duration);
  claims.frames = stream.nb_frames;
  claims.estimate = claims.duration > 0 ? Rounded(claims.duration * timeBase * claims.rate) : 0;
  claims.trusted = claims.rate > 0.0;
  // A count beyond what a frame index can hold is no count.
  const bool countUsable = claims.frames >= 0 && claims.frames <= INT32_MAX;
  // In sequential mode the container's count is taken as it is, when it is one.
  const bool doubtful =
      !countUsable ||
      (!sequential && (claims.rate < kLowestTrustedRate || claims.rate > kHighestTrustedRate ||
                       (claims.frames != 0 && std::llabs(claims.estimate - claims.frames) > 1)));
  if (doubtful && !live) claims.trusted = false;
  if (!countUsable) claims.frames = 0;
  return claims;
}

// What the video packets say.
struct Scan {
  bool wholeStream = false;
  int64_t packets = 0;
  int64_t timed = 0;
  bool allPresentationTimes = true;
  int64_t lowest = INT64_MAX;
  int64_t highest = INT64_MIN;
  int64_t highestDuration = 0;
  int64_t lastTimestamp = 0;
  std::vector<int64_t> times;
};

// Seeks to the stream's tail, tried a few times further back each, or to the
// start; true when the input stands at the start.
bool SeekToTail(VideoInput& input, int64_t start, int64_t length, int64_t ticksPerFrame) {
  int64_t step = ticksPerFrame * kTailMarginFrames;
  for (int seek = 0; seek < kTailSeeks && length - step > 0; ++seek, step *= 2) {
    if (input.Seek(start + length - step, AVSEEK_FLAG_BACKWARD)) return false;
  }
  if (length > 0 && !input.SeekToStart()) throw input.Failure();
  return true;
}

Scan ScanPackets(VideoInput& input, bool fromStart) {
  Scan scan;
  scan.wholeStream = fromStart;
  PacketPtr holder(av_packet_alloc());
  if (!holder) throw std::bad_alloc();
  AVPacket& packet = *holder;
  while (input.Read(&packet) >= 0) {
    // Packets outside the container's edit list are decoded but never shown.
    if (packet.stream_index == input.streamIndex() && !(packet.flags & AV_PKT_FLAG_DISCARD)) {
      int64_t timestamp = packet.pts;
      if (timestamp == AV_NOPTS_VALUE) {
        timestamp = packet.dts;
        scan.allPresentationTimes = false;
      }
      ++scan.packets;
      if (timestamp != AV_NOPTS_VALUE) {
        ++scan.timed;
        scan.lastTimestamp = timestamp;
        scan.lowest = std::min(scan.lowest, timestamp);
        if (timestamp >= scan.highest) {
          scan.highest = timestamp;
          scan.highestDuration = packet.duration;
        }
        if (scan.times.size() < kMostTimes) scan.times.push_back(timestamp);
      }
    }
    av_packet_unref(&packet);
  }
  return scan;
}

// The timestamps of every frame, from a container index that lists them all
// (MP4, AVI); empty otherwise.
std::vector<int64_t> IndexTimes(AVStream& stream, int64_t frames) {
  std::vector<int64_t> times;
  const int entries = avformat_index_get_entries_count(&stream);
  if (frames <= 0 || entries < frames) return times;
  times.reserve(std::min<std::size_t>(static_cast<std::size_t>(entries), kMostTimes));
  for (int entry = 0; entry < entries && times.size() < kMostTimes; ++entry) {
    const AVIndexEntry* index = avformat_index_get_entry(&stream, entry);
    if (index && !(index->flags & AVINDEX_DISCARD_FRAME)) times.push_back(index->timestamp);
  }
  return times;
}

// The step, in ticks, of a grid every timestamp lies on (up to the rounding of
// the container's time base); 0 when the timestamps lie on none. Damaged files
// carry any timestamp, so the arithmetic is in doubles.
double FindGrid(std::vector<int64_t> times) {
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  if (times.size() < 3) return 0.0;
  const auto spacing = [&](std::size_t k) {
    return static_cast<double>(times[k]) - static_cast<double>(times[k - 1]);
  };
  double smallest = spacing(1);
  for (std::size_t k = 2; k < times.size(); ++k) smallest = std::min(smallest, spacing(k));
  // A first step from the spacings near the smallest, then one from all.
  double near = 0.0, nearCount = 0.0;
  for (std::size_t k = 1; k < times.size(); ++k) {
    if (spacing(k) > 1.5 * smallest) continue;
    near += spacing(k);
    nearCount += 1.0;
  }
  double step = near / nearCount;
  double steps = 0.0;
  for (std::size_t k = 1; k < times.size(); ++k)
    steps += std::max(1.0, std::round(spacing(k) / step));
  const double first = static_cast<double>(times.front());
  step = (static_cast<double>(times.back()) - first) / steps;
  if (!(step >= 1.0) || !std::isfinite(step)) return 0.0;
  const double tolerance = std::min(std::max(1.0, step / 50.0), step / 4.0);
  for (int64_t time : times) {
    const double offset = static_cast<double>(time) - first;
    if (std::fabs(offset - std::round(offset / step) * step) > tolerance) return 0.0;
  }
  return step;
}

// The rate the pictures are numbered at. A believed container rate stays,
// unless the pictures lie on a finer grid (frames dropped or cut out, variable
// rate): they are then numbered on that grid, so that each keeps an index of its
// own. A rate not believed is measured from the pictures' grid or their spacing.
double ChooseRate(const Claims& claims, const std::vector<int64_t>& times, const Scan& scan,
                  double timeBase, bool* measured) {
  const double grid = FindGrid(times);
  double gridRate = grid > 0.0 ? 1.0 / (grid * timeBase) : 0.0;
  *measured = false;
  if (gridRate > 0.0 && !times.empty()) {
    const auto [lowest, highest] = std::minmax_element(times.begin(), times.end());
    const double span = (static_cast<double>(*highest) - static_cast<double>(*lowest)) * timeBase;
    const double same = kSameRate + (span > 0.0 ? 2.0 * timeBase / span : 0.0);
    if (std::fabs(gridRate - claims.baseRate) <= gridRate * same) gridRate = claims.baseRate;
    if (claims.trusted) {
      const bool finer = gridRate > claims.rate * (1.0 + same);
      if (!finer || gridRate > kHighestTrustedRate) return claims.rate;
    }
    *measured = true;
    return gridRate;
  }
  if (claims.trusted) return claims.rate;
  *measured = true;
  if (scan.timed > 1 && scan.highest > scan.lowest)
    return static_cast<double>(scan.timed - 1) /
           ((static_cast<double>(scan.highest) - static_cast<double>(scan.lowest)) * timeBase);
  return 1.0 / (timeBase * TicksPerFrame(claims.rate, timeBase, false));
}

Timeline LiveTimeline(const Claims& claims, double timeBase, bool sequential) {
  Timeline timeline;
  timeline.ticksPerFrame = TicksPerFrame(claims.rate, timeBase, false);
  timeline.frameRate = claims.rate > 0.0 ? claims.rate : 1.0 / (timeBase * timeline.ticksPerFrame);
  timeline.frameCount =
      ClampedCount(sequential || claims.frames != 0 ? claims.frames : claims.estimate);
  timeline.length = claims.rate > 0.0 ? claims.duration : 0;
  return timeline;
}

}  // namespace

// The input may be opened again on its way back to the start, so its stream is
// looked up afresh after every scan.
Timeline AnalyseStream(VideoInput& input, bool live, bool sequential) {
  const AVRational timeBaseRational = input.stream().time_base;
  const double timeBase = av_q2d(timeBaseRational);
  const Claims claims = ReadClaims(input.stream(), live, sequential);
  const int64_t start = input.stream().start_time != AV_NOPTS_VALUE ? input.stream().start_time : 0;
  if (live) {
    Timeline timeline = LiveTimeline(claims, timeBase, sequential);
    timeline.start = start;
    return timeline;
  }

  Timeline timeline;
  timeline.start = start;
  const int64_t claimedLength = claims.trusted ? claims.duration : 0;
  const int64_t containerTicks = TicksPerFrame(claims.rate, timeBase, false);
  const bool fromStart = SeekToTail(input, timeline.start, claimedLength, containerTicks);
  Scan scan = ScanPackets(input, fromStart);
  if (scan.timed == 0 && !fromStart) {
    // Nothing readable at the tail (a cut or damaged file): the whole stream.
    if (!input.SeekToStart()) throw input.Failure();
    scan = ScanPackets(input, true);
  }
  timeline.lastPacket = scan.lastTimestamp;
  timeline.bySlots = !scan.allPresentationTimes && scan.timed > 0;

  if (scan.timed == 0) {
    // A raw elementary stream: no timestamps at all. The pictures are counted
    // and numbered one after another at the container's rate.
    timeline.frameRate = claims.rate > 0.0 ? claims.rate : kRawStreamRate;
    timeline.ticksPerFrame = TicksPerFrame(timeline.frameRate, timeBase, false);
    timeline.frameCount = ClampedCount(scan.packets);
    timeline.length = scan.packets <= INT64_MAX / 4 / timeline.ticksPerFrame
                          ? scan.packets * timeline.ticksPerFrame
                          : INT64_MAX / 4;
    timeline.lastPictureEnd = timeline.length;
    return timeline;
  }

  std::vector<int64_t> indexTimes = IndexTimes(input.stream(), claims.frames);
  const std::vector<int64_t>& times = indexTimes.empty() ? scan.times : indexTimes;
  bool measured = false;
  timeline.frameRate = ChooseRate(claims, times, scan, timeBase, &measured);
  timeline.ticksPerFrame = TicksPerFrame(timeline.frameRate, timeBase, measured);

  // The last picture lasts its own duration where the container's numbers are
  // believed; a measured stream's durations come from the same doubtful claims.
  const int64_t ownDuration = claims.trusted ? scan.highestDuration : 0;
  const bool believable =
      ownDuration > 0 && ownDuration <= kLongestLastPicture * timeline.ticksPerFrame;
  timeline.lastPicture = scan.highest;
  timeline.lastPictureEnd = SaturatingSum(SaturatingSum(scan.highest, -timeline.start),
                                          believable ? ownDuration : timeline.ticksPerFrame);
  timeline.length = std::max(claimedLength, timeline.lastPictureEnd);

  if (sequential) {
    // Every picture once, as the container counts them or as they were counted.
    timeline.frameCount = ClampedCount(claims.frames != 0    ? claims.frames
                                       : scan.wholeStream    ? scan.packets
                                       : claims.estimate > 0 ? claims.estimate
                                                             : scan.packets);
  } else {
    FrameNumbering numbering;
    numbering.Describe(timeBaseRational, timeline.start, timeline.lastPicture,
                       timeline.lastPictureEnd);
    numbering.NumberAt(timeline.frameRate, false);
    timeline.frameCount = numbering.count();
  }
  return timeline;
}

}  // namespace tarsel
