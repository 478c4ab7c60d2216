#include "h264_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common.h"

namespace tool {
namespace {

constexpr size_t kChunk = 1 << 20;
constexpr size_t kLargestNal = 256u << 20;

bool IsVcl(int type) { return type >= kSlice && type <= kIdrSlice; }

// The bits of a NAL unit's first bytes, emulation prevention bytes removed.
class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& nal) {
    for (size_t i = 1; i < nal.size() && bytes_.size() < 16; ++i) {
      if (i >= 3 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
      bytes_.push_back(nal[i]);
    }
  }
  // An unsigned Exp-Golomb number; -1 when the bits run out.
  long Ue() {
    int zeros = 0;
    while (Bit() == 0) {
      if (++zeros > 31 || bit_ >= bytes_.size() * 8) return -1;
    }
    long value = 1;
    for (int i = 0; i < zeros; ++i) value = value << 1 | Bit();
    return value - 1;
  }

 private:
  int Bit() {
    if (bit_ >= bytes_.size() * 8) return 0;
    const int value = bytes_[bit_ / 8] >> (7 - bit_ % 8) & 1;
    ++bit_;
    return value;
  }
  std::vector<uint8_t> bytes_;
  size_t bit_ = 0;
};

// first_mb_in_slice is 0 exactly when the slice header starts with a 1 bit.
bool StartsPicture(const std::vector<uint8_t>& nal) { return nal.size() > 1 && (nal[1] & 0x80); }

}  // namespace

bool IsBSlice(const std::vector<uint8_t>& nal) {
  if (!IsVcl(TypeOf(nal))) return false;
  BitReader bits(nal);
  bits.Ue();  // first_mb_in_slice
  const long sliceType = bits.Ue();
  return sliceType == 1 || sliceType == 6;
}

NalReader::NalReader(const std::string& path) : path_(path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) throw Failure(About(path, std::strerror(errno)));
  Fill();
  size_t zeros = 0;
  while (zeros < buffer_.size() && buffer_[zeros] == 0) ++zeros;
  if (zeros < 2 || zeros >= buffer_.size() || buffer_[zeros] != 1) {
    std::fclose(file_);
    throw Failure(About(path, "not an H.264 Annex-B stream (it does not begin with a start code)"));
  }
}

NalReader::~NalReader() { std::fclose(file_); }

bool NalReader::Fill() {
  if (end_) return false;
  // Drop what has been handed out already.
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(position_));
  position_ = 0;
  const size_t used = buffer_.size();
  buffer_.resize(used + kChunk);
  const size_t got = std::fread(buffer_.data() + used, 1, kChunk, file_);
  buffer_.resize(used + got);
  if (got < kChunk) {
    if (std::ferror(file_)) throw Failure(About(path_, std::strerror(errno)));
    end_ = true;
  }
  return got > 0;
}

// The offset of the first 00 00 01 at or after `from`, or npos.
size_t NalReader::FindStartCode(size_t from) const {
  for (size_t i = from; i + 2 < buffer_.size(); ++i) {
    if (buffer_[i + 2] > 1) {
      i += 2;
    } else if (buffer_[i] == 0 && buffer_[i + 1] == 0 && buffer_[i + 2] == 1) {
      return i;
    }
  }
  return std::string::npos;
}

bool NalReader::Next(std::vector<uint8_t>& nal) {
  size_t start;
  while ((start = FindStartCode(position_)) == std::string::npos) {
    // Keep two bytes: a start code may straddle two chunks.
    if (buffer_.size() > position_ + 2) position_ = buffer_.size() - 2;
    if (!Fill()) return false;
  }
  // From here on offsets count from the start code, which Fill keeps at position_.
  position_ = start;
  size_t searched = 3;
  size_t next;
  while ((next = FindStartCode(position_ + searched)) == std::string::npos) {
    if (buffer_.size() - position_ > kLargestNal) {
      throw Failure(About(path_, "a NAL unit larger than 256 MB; is this an H.264 stream?"));
    }
    searched = std::max<size_t>(3, buffer_.size() - position_ - 2);
    if (!Fill()) break;
  }
  size_t end = next == std::string::npos ? buffer_.size() : next;
  // The zero bytes before a start code belong to it (or are trailing padding).
  while (end > position_ + 3 && buffer_[end - 1] == 0) --end;
  nal.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(position_ + 3),
             buffer_.begin() + static_cast<std::ptrdiff_t>(end));
  position_ = end;
  return true;
}

bool AccessUnit::HasVcl() const {
  for (const auto& nal : nals) {
    if (IsVcl(TypeOf(nal))) return true;
  }
  return false;
}

bool AccessUnit::IsIdr() const {
  for (const auto& nal : nals) {
    if (TypeOf(nal) == kIdrSlice) return true;
  }
  return false;
}

bool AccessUnit::HasBSlice() const {
  for (const auto& nal : nals) {
    if (IsBSlice(nal)) return true;
  }
  return false;
}

bool AccessUnitReader::Next(AccessUnit& unit) {
  unit.nals.clear();
  std::vector<uint8_t> nal;
  while (havePending_ || nals_.Next(nal)) {
    if (havePending_) {
      nal.swap(pending_);
      havePending_ = false;
    }
    if (nal.empty()) continue;
    const int type = TypeOf(nal);
    const bool opensUnit = type == kAccessUnitDelimiter || type == kSei || type == kSps ||
                           type == kPps || (type >= 14 && type <= 18) ||
                           (IsVcl(type) && StartsPicture(nal));
    if (opensUnit && unit.HasVcl()) {
      pending_.swap(nal);
      havePending_ = true;
      return true;
    }
    unit.nals.push_back(std::move(nal));
    nal.clear();
  }
  return !unit.nals.empty();
}

}  // namespace tool
