// Opening an MP4 writer or muxer makes H.264 (and AAC) the defaults of its
// container for the rest of the process, as later writers see them.
#include <gtest/gtest.h>

#include "ffmpeg/common/default_codecs.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

const AVOutputFormat* FormatOf(const char* name) { return av_guess_format(nullptr, name, nullptr); }

TEST(Mp4DefaultCodecs, WriterMakesH264TheVideoDefault) {
  const AVOutputFormat* avi = FormatOf("x.avi");
  ASSERT_NE(avi, nullptr);
  EXPECT_NE(tarsel::DefaultVideoCodec(avi), AV_CODEC_ID_H264);
  const AVCodecID aviAudio = tarsel::DefaultAudioCodec(avi);
  for (const char* name : {"defaults.avi", "defaults.mp4"}) {
    void* writer = nullptr;
    tarsel_test::ErrorText error;
    EXPECT_EQ(MP4WRITER_Init(&writer, tarsel_test::ScratchPath(name).c_str(), 64, 64, 25, error),
              0);
    EXPECT_EQ(MP4WRITER_Clear(&writer), 0);
    EXPECT_EQ(tarsel::DefaultVideoCodec(FormatOf(name)), AV_CODEC_ID_H264) << name;
  }
  EXPECT_EQ(tarsel::DefaultAudioCodec(avi), aviAudio);  // the writer declares no audio
}

TEST(Mp4DefaultCodecs, MuxerMakesAacTheAudioDefault) {
  const AVOutputFormat* mkv = FormatOf("x.mkv");
  ASSERT_NE(mkv, nullptr);
  EXPECT_NE(tarsel::DefaultAudioCodec(mkv), AV_CODEC_ID_AAC);
  void* muxer = nullptr;
  tarsel_test::ErrorText error;
  EXPECT_EQ(
      MP4Muxer_Init(&muxer, tarsel_test::ScratchPath("defaults.mkv").c_str(), 64, 64, 25, error),
      0);
  EXPECT_EQ(MP4Muxer_Clear(&muxer), 0);
  EXPECT_EQ(tarsel::DefaultVideoCodec(mkv), AV_CODEC_ID_H264);
  EXPECT_EQ(tarsel::DefaultAudioCodec(mkv), AV_CODEC_ID_AAC);
}

}  // namespace
