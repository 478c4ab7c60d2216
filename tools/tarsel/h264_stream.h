// An H.264 Annex-B byte stream read from a file piece by piece and cut into
// access units, as the MP4 writer takes them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

enum NalType : int {
  kSlice = 1,
  kIdrSlice = 5,
  kSei = 6,
  kSps = 7,
  kPps = 8,
  kAccessUnitDelimiter = 9,
};

inline int TypeOf(const std::vector<uint8_t>& nal) { return nal.empty() ? 0 : nal[0] & 0x1F; }
// Slice types 1 and 6 are B slices.
bool IsBSlice(const std::vector<uint8_t>& nal);

// The NAL units of a file, without their start codes.
class NalReader {
 public:
  // A file that does not start with a start code is refused.
  explicit NalReader(const std::string& path);
  ~NalReader();
  NalReader(const NalReader&) = delete;
  NalReader& operator=(const NalReader&) = delete;
  // False at the end of the file.
  bool Next(std::vector<uint8_t>& nal);

 private:
  bool Fill();
  size_t FindStartCode(size_t from) const;

  std::string path_;
  std::FILE* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  size_t position_ = 0;
  bool end_ = false;
};

// One coded picture: its NAL units in stream order.
struct AccessUnit {
  std::vector<std::vector<uint8_t>> nals;
  bool HasVcl() const;
  bool IsIdr() const;
  bool HasBSlice() const;
};

// Groups NAL units into access units: a new one starts with a delimiter, with a
// parameter set or SEI after a picture's slices, or with the first slice of the
// next picture.
class AccessUnitReader {
 public:
  explicit AccessUnitReader(const std::string& path) : nals_(path) {}
  bool Next(AccessUnit& unit);

 private:
  NalReader nals_;
  std::vector<uint8_t> pending_;
  bool havePending_ = false;
};

}  // namespace tool
