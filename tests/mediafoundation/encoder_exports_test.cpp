// The MFEncoder_ exports: files written from NV12 pictures and PCM, read back
// and decoded with the FFmpeg libraries (streams, sizes, counts, durations,
// profile and level, picture and sound), and every refusal. Under Wine, whose
// sink writer takes no container, only the refusals run.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "sine_check.h"
#include "support/test_support.h"
#include "support/wine.h"
#include "tarsel.h"

namespace {

using tarsel_test::ErrorText;
using tarsel_test::ScratchPath;
using Text16 = std::basic_string<tarsel_char16>;

constexpr char kNotInitialized[] = "WMFEncoder not initialized";
constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 48000;
constexpr double kLeftHz = 440.0, kRightHz = 660.0;

#define SKIP_WITHOUT_SINK_WRITER() \
  TARSEL_SKIP_UNDER_WINE("MFCreateSinkWriterFromURL fails for every container")

// UTF-16 for a UTF-8 path of characters up to U+FFFF.
Text16 Utf16(const std::string& utf8) {
  Text16 text;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const int extra = byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    unsigned code = extra ? byte & (0x3F >> extra) : byte;
    for (int k = 0; k < extra; ++k) code = code << 6 | (utf8[++i] & 0x3F);
    text.push_back(static_cast<tarsel_char16>(code));
  }
  return text;
}

EncoderSettings Settings(uint32_t width, uint32_t height, uint32_t frameRate, bool audio = false) {
  EncoderSettings settings{};
  settings.width = width;
  settings.height = height;
  settings.frameRate = frameRate;
  settings.bitRateKbps = 4000;
  settings.profile = 100;
  settings.level = 40;
  if (audio) {
    settings.hasAudio = 1;
    settings.numChannels = 2;
    settings.samplesPerSecond = kRate;
    settings.bitsPerSample = 16;
  }
  return settings;
}

// Frame n of a moving pattern: a diagonal ramp with a fine texture scrolling
// over it, a bright square moving across, and chroma ramps.
std::vector<uint8_t> Picture(int width, int height, int n) {
  std::vector<uint8_t> nv12(static_cast<std::size_t>(width) * height * 3 / 2);
  const int side = std::min(64, std::min(width, height) / 4);
  const int left = 4 * n % (width - side), top = 2 * n % (height - side);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t hash =
          static_cast<uint32_t>(x + 4 * n) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
      const int texture = static_cast<int>(hash % 9) * 4 - 16;
      const bool square = x >= left && x < left + side && y >= top && y < top + side;
      nv12[y * width + x] =
          square ? 235 : static_cast<uint8_t>(36 + (x + y + 3 * n) % 180 + texture);
    }
  }
  uint8_t* chroma = nv12.data() + width * height;
  for (int y = 0; y < height / 2; ++y) {
    for (int x = 0; x < width / 2; ++x) {
      chroma[y * width + 2 * x] = static_cast<uint8_t>(64 + (x + n) % 128);
      chroma[y * width + 2 * x + 1] = static_cast<uint8_t>(64 + (y * 2) % 128);
    }
  }
  return nv12;
}

// count stereo samples from first on: 440 Hz left, 660 Hz right, half scale.
std::vector<int16_t> Tones(int64_t first, int count) {
  std::vector<int16_t> pcm;
  for (int64_t i = first; i < first + count; ++i) {
    pcm.push_back(static_cast<int16_t>(16384 * std::sin(2 * kPi * kLeftHz * i / kRate)));
    pcm.push_back(static_cast<int16_t>(16384 * std::sin(2 * kPi * kRightHz * i / kRate)));
  }
  return pcm;
}

struct EncodedFile {
  bool opened = false;
  std::string brand;  // the container's major brand
  AVCodecID videoCodec = AV_CODEC_ID_NONE, audioCodec = AV_CODEC_ID_NONE;
  int width = 0, height = 0, profile = 0, level = 0, decodeErrors = 0;
  double frameRate = 0, videoSeconds = 0;  // average rate; the video track's length
  int64_t videoBytes = 0;
  std::vector<std::vector<uint8_t>> pictures;  // each decoded picture as NV12
  std::vector<double> pictureSeconds;
  int sampleRate = 0, channels = 0;
  std::vector<float> left, right;  // decoded audio
};

