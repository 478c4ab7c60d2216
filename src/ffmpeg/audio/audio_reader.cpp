#include "ffmpeg/audio/audio_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/boundary.h"

namespace tarsel {

namespace {
constexpr int kBytesPerSample = 2;  // signed 16-bit output
}

void AudioReader::Open(const char* path, int32_t* streamIndex) {
  OpenInput(path);
  if (streamIndex) *streamIndex = -1;
  audioStreamIndex_ = -1;
  const int found =
      av_find_best_stream(formatContext_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (found < 0) throw Message(kNoAudioStream);
  audioStreamIndex_ = found;
  if (streamIndex) *streamIndex = found;
  audioStream_ = formatContext_->streams[found];
  // Times count from the stream's first timestamp, so a file that starts late
  // (MPEG-TS starts at 1.4 s) still starts at 0 and ends at its duration.
  if (audioStream_->start_time != AV_NOPTS_VALUE) startTicks_ = audioStream_->start_time;

  OpenDecoder();
  channels_ = audioStream_->codecpar->ch_layout.nb_channels;
  sampleRate_ = audioStream_->codecpar->sample_rate;
  packet_.reset(av_packet_alloc());
  decodedFrame_.reset(av_frame_alloc());
  if (!packet_ || !decodedFrame_) throw Message(kNoFrame);
  sampleBuffer_.assign(kBufferCapacity, 0);
  SetUpConverter();
}

void AudioReader::OpenInput(const char* path) {
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) throw Message(kNoFormatContext);
  if (!path) {
    avformat_free_context(raw);
    throw Message::FromAv(AVERROR(EINVAL));
  }
  // A failed open frees the context and nulls raw.
  int result = avformat_open_input(&raw, path, nullptr, nullptr);
  if (result < 0) throw Message::FromAv(result);
  formatContext_.reset(raw);
  result = avformat_find_stream_info(formatContext_.get(), nullptr);
  if (result < 0) throw Message::FromAv(result);
}

void AudioReader::OpenDecoder() {
  decoder_ = avcodec_find_decoder(audioStream_->codecpar->codec_id);
  if (!decoder_) throw Message(kNoDecoder);
  hasAudio_ = 1;
  codecContext_.reset(avcodec_alloc_context3(decoder_));
  if (!codecContext_) throw Message(kNoCodecContext);
  int result = avcodec_parameters_to_context(codecContext_.get(), audioStream_->codecpar);
  if (result < 0) throw Message::FromAv(result);
  // Lets the decoder trim encoder priming and padding in stream ticks.
  codecContext_->pkt_timebase = audioStream_->time_base;
  result = avcodec_open2(codecContext_.get(), decoder_, nullptr);
  if (result < 0) throw Message::FromAv(result);
}

void AudioReader::SetUpConverter() {
  // Mono and stereo keep the layout the file declares; more channels are
  // labelled with FFmpeg's default layout on both sides, so they are
  // interleaved in decoding order whatever the file declares.
  const AVChannelLayout& declared = audioStream_->codecpar->ch_layout;
  const bool keepDeclared =
      channels_ <= 2 && declared.order == AV_CHANNEL_ORDER_NATIVE && declared.u.mask != 0;
  AVChannelLayout layout = keepDeclared ? declared : DefaultChannelLayout(channels_);
  const auto format = static_cast<AVSampleFormat>(audioStream_->codecpar->format);
  if (!converter_.Setup(layout, format, sampleRate_, sampleRate_)) {
    throw Message(SampleConverter::kSetupFailed);
  }
}

bool AudioReader::GetAudioInfo(Info& info, char* codecName) {
  info.hasAudio = hasAudio_;
  info.channels = channels_;
  info.sampleRate = sampleRate_;
  if (!hasAudio_ || !audioStream_) {
    info.channels = info.sampleRate = info.bufferSize = 0;
    info.duration = 0.0;
    WriteErrorText(codecName, "Unknown");
    return false;
  }
  WriteErrorText(codecName, decoder_->long_name ? decoder_->long_name : decoder_->name);
  const double tb = av_q2d(audioStream_->time_base);
  durationTicks_ = audioStream_->duration;
  durationSeconds_ = tb * static_cast<double>(durationTicks_);
  if (durationSeconds_ < 0) {
    durationTicks_ = audioStream_->nb_frames;
    durationSeconds_ = tb * static_cast<double>(durationTicks_);
  }
  if (durationTicks_ == 0) {
    durationTicks_ = formatContext_->duration;
    durationSeconds_ = static_cast<double>(durationTicks_) / 1000000.0;
  }
  info.duration = durationSeconds_;
  info.bufferSize = kBufferCapacity;
  return true;
}

bool AudioReader::DecodeBlock(Block& block) {
  if (!codecContext_) return false;
  for (;;) {
    while (frameRemaining_ == 0) {
      if (!ReceiveFrame()) return false;
    }
    if (ConvertChunk(block)) return true;
    frameRemaining_ = 0;  // the rest of a frame the converter refused is dropped
  }
}

bool AudioReader::ReadAudioPacket() {
  for (;;) {
    av_packet_unref(packet_.get());
    if (av_read_frame(formatContext_.get(), packet_.get()) < 0) {
      av_packet_unref(packet_.get());
      return false;
    }
    if (packet_->stream_index == audioStreamIndex_) return true;
  }
}

// Takes the next decoded frame, feeding packets as the decoder asks for them.
// At the end of the file the decoder is drained, so decoders that hold frames
// back give them all. A packet the decoder refuses is skipped, as a player
// skips a corrupt packet.
bool AudioReader::ReceiveFrame() {
  for (;;) {
    const int received = avcodec_receive_frame(codecContext_.get(), decodedFrame_.get());
    if (received == 0) {
      if (StartFrame()) return true;
      continue;
    }
    if (received == AVERROR_EOF || drainSent_) return false;
    // EAGAIN, or a decoding error that loses only the packet that caused it.
    if (!packetPending_ && !ReadAudioPacket()) {
      drainSent_ = true;
      if (avcodec_send_packet(codecContext_.get(), nullptr) < 0) return false;
      continue;
    }
    packetPending_ = false;
    const int sent = avcodec_send_packet(codecContext_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent == AVERROR_EOF) return false;
  }
}

// Accepts a decoded frame for delivery, or drops it when its channel count no
// longer matches what the reader reported.
bool AudioReader::StartFrame() {
  const AVFrame& frame = *decodedFrame_;
  if (frame.nb_samples <= 0 || frame.ch_layout.nb_channels != channels_ || frame.sample_rate <= 0) {
    av_frame_unref(decodedFrame_.get());
    return false;
  }
  // Only the sample format is converted: a frame at another rate keeps it.
  const bool passThrough = frame.format == AV_SAMPLE_FMT_S16;
  if (!passThrough && !converter_.Accepts(frame) &&
      !converter_.Reconfigure(static_cast<AVSampleFormat>(frame.format), frame.sample_rate,
                              frame.sample_rate)) {
    av_frame_unref(decodedFrame_.get());
    return false;
  }
  const int64_t ticks = frame.best_effort_timestamp;
  frameTime_ = ticks != AV_NOPTS_VALUE ? SecondsFromStart(ticks) : nextFrameTime_;
  nextFrameTime_ = frameTime_ + static_cast<double>(frame.nb_samples) / frame.sample_rate;
  frameDelivered_ = 0;
  frameRemaining_ = frame.nb_samples;
  return true;
}

// Hands out as much of the current frame as the sample buffer holds; a frame
// larger than the buffer is delivered over several calls.
bool AudioReader::ConvertChunk(Block& block) {
  const AVFrame& frame = *decodedFrame_;
  const int bytesPerFrameSample = channels_ * kBytesPerSample;
  const int count = std::min(frameRemaining_, kBufferCapacity / bytesPerFrameSample);
  int converted = count;
  if (frame.format == AV_SAMPLE_FMT_S16) {
    // Only the valid samples: the plane's line size includes alignment padding.
    std::memcpy(sampleBuffer_.data(),
                frame.extended_data[0] + static_cast<size_t>(frameDelivered_) * bytesPerFrameSample,
                static_cast<size_t>(count) * bytesPerFrameSample);
  } else {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? channels_ : 1;
    const size_t offset = static_cast<size_t>(frameDelivered_) * av_get_bytes_per_sample(format) *
                          (planar ? 1 : channels_);
    inputPlanes_.resize(planes);
    for (int p = 0; p < planes; ++p) inputPlanes_[p] = frame.extended_data[p] + offset;
    converted = converter_.Convert(sampleBuffer_.data(), count, inputPlanes_.data(), count);
    if (converted <= 0) return false;
  }
  block.samples = converted;
  block.bytes = converted * bytesPerFrameSample;
  block.time = frameTime_ + static_cast<double>(frameDelivered_) / frame.sample_rate;
  currentTime_ = block.time;
  frameDelivered_ += count;
  frameRemaining_ -= count;
  if (frameRemaining_ == 0) av_frame_unref(decodedFrame_.get());
  return true;
}

double AudioReader::SecondsFromStart(int64_t ticks) const {
  return av_q2d(audioStream_->time_base) * static_cast<double>(ticks - startTicks_);
}

void AudioReader::ForgetDecodedAudio() {
  avcodec_flush_buffers(codecContext_.get());
  av_frame_unref(decodedFrame_.get());
  av_packet_unref(packet_.get());
  packetPending_ = false;
  drainSent_ = false;
  frameDelivered_ = frameRemaining_ = 0;
}

double AudioReader::Jump(double seconds) {
  // Refused: not a time, before the start, or at or past the duration (which
  // is 0 until the information was asked for).
  if (!std::isfinite(seconds) || seconds < 0 || seconds >= durationSeconds_ || !codecContext_) {
    return -1.0;
  }
  ForgetDecodedAudio();
  const double tb = av_q2d(audioStream_->time_base);
  const int flags = currentTime_ > seconds ? AVSEEK_FLAG_BACKWARD : 0;
  const int64_t target = startTicks_ + static_cast<int64_t>(std::trunc(seconds / tb));
  if (av_seek_frame(formatContext_.get(), audioStreamIndex_, target, flags) < 0 &&
      av_seek_frame(formatContext_.get(), audioStreamIndex_, target, flags | AVSEEK_FLAG_ANY) < 0) {
    return -1.0;
  }
  // The first audio packet after the seek is kept for the next block.
  if (!ReadAudioPacket()) return 0.0;
  packetPending_ = true;
  const int64_t ticks = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
  if (packet_->size <= 0 || ticks == AV_NOPTS_VALUE) return 0.0;
  nextFrameTime_ = SecondsFromStart(ticks);
  return nextFrameTime_;
}

}  // namespace tarsel
