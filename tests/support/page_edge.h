// Memory that ends at an inaccessible page, for tests of reads past the end of
// a caller's buffer: a library reading one byte too far ends the test program
// at once, in every build, on Linux and on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarsel_test {

class PageEdge {
 public:
  // Room for `capacity` bytes before the inaccessible page.
  explicit PageEdge(std::size_t capacity);
  ~PageEdge();
  PageEdge(const PageEdge&) = delete;
  PageEdge& operator=(const PageEdge&) = delete;
  // A copy of bytes (at most capacity) whose last byte is the last readable one.
  uint8_t* Place(const std::vector<uint8_t>& bytes);

 private:
  uint8_t* base_ = nullptr;
  std::size_t readable_ = 0;  // whole pages
  std::size_t total_ = 0;     // with the inaccessible page
};

}  // namespace tarsel_test