// A decoder for every stream of a file; null for streams without one.
struct Decoders {
  explicit Decoders(AVFormatContext* input) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
      const AVCodec* codec = avcodec_find_decoder(input->streams[i]->codecpar->codec_id);
      AVCodecContext* decoder = avcodec_alloc_context3(codec);
      if (!codec || avcodec_parameters_to_context(decoder, input->streams[i]->codecpar) < 0 ||
          avcodec_open2(decoder, codec, nullptr) < 0) {
        avcodec_free_context(&decoder);
      }
      list.push_back(decoder);
    }
  }
  ~Decoders() {
    for (AVCodecContext*& decoder : list) avcodec_free_context(&decoder);
  }
  std::vector<AVCodecContext*> list;
};

void Receive(AVCodecContext* decoder, const AVStream* stream, AVFrame* frame, EncodedFile& file) {
  int result = 0;
  while ((result = avcodec_receive_frame(decoder, frame)) >= 0) {
    if (decoder->codec_type == AVMEDIA_TYPE_VIDEO && frame->format == AV_PIX_FMT_YUV420P) {
      // Back to NV12, the layout the encoder was given.
      std::vector<uint8_t> nv12;
      for (int y = 0; y < frame->height; ++y) {
        const uint8_t* row = frame->data[0] + y * frame->linesize[0];
        nv12.insert(nv12.end(), row, row + frame->width);
      }
      for (int y = 0; y < frame->height / 2; ++y) {
        for (int x = 0; x < frame->width / 2; ++x) {
          nv12.push_back(frame->data[1][y * frame->linesize[1] + x]);
          nv12.push_back(frame->data[2][y * frame->linesize[2] + x]);
        }
      }
      file.pictures.push_back(std::move(nv12));
      file.pictureSeconds.push_back(frame->best_effort_timestamp * av_q2d(stream->time_base));
    } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
      const auto* l = reinterpret_cast<const float*>(frame->extended_data[0]);
      const auto* r =
          reinterpret_cast<const float*>(frame->extended_data[frame->ch_layout.nb_channels - 1]);
      file.left.insert(file.left.end(), l, l + frame->nb_samples);
      file.right.insert(file.right.end(), r, r + frame->nb_samples);
    }
    av_frame_unref(frame);
  }
  if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) ++file.decodeErrors;
}

EncodedFile ReadEncoded(const std::string& path) {
  EncodedFile file;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return file;
  std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closer(&input,
                                                                        avformat_close_input);
  if (avformat_find_stream_info(input, nullptr) < 0) return file;
  file.opened = true;
  if (const AVDictionaryEntry* brand = av_dict_get(input->metadata, "major_brand", nullptr, 0))
    file.brand = brand->value;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    const AVCodecParameters* p = stream->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
      file.videoCodec = p->codec_id;
      file.width = p->width;
      file.height = p->height;
      file.profile = p->profile;
      file.level = p->level;
      file.frameRate = av_q2d(stream->avg_frame_rate);
      file.videoSeconds = stream->duration * av_q2d(stream->time_base);
    } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
      file.audioCodec = p->codec_id;
      file.sampleRate = p->sample_rate;
      file.channels = p->ch_layout.nb_channels;
    }
  }
  Decoders decoders(input);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  while (av_read_frame(input, packet) >= 0) {
    if (input->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
      file.videoBytes += packet->size;
    if (AVCodecContext* decoder = decoders.list[packet->stream_index]) {
      if (avcodec_send_packet(decoder, packet) < 0) ++file.decodeErrors;
      Receive(decoder, input->streams[packet->stream_index], frame, file);
    }
    av_packet_unref(packet);
  }
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    if (AVCodecContext* decoder = decoders.list[i]) {
      avcodec_send_packet(decoder, nullptr);
      Receive(decoder, input->streams[i], frame, file);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  return file;
}

// PSNR of the decoded pictures, luma and chroma, against those given to the encoder.
double Psnr(const EncodedFile& file, int width, int height) {
  double squares = 0;
  std::size_t samples = 0;
  for (std::size_t n = 0; n < file.pictures.size(); ++n) {
    const std::vector<uint8_t> original = Picture(width, height, static_cast<int>(n));
    if (file.pictures[n].size() != original.size()) return 0;
    for (std::size_t i = 0; i < original.size(); ++i) {
      const double d = double(file.pictures[n][i]) - original[i];
      squares += d * d;
    }
    samples += original.size();
  }
  if (samples == 0) return 0;
  return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * samples / squares);
}

