#include "ffmpeg/reader/video_input.h"

#include <cstring>

#include "common/boundary.h"

namespace tarsel {
namespace {

constexpr char kNoPath[] = "No path given";
constexpr char kNoVideoStream[] = "Could not find videostream";
constexpr char kNoPacket[] = "Could not allocate an AVPacket";
constexpr char kNotRewound[] = "Could not return to the start of the input";
constexpr char kTimedOut[] = "Connection timed out";

// Video packets read at open to find the first key packet.
constexpr int kFirstKeySearch = 1000;
// The ways back to the first packet, in the order they are tried.
enum Way { kSeekToZero, kSeekBeforeFirst, kSeekToFirst, kSeekToStart, kByteZero, kReopen, kWays };

// Anything FFmpeg does not read as a local file: RTSP, HTTP, UDP, pipes.
bool IsNetworkAddress(const char* address) {
  const char* protocol = avio_find_protocol_name(address);
  return !protocol || std::strcmp(protocol, "file") != 0;
}

bool EndsWith(const char* text, const char* tail) {
  const std::size_t length = std::strlen(text), tailLength = std::strlen(tail);
  return length >= tailLength && std::strcmp(text + length - tailLength, tail) == 0;
}

// Whether a packet lies at or before the marked one, by whatever both carry.
template <class Mark>
bool NotAfter(const AVPacket& packet, const Mark& mark) {
  if (packet.dts != AV_NOPTS_VALUE && mark.dts != AV_NOPTS_VALUE) return packet.dts <= mark.dts;
  if (packet.pts != AV_NOPTS_VALUE && mark.pts != AV_NOPTS_VALUE) return packet.pts <= mark.pts;
  if (packet.pos >= 0 && mark.pos >= 0) return packet.pos <= mark.pos;
  return true;
}

}  // namespace

void VideoInput::Open(const char* path, bool live, VideoInterruptCallBack interrupt) {
  if (!path) throw Message(kNoPath);
  path_ = path;
  live_ = live;
  interrupt_ = interrupt;
  if (live_) {
    // Cameras and streams default to RTSP over UDP; an address marked with the
    // "xx" prefix ("xxrtsp://...") is the address after it, over TCP. CGI
    // addresses of IP cameras serve MJPEG.
    const bool tcp = std::strncmp(path, "xxrtsp", 4) == 0;
    if (tcp) path_.erase(0, 2);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rtsp_transport", tcp ? "tcp" : "udp", 0);
    if (EndsWith(path, "cgi")) {
      forcedFormat_ = av_find_input_format("mjpeg");
      // Its pictures carry no times: the reader times them as they arrive, so
      // the open must not hold back dozens of them waiting for a first time or
      // a rate (FFmpeg 7 would, seconds of pictures then timed all at once).
      av_dict_set(&options, "max_ts_probe", "0", 0);
      av_dict_set(&options, "fpsprobesize", "0", 0);
    }
    options_.reset(options);
  }
  network_ = IsNetworkAddress(path_.c_str());
  // Local files are read without limits: their reads do not wait on a peer.
  limits_ = network_ ? NetworkLimits::FromEnvironment() : NetworkLimits::None();
  putBack_.reset(av_packet_alloc());
  if (!putBack_) throw Message(kNoPacket);
  context_ = OpenContext(&streamIndex_);
  if (live_) return;
  NoteFirstPackets();
  if (!SeekToStart()) throw Failure();
}

InputContextPtr VideoInput::OpenContext(int* streamIndex) {
  AVDictionary* options = nullptr;
  if (options_ && av_dict_copy(&options, options_.get(), 0) < 0) {
    av_dict_free(&options);
    throw Message::FromAv(AVERROR(ENOMEM));
  }
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) {
    av_dict_free(&options);
    throw Message::FromAv(AVERROR(ENOMEM));
  }
  watch_.Install(raw, interrupt_);
  // One limit for connecting and for reading the stream's description.
  watch_.Arm(limits_.open);
  // On failure FFmpeg frees the context itself.
  const int opened = avformat_open_input(&raw, path_.c_str(), forcedFormat_, &options);
  unusedOptions_.reset(options);
  if (opened < 0) throw Explained(Message::FromAv(opened));
  InputContextPtr context(raw);
  const int found = avformat_find_stream_info(raw, nullptr);
  if (found < 0) throw Explained(Message::FromAv(found));
  *streamIndex = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (*streamIndex < 0) throw Message(kNoVideoStream);
  return context;
}

// A failure of a wait the watch ended is reported as what ended it.
Message VideoInput::Explained(const Message& failure) const {
  switch (watch_.outcome()) {
    case InputWatch::Outcome::kTimedOut:
      return Message(kTimedOut);
    case InputWatch::Outcome::kAborted:
      return Message::FromAv(AVERROR_EXIT);
    case InputWatch::Outcome::kNone:
      break;
  }
  return failure;
}

Message VideoInput::Failure() const {
  return ended_ ? Explained(Message(kNotRewound)) : Message(kNotRewound);
}

// Every read of the demuxer. A network read that the watch ended (it waited too
// long, or the caller interrupted it) ends the input: going back would only
// wait again. The read may still give the last packet the demuxer held (a
// parser's last picture); after it the input is at its end.
int VideoInput::ReadFromDemuxer(AVPacket* packet) {
  if (ended_) return AVERROR_EOF;
  watch_.Arm(limits_.read);
  const int result = av_read_frame(context_.get(), packet);
  if (network_ && watch_.outcome() != InputWatch::Outcome::kNone) ended_ = true;
  return result < 0 && ended_ ? AVERROR_EOF : result;
}

