// Owning pointers for FFmpeg objects. Members declared in acquisition order are
// released in reverse, the order FFmpeg wants.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tarsel {

// FFmpeg's free(&p) form.
template <auto FreeFn>
struct AvFreeAddress {
  template <class T>
  void operator()(T* p) const noexcept {
    FreeFn(&p);
  }
};

struct AvFree {
  void operator()(void* p) const noexcept { av_free(p); }
};
struct SwsFree {
  void operator()(SwsContext* s) const noexcept { sws_freeContext(s); }
};
// An output context owns its file when the container writes one.
struct OutputContextFree {
  void operator()(AVFormatContext* context) const noexcept {
    if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, AvFreeAddress<avformat_close_input>>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AvFreeAddress<avcodec_free_context>>;
using FramePtr = std::unique_ptr<AVFrame, AvFreeAddress<av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, AvFreeAddress<av_packet_free>>;
using ScalerPtr = std::unique_ptr<SwsContext, SwsFree>;
using ResamplerPtr = std::unique_ptr<SwrContext, AvFreeAddress<swr_free>>;
using DictionaryPtr = std::unique_ptr<AVDictionary, AvFreeAddress<av_dict_free>>;
using AvBufferPtr = std::unique_ptr<uint8_t[], AvFree>;

// av_malloc'ed bytes; null when the allocation failed.
inline AvBufferPtr AllocateAvBuffer(std::size_t size) {
  return AvBufferPtr(static_cast<uint8_t*>(av_malloc(size)));
}

}  // namespace tarsel
