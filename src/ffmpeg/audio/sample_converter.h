// The converter both audio families share: decoded samples of any format to
// interleaved signed 16-bit samples, at the input's rate or another one.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include "ffmpeg/common/av_ptr.h"

namespace tarsel {

// FFmpeg's default layout for a channel count (an unordered layout of that
// many channels where FFmpeg has no default).
AVChannelLayout DefaultChannelLayout(int channels);

class SampleConverter {
 public:
  static constexpr char kSetupFailed[] = "Could not initialize the sample converter.";

  SampleConverter() = default;
  SampleConverter(const SampleConverter&) = delete;
  SampleConverter& operator=(const SampleConverter&) = delete;
  ~SampleConverter();

  // Input and output use the same layout, so channels are interleaved as they
  // come and never remixed. False when swresample refuses the set-up.
  bool Setup(const AVChannelLayout& layout, AVSampleFormat inFormat, int inRate, int outRate);
  // Keeps the layout, for frames whose format or rate changed.
  bool Reconfigure(AVSampleFormat inFormat, int inRate, int outRate);
  // Whether frames of this kind go through the converter as it is set up.
  bool Accepts(const AVFrame& frame) const;

  // Converts inSamples samples per channel (one pointer per plane) into at most
  // outCapacity samples per channel at out; what does not fit stays in the
  // resampler for the next call. Returns the samples written, or a negative
  // FFmpeg error.
  int Convert(uint8_t* out, int outCapacity, const uint8_t* const* in, int inSamples);

  int channels() const { return layout_.nb_channels; }
  int outRate() const { return outRate_; }

 private:
  ResamplerPtr resampler_;
  AVChannelLayout layout_{};
  AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
  int inRate_ = 0;
  int outRate_ = 0;
};

}  // namespace tarsel
