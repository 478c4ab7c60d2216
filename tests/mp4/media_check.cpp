#include "mp4/media_check.h"

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

namespace mp4_test {
namespace {

struct InputFree {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Input = std::unique_ptr<AVFormatContext, InputFree>;

Input Open(const std::string& path) {
  AVFormatContext* context = nullptr;
  if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return nullptr;
  Input input(context);
  if (avformat_find_stream_info(context, nullptr) < 0) return nullptr;
  return input;
}

void AppendPicture(const AVFrame& frame, Pictures& pictures) {
  pictures.width = frame.width;
  pictures.height = frame.height;
  const int size = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, frame.width, frame.height, 1);
  const std::size_t at = pictures.yuv.size();
  pictures.yuv.resize(at + size);
  av_image_copy_to_buffer(pictures.yuv.data() + at, size, frame.data, frame.linesize,
                          AV_PIX_FMT_YUV420P, frame.width, frame.height, 1);
  ++pictures.count;
}

void Receive(AVCodecContext* decoder, AVFrame* frame, Pictures& pictures) {
  while (avcodec_receive_frame(decoder, frame) == 0) {
    AppendPicture(*frame, pictures);
    av_frame_unref(frame);
  }
}

}  // namespace

Container ReadContainer(const std::string& path) {
  Container container;
  Input input = Open(path);
  if (!input) return container;
  container.opened = true;
  int video = -1;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream& stream = *input->streams[i];
    const AVCodecParameters& par = *stream.codecpar;
    container.streams.push_back({par.codec_type, par.codec_id, par.width, par.height,
                                 par.ch_layout.nb_channels, par.sample_rate, stream.time_base, 0});
    if (video < 0 && par.codec_type == AVMEDIA_TYPE_VIDEO) video = static_cast<int>(i);
  }
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    ++container.streams[packet->stream_index].packets;
    if (packet->stream_index == video)
      container.videoPackets.push_back(
          {packet->dts, packet->pts, packet->duration, (packet->flags & AV_PKT_FLAG_KEY) != 0});
    av_packet_unref(packet.get());
  }
  return container;
}

Pictures DecodeVideo(const std::string& path) {
  Pictures pictures;
  Input input = Open(path);
  if (!input) return pictures;
  const AVCodec* codec = nullptr;
  const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (video < 0) return pictures;
  std::unique_ptr<AVCodecContext, CodecFree> decoder(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(decoder.get(), input->streams[video]->codecpar);
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return pictures;
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == video && avcodec_send_packet(decoder.get(), packet.get()) == 0)
      Receive(decoder.get(), frame.get(), pictures);
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(decoder.get(), nullptr);
  Receive(decoder.get(), frame.get(), pictures);
  return pictures;
}

}  // namespace mp4_test
