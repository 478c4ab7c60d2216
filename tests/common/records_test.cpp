// The records that cross the boundary keep their sizes and field offsets.
#include <cstddef>

#include <gtest/gtest.h>

#include "tarsel.h"

TEST(Records, VidInfoLayout) {
  static_assert(sizeof(VidInfo) == 112);
  EXPECT_EQ(offsetof(VidInfo, width), 0u);
  EXPECT_EQ(offsetof(VidInfo, height), 4u);
  EXPECT_EQ(offsetof(VidInfo, frameCount), 8u);
  EXPECT_EQ(offsetof(VidInfo, duration), 16u);
  EXPECT_EQ(offsetof(VidInfo, frameRate), 24u);
  EXPECT_EQ(offsetof(VidInfo, bitRate), 32u);
  EXPECT_EQ(offsetof(VidInfo, gopSize), 40u);
  EXPECT_EQ(offsetof(VidInfo, codecId), 44u);
  EXPECT_EQ(offsetof(VidInfo, startTimestamp), 48u);
  EXPECT_EQ(offsetof(VidInfo, timeBaseNum), 56u);
  EXPECT_EQ(offsetof(VidInfo, timeBaseDen), 60u);
  EXPECT_EQ(offsetof(VidInfo, realFrameRateNum), 64u);
  EXPECT_EQ(offsetof(VidInfo, realFrameRateDen), 68u);
  EXPECT_EQ(offsetof(VidInfo, avgFrameRateNum), 72u);
  EXPECT_EQ(offsetof(VidInfo, avgFrameRateDen), 76u);
  EXPECT_EQ(offsetof(VidInfo, streamDuration), 80u);
  EXPECT_EQ(offsetof(VidInfo, lastPacketTime), 88u);
  EXPECT_EQ(offsetof(VidInfo, streamDurationTicks), 96u);
  EXPECT_EQ(offsetof(VidInfo, streamFrameCount), 104u);
}

TEST(Records, CaptureConfigLayouts) {
  static_assert(sizeof(CamConfig) == 40);
  EXPECT_EQ(offsetof(CamConfig, subtype), 0u);
  EXPECT_EQ(offsetof(CamConfig, width), 16u);
  EXPECT_EQ(offsetof(CamConfig, height), 20u);
  EXPECT_EQ(offsetof(CamConfig, frameRateNumerator), 24u);
  EXPECT_EQ(offsetof(CamConfig, frameRateDenominator), 28u);
  EXPECT_EQ(offsetof(CamConfig, framesPerSecond), 32u);

  static_assert(sizeof(AudioConfig) == 40);
  EXPECT_EQ(offsetof(AudioConfig, subtype), 0u);
  EXPECT_EQ(offsetof(AudioConfig, bitsPerSample), 16u);
  EXPECT_EQ(offsetof(AudioConfig, numChannels), 20u);
  EXPECT_EQ(offsetof(AudioConfig, samplesPerSecond), 24u);
  EXPECT_EQ(offsetof(AudioConfig, blockAlignment), 28u);
  EXPECT_EQ(offsetof(AudioConfig, avgBytesPerSecond), 32u);
  EXPECT_EQ(offsetof(AudioConfig, allSamplesIndependent), 36u);
}

TEST(Records, EncoderSettingsLayout) {
  static_assert(sizeof(EncoderSettings) == 64);
  EXPECT_EQ(offsetof(EncoderSettings, frameRate), 8u);
  EXPECT_EQ(offsetof(EncoderSettings, hasAudio), 24u);
  EXPECT_EQ(offsetof(EncoderSettings, reserved), 40u);
  EXPECT_EQ(offsetof(EncoderSettings, blockAlignment), 44u);
  EXPECT_EQ(offsetof(EncoderSettings, zeroDuration), 48u);
  EXPECT_EQ(offsetof(EncoderSettings, rateControlMode), 52u);
  EXPECT_EQ(offsetof(EncoderSettings, quality), 56u);
  EXPECT_EQ(offsetof(EncoderSettings, minQP), 60u);
}
