// Which packets hold only pictures that no other picture refers to, told from
// their NAL unit headers without decoding them. H.264 only; every other codec
// is left to the decoder's own skip_frame.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tarsel {

class UnreferencedPackets {
 public:
  // Reads the stream's NAL unit form from its codec parameters: the length
  // size of avcC extradata, or start codes.
  void Describe(const AVCodecParameters& parameters);

  // True only when every NAL unit of the packet is present in whole and has
  // nal_ref_idc 0, none of them is SEI, and the packet carries no new
  // extradata or parameter change:
  // such a packet changes nothing in a decoder that skips non-reference
  // pictures, so it need not be sent at all.
  bool Unreferenced(const AVPacket& packet) const;

 private:
  bool h264_ = false;
  int lengthSize_ = 0;  // 0: start codes
};

}  // namespace tarsel
