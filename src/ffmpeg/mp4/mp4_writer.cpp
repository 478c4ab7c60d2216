#include "ffmpeg/mp4/mp4_writer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "common/boundary.h"
#include "ffmpeg/common/default_codecs.h"
#include "ffmpeg/common/output_file.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace tarsel {
namespace {

constexpr int kTicksPerSecond = 90000;
constexpr AVRational kVideoTimeBase{1, kTicksPerSecond};
constexpr int64_t kVideoBitRate = 10000000;
constexpr int kGopSize = 12;
constexpr int kAudioSampleRate = 16000;
// The NAL header of an IDR slice with nal_ref_idc 3, right after a 4-byte start code.
constexpr int kNalHeaderOffset = 4;
constexpr uint8_t kIdrSliceHeader = 0x65;
constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
// Tick counts beyond this are refused rather than converted with overflow.
constexpr double kMaxTicks = 4.0e18;

bool IsKeyFrame(const uint8_t* data, int32_t length) {
  return length > kNalHeaderOffset && data[kNalHeaderOffset] == kIdrSliceHeader;
}

int StartCodeLength(const uint8_t* nal, int32_t length) {
  if (length >= 3 && nal[0] == 0 && nal[1] == 0 && nal[2] == 1) return 3;
  if (length >= 4 && nal[0] == 0 && nal[1] == 0 && nal[2] == 0 && nal[3] == 1) return 4;
  return 0;
}

bool HasStartCode(const uint8_t* nal, int32_t length) { return StartCodeLength(nal, length) > 0; }

// The parameter sets back to back in Annex-B form, zero-padded as FFmpeg wants
// extradata. The muxers turn Annex-B parameter sets into their own form (avcC
// for MP4 and Matroska) and convert the access units to match; bare NAL units,
// as RTP and many SDKs hand them over, get a start code so that this happens.
struct Extradata {
  AvBufferPtr bytes;
  int size = 0;
};

Extradata BuildExtradata(const uint8_t* sps, int32_t spsLength, const uint8_t* pps,
                         int32_t ppsLength) {
  const bool spsCoded = HasStartCode(sps, spsLength);
  const bool ppsCoded = HasStartCode(pps, ppsLength);
  const int64_t size = int64_t{spsLength} + ppsLength + (spsCoded ? 0 : sizeof kStartCode) +
                       (ppsCoded ? 0 : sizeof kStartCode);
  if (size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
    throw Message(MP4Writer::kParameterSetsTooLarge);
  Extradata extradata{AvBufferPtr(static_cast<uint8_t*>(av_mallocz(static_cast<std::size_t>(size) +
                                                                   AV_INPUT_BUFFER_PADDING_SIZE))),
                      static_cast<int>(size)};
  if (!extradata.bytes) throw Message::FromAv(AVERROR(ENOMEM));
  uint8_t* out = extradata.bytes.get();
  auto append = [&out](const uint8_t* nal, int32_t length, bool coded) {
    if (!coded) out = std::copy(std::begin(kStartCode), std::end(kStartCode), out);
    out = std::copy(nal, nal + length, out);
  };
  append(sps, spsLength, spsCoded);
  append(pps, ppsLength, ppsCoded);
  return extradata;
}

CodecContextPtr AllocateContext(const AVCodec* encoder) {
  CodecContextPtr context(avcodec_alloc_context3(encoder));
  if (!context) throw Message::FromAv(AVERROR(ENOMEM));
  return context;
}

}  // namespace

MP4Writer::~MP4Writer() { Finish(); }

void MP4Writer::Open(const char* path, uint32_t width, uint32_t height, uint32_t frameRate) {
  if (!path) throw Message(kNullPath);
  const AVOutputFormat* format = av_guess_format(nullptr, path, nullptr);
  if (!format) return;

  AVFormatContext* context = nullptr;
  const int allocated = avformat_alloc_output_context2(&context, format, nullptr, path);
  if (allocated < 0) throw Message::FromAv(allocated);
  formatContext_.reset(context);
  context->video_codec_id = AV_CODEC_ID_H264;
  if (declareAudio_) context->audio_codec_id = AV_CODEC_ID_AAC;
  // FFmpeg's container descriptions are read-only; this process's writers see
  // the new defaults through the override table instead.
  OverrideDefaultCodecs(format, AV_CODEC_ID_H264,
                        declareAudio_ ? AV_CODEC_ID_AAC : AV_CODEC_ID_NONE);
  CheckSize(*format, width, height);
  if (avformat_query_codec(format, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 0)
    throw Message(kNoH264);

  AddStreams();
  ConfigureVideo(*format, width, height, frameRate);
  if (declareAudio_) ConfigureAudio();
  CopyStreamParameters();

  OpenOutputFile(context, path);
  packet_.reset(av_packet_alloc());
  if (!packet_) throw Message::FromAv(AVERROR(ENOMEM));
  if (frameRate > 0)
    frameTicks_ = std::max<int64_t>(1, std::llround(double{kTicksPerSecond} / frameRate));
  opened_ = true;
}

// The muxers refuse a video stream without a size only when writing the header;
// a size the codec parameters cannot hold would wrap.
void MP4Writer::CheckSize(const AVOutputFormat& format, uint32_t width, uint32_t height) const {
  const bool tooLarge = width > INT_MAX || height > INT_MAX;
  const bool missing = (width == 0 || height == 0) && !(format.flags & AVFMT_NODIMENSIONS);
  if (tooLarge || missing) throw Message(kInvalidSize);
}

// The encoders are looked up only for their defaults: nothing is encoded.
void MP4Writer::AddStreams() {
  const AVCodec* videoEncoder = avcodec_find_encoder(AV_CODEC_ID_H264);
  const AVCodec* audioEncoder = declareAudio_ ? avcodec_find_encoder(AV_CODEC_ID_AAC) : nullptr;
  if (!videoEncoder || (declareAudio_ && !audioEncoder)) throw Message(kCodecNotFound);
  stream_ = avformat_new_stream(formatContext_.get(), videoEncoder);
  if (declareAudio_) audioStream_ = avformat_new_stream(formatContext_.get(), audioEncoder);
  if (!stream_ || (declareAudio_ && !audioStream_)) throw Message(kStreamNotAllocated);
  stream_->time_base = kVideoTimeBase;
  codecContext_ = AllocateContext(videoEncoder);
  if (declareAudio_) audioCodecContext_ = AllocateContext(audioEncoder);
}

void MP4Writer::ConfigureVideo(const AVOutputFormat& format, uint32_t width, uint32_t height,
                               uint32_t frameRate) {
  AVCodecContext& video = *codecContext_;
  video.bit_rate = kVideoBitRate;
  video.width = static_cast<int>(width);
  video.height = static_cast<int>(height);
  if (frameRate > 0 && frameRate <= INT_MAX) video.time_base = AVRational{1, int(frameRate)};
  video.gop_size = kGopSize;
  video.pix_fmt = AV_PIX_FMT_YUV420P;
  if (format.flags & AVFMT_GLOBALHEADER) video.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  inBandParameterSets_ = !(format.flags & AVFMT_GLOBALHEADER);
}

void MP4Writer::ConfigureAudio() {
  AVCodecContext& audio = *audioCodecContext_;
  av_channel_layout_uninit(&audio.ch_layout);
  const int layout = av_channel_layout_from_mask(&audio.ch_layout, AV_CH_LAYOUT_MONO);
  if (layout < 0) throw Message::FromAv(layout);
  audio.sample_rate = kAudioSampleRate;
  audioStream_->time_base = AVRational{1, kAudioSampleRate};
}

void MP4Writer::CopyStreamParameters() {
  int copied = avcodec_parameters_from_context(stream_->codecpar, codecContext_.get());
  if (copied >= 0 && audioStream_)
    copied = avcodec_parameters_from_context(audioStream_->codecpar, audioCodecContext_.get());
  if (copied < 0) throw Message::FromAv(copied);
}

void MP4Writer::AddSPSPPS(const uint8_t* sps, int32_t spsLength, const uint8_t* pps,
                          int32_t ppsLength) {
  if (spsLength < 1 || ppsLength < 1) throw Message(kTooFewBytes);
  if (!sps || !pps) throw Message(kNullInput);
  // A start code alone is an empty set: the file would take it and no player
  // could decode a single picture.
  if (spsLength == StartCodeLength(sps, spsLength) || ppsLength == StartCodeLength(pps, ppsLength))
    throw Message(kTooFewBytes);
  if (!codecContext_) return;
  Extradata extradata = BuildExtradata(sps, spsLength, pps, ppsLength);
  AVCodecContext& video = *codecContext_;
  if (headerWritten_) {
    // The container holds the sets that its header was written with; a caller
    // repeating them at each key frame changes nothing.
    const bool same = extradata.size == video.extradata_size &&
                      std::memcmp(extradata.bytes.get(), video.extradata, extradata.size) == 0;
    if (!same) throw Message(kParameterSetsFixed);
    return;
  }
  av_freep(&video.extradata);
  video.extradata = extradata.bytes.release();
  video.extradata_size = extradata.size;
  const int copied = avcodec_parameters_from_context(stream_->codecpar, &video);
  if (copied < 0) throw Message::FromAv(copied);
}

void MP4Writer::AddFrame(const uint8_t* data, int32_t length) {
  CheckAccessUnit(data, length);
  const bool keyFrame = IsKeyFrame(data, length);
  RefuseUnwritable(keyFrame);
  // Frames without a time follow the last one at the open's frame rate, so
  // the container does not squeeze them together.
  const int64_t dts = lastDts_ == AV_NOPTS_VALUE ? 0 : lastDts_ + frameTicks_;
  Write(data, length, keyFrame, dts, frameTicks_);
}

void MP4Writer::AddRawH264FrameWithTime(const uint8_t* data, int32_t length, double time) {
  CheckAccessUnit(data, length);
  if (!std::isfinite(time)) throw Message(kCouldNotWrite);
  const bool keyFrame = IsKeyFrame(data, length);
  // The first timed frame is the origin, whatever its sign.
  if (!hasStartTime_) {
    startTime_ = time;
    hasStartTime_ = true;
  }
  RefuseUnwritable(keyFrame);
  const double ticks = (time - startTime_) * kTicksPerSecond;
  if (!(ticks >= 0.0 && ticks < kMaxTicks)) throw Message(kCouldNotWrite);
  // Truncated toward zero, as callers of this writer have always seen it.
  const int64_t dts = static_cast<int64_t>(ticks);
  // Containers need strictly increasing decoding times; a frame that goes back
  // is refused before it reaches the muxer, which stays usable.
  if (lastDts_ != AV_NOPTS_VALUE && dts <= lastDts_) throw Message(kCouldNotWrite);
  // The last frame lasts as long as the gap before it; without a duration the
  // container would cut it off.
  const int64_t duration = lastDts_ == AV_NOPTS_VALUE ? frameTicks_ : dts - lastDts_;
  Write(data, length, keyFrame, dts, duration);
}

void MP4Writer::CheckAccessUnit(const uint8_t* data, int32_t length) const {
  if (length < 1) throw Message(kTooFewBytes);
  if (!data) throw Message(kCouldNotWrite);
}

// Nothing reaches a container that is missing, has no parameter sets yet or
// failed its header, and nothing before the first key frame.
void MP4Writer::RefuseUnwritable(bool keyFrame) const {
  const bool ready = opened_ && !headerFailed_ && codecContext_->extradata_size > 0;
  if (!ready || (!keyFrame && !seenKeyFrame_)) throw Message(kCouldNotWrite);
}

void MP4Writer::Write(const uint8_t* data, int32_t length, bool keyFrame, int64_t dts,
                      int64_t duration) {
  if (!WriteHeader()) throw Message(kCouldNotWrite);
  AVPacket& packet = *packet_;
  CopyIntoPacket(data, length, keyFrame);
  packet.stream_index = stream_->index;
  packet.flags = keyFrame ? AV_PKT_FLAG_KEY : 0;
  // Access units carry one time: decoding and presentation times are the same.
  // Streams with B-frames therefore decode to the right pictures but are stamped
  // in decoding order; only parsing the slices could tell their display times.
  packet.dts = dts;
  packet.pts = dts;
  packet.duration = duration;
  // The 90 kHz times are kept where the container counts in 90 kHz (MP4) and
  // converted where it chose its own time base at the header (Matroska: 1 ms).
  av_packet_rescale_ts(&packet, kVideoTimeBase, stream_->time_base);
  // Only the video stream ever receives packets, in decoding order, so they go
  // straight to the muxer without waiting in an interleaving queue.
  const int written = av_write_frame(formatContext_.get(), &packet);
  av_packet_unref(&packet);
  if (written != 0) throw Message(kCouldNotWrite);
  if (keyFrame) seenKeyFrame_ = true;
  lastDts_ = dts;
}

// The muxers read past a packet's end as far as FFmpeg's input padding allows
// (MPEG-TS and AVI look at the first four bytes of even a one-byte unit), so the
// unit is copied into a zero-padded packet of our own rather than handed over
// in the caller's buffer, which may end right there. Containers without a
// header for the parameter sets (a raw .h264 stream, for one) carry them in the
// stream: each key frame is written behind them.
void MP4Writer::CopyIntoPacket(const uint8_t* data, int32_t length, bool keyFrame) {
  const AVCodecContext& video = *codecContext_;
  const int prefix = keyFrame && inBandParameterSets_ ? video.extradata_size : 0;
  if (length > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE - prefix) throw Message(kCouldNotWrite);
  const int allocated = av_new_packet(packet_.get(), prefix + length);
  if (allocated < 0) throw Message::FromAv(allocated);
  if (prefix > 0) std::memcpy(packet_->data, video.extradata, static_cast<std::size_t>(prefix));
  std::memcpy(packet_->data + prefix, data, static_cast<std::size_t>(length));
}

// The header is written with the first frame, once the parameter sets are
// known: containers such as Matroska need them in the header. A header that
// fails is not retried, and the writer refuses frames from then on.
bool MP4Writer::WriteHeader() noexcept {
  if (headerWritten_) return true;
  if (headerFailed_) return false;
  headerFailed_ = avformat_write_header(formatContext_.get(), nullptr) < 0;
  headerWritten_ = !headerFailed_;
  return headerWritten_;
}

// A writer that never received a frame still leaves a complete (empty) file.
void MP4Writer::Finish() noexcept {
  if (!opened_ || !WriteHeader()) return;
  av_write_trailer(formatContext_.get());
}

}  // namespace tarsel
