#include "mediafoundation/platform/linux/mjpeg_decoder.h"

#include <limits>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace tarsel::platform {

namespace {

// The full-range formats of JPEG as the plain ones, with their range apart.
AVPixelFormat Plain(AVPixelFormat format, bool* fullRange) {
  *fullRange = true;
  switch (format) {
    case AV_PIX_FMT_YUVJ420P:
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
      return AV_PIX_FMT_YUV411P;
    default:
      *fullRange = false;
      return format;
  }
}

}  // namespace

bool MjpegDecoder::Open() {
  if (context_) return true;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
  if (!codec) return false;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  if (!context || !packet || !frame) return false;
  context->thread_count = 1;  // one picture in, the same picture out
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return false;
  context_ = std::move(context);
  packet_ = std::move(packet);
  frame_ = std::move(frame);
  return true;
}

bool MjpegDecoder::Decode(const std::uint8_t* data, std::size_t size, std::uint32_t width,
                          std::uint32_t height, std::uint8_t* nv12) {
  if (size == 0 || size > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  if (!Open()) return false;
  packet_->data = const_cast<std::uint8_t*>(data);
  packet_->size = static_cast<int>(size);
  const int sent = avcodec_send_packet(context_.get(), packet_.get());
  av_packet_unref(packet_.get());
  if (sent < 0) return false;
  if (avcodec_receive_frame(context_.get(), frame_.get()) < 0) return false;
  const bool converted = Convert(width, height, nv12);
  av_frame_unref(frame_.get());
  return converted;
}

bool MjpegDecoder::Convert(std::uint32_t width, std::uint32_t height, std::uint8_t* nv12) {
  const AVFrame& frame = *frame_;
  if (frame.width != static_cast<int>(width) || frame.height != static_cast<int>(height)) {
    return false;  // not the size the camera was set to
  }
  bool fullRange = false;
  const AVPixelFormat format = Plain(static_cast<AVPixelFormat>(frame.format), &fullRange);
  if (frame.color_range == AVCOL_RANGE_JPEG) fullRange = true;
  SwsContext* scaler =
      sws_getCachedContext(scaler_.release(), frame.width, frame.height, format, frame.width,
                           frame.height, AV_PIX_FMT_NV12, SWS_BICUBIC, nullptr, nullptr, nullptr);
  scaler_.reset(scaler);
  if (!scaler) return false;
  const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
  sws_setColorspaceDetails(scaler, coefficients, fullRange ? 1 : 0, coefficients, 0, 0, 1 << 16,
                           1 << 16);
  std::uint8_t* planes[4] = {};
  int strides[4] = {};
  if (av_image_fill_arrays(planes, strides, nv12, AV_PIX_FMT_NV12, frame.width, frame.height, 1) <
      0) {
    return false;
  }
  return sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides) ==
         frame.height;
}

}  // namespace tarsel::platform