// The middle half of a decoded channel, clear of the encoder's ramps.
std::vector<double> Middle(const std::vector<float>& channel) {
  return std::vector<double>(channel.begin() + channel.size() / 4,
                             channel.begin() + channel.size() * 3 / 4);
}

class Encoder : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(MFEncoder_Clear(&encoder_), 0);
    EXPECT_EQ(encoder_, nullptr);
  }
  int Init(const std::string& path, EncoderSettings& settings, ErrorText& error) {
    path_ = path;
    const Text16 url = Utf16(path);
    return MFEncoder_Init(&encoder_, url.c_str(), &settings, error);
  }
  void Open(const std::string& name, EncoderSettings& settings) {
    ErrorText error;
    ASSERT_EQ(Init(ScratchPath(name), settings, error), 0) << error.text;
    ASSERT_NE(encoder_, nullptr);
  }
  // count pictures at frameRate, each stamped in seconds.
  void AddPictures(const EncoderSettings& settings, int count) {
    for (int n = 0; n < count; ++n) {
      const auto picture = Picture(settings.width, settings.height, n);
      const uint32_t bytes = static_cast<uint32_t>(picture.size());
      ErrorText error;
      ASSERT_EQ(MFEncoder_AddVideoFrame(encoder_, picture.data(), &bytes,
                                        double(n) / settings.frameRate, error),
                0)
          << error.text;
      ASSERT_TRUE(error.AllZero());
    }
  }
  // Clears the encoder and reads its file, which is then removed.
  EncodedFile Finish() {
    EXPECT_EQ(MFEncoder_Clear(&encoder_), 0);
    EncodedFile file = ReadEncoded(path_);
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::u8path(path_), ignored);
    return file;
  }

  void* encoder_ = nullptr;
  std::string path_;
};

TEST_F(Encoder, VideoAndAudioFromTwoThreads) {
  SKIP_WITHOUT_SINK_WRITER();
  EncoderSettings settings = Settings(640, 480, 30, true);
  settings.blockAlignment = 99;
  Open("two_threads.mp4", settings);
  EXPECT_EQ(settings.blockAlignment, 4u);

  constexpr int kPictures = 60, kBlock = 480, kBlocks = 200;  // 2 s of each
  std::atomic<int> failures{0};
  std::thread audio([&] {
    for (int b = 0; b < kBlocks; ++b) {
      const std::vector<int16_t> pcm = Tones(int64_t{b} * kBlock, kBlock);
      const uint32_t bytes = static_cast<uint32_t>(pcm.size() * 2);
      ErrorText error;
      if (MFEncoder_AddAudioSamples(encoder_, pcm.data(), &bytes, b * 0.01, error) != 0) ++failures;
    }
  });
  for (int n = 0; n < kPictures; ++n) {
    const auto picture = Picture(640, 480, n);
    const uint32_t bytes = static_cast<uint32_t>(picture.size());
    ErrorText error;
    // Every other picture in 100-ns units, the same times as in seconds.
    const int result =
        n % 2 ? MFEncoder_AddVideoFrame_Ticks(encoder_, picture.data(), &bytes,
                                              int64_t{n} * 10000000 / 30, error)
              : MFEncoder_AddVideoFrame(encoder_, picture.data(), &bytes, n / 30.0, error);
    EXPECT_EQ(result, 0) << error.text;
  }
  audio.join();
  EXPECT_EQ(failures.load(), 0);

  const EncodedFile file = Finish();
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.decodeErrors, 0);
  EXPECT_EQ(file.videoCodec, AV_CODEC_ID_H264);
  EXPECT_EQ(file.width, 640);
  EXPECT_EQ(file.height, 480);
  EXPECT_EQ(file.pictures.size(), size_t{kPictures});
  EXPECT_NEAR(file.videoSeconds, 2.0, 0.05);
  EXPECT_NEAR(file.frameRate, 30.0, 0.5);
  EXPECT_GT(Psnr(file, 640, 480), 30.0);
  // bitRateKbps counts units of 1024 bit/s.
  EXPECT_NEAR(file.videoBytes * 8 / 2.0, 4000 * 1024, 4000 * 1024 * 0.15);
  EXPECT_EQ(file.audioCodec, AV_CODEC_ID_AAC);
  EXPECT_EQ(file.sampleRate, kRate);
  EXPECT_EQ(file.channels, 2);
  EXPECT_NEAR(double(file.left.size()) / kRate, 2.0, 0.05);
  // Each channel keeps its own tone at its level.
  for (const auto& [channel, hz] :
       {std::pair{&file.left, kLeftHz}, std::pair{&file.right, kRightHz}}) {
    EXPECT_NEAR(tarsel_test::ZeroCrossingFrequency(Middle(*channel), kRate), hz, 5);
    EXPECT_NEAR(tarsel_test::FitSine(Middle(*channel), kRate, hz).amplitude, 0.5, 0.04);
  }
}

