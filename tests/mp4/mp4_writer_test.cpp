// The MP4 writer and muxer through the C boundary: files written from a raw
// H.264 stream made by the ffmpeg tool must decode to the tool's own pictures,
// with the times the caller gave.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include "support/page_edge.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tarsel_test::ErrorText;
using tarsel_test::FixturePath;
using tarsel_test::ReadFile;
using tarsel_test::ScratchPath;

constexpr char kCouldNotWrite[] = "Could not write data";
constexpr char kTooFewBytes[] = "Nr of input bytes is smaller than 1";
constexpr char kNullInput[] = "Input data is null";
constexpr char kInvalidSize[] = "Invalid picture size";
constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFrames = 50;
constexpr int kPictureBytes = kWidth * kHeight * 3 / 2;

// What a caller hands over: the first SPS and PPS, then one access unit per
// picture (the fixtures have one slice per picture), each behind 00 00 00 01.
struct H264Units {
  Bytes sps, pps;
  std::vector<Bytes> accessUnits;
};

const H264Units& Units(const std::string& stream) {
  static const auto split = [](const Bytes& s) {
    H264Units units;
    std::vector<std::size_t> starts;  // first byte after each start code
    for (std::size_t i = 0; i + 3 <= s.size(); ++i)
      if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) starts.push_back(i + 3);
    for (std::size_t k = 0; k < starts.size(); ++k) {
      std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
      while (end > starts[k] && s[end - 1] == 0) --end;  // the zero of a 4-byte start code
      Bytes nal{0, 0, 0, 1};
      nal.insert(nal.end(), s.begin() + starts[k], s.begin() + end);
      const int type = nal[4] & 0x1f;
      if (type == 7 && units.sps.empty()) units.sps = nal;
      if (type == 8 && units.pps.empty()) units.pps = nal;
      if (type == 1 || type == 5) units.accessUnits.push_back(nal);
    }
    return units;
  };
  static const H264Units ip = split(ReadFile(FixturePath("mp4_ip_176x144.h264")));
  static const H264Units b = split(ReadFile(FixturePath("mp4_b_176x144.h264")));
  return stream == "ip" ? ip : b;
}

Bytes Reference(const std::string& stream, int pictures) {
  Bytes yuv = ReadFile(FixturePath("mp4_" + stream + "_176x144.yuv"));
  yuv.resize(std::min(yuv.size(), std::size_t(pictures) * kPictureBytes));
  return yuv;
}

template <auto Free>
struct FreeAt {
  template <class T>
  void operator()(T* p) const {
    Free(&p);
  }
};

// What a written file holds, read back and decoded with the FFmpeg libraries.
struct Media {
  std::unique_ptr<AVFormatContext, FreeAt<avformat_close_input>> input;
  std::vector<int> packets;  // per stream
  struct Packet {
    int64_t dts, pts, duration;
    bool key;
  };
  std::vector<Packet> video;  // of the first video stream
  int pictures = 0;
  Bytes yuv;  // packed 4:2:0 planes, as `ffmpeg -f rawvideo -pix_fmt yuv420p` writes them
  const AVStream& Stream(int index) const { return *input->streams[index]; }
};

void Receive(AVCodecContext* decoder, AVFrame* frame, Media& media) {
  while (avcodec_receive_frame(decoder, frame) == 0) {
    const int size = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, frame->width, frame->height, 1);
    media.yuv.resize(media.yuv.size() + size);
    av_image_copy_to_buffer(media.yuv.data() + media.yuv.size() - size, size, frame->data,
                            frame->linesize, AV_PIX_FMT_YUV420P, frame->width, frame->height, 1);
    ++media.pictures;
    av_frame_unref(frame);
  }
}

