// The reader's decoding: video packets from the input sent to the decoder,
// pictures received in display order, the decoder drained at the end of input
// and flushed on every seek. Each picture comes with the timestamp it is
// numbered by.
#pragma once

#include <cstdint>
#include <vector>

#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/reader/unreferenced_packets.h"
#include "ffmpeg/reader/video_input.h"

namespace tarsel {

class DecodeLoop {
 public:
  enum class Pull { kPicture, kEnd, kFailed };

  // Opens a decoder for the input's video stream. Raises the reader's messages.
  void Open(VideoInput& input, bool live, DictionaryPtr options);
  // Inputs whose packets lack presentation times (AVI) number pictures by
  // display slot: each packet is one slot, and pictures leave the decoder in
  // display order, so each picture takes the earliest slot not yet taken.
  void NumberBySlots(bool on) { bySlots_ = on; }

  // The next picture. Pictures before skipBefore (a presentation time) that no
  // other picture refers to may be left undecoded.
  Pull Next(int64_t skipBefore = AV_NOPTS_VALUE);
  const AVFrame& picture() const { return *picture_; }
  // The picture's timestamp: its slot, presentation time or decoding time;
  // AV_NOPTS_VALUE when it has none.
  int64_t pictureTimestamp() const { return pictureTimestamp_; }
  const AVCodecContext& decoder() const { return *decoder_; }

  // Seeks the input (av_seek_frame's timestamp and flags); the decoder starts over.
  bool Seek(int64_t timestamp, int flags);
  // Back to the input's first packet; the decoder starts over.
  bool Rewind();

  // Whether the pictures still to come decode as they would after a seek to a
  // key frame before them: the decoder started, after its last seek, at a key
  // packet and has given a timed picture since, every one of them timed.
  bool Continuing() const;
  // The decoding time of the last packet sent, and the latest timestamp of the
  // pictures given since the last seek.
  int64_t lastSentDts() const { return lastSentDts_; }
  int64_t latestPicture() const { return latestPicture_; }

 private:
  void Flush();
  Pull SendEndOfInput();
  void Send(int64_t skipBefore);
  void Sent(const AVPacket& packet);
  bool Admit();
  void RememberSlot(int64_t timestamp);
  bool TakeSlot(int64_t* timestamp);
  int64_t TimestampOfPicture();

  VideoInput* input_ = nullptr;
  CodecContextPtr decoder_;
  UnreferencedPackets unreferenced_;
  FramePtr picture_;
  PacketPtr packet_;
  int64_t pictureTimestamp_ = AV_NOPTS_VALUE;
  bool packetPending_ = false;  // the decoder asked to hand out pictures first
  bool draining_ = false;
  bool bySlots_ = false;
  // Display slots of the packets sent since the last flush, sorted.
  std::vector<int64_t> slots_;
  bool awaitingKeyPacket_ = false;
  bool skippingLeading_ = false;
  int slotsToDrop_ = 0;
  // Since the last seek.
  bool sentAny_ = false;
  bool startedAtKey_ = false;
  bool untimedPicture_ = false;
  int64_t lastSentDts_ = AV_NOPTS_VALUE;
  int64_t latestPicture_ = AV_NOPTS_VALUE;
};

}  // namespace tarsel