TEST_F(Encoder, VideoSettingsReachTheFile) {
  SKIP_WITHOUT_SINK_WRITER();
  struct Case {
    const char* name;
    uint32_t frameRate, profile, level, rateControlMode, quality;
    bool zeroDuration;
    int expectedProfile;  // as FFmpeg names it
    double minimumPsnr, maximumPsnr;
  };
  const Case cases[] = {
      {"zero_duration.mp4", 30, 100, 40, 0, 0, true, FF_PROFILE_H264_HIGH, 30, 99},
      {"fps90.mp4", 90, 77, 31, 2, 0, false, FF_PROFILE_H264_MAIN, 30, 99},
      {"fps120.mp4", 120, 66, 41, 1, 0, false, FF_PROFILE_H264_CONSTRAINED_BASELINE, 30, 99},
      {"quality_high.mp4", 30, 100, 40, 3, 95, false, FF_PROFILE_H264_HIGH, 45, 99},
      {"quality_low.mp4", 30, 100, 40, 3, 5, false, FF_PROFILE_H264_HIGH, 0, 30},
      {"default_profile.mp4", 25, 0, 0, 0, 0, false, FF_PROFILE_H264_CONSTRAINED_BASELINE, 30, 99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EncoderSettings settings = Settings(320, 240, c.frameRate);
    settings.profile = c.profile;
    settings.level = c.level;
    settings.rateControlMode = c.rateControlMode;
    settings.quality = c.quality;
    settings.minQP = 10;
    settings.zeroDuration = c.zeroDuration;
    settings.blockAlignment = 77;
    Open(c.name, settings);
    EXPECT_EQ(settings.blockAlignment, 77u);               // untouched without audio
    AddPictures(settings, static_cast<int>(c.frameRate));  // one second
    const EncodedFile file = Finish();
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.decodeErrors, 0);
    EXPECT_EQ(file.audioCodec, AV_CODEC_ID_NONE);
    EXPECT_EQ(file.pictures.size(), size_t{c.frameRate});
    EXPECT_NEAR(file.videoSeconds, 1.0, 0.02);
    EXPECT_NEAR(file.frameRate, c.frameRate, c.frameRate * 0.01);
    EXPECT_EQ(file.profile, c.expectedProfile);
    if (c.level) {
      EXPECT_EQ(file.level, int(c.level));
    }
    const double psnr = Psnr(file, 320, 240);
    EXPECT_GE(psnr, c.minimumPsnr);
    EXPECT_LE(psnr, c.maximumPsnr);
  }
}

TEST_F(Encoder, ContainersByExtension) {
  SKIP_WITHOUT_SINK_WRITER();
  struct Case {
    const char* name;
    const char* brand;  // what the major brand starts with
  };
  // Names outside ASCII reach the file system as UTF-8.
  const Case cases[] = {{"ext.mp4", "isom"},
                        {"EXT_UPPER.MP4", "isom"},
                        {"ext.m4v", "isom"},
                        {"ext.3gp", "3gp"},
                        {"caf\xC3\xA9_\xE6\x97\xA5.mp4", "isom"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EncoderSettings settings = Settings(64, 48, 10, true);
    Open(c.name, settings);
    AddPictures(settings, 3);
    const EncodedFile file = Finish();
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.brand.rfind(c.brand, 0), 0u) << file.brand;  // a prefix
    EXPECT_EQ(file.pictures.size(), 3u);
  }
}

