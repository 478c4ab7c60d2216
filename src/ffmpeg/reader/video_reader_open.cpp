// Opening a reader and settling its frame rate, frame count and length.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/boundary.h"
#include "ffmpeg/reader/video_reader.h"

namespace tarsel {
namespace {

constexpr char kNoPath[] = "No path given";
constexpr char kNoVideoStream[] = "Could not find videostream";
constexpr char kCodecNotFound[] = "Codec not found";
constexpr char kNoCodecContext[] = "Failed to allocate the codec context";
constexpr char kNoCodecParameters[] = "Failed to copy the codec parameters to the codec context";
constexpr char kCodecNotOpened[] = "Failed to open codec";
constexpr char kNoFrame[] = "Could not allocate an AVFrame";
constexpr char kNoPacket[] = "Could not allocate an AVPacket";
constexpr char kNotRewound[] = "Could not return to the start of the input";

// Rates outside this range are taken as a container's guess and measured.
constexpr double kLowestTrustedRate = 1.0;
constexpr double kHighestTrustedRate = 100.0;
// Room for the timestamps of packets whose pictures are still in the decoder.
// How far above the average rate the base rate may be to count as the rate of
// a stream with dropped pictures (an interlaced stream's field rate is twice).
constexpr double kDropAllowance = 1.25;
// Frames between the end and the first tail seek target.
constexpr int64_t kTailMarginFrames = 32;

// FFmpeg's interrupt callback calls the caller's function with no argument of
// FFmpeg's; the reader keeps the function and passes itself as opaque.
struct InterruptBridge {
  static int Call(void* opaque) {
    auto callback = *static_cast<VideoInterruptCallBack*>(opaque);
    return callback ? callback(reinterpret_cast<void*>(callback)) : 0;
  }
};

bool EndsWith(const char* text, const char* tail) {
  const std::size_t length = std::strlen(text), tailLength = std::strlen(tail);
  return length >= tailLength && std::strcmp(text + length - tailLength, tail) == 0;
}

double RateOf(AVRational rate) {
  return rate.den != 0 && rate.num > 0 ? static_cast<double>(rate.num) / rate.den : 0.0;
}

int32_t LowBits(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// floor(x + 0.5) as a 64-bit integer, with non-finite or huge values as 0.
int64_t Rounded(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 9.0e18) return 0;
  return static_cast<int64_t>(std::floor(value + 0.5));
}

}  // namespace

double VideoReader::TimeBase() const { return av_q2d(Stream().time_base); }

AVStream& VideoReader::Stream() const { return *formatContext_->streams[videoStreamIndex_]; }

void VideoReader::Open(const char* path, bool live, bool applyAspect,
                       VideoInterruptCallBack interrupt, bool sequential) {
  if (!path) throw Message(kNoPath);
  live_ = live;
  sequential_ = sequential;
  interrupt_ = interrupt;
  OpenInput(path, applyAspect);
  slots_.reserve(kSlotRoom + 1);
  if (!live_) ReadFirstTimestamp();
  Analyse();
  repeatPending_ = false;
  frameIndex_ = -1;
  frameTime_ = 0.0;
}

void VideoReader::OpenInput(const char* path, bool applyAspect) {
  AVDictionary* rawOptions = nullptr;
  const AVInputFormat* forcedFormat = nullptr;
  if (live_) {
    // Cameras and streams default to RTSP over UDP; an address marked with the
    // "xxrt" prefix asks for TCP. CGI addresses of IP cameras serve MJPEG.
    av_dict_set(&rawOptions, "rtsp_transport", std::strncmp(path, "xxrtsp", 4) == 0 ? "tcp" : "udp",
                0);
    if (EndsWith(path, "cgi")) forcedFormat = av_find_input_format("mjpeg");
  }
  DictionaryPtr options(rawOptions);

  AVFormatContext* context = avformat_alloc_context();
  if (!context) throw Message::FromAv(AVERROR(ENOMEM));
  if (interrupt_) {
    context->interrupt_callback.callback = &InterruptBridge::Call;
    context->interrupt_callback.opaque = &interrupt_;
  }
  rawOptions = options.release();
  // On failure FFmpeg frees the context itself.
  int result = avformat_open_input(&context, path, forcedFormat, &rawOptions);
  options.reset(rawOptions);
  if (result < 0) throw Message::FromAv(result);
  formatContext_.reset(context);

  result = avformat_find_stream_info(formatContext_.get(), nullptr);
  if (result < 0) throw Message::FromAv(result);
  audioInfo_ = 0;
  videoStreamIndex_ =
      av_find_best_stream(formatContext_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (videoStreamIndex_ < 0) throw Message(kNoVideoStream);
  const AVStream& stream = Stream();
  startTime_ = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;

  rawOptions = options.release();
  OpenDecoder(&rawOptions);
  options.reset(rawOptions);

  width_ = codecContext_->width;
  height_ = codecContext_->height;
  decodedFrame_.reset(av_frame_alloc());
  if (!decodedFrame_) throw Message(kNoFrame);
  packet_.reset(av_packet_alloc());
  if (!packet_) throw Message(kNoPacket);

  const AVRational aspect = codecContext_->sample_aspect_ratio;
  if (applyAspect && aspect.num != 0 && aspect.den != 0 && codecContext_->height > 0) {
    // Bit 1 (not bit 0) is cleared, which keeps the width even for most ratios.
    const double scaled = static_cast<double>(aspect.num) / aspect.den * codecContext_->width /
                          codecContext_->height * height_;
    if (std::isfinite(scaled) && scaled > 0 && scaled < 65536)
      width_ = static_cast<int>(scaled) & ~2;
  }
  output_.Prepare(codecContext_->width, codecContext_->height, codecContext_->pix_fmt, width_,
                  height_);
}

void VideoReader::OpenDecoder(AVDictionary** options) {
  const AVStream& stream = Stream();
  const AVCodec* decoder = avcodec_find_decoder(stream.codecpar->codec_id);
  if (!decoder) throw Message(kCodecNotFound);
  codecContext_.reset(avcodec_alloc_context3(decoder));
  if (!codecContext_) throw Message(kNoCodecContext);
  if (avcodec_parameters_to_context(codecContext_.get(), stream.codecpar) < 0)
    throw Message(kNoCodecParameters);
  codecContext_->pkt_timebase = stream.time_base;
  // Files decode on all cores with frame and slice threads; live inputs use
  // slice threads only, which add no pictures of latency.
  codecContext_->thread_count = 0;
  codecContext_->thread_type = live_ ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (avcodec_open2(codecContext_.get(), decoder, live_ ? options : nullptr) < 0)
    throw Message(kCodecNotOpened);
}

// The first video packet's decoding timestamp, then back to the start.
void VideoReader::ReadFirstTimestamp() {
  firstTimestamp_ = 0;
  while (av_read_frame(formatContext_.get(), packet_.get()) >= 0) {
    const bool video = packet_->stream_index == videoStreamIndex_;
    const int64_t timestamp = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
    av_packet_unref(packet_.get());
    if (!video) continue;
    if (timestamp != AV_NOPTS_VALUE) firstTimestamp_ = timestamp;
    break;
  }
  if (!SeekToStart()) throw Message(kNotRewound);
}

void VideoReader::Analyse() {
  const AVStream& stream = Stream();
  const double timeBase = TimeBase();
  ptsValid_ = true;
  bool measure = true;

  // 1. The container's rate, unless it is missing or implausible. An average
  // rate lowered by dropped pictures gives way to the stream's base rate, so
  // that every picture keeps its own index and gaps are filled by repeats.
  frameRate_ = RateOf(stream.avg_frame_rate);
  const double baseRate = RateOf(stream.r_frame_rate);
  if (frameRate_ == 0.0 || (baseRate > frameRate_ && baseRate < frameRate_ * kDropAllowance &&
                            baseRate <= kHighestTrustedRate))
    frameRate_ = baseRate;
  if (frameRate_ > 0.0) measure = false;
  const double ticks = frameRate_ > 0.0 ? 1.0 / timeBase / frameRate_ : 1.0;
  ticksPerFrame_ = ticks >= 1.0 && ticks < 9.0e18 ? static_cast<int64_t>(ticks) : 1;

  // 2. The container's count, checked against its duration.
  const int64_t streamDuration = stream.duration;
  const int64_t estimate = streamDuration > 0 ? Rounded(streamDuration * timeBase * frameRate_) : 0;
  if (sequential_) {
    frameCount_ = LowBits(stream.nb_frames);
  } else {
    const int32_t containerCount = LowBits(stream.nb_frames);
    frameCount_ = containerCount;
    const bool doubtful = frameRate_ < kLowestTrustedRate || frameRate_ > kHighestTrustedRate ||
                          (containerCount != 0 && std::llabs(estimate - containerCount) > 1);
    if (doubtful && !live_) measure = true;
    if (containerCount == 0) frameCount_ = LowBits(estimate);
  }
  endTimestamp_ = streamDuration > 0 && !measure ? streamDuration : 0;

  // 3. Find the tail: the last seekable point before the end (or the start, when
  // the whole stream must be measured).
  FlushDecoder();
  lastPacketTimestamp_ = 0;
  if (live_) {
    frameRate_ = measure ? 1.0 / (timeBase * ticksPerFrame_) : frameRate_;
    return;
  }
  // Some demuxers (MPEG-TS) seek by decoding timestamp, which runs behind the
  // presentation time by the pictures held for reordering: the first step back
  // leaves room for them.
  int64_t tail = endTimestamp_;
  int64_t step = ticksPerFrame_ * kTailMarginFrames;
  while (tail >= 1) {
    tail = std::max<int64_t>(0, tail - step);
    step = ticksPerFrame_;
    if (SeekStream(startTime_ + tail, tail != 0 ? AVSEEK_FLAG_BACKWARD : 0)) break;
    FlushDecoder();
    if (tail == 0 && !SeekToStart()) throw Message(kNotRewound);
  }
  const bool wholeStream = tail == 0;

  // 4. Scan the packets from there to the end.
  int64_t count = 0, timedCount = 0;
  int64_t lowest = INT64_MAX, highest = INT64_MIN, highestDuration = 0;
  while (av_read_frame(formatContext_.get(), packet_.get()) >= 0) {
    if (packet_->stream_index == videoStreamIndex_) {
      int64_t timestamp = packet_->pts;
      if (timestamp == AV_NOPTS_VALUE) {
        timestamp = packet_->dts;
        ptsValid_ = false;
      }
      ++count;
      if (timestamp != AV_NOPTS_VALUE) {
        ++timedCount;
        lastPacketTimestamp_ = timestamp;
        lowest = std::min(lowest, timestamp);
        if (timestamp >= highest) {
          highest = timestamp;
          highestDuration = packet_->duration;
        }
      }
    }
    av_packet_unref(packet_.get());
  }

  slotTimestamps_ = !ptsValid_ && timedCount > 0;
  if (count > 0 && timedCount == 0) {
    // A raw elementary stream: no timestamps at all. The pictures are counted
    // and numbered one after another at the container's rate.
    if (frameRate_ <= 0.0) frameRate_ = 25.0;
    frameCount_ = LowBits(count);
    endTimestamp_ = count * ticksPerFrame_;
  } else if (timedCount > 0) {
    // 5. Measure the rate from the packets' spacing when the container's is not
    // trusted.
    if (measure) {
      if (timedCount > 1 && highest > lowest)
        frameRate_ = (timedCount - 1) / ((highest - lowest) * timeBase);
      else
        frameRate_ = 1.0 / (timeBase * ticksPerFrame_);
      const double measuredTicks = 1.0 / (timeBase * frameRate_);
      ticksPerFrame_ = std::max<int64_t>(1, Rounded(measuredTicks));
    }
    // 6. The count up to the last picture the scan saw.
    const int64_t lastEnd = highest - startTime_ + ticksPerFrame_;
    if (!sequential_) {
      const int64_t counted = Rounded(lastEnd * timeBase * frameRate_);
      if (counted > 0 && counted != frameCount_) frameCount_ = LowBits(counted);
    }
    endTimestamp_ = std::max(endTimestamp_, lastEnd);
    // 7. Containers without count: the scan's count, when it saw the whole
    // stream, else the estimate from the duration. The rate stays the
    // container's when it was trusted, else the measured one; a measured
    // stream's packet durations come from the same doubtful claim.
    if (streamDuration <= 0 && stream.nb_frames == 0) {
      const bool lastDurationKnown = highestDuration > 0 && !measure;
      endTimestamp_ = highest - startTime_ + (lastDurationKnown ? highestDuration : ticksPerFrame_);
      if (wholeStream) frameCount_ = LowBits(count);
    } else if (streamDuration > 0 && stream.nb_frames == 0 && frameCount_ <= 2) {
      endTimestamp_ = streamDuration;
      frameCount_ = LowBits(wholeStream ? count : estimate);
    }
  }
  if (!SeekToStart()) throw Message(kNotRewound);
  FlushDecoder();
}

void VideoReader::GetVideoInfo(int32_t* width, int32_t* height, int32_t* frameCount,
                               double* duration, double* frameRate) {
  durationSeconds_ = TimeBase() * static_cast<double>(endTimestamp_);
  if (width) *width = width_;
  if (height) *height = height_;
  if (frameCount) *frameCount = frameCount_;
  if (duration) *duration = durationSeconds_;
  if (frameRate) *frameRate = frameRate_;
}

void VideoReader::GetVidInfo(VidInfo* info) {
  durationSeconds_ = TimeBase() * static_cast<double>(endTimestamp_);
  if (!info) return;
  const AVStream& stream = Stream();
  const double timeBase = TimeBase();
  info->width = width_;
  info->height = height_;
  info->frameCount = frameCount_;
  info->duration = durationSeconds_;
  info->frameRate = frameRate_;
  info->bitRate = codecContext_->bit_rate;
  info->gopSize = codecContext_->gop_size;
  info->codecId = codecContext_->codec_id;
  info->startTimestamp = firstTimestamp_;
  info->timeBaseNum = stream.time_base.num;
  info->timeBaseDen = stream.time_base.den;
  info->realFrameRateNum = stream.r_frame_rate.num;
  info->realFrameRateDen = stream.r_frame_rate.den;
  info->avgFrameRateNum = stream.avg_frame_rate.num;
  info->avgFrameRateDen = stream.avg_frame_rate.den;
  info->streamDuration = timeBase * static_cast<double>(stream.duration);
  info->lastPacketTime = timeBase * static_cast<double>(lastPacketTimestamp_);
  info->streamDurationTicks = stream.duration;
  info->streamFrameCount = stream.nb_frames;
}

}  // namespace tarsel
