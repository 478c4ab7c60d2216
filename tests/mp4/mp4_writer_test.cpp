// The MP4 writer and muxer through the C boundary: files written from a raw
// H.264 stream made by the ffmpeg tool must decode to the tool's own pictures,
// with the times the caller gave.
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "mp4/h264_units.h"
#include "mp4/media_check.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

using mp4_test::Bytes;
using mp4_test::H264Units;
using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;
using tarsel_test::ScratchPath;

constexpr char kWriterNull[] = "Writer is null";
constexpr char kTooFewBytes[] = "Nr of input bytes is smaller than 1";
constexpr char kCouldNotWrite[] = "Could not write data";
constexpr char kNullInput[] = "Input data is null";
constexpr char kTooLarge[] = "Parameter sets are too large";
constexpr char kSetsFixed[] = "Parameter sets cannot change after the first frame";
constexpr char kInvalidSize[] = "Invalid picture size";
constexpr char kNoH264[] = "Container does not support H.264";

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFrames = 50;
constexpr int kFrameRate = 25;
constexpr int kPictureBytes = kWidth * kHeight * 3 / 2;

// The two families share every behaviour; the tests run on both.
struct Family {
  const char* name;
  int (*init)(void**, const char*, uint32_t, uint32_t, uint32_t, char*);
  int (*addSpsPps)(void*, const uint8_t*, int32_t, const uint8_t*, int32_t, char*);
  int (*addFrame)(void*, const uint8_t*, int32_t, char*);
  int (*addTimed)(void*, const uint8_t*, int32_t, double, char*);
  int (*clear)(void**);
};

const Family kWriter{"writer",
                     MP4WRITER_Init,
                     MP4WRITER_AddSPSPPS,
                     MP4WRITER_AddFrame,
                     MP4WRITER_AddRawH264FrameWithTime,
                     MP4WRITER_Clear};
const Family kMuxer{"muxer",
                    MP4Muxer_Init,
                    MP4Muxer_AddSPSPPS,
                    MP4Muxer_AddFrame,
                    MP4Muxer_AddRawH264FrameWithTime,
                    MP4Muxer_Clear};

void PrintTo(const Family& family, std::ostream* out) { *out << family.name; }

const H264Units& Stream(const std::string& name) {
  static const H264Units ip = mp4_test::SplitAnnexB(ReadFile(FixturePath("mp4_ip_176x144.h264")));
  static const H264Units b = mp4_test::SplitAnnexB(ReadFile(FixturePath("mp4_b_176x144.h264")));
  return name == "ip" ? ip : b;
}

// The bytes in an allocation of exactly their size, so the sanitizer build sees
// any read past the end.
std::unique_ptr<uint8_t[]> Exact(const Bytes& bytes) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

Bytes Picture(const Bytes& yuv, int index) {
  return Bytes(yuv.begin() + index * kPictureBytes, yuv.begin() + (index + 1) * kPictureBytes);
}

class Mp4Family : public ::testing::TestWithParam<Family> {
 protected:
  void TearDown() override { EXPECT_EQ(family().clear(&handle_), 0); }
  const Family& family() const { return GetParam(); }
  std::string Path(const std::string& name) const {
    return ScratchPath(std::string(family().name) + "_" + name);
  }
  int Open(const std::string& path, uint32_t width = kWidth, uint32_t height = kHeight) {
    return family().init(&handle_, path.c_str(), width, height, kFrameRate, error_);
  }
  int AddSets(const Bytes& sps, const Bytes& pps) {
    auto s = Exact(sps);
    auto p = Exact(pps);
    return family().addSpsPps(handle_, s.get(), int32_t(sps.size()), p.get(), int32_t(pps.size()),
                              error_);
  }
  int Add(const Bytes& unit) {
    auto bytes = Exact(unit);
    return family().addFrame(handle_, bytes.get(), int32_t(unit.size()), error_);
  }
  int AddTimed(const Bytes& unit, double time) {
    auto bytes = Exact(unit);
    return family().addTimed(handle_, bytes.get(), int32_t(unit.size()), time, error_);
  }
  // Opens, hands over the parameter sets and the first `count` access units.
  void WriteStream(const std::string& path, const H264Units& units, int count, bool timed) {
    ASSERT_EQ(Open(path), 0) << error_.text;
    ASSERT_EQ(AddSets(units.sps, units.pps), 0) << error_.text;
    for (int i = 0; i < count; ++i) {
      const Bytes& unit = units.accessUnits[i];
      ASSERT_EQ(timed ? AddTimed(unit, i * 0.04) : Add(unit), 0) << i << ": " << error_.text;
    }
    ASSERT_EQ(family().clear(&handle_), 0);
  }

