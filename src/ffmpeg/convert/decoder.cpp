#include "ffmpeg/convert/decoder.h"

#include <cstdint>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/common.h>
}

#include "common/boundary.h"
#include "ffmpeg/convert/picture_layout.h"

namespace tarsel {

namespace {

// The full-range (JPEG) formats convert as their limited-range twins with the
// range told to libswscale separately.
AVPixelFormat WithoutJpegRange(int format) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P:
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      return AV_PIX_FMT_YUV444P;
    default:
      return static_cast<AVPixelFormat>(format);
  }
}

bool IsFullRange(const AVFrame& frame) {
  return frame.format != WithoutJpegRange(frame.format) || frame.color_range == AVCOL_RANGE_JPEG;
}

void SetSourceFullRange(SwsContext* scaler) {
  int* inverseTable = nullptr;
  int* table = nullptr;
  int sourceRange = 0, destinationRange = 0, brightness = 0, contrast = 0, saturation = 0;
  sws_getColorspaceDetails(scaler, &inverseTable, &sourceRange, &table, &destinationRange,
                           &brightness, &contrast, &saturation);
  sws_setColorspaceDetails(scaler, inverseTable, 1, table, destinationRange, brightness, contrast,
                           saturation);
}

}  // namespace

void Decoder::Open() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) throw Message(kCodecNotFound);
  codecContext_.reset(avcodec_alloc_context3(codec));
  if (!codecContext_) throw Message(kNoCodecContext);
  if (avcodec_open2(codecContext_.get(), codec, nullptr) < 0) throw Message(kCannotOpenCodec);
  frame_.reset(av_frame_alloc());
  if (!frame_) throw Message(kNoFrame);
  packet_.reset(av_packet_alloc());
  if (!packet_) throw std::bad_alloc();
  width_ = -1;
  height_ = -1;
}

int Decoder::DecodeFrame(const uint8_t* data, int32_t length, int32_t* width, int32_t* height) {
  if (!data || length < 1) return -1;
  // The packet does not own the bytes: the decoder copies them, with its own
  // padding, when it accepts the packet.
  packet_->data = const_cast<uint8_t*>(data);
  packet_->size = length;
  const int sent = avcodec_send_packet(codecContext_.get(), packet_.get());
  av_packet_unref(packet_.get());
  if (sent < 0) {
    av_frame_unref(frame_.get());
    width_ = height_ = -1;
  } else {
    // No picture yet leaves the frame empty (0 x 0): one picture is taken per
    // packet, and a delayed stream keeps its last pictures in the decoder.
    avcodec_receive_frame(codecContext_.get(), frame_.get());
    width_ = frame_->width;
    height_ = frame_->height;
  }
  if (width) *width = width_;
  if (height) *height = height_;
  return sent < 0 ? 1 : 0;
}

bool Decoder::PrepareOutput() {
  const AVFrame& frame = *frame_;
  const bool fullRange = IsFullRange(frame);
  if (scaler_ && frame.width == scalerWidth_ && frame.height == scalerHeight_ &&
      frame.format == scalerFormat_ && fullRange == scalerFullRange_)
    return true;
  // A new size or format: the old buffer and scaler would read and write out of bounds.
  scaler_.reset();
  outputBuffer_.reset();
  outputSize_ = 0;
  const int64_t packedSize = int64_t{3} * frame.width * frame.height;
  if (packedSize > UINT32_MAX || int64_t{3} * frame.width > INT32_MAX - kRowAlignment) return false;
  // A pitch of a multiple of 64 bytes, with spare bytes after the picture, is
  // what libswscale converts to BGR24 exactly and without writing past the end.
  outputPitch_ = FFALIGN(3 * frame.width, kRowAlignment);
  outputBuffer_ =
      AllocateAvBuffer(static_cast<std::size_t>(outputPitch_) * frame.height + kSpareBytes);
  if (!outputBuffer_) return false;
  scaler_.reset(sws_getContext(frame.width, frame.height, WithoutJpegRange(frame.format),
                               frame.width, frame.height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                               nullptr, nullptr));
  if (!scaler_) return false;
  if (fullRange) SetSourceFullRange(scaler_.get());
  scalerWidth_ = frame.width;
  scalerHeight_ = frame.height;
  scalerFormat_ = frame.format;
  scalerFullRange_ = fullRange;
  outputSize_ = static_cast<uint32_t>(packedSize);
  return true;
}

int Decoder::GetBitmapData(uint8_t* destination, uint32_t* size) {
  const AVFrame& frame = *frame_;
  const bool hasPicture = frame.data[0] && frame.width > 0 && frame.height > 0;
  if (!hasPicture || !PrepareOutput()) {
    if (size) *size = 0;
    return -1;
  }
  uint8_t* output[kMaxPlanes] = {outputBuffer_.get()};
  const int outputPitches[kMaxPlanes] = {outputPitch_};
  if (sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, output,
                outputPitches) != frame.height) {
    if (size) *size = 0;
    return -1;
  }
  if (destination) {
    const std::size_t rowBytes = static_cast<std::size_t>(3) * frame.width;
    for (int row = 0; row < frame.height; ++row)
      std::memcpy(destination + row * rowBytes,
                  outputBuffer_.get() + static_cast<std::size_t>(row) * outputPitch_, rowBytes);
  }
  if (size) *size = outputSize_;
  return 0;
}

}  // namespace tarsel
