// What the boundary cannot show: the frame-rate rule, the audio settings chosen
// for an encoder, and the default codec taken from the process-wide table.
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "ffmpeg/common/default_codecs.h"
#include "ffmpeg/writers/encoding_steps.h"
#include "ffmpeg/writers/vid_writer.h"
#include "support/test_support.h"
#include "support/wine.h"

TEST(FrameRateRule, PowersOfTenUntilWithinAThousandthAndThirtyTwoBits) {
  struct Case {
    double rate;
    int num, den;
  };
  for (const Case& c : {Case{25.0, 1, 25}, Case{23.976, 1000, 23976}, Case{59.94, 100, 5994},
                        Case{0.5, 10, 5}, Case{1.0 / 3.0, 1000, 333}}) {
    const AVRational timeBase = tarsel::TimeBaseForRate(c.rate, "bad rate");
    EXPECT_EQ(timeBase.num, c.num) << c.rate;
    EXPECT_EQ(timeBase.den, c.den) << c.rate;
  }
}

TEST(AudioSettings, NearestRateTo44100AndTheLayoutWithMostChannels) {
  // FFmpeg's AAC encoder lists rates from 96000 down; 44100 is among them.
  struct Case {
    AVCodecID codec;
    int channels;  // 0: not checked
  };
  for (const Case& c :
       {Case{AV_CODEC_ID_MP2, 2}, Case{AV_CODEC_ID_AC3, 6}, Case{AV_CODEC_ID_AAC, 0}}) {
    const AVCodec* encoder = avcodec_find_encoder(c.codec);
    ASSERT_NE(encoder, nullptr) << c.codec;
    const tarsel::AudioChoice choice = tarsel::ChooseAudioSettings(encoder);
    EXPECT_EQ(choice.sampleRate, 44100) << c.codec;
    EXPECT_EQ(c.channels ? choice.layout.nb_channels : 0, c.channels) << c.codec;
  }
}

namespace {

// Writes count gray pictures to path with the container's default codec set to
// codec, and returns the stream's parameters as read back.
AVCodecParameters Written(const char* format, AVCodecID codec, const std::string& path, int count) {
  const AVOutputFormat* container = av_guess_format(format, nullptr, nullptr);
  EXPECT_NE(container, nullptr);
  tarsel::OverrideDefaultCodecs(container, codec, AV_CODEC_ID_NONE);
  {
    tarsel::VidWriter writer;
    writer.Open(path.c_str(), 64, 48, false, "", 500000, 25, 12);
    const std::vector<uint8_t> picture(64 * 48 * 3, 0x80);
    for (int i = 0; i < count; ++i) writer.WriteFrame(picture.data(), 64 * 3, -1.0);
    EXPECT_EQ(writer.framesWritten(), static_cast<uint32_t>(count));
  }
  AVCodecParameters parameters{};
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) == 0 &&
      avformat_find_stream_info(input, nullptr) >= 0 && input->nb_streams == 1) {
    parameters = *input->streams[0]->codecpar;
    parameters.extradata = nullptr;  // owned by the closed input; only its size is kept
  }
  avformat_close_input(&input);
  return parameters;
}

}  // namespace

TEST(DefaultCodec, TheWriterFollowsTheProcessWideOverride) {
  TARSEL_SKIP_UNDER_WINE("no H.264 encoder transform, so h264_mf cannot open");
  // FLV defaults to Sorenson H.263; once overridden, the writer encodes H.264
  // (with the global header FLV needs).
  ASSERT_EQ(av_guess_format("flv", nullptr, nullptr)->video_codec, AV_CODEC_ID_FLV1);
  const AVCodecParameters stream =
      Written("flv", AV_CODEC_ID_H264, tarsel_test::ScratchPath("override.flv"), 5);
  EXPECT_EQ(stream.codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(stream.width, 64);
  EXPECT_GT(stream.extradata_size, 0);
}

TEST(DefaultCodec, Mpeg4KeepsTheContainersOwnTagWhereDivxIsRefused) {
  // MP4 defaults to MPEG-4 where FFmpeg has no libx264 (the Windows build); its
  // tag table has no "divx", so the writer keeps the container's "mp4v".
  const AVCodecParameters stream =
      Written("mp4", AV_CODEC_ID_MPEG4, tarsel_test::ScratchPath("mpeg4.mp4"), 3);
  EXPECT_EQ(stream.codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(stream.codec_tag, MKTAG('m', 'p', '4', 'v'));
}
