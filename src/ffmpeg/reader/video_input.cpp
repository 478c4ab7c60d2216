#include "ffmpeg/reader/video_input.h"

#include <cstring>

#include "common/boundary.h"

namespace tarsel {
namespace {

constexpr char kNoPath[] = "No path given";
constexpr char kNoVideoStream[] = "Could not find videostream";
constexpr char kNoPacket[] = "Could not allocate an AVPacket";
constexpr char kNotRewound[] = "Could not return to the start of the input";

// Video packets read at open to find the first key packet.
constexpr int kFirstKeySearch = 1000;
// The ways back to the first packet, in the order they are tried.
enum Way { kSeekToZero, kSeekBeforeFirst, kSeekToFirst, kSeekToStart, kByteZero, kReopen, kWays };

// FFmpeg's interrupt callback calls the caller's function with no argument of
// FFmpeg's; the input keeps the function and passes its address as opaque.
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
    // "xxrt" prefix asks for TCP. CGI addresses of IP cameras serve MJPEG.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rtsp_transport", std::strncmp(path, "xxrtsp", 4) == 0 ? "tcp" : "udp",
                0);
    options_.reset(options);
    if (EndsWith(path, "cgi")) forcedFormat_ = av_find_input_format("mjpeg");
  }
  putBack_.reset(av_packet_alloc());
  if (!putBack_) throw Message(kNoPacket);
  context_ = OpenContext(&streamIndex_);
  if (live_) return;
  NoteFirstPackets();
  if (!SeekToStart()) throw Message(kNotRewound);
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
  if (interrupt_) {
    raw->interrupt_callback.callback = &InterruptBridge::Call;
    raw->interrupt_callback.opaque = &interrupt_;
  }
  // On failure FFmpeg frees the context itself.
  const int opened = avformat_open_input(&raw, path_.c_str(), forcedFormat_, &options);
  unusedOptions_.reset(options);
  if (opened < 0) throw Message::FromAv(opened);
  InputContextPtr context(raw);
  const int found = avformat_find_stream_info(raw, nullptr);
  if (found < 0) throw Message::FromAv(found);
  *streamIndex = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (*streamIndex < 0) throw Message(kNoVideoStream);
  return context;
}

bool VideoInput::ReadVideoPacket(AVPacket* packet) {
  while (av_read_frame(context_.get(), packet) >= 0) {
    if (packet->stream_index == streamIndex_) return true;
    av_packet_unref(packet);
  }
  return false;
}

// The first video packet's timestamp is reported; the first key packet (or the
// first packet, in streams without key flags) is where decoding can start.
void VideoInput::NoteFirstPackets() {
  AVPacket* packet = putBack_.get();
  for (int read = 0; read < kFirstKeySearch && ReadVideoPacket(packet); ++read) {
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
}

int VideoInput::Read(AVPacket* packet) {
  if (hasPutBack_) {
    hasPutBack_ = false;
    av_packet_move_ref(packet, putBack_.get());
    return 0;
  }
  return av_read_frame(context_.get(), packet);
}

bool VideoInput::Seek(int64_t timestamp, int flags) {
  hasPutBack_ = false;
  av_packet_unref(putBack_.get());
  return av_seek_frame(context_.get(), streamIndex_, timestamp, flags) >= 0;
}

// Reads the first video packet where the input now stands and keeps it for
// Read; true when it is not after the first key packet.
bool VideoInput::AtStart() {
  // An input without video packets has nothing to miss.
  if (!hasVideoPackets_) return true;
  if (!ReadVideoPacket(putBack_.get())) return false;
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
  if (live_) return false;
  if (TryToReachStart(wayToStart_)) return true;
  for (int way = 0; way < kWays; ++way) {
    if (way == wayToStart_ || !TryToReachStart(way)) continue;
    wayToStart_ = way;
    return true;
  }
  return false;
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
