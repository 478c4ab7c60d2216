#include "ffmpeg/reader/unreferenced_packets.h"

#include <cstdint>

namespace tarsel {
namespace {

constexpr int kSeiType = 6;

// A NAL unit header byte the decoder skips with the picture: no reference
// (nal_ref_idc 0), forbidden bit clear, and not SEI, which the decoder reads
// even from pictures it skips.
bool Skippable(uint8_t header) { return (header & 0xe0) == 0 && (header & 0x1f) != kSeiType; }

bool UnreferencedWithLengths(const uint8_t* data, int64_t size, int lengthSize) {
  bool any = false;
  while (size > 0) {
    if (size < lengthSize) return false;
    uint32_t length = 0;
    for (int i = 0; i < lengthSize; ++i) length = length << 8 | data[i];
    data += lengthSize;
    size -= lengthSize;
    if (length == 0 || length > size || !Skippable(data[0])) return false;
    any = true;
    data += length;
    size -= length;
  }
  return any;
}

bool UnreferencedWithStartCodes(const uint8_t* data, int64_t size) {
  bool any = false;
  int zeros = 0;
  bool atStart = true;  // only zero bytes so far
  for (int64_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    if (byte == 1 && zeros >= 2) {
      if (i + 1 >= size || !Skippable(data[i + 1])) return false;
      any = true;
      atStart = false;
    } else if (byte != 0 && atStart) {
      return false;  // bytes before the first start code
    }
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return any;
}

// Side data a decoder takes from any packet it is sent, picture or not.
bool ChangesTheDecoder(const AVPacket& packet) {
  for (int i = 0; i < packet.side_data_elems; ++i) {
    const AVPacketSideDataType type = packet.side_data[i].type;
    if (type == AV_PKT_DATA_NEW_EXTRADATA || type == AV_PKT_DATA_PARAM_CHANGE) return true;
  }
  return false;
}

}  // namespace

void UnreferencedPackets::Describe(const AVCodecParameters& parameters) {
  h264_ = parameters.codec_id == AV_CODEC_ID_H264;
  lengthSize_ = 0;
  // avcC: version 1, then profile, compatibility and level, then the length size.
  if (parameters.extradata_size >= 7 && parameters.extradata[0] == 1)
    lengthSize_ = (parameters.extradata[4] & 3) + 1;
}

bool UnreferencedPackets::Unreferenced(const AVPacket& packet) const {
  if (!h264_ || !packet.data || packet.size <= 0 || ChangesTheDecoder(packet)) return false;
  return lengthSize_ ? UnreferencedWithLengths(packet.data, packet.size, lengthSize_)
                     : UnreferencedWithStartCodes(packet.data, packet.size);
}

}  // namespace tarsel
