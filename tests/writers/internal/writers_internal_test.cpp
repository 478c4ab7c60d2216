// What the boundary cannot show: the frame-rate rule, the audio settings chosen
// for an encoder, and the default codec taken from the process-wide table.
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "common/boundary.h"
#include "ffmpeg/common/default_codecs.h"
#include "ffmpeg/writers/encoding_steps.h"
#include "ffmpeg/writers/vid_writer.h"
#include "support/test_support.h"
#include "support/wine.h"

namespace {

AVRational TimeBase(double rate) { return tarsel::TimeBaseForRate(rate, "bad rate"); }

}  // namespace

TEST(FrameRateRule, PowersOfTenUntilWithinAThousandth) {
  struct Case {
    double rate;
    int num;
    int den;
  };
  for (const Case& c :
       {Case{15.0, 1, 15}, Case{25.0, 1, 25}, Case{29.97, 100, 2997}, Case{23.976, 1000, 23976},
        Case{59.94, 100, 5994}, Case{0.5, 10, 5}, Case{1.0 / 3.0, 1000, 333}}) {
    const AVRational timeBase = TimeBase(c.rate);
    EXPECT_EQ(timeBase.num, c.num) << c.rate;
    EXPECT_EQ(timeBase.den, c.den) << c.rate;
  }
}

TEST(FrameRateRule, RatesOutsideThirtyTwoBitsAreRefused) {
  for (double rate : {0.0, -1.0, 0.0004, 3e9}) {
    try {
      TimeBase(rate);
      ADD_FAILURE() << rate;
    } catch (const tarsel::Message& message) {
      EXPECT_STREQ(message.text(), "bad rate");
    }
  }
}

TEST(AudioSettings, NearestRateTo44100AndTheLayoutWithMostChannels) {
  const AVCodec* mp2 = avcodec_find_encoder(AV_CODEC_ID_MP2);
  ASSERT_NE(mp2, nullptr);
  tarsel::AudioChoice choice = tarsel::ChooseAudioSettings(mp2);
  EXPECT_EQ(choice.sampleRate, 44100);
  EXPECT_EQ(choice.layout.nb_channels, 2);

  const AVCodec* ac3 = avcodec_find_encoder(AV_CODEC_ID_AC3);
  ASSERT_NE(ac3, nullptr);
  choice = tarsel::ChooseAudioSettings(ac3);
  EXPECT_EQ(choice.sampleRate, 44100);
  EXPECT_EQ(choice.layout.nb_channels, 6);

  // FFmpeg's AAC encoder lists rates from 96000 down; 44100 is among them.
  const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  ASSERT_NE(aac, nullptr);
  EXPECT_EQ(tarsel::ChooseAudioSettings(aac).sampleRate, 44100);
}

TEST(DefaultCodec, TheWriterFollowsTheProcessWideOverride) {
  TARSEL_SKIP_UNDER_WINE("no H.264 encoder transform, so h264_mf cannot open");
  // FLV defaults to Sorenson H.263; once overridden, the writer encodes H.264
  // (with the global header FLV needs).
  const AVOutputFormat* flv = av_guess_format("flv", nullptr, nullptr);
  ASSERT_NE(flv, nullptr);
  ASSERT_EQ(flv->video_codec, AV_CODEC_ID_FLV1);
  tarsel::OverrideDefaultCodecs(flv, AV_CODEC_ID_H264, AV_CODEC_ID_NONE);

  const std::string path = tarsel_test::ScratchPath("override.flv");
  {
    tarsel::VidWriter writer;
    writer.Open(path.c_str(), 64, 48, false, "", 500000, 25, 12);
    const std::vector<uint8_t> picture(64 * 48 * 3, 0x80);
    for (int i = 0; i < 5; ++i) writer.WriteFrame(picture.data(), 64 * 3, -1.0);
    EXPECT_EQ(writer.framesWritten(), 5u);
  }
  AVFormatContext* input = nullptr;
  ASSERT_EQ(avformat_open_input(&input, path.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(input, nullptr), 0);
  ASSERT_EQ(input->nb_streams, 1u);
  EXPECT_EQ(input->streams[0]->codecpar->codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(input->streams[0]->codecpar->width, 64);
  EXPECT_GT(input->streams[0]->codecpar->extradata_size, 0);
  avformat_close_input(&input);
}

TEST(DefaultCodec, Mpeg4KeepsTheContainersOwnTagWhereDivxIsRefused) {
  // MP4 defaults to MPEG-4 where FFmpeg has no libx264 (the Windows build); its
  // tag table has no "divx", so the writer keeps the container's "mp4v".
  const AVOutputFormat* mp4 = av_guess_format("mp4", nullptr, nullptr);
  ASSERT_NE(mp4, nullptr);
  tarsel::OverrideDefaultCodecs(mp4, AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE);

  const std::string path = tarsel_test::ScratchPath("mpeg4.mp4");
  {
    tarsel::VidWriter writer;
    writer.Open(path.c_str(), 64, 48, false, "", 500000, 25, 12);
    const std::vector<uint8_t> picture(64 * 48 * 3, 0x40);
    for (int i = 0; i < 3; ++i) writer.WriteFrame(picture.data(), 64 * 3, -1.0);
  }
  AVFormatContext* input = nullptr;
  ASSERT_EQ(avformat_open_input(&input, path.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(input, nullptr), 0);
  EXPECT_EQ(input->streams[0]->codecpar->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(input->streams[0]->codecpar->codec_tag, MKTAG('m', 'p', '4', 'v'));
  avformat_close_input(&input);
}
