#include "ffmpeg/audio/aac_decoder.h"

#include <algorithm>
#include <cstring>

#include "common/boundary.h"

namespace tarsel {

namespace {
constexpr int kBytesPerSample = 2;  // signed 16-bit output
// AAC channel configurations reach 8 channels (7.1).
constexpr int kMaxChannels = 8;
}  // namespace

void AacDecoder::Open(int channels, int inSampleRate, int outSampleRate) {
  if (channels < 1 || channels > kMaxChannels) throw Message(kBadChannels);
  if (inSampleRate < 1 || outSampleRate < 1) throw Message(kBadSampleRate);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
  if (!codec) throw Message(kNoCodec);
  codecContext_.reset(avcodec_alloc_context3(codec));
  if (!codecContext_) throw Message(kNoCodecContext);
  // Without extradata the decoder takes its configuration from these two.
  codecContext_->sample_rate = inSampleRate;
  av_channel_layout_default(&codecContext_->ch_layout, channels);
  if (avcodec_open2(codecContext_.get(), codec, nullptr) < 0) throw Message(kCannotOpen);
  decodedFrame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!decodedFrame_ || !packet_) throw Message(kNoFrame);
  channels_ = channels;
  outSampleRate_ = outSampleRate;
  if (!converter_.Setup(DefaultChannelLayout(channels), codecContext_->sample_fmt, inSampleRate,
                        outSampleRate)) {
    throw Message(SampleConverter::kSetupFailed);
  }
  outputBuffer_ = AllocateAvBuffer(kBufferCapacity + 64);
  if (!outputBuffer_) throw Message(kNoFrame);
}

int AacDecoder::DecodePacket(const uint8_t* data, int size, int32_t* outSamples) {
  if (outSamples) *outSamples = 0;
  readyBytes_ = 0;
  // The decoder may read a little past the end of a packet, so the caller's
  // bytes are copied into a buffer with zeroed padding.
  packetBytes_.assign(data, data + size);
  packetBytes_.resize(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  packet_->data = packetBytes_.data();
  packet_->size = size;
  const int sent = avcodec_send_packet(codecContext_.get(), packet_.get());
  packet_->data = nullptr;
  packet_->size = 0;
  if (sent < 0) return 1;
  const int received = avcodec_receive_frame(codecContext_.get(), decodedFrame_.get());
  if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return 0;
  if (received < 0) return 1;
  const int produced = ConvertFrame();
  av_frame_unref(decodedFrame_.get());
  if (produced < 0) return 1;
  readyBytes_ = produced * channels_ * kBytesPerSample;
  if (outSamples) *outSamples = produced;
  return 0;
}

// Converts the decoded frame now, so the count reported is what the resampler
// really produced. At most one fetch's worth is taken out; the resampler keeps
// the rest for the next packet, so nothing is lost.
int AacDecoder::ConvertFrame() {
  const AVFrame& frame = *decodedFrame_;
  if (frame.ch_layout.nb_channels != channels_ || frame.nb_samples <= 0) return -1;
  // A stream can decode at another rate than announced (implicit SBR doubles
  // it); the converter follows the frames, so the output rate holds.
  if (!converter_.Accepts(frame) &&
      !converter_.Reconfigure(static_cast<AVSampleFormat>(frame.format), frame.sample_rate,
                              outSampleRate_)) {
    return -1;
  }
  const int capacity = kBufferCapacity / (channels_ * kBytesPerSample);
  return converter_.Convert(outputBuffer_.get(), capacity,
                            const_cast<const uint8_t* const*>(frame.extended_data),
                            frame.nb_samples);
}

void AacDecoder::GetDecodedData(uint8_t* pcm, int size) const {
  if (!pcm || size < 1 || size > kBufferCapacity) return;
  std::memcpy(pcm, outputBuffer_.get(), static_cast<size_t>(std::min(size, readyBytes_)));
}

}  // namespace tarsel