// Refusals of a working encoder leave it usable; pictures stamped at or before
// the last one are kept, in the order given, at increasing times.
TEST_F(Encoder, BadInputOnAWorkingEncoder) {
  SKIP_WITHOUT_SINK_WRITER();
  EncoderSettings settings = Settings(64, 48, 10);
  Open("bad_input.mp4", settings);
  constexpr uint32_t kNv12 = 64 * 48 * 3 / 2, kLargest = 64 * 48 * 4;
  const std::vector<uint8_t> spare(kLargest + 1, 128);
  const char* kShort = "Picture is shorter than an NV12 picture of width x height x 3 / 2 bytes";
  const char* kBadTime = "Time in seconds is out of range";
  const struct {
    const uint8_t* picture;
    uint32_t bytes;
    bool nullCount;
    double seconds;
    const char* text;
  } refusals[] = {
      {spare.data(), kLargest + 1, false, 0, "Picture is longer than width x height x 4 bytes"},
      {spare.data(), kNv12 - 1, false, 0, kShort},
      {spare.data(), 0, false, 0, kShort},
      {nullptr, kNv12, false, 0, "Picture pointer is null"},
      {spare.data(), 0, true, 0, "Byte count pointer is null"},
      {spare.data(), kNv12, false, std::numeric_limits<double>::quiet_NaN(), kBadTime},
      {spare.data(), kNv12, false, 1e300, kBadTime},
  };
  for (const auto& c : refusals) {
    ErrorText error;
    EXPECT_EQ(MFEncoder_AddVideoFrame(encoder_, c.picture, c.nullCount ? nullptr : &c.bytes,
                                      c.seconds, error),
              1);
    EXPECT_STREQ(error.text, c.text);
  }
  // Audio on an encoder without audio would land in the video stream.
  ErrorText audioError;
  EXPECT_EQ(MFEncoder_AddAudioSamples(encoder_, spare.data(), &kNv12, 0, audioError), 1);
  EXPECT_STREQ(audioError.text, "The encoder was opened without audio");

  // Accepted: NV12 pictures and pictures up to width x height x 4 bytes.
  const int64_t times[] = {0, 1000000, 2000000, 1000000, 1000000, 500000, 6000000, -5};
  for (std::size_t n = 0; n < std::size(times); ++n) {
    std::vector<uint8_t> picture = Picture(64, 48, static_cast<int>(n));
    picture.resize(n == 2 ? kLargest : kNv12, 0);
    const uint32_t bytes = static_cast<uint32_t>(picture.size());
    ErrorText error;
    EXPECT_EQ(MFEncoder_AddVideoFrame_Ticks(encoder_, picture.data(), &bytes, times[n], error), 0)
        << error.text;
  }
  const EncodedFile file = Finish();
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.decodeErrors, 0);
  ASSERT_EQ(file.pictures.size(), std::size(times));
  for (std::size_t n = 1; n < file.pictureSeconds.size(); ++n)
    EXPECT_GT(file.pictureSeconds[n], file.pictureSeconds[n - 1]);
  EXPECT_GT(Psnr(file, 64, 48), 30.0);
}

struct InitFailure {
  const char* name;
  const char* file;  // in the scratch folder; "-": a null url
  void (*change)(EncoderSettings&);
  const char* text;
  bool platformText;  // the platform's text: exact on the portable layer only
};

