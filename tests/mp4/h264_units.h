// Splits a raw H.264 byte stream, as the ffmpeg tool writes it, into what a
// caller of the MP4 writer hands over: the first SPS and PPS, then one access
// unit per picture made of its slices, each behind a 4-byte start code.
#pragma once

#include <cstdint>
#include <vector>

namespace mp4_test {

using Bytes = std::vector<uint8_t>;

struct H264Units {
  Bytes sps;  // with its 4-byte start code
  Bytes pps;
  std::vector<Bytes> accessUnits;
};

H264Units SplitAnnexB(const Bytes& stream);
// The NAL unit without its start code.
Bytes WithoutStartCode(const Bytes& nal);
// The first byte after the start code of an access unit.
uint8_t NalHeader(const Bytes& accessUnit);

}  // namespace mp4_test
