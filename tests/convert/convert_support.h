// Helpers of the converter and decoder tests: pictures with guard bytes, the
// access units of a raw H.264 file, and libswscale's own conversion on padded
// buffers as the reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace convert_test {

// The caller's layout codes and FFmpeg's formats.
AVPixelFormat FormatOfCode(int code);
// Bytes of a tightly packed picture (alignment 1).
std::size_t PackedSize(AVPixelFormat format, int width, int height);

// A buffer of `size` bytes, starting `offset` bytes after a 64-byte boundary,
// with guard bytes around it that must stay untouched.
class GuardedBuffer {
 public:
  static constexpr std::size_t kGuard = 128;
  explicit GuardedBuffer(std::size_t size, std::size_t offset = 0);
  uint8_t* data() { return bytes_.data() + offset_; }
  std::size_t size() const { return size_; }
  std::vector<uint8_t> Contents() const;
  bool GuardIntact() const;

 private:
  std::size_t size_;
  std::size_t offset_;
  std::vector<uint8_t> bytes_;
};

// Deterministic noise.
std::vector<uint8_t> Noise(std::size_t size, uint32_t seed);

// libswscale, bicubic, source packed with spare bytes after it, destination rows
// padded to 64 bytes; the result packed. Empty when libswscale refuses.
std::optional<std::vector<uint8_t>> ReferenceConvert(AVPixelFormat source,
                                                     AVPixelFormat destination, int width,
                                                     int height,
                                                     const std::vector<uint8_t>& pixels);

// What a converter must give: the picture itself for the same layout on both
// sides; otherwise libswscale's result on padded buffers, with the last chroma
// row of YUYV422 to YUV420P at an odd height (which libswscale never writes)
// taken from the last source row. Empty when libswscale refuses.
std::optional<std::vector<uint8_t>> ExpectedConversion(AVPixelFormat source,
                                                       AVPixelFormat destination, int width,
                                                       int height,
                                                       const std::vector<uint8_t>& pixels);

// The access units of a raw H.264 file, as FFmpeg's parser splits them.
std::vector<std::vector<uint8_t>> ReadAccessUnits(const std::string& path);

}  // namespace convert_test
