// What the fuzz targets share: reading fields off the front of an input,
// cutting a byte stream into H.264 units or ADTS frames, buffers of exactly
// the size a call may touch (so the address sanitizer sees any byte beyond),
// and input written to a temporary file for the readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace tarsel_fuzz {

// Fields taken off the front of the input; past its end every field reads 0.
class Fields {
 public:
  Fields(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
  }
  const uint8_t* Rest() const { return data_ + at_; }
  std::size_t RestSize() const { return at_ < size_ ? size_ - at_ : 0; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A block of exactly `size` bytes that ends where readable memory ends: the
// page after it is inaccessible. The address sanitizer sees only what the
// library's own code reads; FFmpeg is not instrumented, so a read past a
// caller's buffer inside FFmpeg shows only as a fault on that page.
class Exact {
 public:
  explicit Exact(std::size_t size, uint8_t fill = 0) : size_(size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    readable_ = (size + page - 1) / page * page;
    mapping_ = mmap(nullptr, readable_ + page, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping_ == MAP_FAILED) std::abort();
    mprotect(static_cast<uint8_t*>(mapping_) + readable_, page, PROT_NONE);
    bytes_ = static_cast<uint8_t*>(mapping_) + readable_ - size;
    if (size) std::memset(bytes_, fill, size);
  }
  Exact(const uint8_t* data, std::size_t size) : Exact(size) {
    if (size) std::memcpy(bytes_, data, size);
  }
  ~Exact() {
    if (mapping_) munmap(mapping_, readable_ + static_cast<std::size_t>(sysconf(_SC_PAGESIZE)));
  }
  Exact(Exact&& other) noexcept
      : mapping_(std::exchange(other.mapping_, nullptr)),
        bytes_(other.bytes_),
        size_(other.size_),
        readable_(other.readable_) {}
  Exact& operator=(Exact&&) = delete;
  // A zero-size block still has an address: the inaccessible page itself.
  uint8_t* data() { return bytes_; }
  std::size_t size() const { return size_; }

 private:
  void* mapping_ = nullptr;
  uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t readable_ = 0;
};

// Positions of Annex-B start codes (00 00 01, with a preceding 00 counted in).
inline std::vector<std::size_t> StartCodes(const uint8_t* data, std::size_t size) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 2 < size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      starts.push_back(i > 0 && data[i - 1] == 0 ? i - 1 : i);
      i += 2;
    }
  }
  return starts;
}

// The stream cut before every start code (bytes before the first one, if
// any, form a unit of their own).
inline std::vector<std::vector<uint8_t>> NalUnits(const uint8_t* data, std::size_t size) {
  std::vector<std::size_t> cuts = StartCodes(data, size);
  if (cuts.empty() || cuts.front() != 0) cuts.insert(cuts.begin(), 0);
  cuts.push_back(size);
  std::vector<std::vector<uint8_t>> units;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
    if (cuts[i + 1] > cuts[i]) units.emplace_back(data + cuts[i], data + cuts[i + 1]);
  return units;
}

// The NAL unit type of a unit that starts with a start code; -1 otherwise.
inline int NalType(const std::vector<uint8_t>& unit) {
  const std::size_t header = unit.size() > 3 && unit[2] == 1 ? 3 : 4;
  if (unit.size() <= header || unit[header - 1] != 1) return -1;
  return unit[header] & 0x1F;
}

// The stream cut before every ADTS sync word.
inline std::vector<std::vector<uint8_t>> AdtsFrames(const uint8_t* data, std::size_t size) {
  std::vector<std::size_t> cuts{0};
  for (std::size_t i = 1; i + 1 < size; ++i)
    if (data[i] == 0xFF && (data[i + 1] & 0xF6) == 0xF0) cuts.push_back(i);
  cuts.push_back(size);
  std::vector<std::vector<uint8_t>> frames;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
    if (cuts[i + 1] > cuts[i]) frames.emplace_back(data + cuts[i], data + cuts[i + 1]);
  return frames;
}

// A file in TMPDIR (or /tmp) named after this process, removed when it dies.
class TemporaryFile {
 public:
  explicit TemporaryFile(const char* suffix) {
    const char* folder = std::getenv("TMPDIR");
    path_ = std::string(folder && *folder ? folder : "/tmp") + "/tarsel_fuzz_" +
            std::to_string(getpid()) + suffix;
  }
  ~TemporaryFile() { std::remove(path_.c_str()); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const char* path() const { return path_.c_str(); }
  bool Write(const uint8_t* data, std::size_t size) const {
    FILE* file = std::fopen(path_.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
  }

 private:
  std::string path_;
};

}  // namespace tarsel_fuzz
