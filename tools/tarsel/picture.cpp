#include "picture.h"

#include <spng.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common.h"

namespace tool {
namespace {

// How much of each source pixel an output pixel covers: output pixel i of n
// spans [i, i + 1) * sourceSize / n in source pixels.
struct Coverage {
  int first;                   // first source pixel touched
  std::vector<float> weights;  // for first, first + 1, ...; they add up to 1
};
std::vector<Coverage> Coverages(int sourceSize, int size) {
  std::vector<Coverage> coverages(size);
  const double step = double(sourceSize) / size;
  for (int i = 0; i < size; ++i) {
    const double begin = i * step, end = std::min<double>(sourceSize, (i + 1) * step);
    Coverage& c = coverages[i];
    c.first = std::min(sourceSize - 1, static_cast<int>(begin));
    for (int s = c.first; s < sourceSize && s < end; ++s) {
      const double overlap = std::min<double>(s + 1, end) - std::max<double>(s, begin);
      c.weights.push_back(static_cast<float>(std::max(0.0, overlap) / (end - begin)));
    }
    if (c.weights.empty()) c.weights.push_back(1);
  }
  return coverages;
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct SpngFree {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

}  // namespace

Picture::Picture(int w, int h, Bgr fill) : width(w), height(h) {
  pixels.resize(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = fill.b;
    pixels[i + 1] = fill.g;
    pixels[i + 2] = fill.r;
  }
}

Picture Scale(const Picture& source, int width, int height) {
  const auto columns = Coverages(source.width, width);
  const auto rows = Coverages(source.height, height);
  // Rows first, into floats; then columns.
  std::vector<float> narrow(static_cast<size_t>(source.height) * width * 3);
  for (int y = 0; y < source.height; ++y) {
    const uint8_t* line = source.row(y);
    float* target = &narrow[static_cast<size_t>(y) * width * 3];
    for (int x = 0; x < width; ++x) {
      const Coverage& c = columns[x];
      for (size_t k = 0; k < c.weights.size(); ++k) {
        for (int channel = 0; channel < 3; ++channel) {
          target[x * 3 + channel] += c.weights[k] * line[(c.first + k) * 3 + channel];
        }
      }
    }
  }
  Picture out(width, height);
  std::vector<float> sums(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    std::fill(sums.begin(), sums.end(), 0.f);
    const Coverage& c = rows[y];
    for (size_t k = 0; k < c.weights.size(); ++k) {
      const float* line = &narrow[(c.first + k) * width * 3];
      for (size_t i = 0; i < sums.size(); ++i) sums[i] += c.weights[k] * line[i];
    }
    uint8_t* target = out.row(y);
    for (size_t i = 0; i < sums.size(); ++i) {
      target[i] = static_cast<uint8_t>(std::min(255.f, sums[i] + 0.5f));
    }
  }
  return out;
}

void Place(Picture& canvas, const Picture& tile, int x, int y) {
  const int left = std::max(0, -x), right = std::min(tile.width, canvas.width - x);
  if (left >= right) return;
  for (int ty = std::max(0, -y); ty < tile.height && y + ty < canvas.height; ++ty) {
    std::memcpy(canvas.row(y + ty) + (x + left) * 3, tile.row(ty) + left * 3,
                static_cast<size_t>(right - left) * 3);
  }
}

void FillRect(Picture& canvas, int x, int y, int width, int height, Bgr colour) {
  for (int py = std::max(0, y); py < std::min(canvas.height, y + height); ++py) {
    uint8_t* line = canvas.row(py);
    for (int px = std::max(0, x); px < std::min(canvas.width, x + width); ++px) {
      line[px * 3] = colour.b;
      line[px * 3 + 1] = colour.g;
      line[px * 3 + 2] = colour.r;
    }
  }
}

void WriteWholeFile(const std::string& path, const void* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw Failure(About(path, std::strerror(errno)));
  const bool written = std::fwrite(data, 1, size, file) == size;
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    throw Failure(About(path, std::strerror(written ? errno : writeError)));
  }
}

void WritePng(const std::string& path, const Picture& picture) {
  std::vector<uint8_t> rgb(picture.pixels.size());
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = picture.pixels[i + 2];
    rgb[i + 1] = picture.pixels[i + 1];
    rgb[i + 2] = picture.pixels[i];
  }
  std::unique_ptr<spng_ctx, SpngFree> context(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!context) throw Failure(About(path, "out of memory"));
  spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr header{};
  header.width = static_cast<uint32_t>(picture.width);
  header.height = static_cast<uint32_t>(picture.height);
  header.bit_depth = 8;
  header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  int error = spng_set_ihdr(context.get(), &header);
  if (!error) {
    error = spng_encode_image(context.get(), rgb.data(), rgb.size(), SPNG_FMT_PNG,
                              SPNG_ENCODE_FINALIZE);
  }
  size_t size = 0;
  std::unique_ptr<void, decltype(&std::free)> png(
      error ? nullptr : spng_get_png_buffer(context.get(), &size, &error), &std::free);
  if (error || !png) throw Failure(About(path, std::string("PNG: ") + spng_strerror(error)));
  WriteWholeFile(path, png.get(), size);
}

// 24-bit bottom-up bitmap, rows padded to four bytes.
void WriteBmp(const std::string& path, const Picture& picture) {
  const uint32_t rowBytes = (static_cast<uint32_t>(picture.width) * 3 + 3) & ~3u;
  const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(picture.height);
  std::vector<uint8_t> file = {'B', 'M'};
  file.reserve(54 + imageBytes);
  PutLe(file, 54 + imageBytes, 4);
  PutLe(file, 0, 4);
  PutLe(file, 54, 4);
  PutLe(file, 40, 4);
  PutLe(file, static_cast<uint32_t>(picture.width), 4);
  PutLe(file, static_cast<uint32_t>(picture.height), 4);
  PutLe(file, 1, 2);
  PutLe(file, 24, 2);
  PutLe(file, 0, 4);  // no compression
  PutLe(file, imageBytes, 4);
  PutLe(file, 2835, 4);  // 72 dots per inch
  PutLe(file, 2835, 4);
  PutLe(file, 0, 4);
  PutLe(file, 0, 4);
  for (int y = picture.height - 1; y >= 0; --y) {
    const uint8_t* line = picture.row(y);
    file.insert(file.end(), line, line + picture.stride());
    file.resize(file.size() + (rowBytes - static_cast<uint32_t>(picture.stride())), 0);
  }
  WriteWholeFile(path, file.data(), file.size());
}

}  // namespace tool
