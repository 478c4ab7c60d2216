// What an encoder declares it supports, and whether a decoded picture is a key
// frame, through the calls of the FFmpeg the library is built against: FFmpeg
// 7.1 replaced AVCodec's lists with avcodec_get_supported_config, and 6.1
// AVFrame::key_frame with a flag. Each list ends as FFmpeg ends it; null means
// the codec accepts anything (its open then decides).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace tarsel {

#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
namespace codec_support_detail {
template <class T>
const T* Supported(const AVCodec* codec, AVCodecConfig config) {
  const void* list = nullptr;
  int count = 0;
  if (avcodec_get_supported_config(nullptr, codec, config, 0, &list, &count) < 0) return nullptr;
  return static_cast<const T*>(list);
}
}  // namespace codec_support_detail

// Ends with AV_SAMPLE_FMT_NONE.
inline const AVSampleFormat* SupportedSampleFormats(const AVCodec* codec) {
  return codec_support_detail::Supported<AVSampleFormat>(codec, AV_CODEC_CONFIG_SAMPLE_FORMAT);
}
// Ends with 0.
inline const int* SupportedSampleRates(const AVCodec* codec) {
  return codec_support_detail::Supported<int>(codec, AV_CODEC_CONFIG_SAMPLE_RATE);
}
// Ends with a layout of 0 channels.
inline const AVChannelLayout* SupportedChannelLayouts(const AVCodec* codec) {
  return codec_support_detail::Supported<AVChannelLayout>(codec, AV_CODEC_CONFIG_CHANNEL_LAYOUT);
}
// Ends with {0, 0}.
inline const AVRational* SupportedFrameRates(const AVCodec* codec) {
  return codec_support_detail::Supported<AVRational>(codec, AV_CODEC_CONFIG_FRAME_RATE);
}
#else
inline const AVSampleFormat* SupportedSampleFormats(const AVCodec* codec) {
  return codec->sample_fmts;
}
inline const int* SupportedSampleRates(const AVCodec* codec) {
  return codec->supported_samplerates;
}
inline const AVChannelLayout* SupportedChannelLayouts(const AVCodec* codec) {
  return codec->ch_layouts;
}
inline const AVRational* SupportedFrameRates(const AVCodec* codec) {
  return codec->supported_framerates;
}
#endif

inline bool IsKeyFrame(const AVFrame* frame) {
#if defined(AV_FRAME_FLAG_KEY)
  return (frame->flags & AV_FRAME_FLAG_KEY) != 0;
#else
  return frame->key_frame != 0;
#endif
}

}  // namespace tarsel
