// Opening an MP4 writer or muxer makes H.264 (and, for the muxer, AAC) the
// defaults of its container for the rest of the process, as later writers see them.
#include <gtest/gtest.h>

#include "ffmpeg/common/default_codecs.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

using tarsel::DefaultAudioCodec;
using tarsel::DefaultVideoCodec;

TEST(Mp4DefaultCodecs, WriterMakesH264AndMuxerAacTheDefaults) {
  const auto format = [](const char* name) { return av_guess_format(nullptr, name, nullptr); };
  const auto open = [](decltype(MP4WRITER_Init) init, decltype(MP4WRITER_Clear) clear,
                       const char* name) {
    void* handle = nullptr;
    tarsel_test::ErrorText error;
    EXPECT_EQ(init(&handle, tarsel_test::ScratchPath(name).c_str(), 64, 64, 25, error), 0);
    EXPECT_EQ(clear(&handle), 0);
  };
  ASSERT_NE(DefaultVideoCodec(format("x.avi")), AV_CODEC_ID_H264);
  const AVCodecID aviAudio = DefaultAudioCodec(format("x.avi"));
  ASSERT_NE(DefaultAudioCodec(format("x.mkv")), AV_CODEC_ID_AAC);
  for (const char* name : {"defaults.avi", "defaults.mp4"}) {
    open(MP4WRITER_Init, MP4WRITER_Clear, name);
    EXPECT_EQ(DefaultVideoCodec(format(name)), AV_CODEC_ID_H264) << name;
  }
  EXPECT_EQ(DefaultAudioCodec(format("x.avi")), aviAudio);  // the writer declares no audio
  open(MP4Muxer_Init, MP4Muxer_Clear, "defaults.mkv");
  EXPECT_EQ(DefaultVideoCodec(format("x.mkv")), AV_CODEC_ID_H264);
  EXPECT_EQ(DefaultAudioCodec(format("x.mkv")), AV_CODEC_ID_AAC);
}

}  // namespace