// Every failed Init but a null handle pointer still hands out a handle, which
// Clear releases; writes to it are refused.
TEST_F(Encoder, FailedInitsKeepAHandleForClear) {
  const InitFailure cases[] = {
      {"null url", "-", [](EncoderSettings&) {}, "URL pointer is null", false},
      {"zero frame rate", "f.mp4", [](EncoderSettings& s) { s.frameRate = 0; },
       "Frame rate must be at least 1", false},
      {"frame too large", "f.mp4", [](EncoderSettings& s) { s.width = s.height = 40000; },
       "Frame size too large: width x height x 4 must stay below 4 GiB", false},
      {"missing folder", "missing_folder/f.mp4", [](EncoderSettings&) {},
       "The system cannot find the path specified.", true},
      {"unknown extension", "f.xyz", [](EncoderSettings&) {}, "The parameter is incorrect.", true},
      {"no extension", "f", [](EncoderSettings&) {}, "The parameter is incorrect.", true},
      {"odd width", "f.mp4", [](EncoderSettings& s) { s.width = 641; }, "Unknown error 0xC00D5212",
       true},
      {"zero height", "f.mp4", [](EncoderSettings& s) { s.height = 0; }, "Unknown error 0xC00D5212",
       true},
      {"unknown profile", "f.mp4", [](EncoderSettings& s) { s.profile = 88; },
       "Unknown error 0xC00D5212", true},
      {"unknown level", "f.mp4", [](EncoderSettings& s) { s.level = 99; },
       "Unknown error 0xC00D5212", true},
      {"22050 Hz", "f.mp4",
       [](EncoderSettings& s) {
         s.hasAudio = 1, s.numChannels = 2, s.samplesPerSecond = 22050, s.bitsPerSample = 16;
       },
       "Unknown error 0xC00D5212", true},
      {"no channels", "f.mp4",
       [](EncoderSettings& s) {
         s.hasAudio = 1, s.numChannels = 0, s.samplesPerSecond = 48000, s.bitsPerSample = 16;
       },
       "Unknown error 0xC00D5212", true},
      {"8-bit audio", "f.mp4",
       [](EncoderSettings& s) {
         s.hasAudio = 1, s.numChannels = 1, s.samplesPerSecond = 44100, s.bitsPerSample = 8;
       },
       "Unknown error 0xC00D5212", true},
  };
  for (const InitFailure& c : cases) {
    SCOPED_TRACE(c.name);
    EncoderSettings settings = Settings(640, 480, 30);
    c.change(settings);
    ErrorText error;
    const std::string path = ScratchPath(c.file);
    const Text16 url = Utf16(path);
    EXPECT_EQ(MFEncoder_Init(&encoder_, std::string(c.file) == "-" ? nullptr : url.c_str(),
                             &settings, error),
              1);
    EXPECT_NE(encoder_, nullptr);
#if defined(_WIN32)
    if (c.platformText) {
      EXPECT_NE(error.text[0], '\0');
    } else {
      EXPECT_STREQ(error.text, c.text);
    }
#else
    EXPECT_STREQ(error.text, c.text);
    // The audio stream was reached (Wine's sink writer fails before it).
    if (settings.hasAudio) {
      EXPECT_EQ(settings.blockAlignment, settings.bitsPerSample / 8 * settings.numChannels);
    }
#endif
    const std::vector<uint8_t> picture(640 * 480 * 3 / 2);
    const uint32_t bytes = static_cast<uint32_t>(picture.size());
    ErrorText addError;
    EXPECT_EQ(MFEncoder_AddVideoFrame(encoder_, picture.data(), &bytes, 0, addError), 1);
    EXPECT_STREQ(addError.text, kNotInitialized);
    EXPECT_EQ(MFEncoder_AddAudioSamples(encoder_, picture.data(), &bytes, 0, addError), 1);
    EXPECT_STREQ(addError.text, kNotInitialized);
    EXPECT_EQ(MFEncoder_Clear(&encoder_), 0);
    EXPECT_EQ(encoder_, nullptr);
  }
  // A null settings pointer is refused the same way.
  ErrorText error;
  const Text16 url = Utf16(ScratchPath("f.mp4"));
  EXPECT_EQ(MFEncoder_Init(&encoder_, url.c_str(), nullptr, error), 1);
  EXPECT_STREQ(error.text, "Settings pointer is null");
  EXPECT_NE(encoder_, nullptr);
}

TEST(EncoderExports, NullHandles) {
  const uint8_t bytes[16] = {};
  const uint32_t count = sizeof bytes;
  ErrorText error;
  EXPECT_EQ(MFEncoder_AddVideoFrame(nullptr, bytes, &count, 0, error), 1);
  EXPECT_STREQ(error.text, kNotInitialized);
  ErrorText ticksError;
  EXPECT_EQ(MFEncoder_AddVideoFrame_Ticks(nullptr, bytes, &count, 0, ticksError), 1);
  EXPECT_STREQ(ticksError.text, kNotInitialized);
  ErrorText audioError;
  EXPECT_EQ(MFEncoder_AddAudioSamples(nullptr, bytes, &count, 0, audioError), 1);
  EXPECT_STREQ(audioError.text, kNotInitialized);
  void* handle = nullptr;
  EXPECT_EQ(MFEncoder_Clear(&handle), 0);
  EXPECT_EQ(MFEncoder_Clear(nullptr), 0);
  EncoderSettings settings = Settings(64, 48, 10);
  const Text16 url = Utf16(ScratchPath("null_handle.mp4"));
  ErrorText initError;
  EXPECT_EQ(MFEncoder_Init(nullptr, url.c_str(), &settings, initError), 1);
  EXPECT_STREQ(initError.text, "The handle pointer is null");
}

}  // namespace