Media Inspect(const std::string& path) {
  Media media;
  AVFormatContext* context = nullptr;
  if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return media;
  media.input.reset(context);
  if (avformat_find_stream_info(context, nullptr) < 0) return media;
  media.packets.resize(context->nb_streams);
  const AVCodec* codec = nullptr;
  const int video = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (video < 0) return media;
  std::unique_ptr<AVCodecContext, FreeAt<avcodec_free_context>> decoder(
      avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(decoder.get(), context->streams[video]->codecpar);
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return media;
  std::unique_ptr<AVPacket, FreeAt<av_packet_free>> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FreeAt<av_frame_free>> frame(av_frame_alloc());
  while (av_read_frame(context, packet.get()) >= 0) {
    ++media.packets[packet->stream_index];
    if (packet->stream_index == video) {
      media.video.push_back(
          {packet->dts, packet->pts, packet->duration, (packet->flags & AV_PKT_FLAG_KEY) != 0});
      if (avcodec_send_packet(decoder.get(), packet.get()) == 0)
        Receive(decoder.get(), frame.get(), media);
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(decoder.get(), nullptr);
  Receive(decoder.get(), frame.get(), media);
  return media;
}

// The two families share every behaviour; the tests run on both.
struct Family {
  const char* name;
  int (*init)(void**, const char*, uint32_t, uint32_t, uint32_t, char*);
  int (*addSpsPps)(void*, const uint8_t*, int32_t, const uint8_t*, int32_t, char*);
  int (*addFrame)(void*, const uint8_t*, int32_t, char*);
  int (*addTimed)(void*, const uint8_t*, int32_t, double, char*);
  int (*clear)(void**);
};
#define FAMILY(name, prefix)                                                                      \
  Family {                                                                                        \
    name, prefix##_Init, prefix##_AddSPSPPS, prefix##_AddFrame, prefix##_AddRawH264FrameWithTime, \
        prefix##_Clear                                                                            \
  }
void PrintTo(const Family& family, std::ostream* out) { *out << family.name; }

class Mp4Family : public ::testing::TestWithParam<Family> {
 protected:
  void TearDown() override { EXPECT_EQ(family().clear(&handle_), 0); }
  const Family& family() const { return GetParam(); }
  bool IsMuxer() const { return family().name == std::string("muxer"); }
  std::string Path(const std::string& name) const {
    return ScratchPath(std::string(family().name) + "_" + name);
  }
  int Open(const std::string& path, uint32_t width = kWidth) {
    return family().init(&handle_, path.c_str(), width, kHeight, 25, error_);
  }
  // The bytes are passed in copies, allocations of exactly their size, so the
  // sanitizer build sees any read past the end.
  int AddSets(Bytes sps, Bytes pps) {
    return family().addSpsPps(handle_, sps.data(), int32_t(sps.size()), pps.data(),
                              int32_t(pps.size()), error_);
  }
  int Add(Bytes unit) {
    return family().addFrame(handle_, unit.data(), int32_t(unit.size()), error_);
  }
  int AddTimed(Bytes unit, double time) {
    return family().addTimed(handle_, unit.data(), int32_t(unit.size()), time, error_);
  }
  // A refusal with its message; the buffer is refilled for the next call.
  void Refused(int result, const char* text = kCouldNotWrite) {
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(error_.text, text);
    error_ = ErrorText();
  }
  // Opens, hands over the parameter sets and the first `count` access units,
  // timed 40 ms apart or untimed.
  void WriteStream(const std::string& path, const H264Units& units, int count, bool timed,
                   bool bareSets = false) {
    const auto bare = [&](const Bytes& nal) {
      return Bytes(nal.begin() + (bareSets ? 4 : 0), nal.end());
    };
    ASSERT_EQ(Open(path), 0) << error_.text;
    ASSERT_EQ(AddSets(bare(units.sps), bare(units.pps)), 0) << error_.text;
    for (int i = 0; i < count; ++i) {
      const Bytes& unit = units.accessUnits.at(i);
      ASSERT_EQ(timed ? AddTimed(unit, i * 0.04) : Add(unit), 0) << i << ": " << error_.text;
    }
    ASSERT_EQ(family().clear(&handle_), 0);
  }

  void* handle_ = nullptr;
  ErrorText error_;
};

INSTANTIATE_TEST_SUITE_P(Families, Mp4Family,
                         ::testing::Values(FAMILY("writer", MP4WRITER), FAMILY("muxer", MP4Muxer)),
                         [](const auto& info) { return std::string(info.param.name); });

// Every picture decodes to the tool's own; untimed frames follow each other at
// the open's rate, timed ones carry their times; each lasts until the next, the
// last included. Bare parameter sets get start codes; containers without a
// header for them get them in the stream; Matroska counts in milliseconds.
TEST_P(Mp4Family, WrittenFilesDecodeToTheToolsPicturesWithTheirTimes) {
  struct Case {
    const char* stream;
    const char* extension;
    bool timed, bareSets;
    int timeBase, tick;  // 0: times not checked
  };
  const Case cases[] = {
      {"ip", "mp4", false, false, 90000, 3600}, {"b", "mp4", false, false, 90000, 3600},
      {"ip", "mp4", true, false, 90000, 3600},  {"ip", "mp4", false, true, 0, 0},
      {"ip", "mkv", true, false, 1000, 40},     {"ip", "ts", true, false, 0, 0},
      {"ip", "avi", true, false, 0, 0},         {"ip", "nut", true, false, 0, 0},
      {"ip", "h264", true, false, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string path = Path(std::string(c.stream) + (c.timed ? "_timed" : "") +
                                  (c.bareSets ? "_bare." : ".") + c.extension);
    SCOPED_TRACE(path);
    if (IsMuxer() && c.extension == std::string("h264")) continue;  // no second stream there
    WriteStream(path, Units(c.stream), kFrames, c.timed, c.bareSets);
    const Media media = Inspect(path);
    EXPECT_EQ(media.pictures, kFrames);
    EXPECT_TRUE(media.yuv == Reference(c.stream, kFrames));
    if (!c.timeBase) continue;
    ASSERT_EQ(media.video.size(), size_t(kFrames));
    EXPECT_EQ(media.Stream(0).codecpar->width, kWidth);
    EXPECT_EQ(media.Stream(0).codecpar->height, kHeight);
    EXPECT_EQ(media.Stream(0).time_base.den, c.timeBase);
    for (int i = 0; i < kFrames; ++i) {
      EXPECT_EQ(media.video[i].pts, i * c.tick) << i;
      if (c.timeBase != 90000) continue;
      EXPECT_EQ(media.video[i].dts, i * c.tick) << i;
      EXPECT_EQ(media.video[i].duration, c.tick) << i;
      EXPECT_EQ(media.video[i].key, i % 12 == 0) << i;
    }
  }
}

// Times become a 90 kHz dts, truncated, from the first timed frame whatever its
// sign; times that do not go forward are refused and the writer goes on.
TEST_P(Mp4Family, TimedFramesAreCountedFromTheFirst) {
  const H264Units& units = Units("ip");
  struct Case {
    std::vector<double> times;
    std::vector<double> refusedBeforeLast;
    std::vector<int64_t> dts;
    int64_t lastDuration;
  };
  const Case cases[] = {
      {{10.0, 10.04, 10.08}, {}, {0, 3599, 7200}, 3601},
      {{-1.0, 0.0}, {}, {0, 90000}, 90000},
      {{1.0, 1.04, 1.08}, {1.04, 1.02, 0.5, std::nan(""), HUGE_VAL, 1e300}, {0, 3600, 7200}, 3600},
  };
  for (const Case& c : cases) {
    const std::string path = Path("times_" + std::to_string(&c - cases) + ".mp4");
    ASSERT_EQ(Open(path), 0);
    ASSERT_EQ(AddSets(units.sps, units.pps), 0);
    const int last = int(c.times.size()) - 1;
    for (int i = 0; i < last; ++i) ASSERT_EQ(AddTimed(units.accessUnits[i], c.times[i]), 0);
    for (double time : c.refusedBeforeLast) Refused(AddTimed(units.accessUnits[last], time));
    ASSERT_EQ(AddTimed(units.accessUnits[last], c.times[last]), 0) << error_.text;
    ASSERT_EQ(family().clear(&handle_), 0);
    const Media media = Inspect(path);
    ASSERT_EQ(media.video.size(), c.dts.size());
    for (std::size_t i = 0; i < c.dts.size(); ++i) EXPECT_EQ(media.video[i].dts, c.dts[i]) << i;
    EXPECT_EQ(media.video.back().duration, c.lastDuration);
    EXPECT_TRUE(media.yuv == Reference("ip", last + 1));
  }
}

// Nothing is written before the parameter sets and the first key frame: only a
// fifth byte of 0x65 after a 4-byte start code marks one. The sets can be
// replaced until the header is written, then only repeated.
TEST_P(Mp4Family, FramesWaitForTheSetsAndAKeyFrame) {
  const H264Units& units = Units("ip");
  const Bytes& idr = units.accessUnits[0];
  const std::string path = Path("gated.mkv");  // Matroska needs the sets in its header
  ASSERT_EQ(Open(path), 0);
  Refused(Add(idr));
  ASSERT_EQ(AddSets(units.pps, units.pps), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  Refused(Add(units.accessUnits[1]));
  Refused(AddTimed(units.accessUnits[1], 0.0));
  Bytes behindSps = units.sps;
  behindSps.insert(behindSps.end(), idr.begin(), idr.end());
  for (const Bytes& unit :
       {Bytes(idr.begin() + 1, idr.end()), behindSps, Bytes{0, 0, 0, 1}, Bytes{0x65}})
    Refused(Add(unit));
  EXPECT_EQ(Add(idr), 0);
  EXPECT_TRUE(error_.AllZero());
  EXPECT_EQ(AddSets(units.sps, units.pps), 0);
  Refused(AddSets(units.pps, units.pps), "Parameter sets cannot change after the first frame");
  EXPECT_EQ(Add(units.accessUnits[1]), 0);
  EXPECT_EQ(Add(units.accessUnits[2]), 0);
  ASSERT_EQ(family().clear(&handle_), 0);
  const Media media = Inspect(path);
  EXPECT_EQ(media.pictures, 3);
  EXPECT_TRUE(media.yuv == Reference("ip", 3));
}

TEST_P(Mp4Family, BadArgumentsAreRefusedWithTheirMessages) {
  const H264Units& units = Units("ip");
  const uint8_t* sps = units.sps.data();
  const uint8_t* pps = units.pps.data();
  const int32_t spsSize = int32_t(units.sps.size());
  void* none = nullptr;
  Refused(family().addSpsPps(none, sps, 5, pps, 5, error_), "Writer is null");
  Refused(family().addFrame(none, sps, spsSize, error_), "Writer is null");
  Refused(family().addTimed(none, sps, spsSize, 0.0, error_), "Writer is null");
  EXPECT_EQ(family().clear(&none), 0);
  EXPECT_EQ(family().clear(nullptr), 0);
  Refused(family().init(nullptr, Path("x.mp4").c_str(), kWidth, kHeight, 25, error_),
          "The handle pointer is null");
  Refused(family().init(&handle_, nullptr, kWidth, kHeight, 25, error_), "Path is null");
  EXPECT_NE(handle_, nullptr);  // written before the open is tried
  EXPECT_EQ(family().clear(&handle_), 0);

  ASSERT_EQ(Open(Path("bad_input.mp4")), 0);
  EXPECT_TRUE(error_.AllZero());
  Refused(family().addSpsPps(handle_, sps, spsSize, pps, 0, error_), kTooFewBytes);
  Refused(family().addSpsPps(handle_, sps, -5, pps, 4, error_), kTooFewBytes);
  Refused(family().addSpsPps(handle_, nullptr, spsSize, pps, 4, error_), kNullInput);
  Refused(family().addSpsPps(handle_, sps, spsSize, nullptr, 4, error_), kNullInput);
  // Lengths whose sum does not fit are refused before anything is read.
  Refused(family().addSpsPps(handle_, sps, INT_MAX, pps, INT_MAX, error_),
          "Parameter sets are too large");
  Refused(family().addFrame(handle_, nullptr, 10, error_));
  Refused(family().addFrame(handle_, sps, 0, error_), kTooFewBytes);
  Refused(family().addFrame(handle_, sps, -1, error_), kTooFewBytes);
  Refused(family().addTimed(handle_, nullptr, 10, 0.0, error_));
  Refused(family().addTimed(handle_, sps, -1, 0.0, error_), kTooFewBytes);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  EXPECT_TRUE(error_.AllZero());
  EXPECT_EQ(Add(units.accessUnits[0]), 0);
  EXPECT_EQ(family().clear(&handle_), 0);
  EXPECT_EQ(handle_, nullptr);
  EXPECT_EQ(family().clear(&handle_), 0);
}

// The handle is written before the open, whatever its result; a writer that
// failed to open refuses frames, and one without frames still finishes its file.
TEST_P(Mp4Family, FailedOpensLeaveAHandleThatRefusesFrames) {
  const H264Units& units = Units("ip");
  const std::pair<std::string, const char*> failures[] = {
      {Path("no_extension"), ""},
      {Path("unknown.notacontainer"), ""},
      {ScratchPath("missing_folder/x.mp4"), nullptr},  // FFmpeg's own text
      {Path("no_width.mp4"), kInvalidSize},
      {Path("no_width.mkv"), kInvalidSize},
      {Path("vp_only.webm"), "Container does not support H.264"},
  };
  for (const auto& [path, text] : failures) {
    SCOPED_TRACE(path);
    error_ = ErrorText();
    EXPECT_EQ(Open(path, path.find("no_width") == std::string::npos ? kWidth : 0),
              text && !*text ? 0 : 1);
    EXPECT_TRUE(text ? !std::strcmp(error_.text, text) : *error_.text != 0) << error_.text;
    ASSERT_NE(handle_, nullptr);
    EXPECT_EQ(AddSets(units.sps, units.pps), 0);
    Refused(Add(units.accessUnits[0]));
    Refused(AddTimed(units.accessUnits[0], 0.0));
    EXPECT_EQ(family().clear(&handle_), 0);
  }
  ASSERT_EQ(Open(Path("empty.mkv")), 0);  // Matroska cannot have a header yet
  EXPECT_EQ(family().clear(&handle_), 0);
  ASSERT_EQ(Open(Path("empty.mp4")), 0);
  ASSERT_EQ(AddSets(units.sps, units.pps), 0);
  EXPECT_EQ(family().clear(&handle_), 0);
  EXPECT_NE(Inspect(Path("empty.mp4")).input, nullptr);
}

// Absurd input, named: huge declared sizes and frame rates still give a file
// that decodes (untimed frames are one 90 kHz tick apart when the rate gives
// less); a size beyond 31 bits is refused at the open; parameter sets that are
// only a start code are refused.
TEST_P(Mp4Family, AbsurdSizesRatesAndEmptySetsAreNamed) {
  const H264Units& units = Units("ip");
  const Bytes startCode{0, 0, 0, 1}, shortStartCode{0, 0, 1};
  const struct {
    const char* what;
    uint32_t width, height, rate;
    const Bytes &sps, &pps;
    const char* openText;  // null: opens
    const char* setsText;  // null: taken
    int64_t tick;
  } cases[] = {
      {"65535x65535 declared", 65535, 65535, 25, units.sps, units.pps, 0, 0, 3600},
      {"no frame rate", kWidth, kHeight, 0, units.sps, units.pps, 0, 0, 1},
      {"a rate of 2^32 - 1", kWidth, kHeight, UINT32_MAX, units.sps, units.pps, 0, 0, 1},
      {"a width of 2^32 - 1", UINT32_MAX, kHeight, 25, units.sps, units.pps, kInvalidSize, 0, 0},
      {"a height of 2^31", kWidth, 1u << 31, 25, units.sps, units.pps, kInvalidSize, 0, 0},
      {"an SPS of a start code", kWidth, kHeight, 25, startCode, units.pps, 0, kTooFewBytes, 0},
      {"a PPS of a 3-byte start code", kWidth, kHeight, 25, units.sps, shortStartCode, 0,
       kTooFewBytes, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Path("absurd_" + std::to_string(&c - cases) + ".mp4");
    error_ = ErrorText();
    EXPECT_EQ(family().init(&handle_, path.c_str(), c.width, c.height, c.rate, error_),
              c.openText ? 1 : 0);
    EXPECT_STREQ(error_.text, c.openText ? c.openText : "");
    error_ = ErrorText();
    if (c.setsText) {
      Refused(AddSets(c.sps, c.pps), c.setsText);
    } else {
      EXPECT_EQ(AddSets(c.sps, c.pps), 0);
    }
    const bool writes = !c.openText && !c.setsText;
    for (int i = 0; i < 3; ++i) {
      if (writes) {
        EXPECT_EQ(Add(units.accessUnits[i]), 0) << error_.text;
      } else {
        Refused(Add(units.accessUnits[i]));
      }
    }
    ASSERT_EQ(family().clear(&handle_), 0);
    if (!writes) continue;
    const Media media = Inspect(path);
    EXPECT_EQ(media.pictures, 3);
    EXPECT_TRUE(media.yuv == Reference("ip", 3));
    ASSERT_EQ(media.video.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(media.video[i].dts, i * c.tick);
  }
}

// Units that end where the caller's readable memory ends are read no further,
// whatever the container (MPEG-TS and AVI look at the first four bytes of any
// unit; the others parse the units): a read beyond them ends the program.
TEST_P(Mp4Family, UnitsEndingAtAPageEdgeAreReadNoFurther) {
  const H264Units& units = Units("ip");
  for (const char* extension : {"ts", "avi", "mp4", "mkv", "h264"}) {
    const std::string path = Path(std::string("edge.") + extension);
    SCOPED_TRACE(path);
    if (IsMuxer() && extension == std::string("h264")) continue;  // no second stream there
    tarsel_test::PageEdge spsEdge(64), ppsEdge(64), unitEdge(64 * 1024);
    ASSERT_EQ(Open(path), 0);
    ASSERT_EQ(family().addSpsPps(handle_, spsEdge.Place(units.sps), int32_t(units.sps.size()),
                                 ppsEdge.Place(units.pps), int32_t(units.pps.size()), error_),
              0);
    for (int i = 0; i < 3; ++i) {
      const Bytes& unit = units.accessUnits[i];
      ASSERT_EQ(family().addFrame(handle_, unitEdge.Place(unit), int32_t(unit.size()), error_), 0);
    }
    for (const Bytes& tiny : {Bytes{0x41}, Bytes{0, 0}, Bytes{0, 0, 1}, Bytes{0, 0, 0, 1}}) {
      const int result =
          family().addFrame(handle_, unitEdge.Place(tiny), int32_t(tiny.size()), error_);
      EXPECT_EQ(result, 0) << tiny.size() << ": " << error_.text;
    }
    ASSERT_EQ(family().clear(&handle_), 0);
    EXPECT_GE(Inspect(path).pictures, 3);
  }
}

// The muxer declares an always empty AAC mono 16 kHz stream at index 1, shown
// by containers that keep empty streams; a raw stream cannot hold it, so its
// header fails and frames are refused from then on, without harm.
TEST_P(Mp4Family, StreamsOfEachFamily) {
  for (const char* extension : {"mkv", "nut"}) {
    const std::string path = Path(std::string("streams.") + extension);
    WriteStream(path, Units("ip"), 5, true);
    const Media media = Inspect(path);
    ASSERT_EQ(media.packets, (IsMuxer() ? std::vector<int>{5, 0} : std::vector<int>{5})) << path;
    EXPECT_EQ(media.Stream(0).codecpar->codec_id, AV_CODEC_ID_H264);
    if (!IsMuxer()) continue;
    const AVCodecParameters& audio = *media.Stream(1).codecpar;
    EXPECT_EQ(audio.codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(audio.ch_layout.nb_channels, 1);
    EXPECT_EQ(audio.sample_rate, 16000);
  }
  if (!IsMuxer()) return;
  ASSERT_EQ(Open(Path("raw.h264")), 0);
  ASSERT_EQ(AddSets(Units("ip").sps, Units("ip").pps), 0);
  Refused(Add(Units("ip").accessUnits[0]));
  Refused(Add(Units("ip").accessUnits[0]));
}

}  // namespace
