// The pixel converters on arbitrary codes and small sizes (or, when the third
// byte asks, any 32-bit sizes), converting pictures taken from the rest of the
// input between buffers of exactly the pictures' size.
#include <cstdint>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "fuzz_input.h"
#include "tarsel.h"

namespace {

// FFmpeg's formats of the layout codes 1 to 8, which give the pictures' sizes.
const AVPixelFormat kFormats[] = {AV_PIX_FMT_BGR24,   AV_PIX_FMT_BGRA,  AV_PIX_FMT_NV12,
                                  AV_PIX_FMT_YUYV422, AV_PIX_FMT_RGB24, AV_PIX_FMT_GRAY8,
                                  AV_PIX_FMT_YUV420P, AV_PIX_FMT_RGBA};
constexpr std::size_t kMaxPictureBytes = std::size_t{4} << 20;

// A picture of the layout filled from the input (repeated), or 0 bytes when
// the layout or size has none.
tarsel_fuzz::Exact Picture(AVPixelFormat format, int32_t width, int32_t height,
                           tarsel_fuzz::Fields& fields) {
  const int size =
      width > 0 && height > 0 ? av_image_get_buffer_size(format, width, height, 1) : -1;
  if (size <= 0 || static_cast<std::size_t>(size) > kMaxPictureBytes) return tarsel_fuzz::Exact(0);
  tarsel_fuzz::Exact picture(static_cast<std::size_t>(size));
  const std::size_t available = fields.RestSize();
  for (std::size_t i = 0; available && i < picture.size(); ++i)
    picture.data()[i] = fields.Rest()[i % available];
  return picture;
}

AVPixelFormat FormatOf(uint32_t code) {
  return code >= 1 && code <= 8 ? kFormats[code - 1] : AV_PIX_FMT_NONE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tarsel_fuzz::Fields fields(data, size);
  uint32_t source = fields.Byte();
  uint32_t destination = fields.Byte();
  const uint8_t choice = fields.Byte();
  int32_t width = static_cast<int32_t>(fields.Byte() % 40) - 2;
  int32_t height = static_cast<int32_t>(fields.Byte() % 40) - 2;
  if (choice & 0x80) {
    source = fields.Word();
    destination = fields.Word();
    width = static_cast<int32_t>(fields.Word());
    height = static_cast<int32_t>(fields.Word());
  }
  void* converter = nullptr;
  char error[200];
  if (PixConverter_Init(&converter, source, destination, width, height, error) != 0) return 0;
  const AVPixelFormat from = FormatOf(source), to = FormatOf(destination);
  auto in = Picture(from, width, height, fields);
  auto out = Picture(to, width, height, fields);
  if (in.size() && out.size()) {
    PixConverter_Convert(converter, in.data(), out.data(), error);
    PixConverter_Convert(converter, in.data(), out.data(), error);
  }
  if (choice & 1) {
    auto bgr = Picture(AV_PIX_FMT_BGR24, width, height, fields);
    auto bgra = Picture(AV_PIX_FMT_BGRA, width, height, fields);
    auto nv12 = Picture(AV_PIX_FMT_NV12, width, height, fields);
    if (bgr.size() && bgra.size() && nv12.size()) {
      ConverterNV12_ConvertBGR2NV12(converter, bgr.data(), nv12.data());
      ConverterNV12_ConvertBRGA2NV12(converter, bgra.data(), nv12.data());
      ConverterNV12_ConvertNV122BGR(converter, nv12.data(), bgr.data());
    }
  }
  (choice & 2) ? ConverterNV12_Clear(&converter) : PixConverter_Clear(&converter);
  return 0;
}
