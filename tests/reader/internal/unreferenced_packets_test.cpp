// Which H.264 packets the reader leaves unsent while seeking: only those whose
// every NAL unit the decoder would skip anyway. Anything malformed, referenced,
// or carrying SEI or new parameters is sent.
#include "ffmpeg/reader/unreferenced_packets.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "ffmpeg/common/av_ptr.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAvcc = {1, 0x64, 0, 0x1f, 0xff, 0xe1, 0};  // 4-byte lengths
const Bytes kAvcc2 = {1, 0x64, 0, 0x1f, 0xfd, 0xe1, 0};  // 2-byte lengths

bool Unreferenced(const Bytes& extradata, const Bytes& data, AVCodecID codec = AV_CODEC_ID_H264,
                  AVPacketSideDataType side = AV_PKT_DATA_NB) {
  AVCodecParameters parameters{};
  parameters.codec_id = codec;
  parameters.extradata = const_cast<uint8_t*>(extradata.data());
  parameters.extradata_size = static_cast<int>(extradata.size());
  tarsel::UnreferencedPackets packets;
  packets.Describe(parameters);
  tarsel::PacketPtr packet(av_packet_alloc());
  if (av_new_packet(packet.get(), static_cast<int>(data.size())) < 0) return false;
  if (!data.empty()) std::memcpy(packet->data, data.data(), data.size());
  if (side != AV_PKT_DATA_NB) av_packet_new_side_data(packet.get(), side, 4);
  return packets.Unreferenced(*packet);
}

TEST(UnreferencedPackets, OnlyWholePacketsOfSkippedUnitsAreLeftOut) {
  const struct {
    const char* what;
    Bytes extradata, data;
    bool unreferenced;
  } cases[] = {
      {"non-reference slice", kAvcc, {0, 0, 0, 3, 0x01, 0x9e, 0x61}, true},
      {"access unit delimiter and slice", kAvcc, {0, 0, 0, 2, 0x09, 0xf0, 0, 0, 0, 2, 0x01, 0x9e}, true},
      {"2-byte lengths", kAvcc2, {0, 2, 0x01, 0x9e, 0, 1, 0x01}, true},
      {"reference slice", kAvcc, {0, 0, 0, 3, 0x41, 0x9a, 0x24}, false},
      {"reference slice after a skipped one", kAvcc, {0, 0, 0, 2, 0x01, 0x9e, 0, 0, 0, 2, 0x21, 0x9a}, false},
      {"SEI", kAvcc, {0, 0, 0, 2, 0x06, 0x05, 0, 0, 0, 2, 0x01, 0x9e}, false},
      {"forbidden bit", kAvcc, {0, 0, 0, 2, 0x81, 0x9e}, false},
      {"length past the end", kAvcc, {0, 0, 0, 9, 0x01, 0x9e}, false},
      {"length cut short", kAvcc, {0, 0, 0, 2, 0x01, 0x9e, 0, 0}, false},
      {"zero length", kAvcc, {0, 0, 0, 0, 0, 0, 0, 2, 0x01, 0x9e}, false},
      {"avcC inside a packet", kAvcc, {1, 0x64, 0, 0x1f, 0xff, 0xe1, 0, 0x17, 0x67}, false},
      {"empty", kAvcc, {}, false},
      {"start codes", {}, {0, 0, 0, 1, 0x09, 0xf0, 0, 0, 1, 0x01, 0x9e, 0x61, 0, 0}, true},
      {"start codes, reference slice", {}, {0, 0, 0, 1, 0x09, 0xf0, 0, 0, 1, 0x41, 0x9a}, false},
      {"start codes, SEI", {}, {0, 0, 1, 0x06, 0x05, 0, 0, 1, 0x01, 0x9e}, false},
      {"start code at the very end", {}, {0, 0, 1, 0x01, 0x9e, 0, 0, 1}, false},
      {"bytes before the first start code", {}, {7, 0, 0, 1, 0x01, 0x9e}, false},
      {"no start code", {}, {0x01, 0x9e, 0x61}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Unreferenced(c.extradata, c.data), c.unreferenced);
  }
  const Bytes skipped = {0, 0, 0, 3, 0x01, 0x9e, 0x61};
  EXPECT_FALSE(Unreferenced(kAvcc, skipped, AV_CODEC_ID_HEVC));
  EXPECT_FALSE(Unreferenced(kAvcc, skipped, AV_CODEC_ID_H264, AV_PKT_DATA_NEW_EXTRADATA));
  EXPECT_FALSE(Unreferenced(kAvcc, skipped, AV_CODEC_ID_H264, AV_PKT_DATA_PARAM_CHANGE));
  EXPECT_TRUE(Unreferenced(kAvcc, skipped, AV_CODEC_ID_H264, AV_PKT_DATA_MPEGTS_STREAM_ID));
}

}  // namespace
