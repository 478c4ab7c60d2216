// One stream of the portable sink writer: the encoder behind it (H.264 with
// libx264 for NV12 pictures, AAC for 16-bit PCM) and the turning of samples
// into the encoder's frames.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ffmpeg/common/av_ptr.h"
#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/platform/mf_sink_writer.h"

namespace tarsel::platform {

// A frame for an encoder with the duration of its sample in 100-ns units
// (0 when the sample had none).
struct EncoderInput {
  FramePtr frame;
  LONGLONG duration = 0;
};

// The platform's code for an FFmpeg error: file and disk errors as Windows'
// file system reports them, anything else E_FAIL.
HRESULT HresultFromAv(int averror);

class SinkStream {
 public:
  using PacketWriter = std::function<HRESULT(AVPacket*)>;

  // A stream for this output type, or null when no encoder makes its subtype.
  static std::unique_ptr<SinkStream> ForOutputType(IMFMediaType* output);
  virtual ~SinkStream() = default;

  // Opens the encoder between the input type and the output type; fails with
  // MF_E_INVALIDMEDIATYPE when the input cannot feed this stream and with
  // MF_E_TOPO_CODEC_NOT_FOUND when the encoder cannot take the combination.
  // globalHeader: the container keeps the parameter sets in its header.
  virtual HRESULT SetInputType(IMFMediaType* input, bool globalHeader) = 0;
  bool HasEncoder() const { return encoder_ != nullptr; }
  // Turns one sample into the frames it completes (none, one or several).
  virtual HRESULT Prepare(IMFSample* sample, std::vector<EncoderInput>* inputs) = 0;
  // The frames still held back when writing ends.
  virtual HRESULT Finish(std::vector<EncoderInput>* inputs);

  // Describes the stream in the container, before its header is written.
  HRESULT AddTo(AVFormatContext* output);
  // Encodes one input (null: drains the encoder) and hands every packet, in
  // the container's time base, to write.
  HRESULT Encode(EncoderInput* input, const PacketWriter& write);

 protected:
  explicit SinkStream(IMFMediaType* output);
  // Called for each input before it reaches the encoder, and for each packet
  // before it is rescaled.
  virtual void NoteInput(const EncoderInput&) {}
  virtual void StampPacket(AVPacket*) {}

  ComPtr<IMFMediaType> output_;  // a copy of the type AddStream received
  CodecContextPtr encoder_;

 private:
  AVStream* stream_ = nullptr;
  PacketPtr packet_;
};

// The two kinds of stream, for ForOutputType.
std::unique_ptr<SinkStream> MakeH264Stream(IMFMediaType* output);
std::unique_ptr<SinkStream> MakeAacStream(IMFMediaType* output);

}  // namespace tarsel::platform
