#include "ffmpeg/convert/decoder.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "common/boundary.h"
#include "ffmpeg/common/picture_buffer.h"

namespace tarsel {

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

// The picture converts with its own matrix and range, as the ffmpeg tool
// converts it; a new size gets a new output picture.
bool Decoder::PrepareOutput() {
  const AVFrame& frame = *frame_;
  if (!output_ || output_->width != frame.width || output_->height != frame.height) {
    output_.reset();
    outputSize_ = 0;
    const int64_t packedSize = int64_t{3} * frame.width * frame.height;
    if (packedSize > UINT32_MAX) return false;
    output_ = AllocatePicture(AV_PIX_FMT_BGR24, frame.width, frame.height);
    if (!output_) return false;
    outputSize_ = static_cast<uint32_t>(packedSize);
  }
  return scaler_.Fit(PictureKind::Of(frame), frame.width, frame.height);
}

int Decoder::GetBitmapData(uint8_t* destination, uint32_t* size) {
  const AVFrame& frame = *frame_;
  const bool hasPicture = frame.data[0] && frame.width > 0 && frame.height > 0;
  if (!hasPicture || !PrepareOutput() ||
      !scaler_.Convert(frame, output_->data[0], output_->linesize[0])) {
    if (size) *size = 0;
    return -1;
  }
  if (destination) {
    const std::size_t rowBytes = static_cast<std::size_t>(3) * frame.width;
    CopyRows(output_->data[0], output_->linesize[0], destination,
             static_cast<std::ptrdiff_t>(rowBytes), rowBytes, frame.height);
  }
  if (size) *size = outputSize_;
  return 0;
}

}  // namespace tarsel