int VideoInput::ReadVideoPacket(AVPacket* packet) {
  int result;
  while ((result = ReadFromDemuxer(packet)) >= 0) {
    if (packet->stream_index == streamIndex_) return 0;
    av_packet_unref(packet);
  }
  return result;
}

// The first video packet's timestamp is reported; the first key packet (or the
// first packet, in streams without key flags) is where decoding can start.
void VideoInput::NoteFirstPackets() {
  AVPacket* packet = putBack_.get();
  int result = 0;
  for (int read = 0; read < kFirstKeySearch && (result = ReadVideoPacket(packet)) >= 0; ++read) {
    const PacketMark mark{packet->dts, packet->pts, packet->pos};
    const bool key = packet->flags & AV_PKT_FLAG_KEY;
    av_packet_unref(packet);
    if (read == 0) {
      hasVideoPackets_ = true;
      firstTimestamp_ = mark.dts != AV_NOPTS_VALUE ? mark.dts : mark.pts;
      if (firstTimestamp_ == AV_NOPTS_VALUE) firstTimestamp_ = 0;
      firstKey_ = mark;
    }
    if (key) {
      firstKey_ = mark;
      break;
    }
  }
  // An input that cannot seek and fails before its first video packet (an MP4
  // whose index comes last, from a server without byte ranges: its pictures lie
  // behind) can deliver nothing.
  const bool seekable = context_->pb && (context_->pb->seekable & AVIO_SEEKABLE_NORMAL);
  if (!hasVideoPackets_ && result != AVERROR_EOF && !seekable) throw Failure();
}

int VideoInput::Read(AVPacket* packet) {
  if (hasPutBack_) {
    hasPutBack_ = false;
    av_packet_move_ref(packet, putBack_.get());
    return 0;
  }
  return ReadFromDemuxer(packet);
}

bool VideoInput::Seek(int64_t timestamp, int flags) {
  hasPutBack_ = false;
  av_packet_unref(putBack_.get());
  if (ended_) return false;
  watch_.Arm(limits_.read);
  return av_seek_frame(context_.get(), streamIndex_, timestamp, flags) >= 0;
}

// Reads the first video packet where the input now stands and keeps it for
// Read; true when it is not after the first key packet.
bool VideoInput::AtStart() {
  // An input without video packets has nothing to miss.
  if (!hasVideoPackets_) return true;
  if (ReadVideoPacket(putBack_.get()) < 0) return false;
  hasPutBack_ = true;
  return NotAfter(*putBack_, firstKey_);
}

bool VideoInput::TryToReachStart(int way) {
  const int64_t start = stream().start_time != AV_NOPTS_VALUE ? stream().start_time : 0;
  switch (way) {
    case kSeekToZero:
      return Seek(0, AVSEEK_FLAG_BACKWARD) && AtStart();
    case kSeekBeforeFirst:
      return Seek(firstTimestamp_, AVSEEK_FLAG_BACKWARD) && AtStart();
    case kSeekToFirst:
      return Seek(firstTimestamp_, 0) && AtStart();
    case kSeekToStart:
      return Seek(start, AVSEEK_FLAG_BACKWARD) && AtStart();
    case kByteZero:
      return !(context_->iformat->flags & AVFMT_NO_BYTE_SEEK) && Seek(0, AVSEEK_FLAG_BYTE) &&
             AtStart();
    default:
      return Reopen() && AtStart();
  }
}

bool VideoInput::SeekToStart() {
  if (live_ || ended_) return false;
  if (TryToReachStart(wayToStart_)) return true;
  for (int way = 0; way < kWays; ++way) {
    if (way == wayToStart_ || !TryToReachStart(way)) continue;
    wayToStart_ = way;
    return true;
  }
  return false;
}

// MP4 and AVI list every frame in their index, in decoding order, with the
// same decoding times as the packets they give.
bool VideoInput::NoKeyFrameBetween(int64_t after, int64_t upTo) const {
  AVStream& video = stream();
  const int entries = avformat_index_get_entries_count(&video);
  if (video.nb_frames <= 0 || entries < video.nb_frames || after == AV_NOPTS_VALUE) return false;
  const int first =
      av_index_search_timestamp(&video, after, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
  if (first < 0) return false;
  for (int entry = first + 1; entry < entries; ++entry) {
    const AVIndexEntry* index = avformat_index_get_entry(&video, entry);
    if (!index || index->timestamp > upTo) return true;
    if (index->timestamp > after && (index->flags & AVINDEX_KEYFRAME)) return false;
  }
  return true;
}

// A fresh demuxer on the same input, for containers that cannot seek back to
// their first packet. It must find the same video stream.
bool VideoInput::Reopen() {
  try {
    int index = -1;
    InputContextPtr fresh = OpenContext(&index);
    unusedOptions_.reset();
    if (index != streamIndex_ ||
        fresh->streams[index]->codecpar->codec_id != stream().codecpar->codec_id)
      return false;
    hasPutBack_ = false;
    av_packet_unref(putBack_.get());
    context_ = std::move(fresh);
    return true;
  } catch (const Message&) {
    return false;
  }
}

}  // namespace tarsel
