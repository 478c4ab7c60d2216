#include "convert_support.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace convert_test {

AVPixelFormat FormatOfCode(int code) {
  static const AVPixelFormat kFormats[] = {AV_PIX_FMT_NONE,  AV_PIX_FMT_BGR24,   AV_PIX_FMT_BGRA,
                                           AV_PIX_FMT_NV12,  AV_PIX_FMT_YUYV422, AV_PIX_FMT_RGB24,
                                           AV_PIX_FMT_GRAY8, AV_PIX_FMT_YUV420P, AV_PIX_FMT_RGBA};
  return code >= 1 && code <= 8 ? kFormats[code] : AV_PIX_FMT_NONE;
}

std::size_t PackedSize(AVPixelFormat format, int width, int height) {
  return static_cast<std::size_t>(av_image_get_buffer_size(format, width, height, 1));
}

namespace {
constexpr uint8_t kGuardByte = 0xA5;
}

GuardedBuffer::GuardedBuffer(std::size_t size, std::size_t offset)
    : size_(size), bytes_(64 + offset + size + kGuard, kGuardByte) {
  // Offsets count from a 64-byte boundary.
  const auto start = reinterpret_cast<uintptr_t>(bytes_.data());
  offset_ = (64 - start % 64) % 64 + offset;
}

std::vector<uint8_t> GuardedBuffer::Contents() const {
  return std::vector<uint8_t>(bytes_.begin() + offset_, bytes_.begin() + offset_ + size_);
}

bool GuardedBuffer::GuardIntact() const {
  for (std::size_t i = offset_ + size_; i < bytes_.size(); ++i)
    if (bytes_[i] != kGuardByte) return false;
  for (std::size_t i = 0; i < offset_; ++i)
    if (bytes_[i] != kGuardByte) return false;
  return true;
}

std::vector<uint8_t> Noise(std::size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

std::optional<std::vector<uint8_t>> ReferenceConvert(AVPixelFormat source,
                                                     AVPixelFormat destination, int width,
                                                     int height,
                                                     const std::vector<uint8_t>& pixels) {
  SwsContext* scaler = sws_getContext(width, height, source, width, height, destination,
                                      SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!scaler) return std::nullopt;
  std::vector<uint8_t> padded_source(pixels);
  padded_source.resize(pixels.size() + 1024);
  uint8_t* source_planes[4];
  int source_pitches[4];
  av_image_fill_arrays(source_planes, source_pitches, padded_source.data(), source, width, height,
                       1);
  uint8_t* padded_output = nullptr;
  uint8_t* output_planes[4];
  int output_pitches[4];
  // av_image_alloc pads every row to the alignment; the extra rows give spare bytes.
  const int padded_size =
      av_image_alloc(output_planes, output_pitches, width, height + 8, destination, 64);
  padded_output = output_planes[0];
  std::memset(padded_output, 0, static_cast<std::size_t>(padded_size));
  const int rows =
      sws_scale(scaler, source_planes, source_pitches, 0, height, output_planes, output_pitches);
  sws_freeContext(scaler);
  std::optional<std::vector<uint8_t>> result;
  if (rows == height) {
    std::vector<uint8_t> packed(PackedSize(destination, width, height));
    av_image_copy_to_buffer(packed.data(), static_cast<int>(packed.size()), output_planes,
                            output_pitches, destination, width, height, 1);
    result = std::move(packed);
  }
  av_freep(&padded_output);
  return result;
}

std::optional<std::vector<uint8_t>> ExpectedConversion(AVPixelFormat source,
                                                       AVPixelFormat destination, int width,
                                                       int height,
                                                       const std::vector<uint8_t>& pixels) {
  if (source == destination) return pixels;
  auto expected = ReferenceConvert(source, destination, width, height, pixels);
  if (expected && source == AV_PIX_FMT_YUYV422 && destination == AV_PIX_FMT_YUV420P &&
      height % 2 == 1) {
    const std::size_t chroma_width = (width + 1) / 2;
    const std::size_t chroma_plane = chroma_width * ((height + 1) / 2);
    const uint8_t* last_row = pixels.data() + (height - 1) * 4 * chroma_width;
    uint8_t* u =
        expected->data() + static_cast<std::size_t>(width) * height + chroma_plane - chroma_width;
    uint8_t* v = u + chroma_plane;
    for (std::size_t i = 0; i < chroma_width; ++i) {
      u[i] = last_row[4 * i + 1];
      v[i] = last_row[4 * i + 3];
    }
  }
  return expected;
}

std::vector<std::vector<uint8_t>> ReadAccessUnits(const std::string& path) {
  std::vector<std::vector<uint8_t>> units;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), av_find_input_format("h264"), nullptr) < 0)
    return units;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input, packet) >= 0) {
    units.emplace_back(packet->data, packet->data + packet->size);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
  return units;
}

}  // namespace convert_test
