// The reader's input: FFmpeg's demuxer on a file or stream address, the chosen
// video stream, and the way back to the stream's first packet. Every packet the
// reader uses comes through Read.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "ffmpeg/common/av_ptr.h"
#include "tarsel.h"

namespace tarsel {

class VideoInput {
 public:
  // Opens path and picks its best video stream. Raises FFmpeg's text when the
  // input cannot be opened or read, and the reader's message when it has no
  // video. In file mode it notes where the stream's first packets lie and
  // returns there.
  void Open(const char* path, bool live, VideoInterruptCallBack interrupt);

  AVFormatContext& context() const { return *context_; }
  AVStream& stream() const { return *context_->streams[streamIndex_]; }
  int streamIndex() const { return streamIndex_; }
  // Options of a live open that the demuxer left unused, for the decoder.
  DictionaryPtr TakeUnusedOptions() { return std::move(unusedOptions_); }
  // The first video packet's decoding timestamp (its presentation time when it
  // has none); 0 in live mode.
  int64_t firstTimestamp() const { return firstTimestamp_; }

  // The next packet of any stream: av_read_frame's result.
  int Read(AVPacket* packet);
  // Seeks the video stream (av_seek_frame's timestamp and flags).
  bool Seek(int64_t timestamp, int flags);
  // Back to the stream's first packet. A time seek is tried first and checked by
  // the packet it lands on; where the container cannot seek there (Matroska
  // before time 0, raw streams without timestamps), the input is read again from
  // its first byte, or opened again.
  bool SeekToStart();

 private:
  // Where the first decodable video packet lies, to recognise it after a seek.
  struct PacketMark {
    int64_t dts = AV_NOPTS_VALUE;
    int64_t pts = AV_NOPTS_VALUE;
    int64_t pos = -1;
  };
  // A new demuxer on the input, with its best video stream; raises.
  InputContextPtr OpenContext(int* streamIndex);
  void NoteFirstPackets();
  bool ReadVideoPacket(AVPacket* packet);
  bool TryToReachStart(int way);
  bool AtStart();
  bool Reopen();

  std::string path_;
  bool live_ = false;
  VideoInterruptCallBack interrupt_ = nullptr;
  DictionaryPtr options_;  // as given to every open
  const AVInputFormat* forcedFormat_ = nullptr;
  DictionaryPtr unusedOptions_;
  InputContextPtr context_;
  int streamIndex_ = -1;
  int64_t firstTimestamp_ = 0;
  PacketMark firstKey_;
  bool hasVideoPackets_ = false;
  PacketPtr putBack_;  // the packet a check of the position read, for Read
  bool hasPutBack_ = false;
  int wayToStart_ = 0;  // the way back that worked last, tried first
};

}  // namespace tarsel
