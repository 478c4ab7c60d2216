#include "ffmpeg/audio/sample_converter.h"

namespace tarsel {

AVChannelLayout DefaultChannelLayout(int channels) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  return layout;
}

SampleConverter::~SampleConverter() { av_channel_layout_uninit(&layout_); }

bool SampleConverter::Setup(const AVChannelLayout& layout, AVSampleFormat inFormat, int inRate,
                            int outRate) {
  resampler_.reset();
  av_channel_layout_uninit(&layout_);
  if (av_channel_layout_copy(&layout_, &layout) < 0) return false;
  return Reconfigure(inFormat, inRate, outRate);
}

bool SampleConverter::Reconfigure(AVSampleFormat inFormat, int inRate, int outRate) {
  resampler_.reset();
  inFormat_ = inFormat;
  inRate_ = inRate;
  outRate_ = outRate;
  if (layout_.nb_channels < 1 || inRate < 1 || outRate_ < 1) return false;
  SwrContext* raw = nullptr;
  if (swr_alloc_set_opts2(&raw, &layout_, AV_SAMPLE_FMT_S16, outRate_, &layout_, inFormat, inRate,
                          0, nullptr) < 0) {
    return false;
  }
  ResamplerPtr resampler(raw);
  if (swr_init(resampler.get()) < 0) return false;
  resampler_ = std::move(resampler);
  return true;
}

bool SampleConverter::Accepts(const AVFrame& frame) const {
  return resampler_ && frame.format == inFormat_ && frame.sample_rate == inRate_ &&
         frame.ch_layout.nb_channels == layout_.nb_channels;
}

int SampleConverter::Convert(uint8_t* out, int outCapacity, const uint8_t* const* in,
                             int inSamples) {
  if (!resampler_) return AVERROR(EINVAL);
  uint8_t* planes[1] = {out};
  return swr_convert(resampler_.get(), planes, outCapacity, const_cast<const uint8_t**>(in),
                     inSamples);
}

}  // namespace tarsel
