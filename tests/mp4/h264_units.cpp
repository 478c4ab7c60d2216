#include "mp4/h264_units.h"

#include <cstddef>

namespace mp4_test {
namespace {

constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
constexpr int kSps = 7;
constexpr int kPps = 8;
constexpr int kIdrSlice = 5;
constexpr int kSlice = 1;

// The NAL units of the stream, without their 3- or 4-byte start codes.
std::vector<Bytes> NalUnits(const Bytes& stream) {
  std::vector<std::size_t> starts;  // first byte after each start code
  for (std::size_t i = 0; i + 3 <= stream.size(); ++i)
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) starts.push_back(i + 3);
  std::vector<Bytes> units;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : stream.size();
    while (end > starts[k] && stream[end - 1] == 0) --end;  // the zero of a 4-byte start code
    units.emplace_back(stream.begin() + starts[k], stream.begin() + end);
  }
  return units;
}

Bytes WithStartCode(const Bytes& nal) {
  Bytes coded(std::begin(kStartCode), std::end(kStartCode));
  coded.insert(coded.end(), nal.begin(), nal.end());
  return coded;
}

// first_mb_in_slice is the first ue(v) of the slice header: 0 is the single bit 1.
bool StartsPicture(const Bytes& slice) { return slice.size() > 1 && (slice[1] & 0x80) != 0; }

}  // namespace

H264Units SplitAnnexB(const Bytes& stream) {
  H264Units units;
  for (const Bytes& nal : NalUnits(stream)) {
    if (nal.empty()) continue;
    const int type = nal[0] & 0x1f;
    if (type == kSps && units.sps.empty()) units.sps = WithStartCode(nal);
    if (type == kPps && units.pps.empty()) units.pps = WithStartCode(nal);
    if (type != kIdrSlice && type != kSlice) continue;  // parameter sets, SEI
    if (StartsPicture(nal) || units.accessUnits.empty()) units.accessUnits.emplace_back();
    const Bytes coded = WithStartCode(nal);
    units.accessUnits.back().insert(units.accessUnits.back().end(), coded.begin(), coded.end());
  }
  return units;
}

Bytes WithoutStartCode(const Bytes& nal) { return Bytes(nal.begin() + 4, nal.end()); }

uint8_t NalHeader(const Bytes& accessUnit) { return accessUnit.at(4); }

}  // namespace mp4_test
