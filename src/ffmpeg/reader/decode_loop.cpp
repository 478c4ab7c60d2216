#include "ffmpeg/reader/decode_loop.h"

#include <algorithm>

#include "common/boundary.h"

extern "C" {
#include <libavutil/cpu.h>
}

namespace tarsel {
namespace {

constexpr char kCodecNotFound[] = "Codec not found";
constexpr char kNoCodecContext[] = "Failed to allocate the codec context";
constexpr char kNoCodecParameters[] = "Failed to copy the codec parameters to the codec context";
constexpr char kCodecNotOpened[] = "Failed to open codec";
constexpr char kNoFrame[] = "Could not allocate an AVFrame";
constexpr char kNoPacket[] = "Could not allocate an AVPacket";

// Room for the display slots of packets whose pictures are still in the decoder.
constexpr std::size_t kSlotRoom = 64;

// FFmpeg's own choice is one frame thread more than there are cores, at most
// 16. A seek decodes a chain of pictures that each wait on rows of the one
// before; one thread more keeps the cores busier there (a picture comes 7%
// sooner on two cores), while reading in sequence is as fast either way and
// holds one more picture.
constexpr int kMostThreads = 16;

int FrameThreads() {
  const int cores = av_cpu_count();
  return cores > 1 ? std::min(cores + 2, kMostThreads) : 0;
}

}  // namespace

void DecodeLoop::Open(VideoInput& input, bool live, DictionaryPtr options) {
  input_ = &input;
  const AVStream& stream = input.stream();
  const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
  if (!codec) throw Message(kCodecNotFound);
  decoder_.reset(avcodec_alloc_context3(codec));
  if (!decoder_) throw Message(kNoCodecContext);
  if (avcodec_parameters_to_context(decoder_.get(), stream.codecpar) < 0)
    throw Message(kNoCodecParameters);
  decoder_->pkt_timebase = stream.time_base;
  unreferenced_.Describe(*stream.codecpar);
  // Files decode on all cores with frame and slice threads; live inputs use
  // slice threads only, which add no pictures of latency.
  decoder_->thread_count = live ? 0 : FrameThreads();
  decoder_->thread_type = live ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
  // Live pictures of intra-only codecs (MJPEG) stand alone: one with any error
  // (a truncated JPEG) is refused whole rather than delivered half stale.
  const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
  if (live && descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY))
    decoder_->err_recognition |= AV_EF_EXPLODE;
  AVDictionary* rawOptions = live ? options.release() : nullptr;
  const int opened = avcodec_open2(decoder_.get(), codec, live ? &rawOptions : nullptr);
  options.reset(rawOptions);
  if (opened < 0) throw Message(kCodecNotOpened);
  picture_.reset(av_frame_alloc());
  if (!picture_) throw Message(kNoFrame);
  packet_.reset(av_packet_alloc());
  if (!packet_) throw Message(kNoPacket);
  slots_.reserve(kSlotRoom + 1);
}

void DecodeLoop::Flush() {
  avcodec_flush_buffers(decoder_.get());
  if (packetPending_) av_packet_unref(packet_.get());
  packetPending_ = false;
  draining_ = false;
  slots_.clear();
  // The decoder drops pictures before the first key frame; with display slots
  // such packets are not sent at all, so that every slot taken has its picture.
  awaitingKeyPacket_ = bySlots_;
  skippingLeading_ = false;
  slotsToDrop_ = 0;
  sentAny_ = false;
  startedAtKey_ = false;
  untimedPicture_ = false;
  lastSentDts_ = AV_NOPTS_VALUE;
  latestPicture_ = AV_NOPTS_VALUE;
}

bool DecodeLoop::Continuing() const {
  return startedAtKey_ && !untimedPicture_ && !draining_ && latestPicture_ != AV_NOPTS_VALUE &&
         lastSentDts_ != AV_NOPTS_VALUE;
}

bool DecodeLoop::Seek(int64_t timestamp, int flags) {
  Flush();
  return input_->Seek(timestamp, flags);
}

bool DecodeLoop::Rewind() {
  Flush();
  return input_->SeekToStart();
}

void DecodeLoop::RememberSlot(int64_t timestamp) {
  if (slots_.size() >= kSlotRoom) slots_.erase(slots_.begin());
  slots_.insert(std::upper_bound(slots_.begin(), slots_.end(), timestamp), timestamp);
}