  void* handle_ = nullptr;
  ErrorText error_;
};

INSTANTIATE_TEST_SUITE_P(Families, Mp4Family, ::testing::Values(kWriter, kMuxer),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(Mp4Family, SplitterSeesTheStreamAsTheToolWroteIt) {
  const H264Units& units = Stream("ip");
  ASSERT_EQ(units.accessUnits.size(), size_t(kFrames));
  EXPECT_EQ(units.sps[4] & 0x1f, 7);
  EXPECT_EQ(units.pps[4] & 0x1f, 8);
  EXPECT_EQ(mp4_test::NalHeader(units.accessUnits[0]), 0x65);
  EXPECT_EQ(mp4_test::NalHeader(units.accessUnits[1]), 0x41);
}

// Untimed frames follow each other at the open's frame rate.
TEST_P(Mp4Family, UntimedFramesDecodeToTheToolsPicturesAtTheFrameRate) {
  for (const char* stream : {"ip", "b"}) {
    SCOPED_TRACE(stream);
    const std::string path = Path(std::string("untimed_") + stream + ".mp4");
    WriteStream(path, Stream(stream), kFrames, false);
    const mp4_test::Pictures pictures = mp4_test::DecodeVideo(path);
    EXPECT_EQ(pictures.count, kFrames);
    EXPECT_EQ(pictures.width, kWidth);
    EXPECT_EQ(pictures.height, kHeight);
    EXPECT_TRUE(pictures.yuv ==
                ReadFile(FixturePath(std::string("mp4_") + stream + "_176x144.yuv")));

    const mp4_test::Container container = mp4_test::ReadContainer(path);
    ASSERT_EQ(container.videoPackets.size(), size_t(kFrames));
    EXPECT_EQ(container.streams[0].timeBase.den, 90000);
    for (int i = 0; i < kFrames; ++i) {
      EXPECT_EQ(container.videoPackets[i].dts, i * 3600) << i;
      EXPECT_EQ(container.videoPackets[i].duration, 3600) << i;
      EXPECT_EQ(container.videoPackets[i].key, i % 12 == 0) << i;
    }
  }
}

// Times become a 90 kHz dts from the first timed frame; every frame, the last
// included, lasts until the next.
TEST_P(Mp4Family, TimedFramesCarryTheirTimes) {
  const std::string path = Path("timed.mp4");
  WriteStream(path, Stream("ip"), kFrames, true);
  const mp4_test::Pictures pictures = mp4_test::DecodeVideo(path);
  EXPECT_EQ(pictures.count, kFrames);
  EXPECT_TRUE(pictures.yuv == ReadFile(FixturePath("mp4_ip_176x144.yuv")));

  const mp4_test::Container container = mp4_test::ReadContainer(path);
  ASSERT_EQ(container.videoPackets.size(), size_t(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    EXPECT_EQ(container.videoPackets[i].dts, i * 3600) << i;
    EXPECT_EQ(container.videoPackets[i].pts, i * 3600) << i;
    EXPECT_EQ(container.videoPackets[i].duration, 3600) << i;
  }
}

TEST_P(Mp4Family, TimesAreTruncatedToTicks) {
  const H264Units& units = Stream("ip");
  const std::string path = Path("truncated.mp4");
  ASSERT_EQ(Open(path), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(AddTimed(units.accessUnits[i], 10.0 + i * 0.04), 0);
  ASSERT_EQ(family().clear(&handle_), 0);
  const mp4_test::Container container = mp4_test::ReadContainer(path);
  ASSERT_EQ(container.videoPackets.size(), 3u);
  EXPECT_EQ(container.videoPackets[0].dts, 0);
  EXPECT_EQ(container.videoPackets[1].dts, 3599);
  EXPECT_EQ(container.videoPackets[2].dts, 7200);
  EXPECT_EQ(container.videoPackets[2].duration, 3601);
}

// A negative first time is the origin like any other.
TEST_P(Mp4Family, NegativeFirstTimeIsTheOrigin) {
  const H264Units& units = Stream("ip");
  const std::string path = Path("negative.mp4");
  ASSERT_EQ(Open(path), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  ASSERT_EQ(AddTimed(units.accessUnits[0], -1.0), 0);
  ASSERT_EQ(AddTimed(units.accessUnits[1], 0.0), 0) << error_.text;
  ASSERT_EQ(family().clear(&handle_), 0);
  const mp4_test::Container container = mp4_test::ReadContainer(path);
  ASSERT_EQ(container.videoPackets.size(), 2u);
  EXPECT_EQ(container.videoPackets[1].dts, 90000);
}

TEST_P(Mp4Family, NothingIsWrittenBeforeTheFirstKeyFrame) {
  const H264Units& units = Stream("ip");
  const std::string path = Path("gated.mp4");
  ASSERT_EQ(Open(path), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  EXPECT_EQ(Add(units.accessUnits[1]), 1);
  EXPECT_STREQ(error_.text, kCouldNotWrite);
  EXPECT_EQ(AddTimed(units.accessUnits[1], 0.0), 1);
  EXPECT_STREQ(error_.text, kCouldNotWrite);
  EXPECT_EQ(Add(units.accessUnits[0]), 0);
  EXPECT_TRUE(error_.AllZero());
  EXPECT_EQ(Add(units.accessUnits[1]), 0);
  EXPECT_EQ(Add(units.accessUnits[2]), 0);
  ASSERT_EQ(family().clear(&handle_), 0);

  const mp4_test::Pictures pictures = mp4_test::DecodeVideo(path);
  const Bytes reference = ReadFile(FixturePath("mp4_ip_176x144.yuv"));
  ASSERT_EQ(pictures.count, 3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Picture(pictures.yuv, i) == Picture(reference, i)) << i;
}

// Only a fifth byte of 0x65 after a 4-byte start code marks a key frame.
TEST_P(Mp4Family, KeyFrameIsRecognisedByItsFifthByteOnly) {
  const H264Units& units = Stream("ip");
  ASSERT_EQ(Open(Path("keyrule.mp4")), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  const Bytes& idr = units.accessUnits[0];
  const Bytes shortStart(idr.begin() + 1, idr.end());
  Bytes behindSps = units.sps;
  behindSps.insert(behindSps.end(), idr.begin(), idr.end());
  for (const Bytes& unit : {shortStart, behindSps, Bytes{0, 0, 0, 1}, Bytes{0x65}}) {
    error_ = ErrorText();
    EXPECT_EQ(Add(unit), 1) << unit.size();
    EXPECT_STREQ(error_.text, kCouldNotWrite);
  }
  EXPECT_EQ(Add(idr), 0);
  EXPECT_EQ(Add(units.accessUnits[1]), 0) << error_.text;
}

// Parameter sets without start codes get them, so the file still plays.
TEST_P(Mp4Family, BareParameterSetsMakeAPlayableFile) {
  const H264Units& units = Stream("ip");
  const std::string path = Path("bare.mp4");
  ASSERT_EQ(Open(path), 0);
  ASSERT_EQ(AddSets(mp4_test::WithoutStartCode(units.sps), mp4_test::WithoutStartCode(units.pps)),
            0);
  for (int i = 0; i < kFrames; ++i) ASSERT_EQ(Add(units.accessUnits[i]), 0);
  ASSERT_EQ(family().clear(&handle_), 0);
  const mp4_test::Pictures pictures = mp4_test::DecodeVideo(path);
  EXPECT_EQ(pictures.count, kFrames);
  EXPECT_TRUE(pictures.yuv == ReadFile(FixturePath("mp4_ip_176x144.yuv")));
}

// Matroska needs the parameter sets in its header and counts in milliseconds.
TEST_P(Mp4Family, MatroskaGetsTheParameterSetsAndTheTimes) {
  const std::string path = Path("timed.mkv");
  WriteStream(path, Stream("ip"), kFrames, true);
  const mp4_test::Pictures pictures = mp4_test::DecodeVideo(path);
  EXPECT_EQ(pictures.count, kFrames);
  EXPECT_TRUE(pictures.yuv == ReadFile(FixturePath("mp4_ip_176x144.yuv")));
  const mp4_test::Container container = mp4_test::ReadContainer(path);
  ASSERT_EQ(container.videoPackets.size(), size_t(kFrames));
  EXPECT_EQ(container.streams[0].timeBase.den, 1000);
  for (int i = 0; i < kFrames; ++i) EXPECT_EQ(container.videoPackets[i].pts, i * 40) << i;
}

// Containers without a header for the parameter sets get them in the stream.
TEST_P(Mp4Family, OtherContainersPlayToo) {
  for (const char* extension : {"h264", "ts", "avi", "nut"}) {
    SCOPED_TRACE(extension);
    if (family().name == std::string("muxer") && extension == std::string("h264")) continue;
    const std::string path = Path(std::string("other.") + extension);
    WriteStream(path, Stream("ip"), kFrames, true);
    const mp4_test::Pictures pictures = mp4_test::DecodeVideo(path);
    EXPECT_EQ(pictures.count, kFrames);
    EXPECT_TRUE(pictures.yuv == ReadFile(FixturePath("mp4_ip_176x144.yuv")));
  }
}

// A raw stream holds one stream only, so the muxer's header fails; its frames
// are refused from then on and the file is left without a trailer.
TEST(Mp4Muxer, HeaderFailureRefusesFramesWithoutHarm) {
  const H264Units& units = Stream("ip");
  void* muxer = nullptr;
  ErrorText error;
  ASSERT_EQ(MP4Muxer_Init(&muxer, ScratchPath("muxer_raw.h264").c_str(), kWidth, kHeight,
                          kFrameRate, error),
            0);
  ASSERT_EQ(MP4Muxer_AddSPSPPS(muxer, units.sps.data(), int32_t(units.sps.size()), units.pps.data(),
                               int32_t(units.pps.size()), error),
            0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(MP4Muxer_AddFrame(muxer, units.accessUnits[0].data(),
                                int32_t(units.accessUnits[0].size()), error),
              1);
    EXPECT_STREQ(error.text, kCouldNotWrite);
  }
  EXPECT_EQ(MP4Muxer_Clear(&muxer), 0);
}

TEST_P(Mp4Family, ClearWithoutFramesFinishesAnyContainer) {
  const H264Units& units = Stream("ip");
  ASSERT_EQ(Open(Path("empty.mkv")), 0);  // Matroska cannot have a header yet
  EXPECT_EQ(family().clear(&handle_), 0);
  EXPECT_EQ(handle_, nullptr);
  ASSERT_EQ(Open(Path("empty.mp4")), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  EXPECT_EQ(family().clear(&handle_), 0);
  EXPECT_TRUE(mp4_test::ReadContainer(Path("empty.mp4")).opened);
}

TEST_P(Mp4Family, FramesNeedTheParameterSetsFirst) {
  const H264Units& units = Stream("ip");
  ASSERT_EQ(Open(Path("late_sets.mkv")), 0);
  EXPECT_EQ(Add(units.accessUnits[0]), 1);
  EXPECT_STREQ(error_.text, kCouldNotWrite);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  EXPECT_EQ(Add(units.accessUnits[0]), 0) << error_.text;
}

TEST_P(Mp4Family, ParameterSetsAreFixedOnceFramesAreWritten) {
  const H264Units& units = Stream("ip");
  const std::string path = Path("fixed_sets.mp4");
  ASSERT_EQ(Open(path), 0);
  ASSERT_EQ(AddSets(units.pps, units.pps), 0);  // replaced by the next call
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  ASSERT_EQ(Add(units.accessUnits[0]), 0);
  EXPECT_EQ(AddSets(units.sps, units.pps), 0);  // the same sets again
  EXPECT_EQ(AddSets(units.pps, units.pps), 1);
  EXPECT_STREQ(error_.text, kSetsFixed);
  EXPECT_EQ(Add(units.accessUnits[1]), 0);
  ASSERT_EQ(family().clear(&handle_), 0);
  EXPECT_EQ(mp4_test::DecodeVideo(path).count, 2);
}

TEST_P(Mp4Family, TimesGoingBackIsRefusedAndTheWriterGoesOn) {
  const H264Units& units = Stream("ip");
  const std::string path = Path("backwards.mp4");
  ASSERT_EQ(Open(path), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  ASSERT_EQ(AddTimed(units.accessUnits[0], 1.0), 0);
  ASSERT_EQ(AddTimed(units.accessUnits[1], 1.04), 0);
  for (double time : {1.04, 1.02, 0.5, std::nan(""), HUGE_VAL, 1e300}) {
    error_ = ErrorText();
    EXPECT_EQ(AddTimed(units.accessUnits[2], time), 1) << time;
    EXPECT_STREQ(error_.text, kCouldNotWrite);
  }
  ASSERT_EQ(AddTimed(units.accessUnits[2], 1.08), 0);
  ASSERT_EQ(family().clear(&handle_), 0);
  const mp4_test::Container container = mp4_test::ReadContainer(path);
  ASSERT_EQ(container.videoPackets.size(), 3u);
  EXPECT_EQ(container.videoPackets[2].dts, 7200);
  EXPECT_EQ(mp4_test::DecodeVideo(path).count, 3);
}

TEST_P(Mp4Family, BadInputIsRefusedWithItsMessage) {
  const H264Units& units = Stream("ip");
  ASSERT_EQ(Open(Path("bad_input.mp4")), 0);
  const uint8_t* sps = units.sps.data();
  const uint8_t* pps = units.pps.data();
  const int32_t spsSize = int32_t(units.sps.size());
  auto check = [&](int result, const char* text) {
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(error_.text, text);
    error_ = ErrorText();
  };
  check(family().addSpsPps(handle_, sps, spsSize, pps, 0, error_), kTooFewBytes);
  check(family().addSpsPps(handle_, sps, -5, pps, 4, error_), kTooFewBytes);
  check(family().addSpsPps(handle_, nullptr, spsSize, pps, 4, error_), kNullInput);
  check(family().addSpsPps(handle_, sps, spsSize, nullptr, 4, error_), kNullInput);
  // Lengths whose sum does not fit are refused before anything is read.
  check(family().addSpsPps(handle_, sps, INT_MAX, pps, INT_MAX, error_), kTooLarge);
  check(family().addFrame(handle_, nullptr, 10, error_), kCouldNotWrite);
  check(family().addFrame(handle_, sps, 0, error_), kTooFewBytes);
  check(family().addFrame(handle_, sps, -1, error_), kTooFewBytes);
  check(family().addTimed(handle_, nullptr, 10, 0.0, error_), kCouldNotWrite);
  check(family().addTimed(handle_, sps, -1, 0.0, error_), kTooFewBytes);

  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  EXPECT_TRUE(error_.AllZero());
  EXPECT_EQ(Add(units.accessUnits[0]), 0);
}

TEST_P(Mp4Family, NullHandleGivesTheWritersMessage) {
  const Bytes& unit = Stream("ip").accessUnits[0];
  EXPECT_EQ(family().addSpsPps(nullptr, unit.data(), 5, unit.data(), 5, error_), 1);
  EXPECT_STREQ(error_.text, kWriterNull);
  error_ = ErrorText();
  EXPECT_EQ(family().addFrame(nullptr, unit.data(), int32_t(unit.size()), error_), 1);
  EXPECT_STREQ(error_.text, kWriterNull);
  error_ = ErrorText();
  EXPECT_EQ(family().addTimed(nullptr, unit.data(), int32_t(unit.size()), 0.0, error_), 1);
  EXPECT_STREQ(error_.text, kWriterNull);
  void* none = nullptr;
  EXPECT_EQ(family().clear(&none), 0);
  EXPECT_EQ(family().clear(nullptr), 0);
}

TEST_P(Mp4Family, InitClearsTheBufferAndClearTwiceIsHarmless) {
  ASSERT_EQ(Open(Path("clear_twice.mp4")), 0);
  EXPECT_TRUE(error_.AllZero());
  EXPECT_NE(handle_, nullptr);
  EXPECT_EQ(family().clear(&handle_), 0);
  EXPECT_EQ(handle_, nullptr);
  EXPECT_EQ(family().clear(&handle_), 0);
}

// The handle is written before the open, whatever its result.
TEST_P(Mp4Family, FailedOpensLeaveAHandleThatRefusesFrames) {
  const H264Units& units = Stream("ip");
  struct Case {
    std::string path;
    uint32_t width;
    int result;
    const char* text;  // null: FFmpeg's own text
  };
  const Case cases[] = {
      {Path("no_extension"), kWidth, 0, ""},
      {Path("unknown.notacontainer"), kWidth, 0, ""},
      {ScratchPath("missing_folder/x.mp4"), kWidth, 1, nullptr},
      {Path("no_width.mp4"), 0, 1, kInvalidSize},
      {Path("no_width.mkv"), 0, 1, kInvalidSize},
      {Path("vp_only.webm"), kWidth, 1, kNoH264},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    error_ = ErrorText();
    EXPECT_EQ(Open(c.path, c.width, kHeight), c.result);
    if (c.text)
      EXPECT_STREQ(error_.text, c.text);
    else
      EXPECT_GT(std::strlen(error_.text), 0u);
    ASSERT_NE(handle_, nullptr);
    EXPECT_EQ(AddSets(units.sps, units.pps), 0);
    EXPECT_EQ(Add(units.accessUnits[0]), 1);
    EXPECT_STREQ(error_.text, kCouldNotWrite);
    EXPECT_EQ(AddTimed(units.accessUnits[0], 0.0), 1);
    EXPECT_STREQ(error_.text, kCouldNotWrite);
    EXPECT_EQ(family().clear(&handle_), 0);
    EXPECT_EQ(handle_, nullptr);
  }
}

TEST_P(Mp4Family, InitWithoutHandleOrPath) {
  EXPECT_EQ(family().init(nullptr, Path("x.mp4").c_str(), kWidth, kHeight, 25, error_), 1);
  EXPECT_STREQ(error_.text, "The handle pointer is null");
  EXPECT_EQ(family().init(&handle_, nullptr, kWidth, kHeight, 25, error_), 1);
  EXPECT_STREQ(error_.text, "Path is null");
  EXPECT_NE(handle_, nullptr);
}

// The muxer's AAC stream is declared in every file; containers that keep empty
// streams show it, MP4 leaves a track without samples out.
TEST(Mp4Muxer, DeclaresAnEmptyMonoAacStream) {
  const H264Units& units = Stream("ip");
  for (const char* extension : {"mkv", "nut"}) {
    SCOPED_TRACE(extension);
    const std::string path = ScratchPath(std::string("muxer_audio.") + extension);
    void* muxer = nullptr;
    ErrorText error;
    ASSERT_EQ(MP4Muxer_Init(&muxer, path.c_str(), kWidth, kHeight, kFrameRate, error), 0);
    ASSERT_EQ(MP4Muxer_AddSPSPPS(muxer, units.sps.data(), int32_t(units.sps.size()),
                                 units.pps.data(), int32_t(units.pps.size()), error),
              0);
    for (int i = 0; i < 5; ++i)
      ASSERT_EQ(
          MP4Muxer_AddRawH264FrameWithTime(muxer, units.accessUnits[i].data(),
                                           int32_t(units.accessUnits[i].size()), i * 0.04, error),
          0)
          << error.text;
    ASSERT_EQ(MP4Muxer_Clear(&muxer), 0);
    const mp4_test::Container container = mp4_test::ReadContainer(path);
    ASSERT_EQ(container.streams.size(), 2u);
    EXPECT_EQ(container.streams[0].codec, AV_CODEC_ID_H264);
    EXPECT_EQ(container.streams[0].packets, 5);
    EXPECT_EQ(container.streams[1].codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(container.streams[1].channels, 1);
    EXPECT_EQ(container.streams[1].sampleRate, 16000);
    EXPECT_EQ(container.streams[1].packets, 0);
  }
}

TEST(Mp4Writer, DeclaresOnlyTheVideoStream) {
  const std::string path = ScratchPath("writer_streams.mkv");
  const H264Units& units = Stream("ip");
  void* writer = nullptr;
  ErrorText error;
  ASSERT_EQ(MP4WRITER_Init(&writer, path.c_str(), kWidth, kHeight, kFrameRate, error), 0);
  ASSERT_EQ(MP4WRITER_AddSPSPPS(writer, units.sps.data(), int32_t(units.sps.size()),
                                units.pps.data(), int32_t(units.pps.size()), error),
            0);
  ASSERT_EQ(MP4WRITER_AddFrame(writer, units.accessUnits[0].data(),
                               int32_t(units.accessUnits[0].size()), error),
            0);
  ASSERT_EQ(MP4WRITER_Clear(&writer), 0);
  const mp4_test::Container container = mp4_test::ReadContainer(path);
  ASSERT_EQ(container.streams.size(), 1u);
  EXPECT_EQ(container.streams[0].width, kWidth);
  EXPECT_EQ(container.streams[0].height, kHeight);
}

// MP4Muxer_AddAudio reads nothing, whatever a caller passes (called here the
// way a caller declaring parameters would call it).
TEST(Mp4Muxer, AddAudioReadsNothingAndReturnsZero) {
  EXPECT_EQ(MP4Muxer_AddAudio(), 0);
  using WithArguments = int (*)(void*, const uint8_t*, int32_t, char*);
  ErrorText error;
  const auto addAudio =
      reinterpret_cast<WithArguments>(reinterpret_cast<void (*)()>(&MP4Muxer_AddAudio));
  EXPECT_EQ(addAudio(nullptr, nullptr, 4096, error), 0);
  EXPECT_TRUE(error.Untouched());
}

}  // namespace
