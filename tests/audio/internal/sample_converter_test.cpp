// The shared converter with layouts no fixture file carries: whatever the
// layout, channels pass through in order, and a set-up swresample refuses is
// reported rather than converting garbage.
#include "ffmpeg/audio/sample_converter.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

using tarsel::DefaultChannelLayout;
using tarsel::SampleConverter;

TEST(SampleConverter, LayoutsBeyondTheLow16BitsKeepEveryChannel) {
  const AVChannelLayout downmix = AV_CHANNEL_LAYOUT_STEREO_DOWNMIX;
  const AVChannelLayout sixteen = DefaultChannelLayout(16);
  const AVChannelLayout ten = DefaultChannelLayout(10);  // no default: unordered
  constexpr int kSamples = 32;
  for (const AVChannelLayout* layout : {&downmix, &sixteen, &ten}) {
    SampleConverter converter;
    ASSERT_TRUE(converter.Setup(*layout, AV_SAMPLE_FMT_FLTP, 48000, 48000));
    const int channels = layout->nb_channels;
    EXPECT_EQ(converter.channels(), channels);
    // Planar float input of one distinct value per channel.
    std::vector<std::vector<float>> planes(channels);
    std::vector<const uint8_t*> in(channels);
    for (int c = 0; c < channels; ++c) {
      planes[c].assign(kSamples, static_cast<float>(c + 1) / 64.0f);
      in[c] = reinterpret_cast<const uint8_t*>(planes[c].data());
    }
    std::vector<int16_t> out(kSamples * channels, -1);
    ASSERT_EQ(
        converter.Convert(reinterpret_cast<uint8_t*>(out.data()), kSamples, in.data(), kSamples),
        kSamples);
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_EQ(out[i], static_cast<int16_t>((i % channels + 1) * 512)) << channels << " " << i;
  }
}

TEST(SampleConverter, RefusedSetUpsAreReported) {
  SampleConverter converter;
  EXPECT_FALSE(converter.Setup(AVChannelLayout{}, AV_SAMPLE_FMT_FLTP, 48000, 48000));
  uint8_t out[16] = {};
  EXPECT_LT(converter.Convert(out, 4, nullptr, 4), 0);  // not set up: converts nothing
}