bool DecodeLoop::TakeSlot(int64_t* timestamp) {
  for (; slotsToDrop_ > 0 && !slots_.empty(); --slotsToDrop_) slots_.erase(slots_.begin());
  if (slots_.empty()) return false;
  *timestamp = slots_.front();
  slots_.erase(slots_.begin());
  return true;
}

// In inputs numbered by slot the decoder's own stamps run a picture late.
int64_t DecodeLoop::TimestampOfPicture() {
  int64_t timestamp = picture_->pts;
  if (bySlots_ && TakeSlot(&timestamp)) return timestamp;
  return timestamp != AV_NOPTS_VALUE ? timestamp : picture_->pkt_dts;
}

void DecodeLoop::Send(int64_t skipBefore) {
  AVPacket& packet = *packet_;
  if (bySlots_) {
    const int64_t timestamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (timestamp != AV_NOPTS_VALUE) RememberSlot(timestamp);
  }
  // Pictures before a wanted one are decoded only as far as other pictures
  // refer to them. (With slots every packet must give its picture.)
  const bool skippable = skipBefore != AV_NOPTS_VALUE && !bySlots_ &&
                         packet.pts != AV_NOPTS_VALUE && !(packet.flags & AV_PKT_FLAG_KEY) &&
                         packet.pts < skipBefore;
  // A packet the decoder would skip whole is not sent: in the decoder it would
  // still take a frame thread's turn, which leaves a core idle while seeking.
  if (skippable && unreferenced_.Unreferenced(packet)) {
    Sent(packet);
    av_packet_unref(&packet);
    return;
  }
  const AVDiscard discard = skippable ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
  if (decoder_->skip_frame != discard) decoder_->skip_frame = discard;
  const int result = avcodec_send_packet(decoder_.get(), &packet);
  if (result == AVERROR(EAGAIN)) {
    // The decoder has pictures to hand out first; the packet waits.
    packetPending_ = true;
    return;
  }
  if (result == 0) Sent(packet);
  // A packet the decoder refuses is dropped; the stream reads on.
  av_packet_unref(&packet);
}

void DecodeLoop::Sent(const AVPacket& packet) {
  if (!sentAny_) startedAtKey_ = packet.flags & AV_PKT_FLAG_KEY;
  sentAny_ = true;
  lastSentDts_ = packet.dts;
}

DecodeLoop::Pull DecodeLoop::SendEndOfInput() {
  const int result = avcodec_send_packet(decoder_.get(), nullptr);
  if (result < 0 && result != AVERROR_EOF) return Pull::kFailed;
  draining_ = true;
  return Pull::kPicture;
}

// Whether the packet just read goes to the decoder. With slots, the packets
// before the first key packet after a flush are not sent, nor are B-pictures
// right after it: they show before it and refer to a picture before the seek,
// so the decoder could not make them. Their slots are among the earliest and
// go unused.
bool DecodeLoop::Admit() {
  const AVPacket& packet = *packet_;
  if (packet.stream_index != input_->streamIndex()) return false;
  if (awaitingKeyPacket_) {
    if (!(packet.flags & AV_PKT_FLAG_KEY)) return false;
    awaitingKeyPacket_ = false;
    skippingLeading_ = true;
    return true;
  }
  if (skippingLeading_ && packet.pts != AV_NOPTS_VALUE) {
    RememberSlot(packet.pts);
    ++slotsToDrop_;
    return false;
  }
  skippingLeading_ = false;
  return true;
}

DecodeLoop::Pull DecodeLoop::Next(int64_t skipBefore) {
  AVCodecContext* decoder = decoder_.get();
  for (;;) {
    if (packetPending_) {
      packetPending_ = false;
      Send(skipBefore);
    }
    const int received = avcodec_receive_frame(decoder, picture_.get());
    if (received == 0) {
      pictureTimestamp_ = TimestampOfPicture();
      if (pictureTimestamp_ == AV_NOPTS_VALUE)
        untimedPicture_ = true;
      else if (latestPicture_ == AV_NOPTS_VALUE || pictureTimestamp_ > latestPicture_)
        latestPicture_ = pictureTimestamp_;
      return Pull::kPicture;
    }
    if (received == AVERROR_EOF) return Pull::kEnd;
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
    const int read = input_->Read(packet_.get());
    if (read == AVERROR_EOF) {
      av_packet_unref(packet_.get());
      if (SendEndOfInput() == Pull::kFailed) return Pull::kFailed;
      continue;
    }
    if (read < 0) return Pull::kFailed;
    if (!Admit()) {
      av_packet_unref(packet_.get());
      continue;
    }
    Send(skipBefore);
  }
}

}  // namespace tarsel
