// The reader's input: FFmpeg's demuxer on a file or stream address, the chosen
// video stream, and the way back to the stream's first packet. Every packet the
// reader uses comes through Read. A network input's waits are bounded (see
// InputWatch), and a network input that fails once gives nothing more.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "common/boundary.h"
#include "ffmpeg/common/av_ptr.h"
#include "ffmpeg/reader/input_watch.h"
#include "tarsel.h"

namespace tarsel {

class VideoInput {
 public:
  VideoInput() = default;
  VideoInput(const VideoInput&) = delete;
  VideoInput& operator=(const VideoInput&) = delete;
  // Closing a network input (RTSP says goodbye) is bounded like a read.
  ~VideoInput() { watch_.Arm(limits_.read); }

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

  // The next packet of any stream: av_read_frame's result. A network input whose
  // read timed out or was interrupted is at its end: it gives the packet the
  // demuxer still held, then AVERROR_EOF, and no longer seeks.
  int Read(AVPacket* packet);
  // Why the input could not return to its start: what ended it, when the watch
  // did, else the reader's message.
  Message Failure() const;
  // Seeks the video stream (av_seek_frame's timestamp and flags).
  bool Seek(int64_t timestamp, int flags);
  // Back to the stream's first packet. A time seek is tried first and checked by
  // the packet it lands on; where the container cannot seek there (Matroska
  // before time 0, raw streams without timestamps), the input is read again from
  // its first byte, or opened again.
  bool SeekToStart();
  // Whether the container's index, where it lists every frame of the stream,
  // shows no key frame with a decoding time after `after` and at or before
  // `upTo`. False when it cannot tell.
  bool NoKeyFrameBetween(int64_t after, int64_t upTo) const;

 private:
  // Where the first decodable video packet lies, to recognise it after a seek.
  struct PacketMark {
    int64_t dts = AV_NOPTS_VALUE;
    int64_t pts = AV_NOPTS_VALUE;
    int64_t pos = -1;
  };
  // A new demuxer on the input, with its best video stream; raises.
  InputContextPtr OpenContext(int* streamIndex);
  Message Explained(const Message& failure) const;
  void NoteFirstPackets();
  int ReadFromDemuxer(AVPacket* packet);
  // The next video packet: 0, or the failure of the read.
  int ReadVideoPacket(AVPacket* packet);
  bool TryToReachStart(int way);
  bool AtStart();
  bool Reopen();

  std::string path_;
  bool live_ = false;
  VideoInterruptCallBack interrupt_ = nullptr;
  bool network_ = false;
  NetworkLimits limits_;
  bool ended_ = false;
  // Outlives every demuxer it watches.
  InputWatch watch_;
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
