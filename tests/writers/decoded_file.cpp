#include "decoded_file.h"

#include <cstdlib>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace writers_test {
namespace {

struct Input {
  AVFormatContext* context = nullptr;
  ~Input() { avformat_close_input(&context); }
};
struct Decoder {
  AVCodecContext* context = nullptr;
  ~Decoder() { avcodec_free_context(&context); }
};
struct Scratch {
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwsContext* scaler = nullptr;
  ~Scratch() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    sws_freeContext(scaler);
  }
};

void KeepPicture(const AVFrame* frame, AVRational timeBase, Scratch& scratch, DecodedFile& file) {
  const int64_t pts = frame->best_effort_timestamp;
  file.seconds.push_back(pts == AV_NOPTS_VALUE ? -1.0 : pts * av_q2d(timeBase));
  scratch.scaler = sws_getCachedContext(
      scratch.scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
      frame->width, frame->height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  // Spare bytes past the end: swscale may write a little beyond the last row.
  std::vector<uint8_t> picture(static_cast<size_t>(frame->width) * frame->height * 3 + 64);
  uint8_t* planes[4] = {picture.data(), nullptr, nullptr, nullptr};
  int pitches[4] = {frame->width * 3, 0, 0, 0};
  sws_scale(scratch.scaler, frame->data, frame->linesize, 0, frame->height, planes, pitches);
  picture.resize(picture.size() - 64);
  file.pictures.push_back(std::move(picture));
}

void ReceivePictures(AVCodecContext* decoder, AVRational timeBase, Scratch& scratch,
                     DecodedFile& file) {
  for (;;) {
    const int result = avcodec_receive_frame(decoder, scratch.frame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    if (result < 0) {
      ++file.decodeErrors;
      return;
    }
    KeepPicture(scratch.frame, timeBase, scratch, file);
    av_frame_unref(scratch.frame);
  }
}

}  // namespace

DecodedFile DecodeFile(const std::string& path) {
  DecodedFile file;
  Input input;
  if (avformat_open_input(&input.context, path.c_str(), nullptr, nullptr) < 0) return file;
  if (avformat_find_stream_info(input.context, nullptr) < 0) return file;
  file.container = input.context->iformat->name;
  file.streams = static_cast<int>(input.context->nb_streams);
  const int index = av_find_best_stream(input.context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return file;
  const AVStream* stream = input.context->streams[index];
  file.codec = avcodec_get_name(stream->codecpar->codec_id);
  file.codecTag = stream->codecpar->codec_tag;
  file.width = stream->codecpar->width;
  file.height = stream->codecpar->height;
  file.timeBase = stream->time_base;
  file.averageRate = stream->avg_frame_rate;

  Decoder decoder;
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return file;
  decoder.context = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(decoder.context, stream->codecpar);
  if (avcodec_open2(decoder.context, codec, nullptr) < 0) return file;
  file.opened = true;

  Scratch scratch;
  while (av_read_frame(input.context, scratch.packet) >= 0) {
    if (scratch.packet->stream_index == index) {
      file.packetBytes += scratch.packet->size;
      if (avcodec_send_packet(decoder.context, scratch.packet) < 0) ++file.decodeErrors;
      ReceivePictures(decoder.context, stream->time_base, scratch, file);
    }
    av_packet_unref(scratch.packet);
  }
  avcodec_send_packet(decoder.context, nullptr);
  ReceivePictures(decoder.context, stream->time_base, scratch, file);
  return file;
}

int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 255;
  int largest = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int difference = std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    if (difference > largest) largest = difference;
  }
  return largest;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 255.0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
  return sum / static_cast<double>(a.size());
}

}  // namespace writers_test
