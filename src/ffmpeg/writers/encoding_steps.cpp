#include "ffmpeg/writers/encoding_steps.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "common/boundary.h"
#include "ffmpeg/common/picture_buffer.h"
#include "ffmpeg/common/scaler.h"

namespace tarsel {

FramePtr AllocatePicture(AVPixelFormat format, int width, int height, const char* frameFailure,
                         const char* bufferFailure) {
  FramePtr frame(av_frame_alloc());
  if (!frame) throw Message(frameFailure);
  if (!FillPicture(frame.get(), format, width, height)) throw Message(bufferFailure);
  return frame;
}

void CheckPictureSize(int width, int height) {
  if (width <= 0 || height <= 0 || av_image_check_size(width, height, 0, nullptr) < 0) {
    throw Message(kInvalidSize);
  }
}

void CheckBgrPicture(const uint8_t* pixels, int stride, int width) {
  if (!pixels) throw Message(kNoPixels);
  if (static_cast<int64_t>(stride) < 3 * static_cast<int64_t>(width)) {
    throw Message(kStrideTooSmall);
  }
}

void BgrConverter::AllocateSource(int width, int height, const char* frameFailure,
                                  const char* bufferFailure) {
  source_ = AllocatePicture(AV_PIX_FMT_BGR24, width, height, frameFailure, bufferFailure);
}

void BgrConverter::CreateScaler(AVPixelFormat target, const char* scalerFailure) {
  scaler_ = tarsel::CreateScaler(source_->width, source_->height, AV_PIX_FMT_BGR24, source_->width,
                                 source_->height, target, SWS_BICUBIC);
  if (!scaler_) throw Message(scalerFailure);
}

void BgrConverter::Convert(const uint8_t* pixels, int stride, AVFrame* target) {
  CopyRows(pixels, stride, source_->data[0], source_->linesize[0],
           static_cast<std::size_t>(3) * source_->width, source_->height);
  // The encoder may still hold the previous picture; it then gets a fresh buffer.
  if (av_frame_make_writable(target) < 0) throw std::bad_alloc();
  sws_scale(scaler_.get(), source_->data, source_->linesize, 0, source_->height, target->data,
            target->linesize);
}

AVRational TimeBaseForRate(double frameRate, const char* invalidText) {
  if (!std::isfinite(frameRate) || frameRate <= 0) throw Message(invalidText);
  const auto scaledAt = [&](int power) {
    const double scaled = frameRate * power + 0.5;
    if (scaled >= static_cast<double>(INT_MAX)) throw Message(invalidText);
    return static_cast<int>(scaled);
  };
  int power = 1;
  int scaled = scaledAt(power);
  // Ends at the latest with power 1000, where rounding is within 0.0005.
  while (std::fabs(static_cast<double>(scaled) / power - frameRate) > 0.001) {
    power *= 10;
    scaled = scaledAt(power);
  }
  if (scaled <= 0) throw Message(invalidText);
  return AVRational{power, scaled};
}

void SendFrame(AVCodecContext* encoder, AVFrame* frame) {
  if (avcodec_send_frame(encoder, frame) < 0) throw Message(kCouldNotSendFrame);
}

namespace {

// Packets leave the encoder timed in its time base; the container counts in the
// stream's, which the muxer may have chosen while writing the header.
void PrepareForStream(const EncodedStream& target) {
  AVPacket* packet = target.packet;
  packet->stream_index = target.stream->index;
  if (packet->duration == 0 && target.encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
    packet->duration = 1;
  }
  av_packet_rescale_ts(packet, target.encoder->time_base, target.stream->time_base);
}

}  // namespace

void DrainEncoder(const EncodedStream& target, DrainCount& count) {
  for (;;) {
    int result = avcodec_receive_packet(target.encoder, target.packet);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    if (result < 0) throw Message(kErrorDuringEncoding);
    const int size = target.packet->size;
    PrepareForStream(target);
    result = av_interleaved_write_frame(target.output, target.packet);
    av_packet_unref(target.packet);
    if (result < 0) throw Message(kCouldNotWritePacket);
    count.packets += 1;
    count.bytes += static_cast<uint32_t>(size);
  }
}

void FlushEncoder(const EncodedStream& target, DrainCount& count) noexcept {
  if (avcodec_send_frame(target.encoder, nullptr) < 0) return;
  try {
    DrainEncoder(target, count);
  } catch (...) {
    // Closing goes on: the trailer and the release do not depend on it.
  }
}

void WriteHeader(AVFormatContext* output) {
  const int result = avformat_write_header(output, nullptr);
  if (result < 0) throw Message::FromAv(result);
}

}  // namespace tarsel
