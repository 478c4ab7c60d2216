// Pictures as the library hands them out (BGR24, rows of 3 x width bytes, top
// row first) and what the tool does with them: scale, compose, store as PNG or
// BMP.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

struct Bgr {
  uint8_t b, g, r;
};

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // BGR24, rows of stride() bytes

  Picture() = default;
  Picture(int width, int height, Bgr fill = {0, 0, 0});
  int stride() const { return width * 3; }
  uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * stride(); }
  const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * stride(); }
};

// The picture at another size: each output pixel is the mean of the source
// area it covers, partly covered pixels weighed by their share.
Picture Scale(const Picture& source, int width, int height);
// Copies `tile` into `canvas` with its top left corner at (x, y), clipped.
void Place(Picture& canvas, const Picture& tile, int x, int y);
void FillRect(Picture& canvas, int x, int y, int width, int height, Bgr colour);

// Store a picture; a file that cannot be written is a Failure naming it.
void WritePng(const std::string& path, const Picture& picture);
void WriteBmp(const std::string& path, const Picture& picture);
// Writes bytes to a file, all or a Failure.
void WriteWholeFile(const std::string& path, const void* data, size_t size);

}  // namespace tool
