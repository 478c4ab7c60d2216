// The audio resampler transform as the audio grabber makes it, through
// CoCreateInstance(CLSID_CResamplerMediaObject): the portable layer's on
// libswresample, the platform's on Windows. A second of a 440 Hz tone in one
// format goes in as 10 ms samples and must come out at the output's rate and
// length with the tone intact; the input status the grabber relies on follows.
// Output in pieces and the filter length are checked through the grabber.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../sine_check.h"
#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/common/media_foundation.h"
#include "mediafoundation/common/wm_resampler_props.h"
#include "support/wine.h"

namespace {

using tarsel::ComPtr;
using tarsel_test::SampleKind;

constexpr double kToneHz = 440.0;
constexpr double kPi = 3.14159265358979323846;
constexpr LONGLONG kFirstTime = 5'000'000;  // input times start here, in 100 ns

struct Format {
  bool isFloat;
  UINT32 bits, channels, rate;
  UINT32 Alignment() const { return bits / 8 * channels; }
  SampleKind Kind() const { return isFloat ? SampleKind::kFloat : SampleKind::kPcm; }
};

std::string Describe(const Format& f) {
  return std::string(f.isFloat ? "float" : "pcm") + std::to_string(f.bits) + "x" +
         std::to_string(f.channels) + "@" + std::to_string(f.rate);
}

ComPtr<IMFMediaType> TypeOf(const Format& format) {
  ComPtr<IMFMediaType> type;
  EXPECT_EQ(MFCreateMediaType(type.Put()), S_OK);
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  type->SetGUID(MF_MT_SUBTYPE, format.isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM);
  type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, format.bits);
  type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, format.channels);
  type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.rate);
  type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, format.Alignment());
  type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, format.Alignment() * format.rate);
  return type;
}

// Frames [first, first + count) of the tone at half of full scale, the same
// on every channel.
std::vector<uint8_t> Tone(const Format& format, UINT32 first, UINT32 count) {
  std::vector<uint8_t> bytes;
  const UINT32 width = format.bits / 8;
  for (UINT32 n = first; n < first + count; ++n) {
    const double value = 0.5 * std::sin(2 * kPi * kToneHz * n / format.rate);
    uint8_t sample[8];
    if (format.isFloat && width == 4) {
      const float f = static_cast<float>(value);
      std::memcpy(sample, &f, 4);
    } else if (format.isFloat) {
      std::memcpy(sample, &value, 8);
    } else if (width == 1) {
      sample[0] = static_cast<uint8_t>(128 + std::lround(value * 128));
    } else {
      const auto scaled =
          static_cast<int64_t>(std::llround(value * std::ldexp(1.0, format.bits - 1)));
      for (UINT32 k = 0; k < width; ++k) sample[k] = static_cast<uint8_t>(scaled >> (8 * k));
    }
    for (UINT32 c = 0; c < format.channels; ++c) bytes.insert(bytes.end(), sample, sample + width);
  }
  return bytes;
}

ComPtr<IMFSample> SampleOf(const std::vector<uint8_t>& bytes, LONGLONG time) {
  ComPtr<IMFMediaBuffer> buffer;
  EXPECT_EQ(MFCreateMemoryBuffer(static_cast<DWORD>(bytes.size()), buffer.Put()), S_OK);
  BYTE* target = nullptr;
  EXPECT_EQ(buffer->Lock(&target, nullptr, nullptr), S_OK);
  if (!bytes.empty()) std::memcpy(target, bytes.data(), bytes.size());
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
  ComPtr<IMFSample> sample;
  EXPECT_EQ(MFCreateSample(sample.Put()), S_OK);
  sample->AddBuffer(buffer.Get());
  sample->SetSampleTime(time);
  return sample;
}

class Resampler : public ::testing::Test {
 protected:
  void SetUp() override {
    comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    ComPtr<IUnknown> object;
    const HRESULT created =
        CoCreateInstance(CLSID_CResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                         reinterpret_cast<void**>(object.Put()));
    // Under Wine the transform needs GStreamer's base plugins.
    ASSERT_EQ(created, S_OK) << std::hex << created;
    ASSERT_EQ(object->QueryInterface(IID_IMFTransform, reinterpret_cast<void**>(mft_.Put())), S_OK);
  }
  void TearDown() override {
    mft_.Reset();
    MFShutdown();
    if (comStarted_) CoUninitialize();
  }

  void SetTypes(const Format& in, const Format& out) {
    ASSERT_EQ(mft_->SetInputType(0, TypeOf(in).Get(), 0), S_OK) << Describe(in);
    ASSERT_EQ(mft_->SetOutputType(0, TypeOf(out).Get(), 0), S_OK) << Describe(out);
  }

  // Takes the output until the transform needs more input, in pieces of at
  // most bufferSize bytes; returns how many pieces came.
  int TakeOutput(DWORD bufferSize, std::vector<uint8_t>* bytes,
                 std::vector<LONGLONG>* times = nullptr) {
    ComPtr<IMFSample> sample = SampleOf(std::vector<uint8_t>(bufferSize), 0);
    ComPtr<IMFMediaBuffer> buffer;
    sample->GetBufferByIndex(0, buffer.Put());
    for (int pieces = 0; pieces < 100000; ++pieces) {
      MFT_OUTPUT_DATA_BUFFER output{0, sample.Get(), 0, nullptr};
      DWORD status = 0;
      buffer->SetCurrentLength(0);
      const HRESULT hr = mft_->ProcessOutput(0, 1, &output, &status);
      if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) return pieces;
      EXPECT_EQ(hr, S_OK);
      if (hr != S_OK) return pieces;
      BYTE* data = nullptr;
      DWORD length = 0;
      buffer->Lock(&data, nullptr, &length);
      EXPECT_LE(length, bufferSize);
      bytes->insert(bytes->end(), data, data + length);
      buffer->Unlock();
      LONGLONG time = 0;
      if (times && SUCCEEDED(sample->GetSampleTime(&time))) times->push_back(time);
    }
    ADD_FAILURE() << "the output never ran dry";
    return 0;
  }

  bool comStarted_ = false;
  ComPtr<IMFTransform> mft_;
};

struct Conversion {
  Format in, out;
};

TEST_F(Resampler, ToneKeepsItsPitchLevelAndLength) {
  const Conversion conversions[] = {
      {{true, 32, 2, 48000}, {false, 16, 2, 44100}},  // the grabber's case
      {{false, 16, 1, 16000}, {false, 16, 2, 44100}},
      {{false, 24, 2, 96000}, {false, 16, 2, 44100}},
      {{false, 8, 2, 8000}, {false, 16, 1, 44100}},
      {{true, 64, 1, 22050}, {true, 32, 2, 48000}},
      {{false, 32, 2, 44100}, {false, 24, 2, 44100}},
  };
  for (const Conversion& c : conversions) {
    SCOPED_TRACE(Describe(c.in) + " -> " + Describe(c.out));
    ASSERT_NO_FATAL_FAILURE(SetTypes(c.in, c.out));
    MFT_OUTPUT_STREAM_INFO info{};
    ASSERT_EQ(mft_->GetOutputStreamInfo(0, &info), S_OK);
    const DWORD bufferSize = std::max<DWORD>(info.cbSize, c.out.Alignment() * c.out.rate / 10);
    std::vector<uint8_t> out;
    std::vector<LONGLONG> times;
    for (UINT32 piece = 0; piece < 100; ++piece) {  // 10 ms each
      const UINT32 first = piece * c.in.rate / 100, next = (piece + 1) * c.in.rate / 100;
      ComPtr<IMFSample> sample =
          SampleOf(Tone(c.in, first, next - first), kFirstTime + piece * 100'000);
      ASSERT_EQ(mft_->ProcessInput(0, sample.Get(), 0), S_OK) << piece;
      TakeOutput(bufferSize, &out, &times);
    }
    ASSERT_EQ(mft_->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0), S_OK);
    TakeOutput(bufferSize, &out, &times);

    ASSERT_EQ(out.size() % c.out.Alignment(), 0u);
    const double frames = static_cast<double>(out.size() / c.out.Alignment());
    EXPECT_NEAR(frames, c.out.rate, c.out.rate * 0.005);
    ASSERT_FALSE(times.empty());
    EXPECT_NEAR(static_cast<double>(times.front()), kFirstTime, 50'000);  // within 5 ms
    // The steady part, away from the filter's ramps at either end.
    const std::size_t edge = c.out.rate / 50;
    for (UINT32 channel = 0; channel < c.out.channels; ++channel) {
      SCOPED_TRACE(channel);
      const std::vector<double> all = tarsel_test::DecodeChannel(
          out.data(), out.size(), c.out.Kind(), c.out.bits, c.out.channels, channel);
      ASSERT_GT(all.size(), 3 * edge);
      const std::vector<double> steady(all.begin() + edge, all.end() - edge);
      EXPECT_NEAR(tarsel_test::ZeroCrossingFrequency(steady, c.out.rate), kToneHz, 1.0);
      const tarsel_test::SineFit fit = tarsel_test::FitSine(steady, c.out.rate, kToneHz);
      EXPECT_NEAR(fit.amplitude, 0.5, 0.01);
      EXPECT_LT(fit.residual, 0.005);
    }
    // The next conversion starts from nothing held.
    ASSERT_EQ(mft_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0), S_OK);
  }
}

TEST_F(Resampler, InputStatusFollowsHeldOutputAndFlush) {
  TARSEL_SKIP_UNDER_WINE(
      "the resampler transform lacks GetInputStatus, and its flush keeps held output");
  DWORD flags = 0;
  ASSERT_NO_FATAL_FAILURE(SetTypes({true, 32, 2, 48000}, {false, 16, 2, 44100}));
  ASSERT_EQ(mft_->GetInputStatus(0, &flags), S_OK);
  EXPECT_EQ(flags, static_cast<DWORD>(MFT_INPUT_STATUS_ACCEPT_DATA));
  ComPtr<IMFSample> sample = SampleOf(Tone({true, 32, 2, 48000}, 0, 480), kFirstTime);
  ASSERT_EQ(mft_->ProcessInput(0, sample.Get(), 0), S_OK);
  ASSERT_EQ(mft_->GetInputStatus(0, &flags), S_OK);
  EXPECT_EQ(flags, 0u);
  std::vector<uint8_t> bytes;
  TakeOutput(4096, &bytes);
  ASSERT_EQ(mft_->GetInputStatus(0, &flags), S_OK);
  EXPECT_EQ(flags, static_cast<DWORD>(MFT_INPUT_STATUS_ACCEPT_DATA));
  // A flush drops what is held.
  ASSERT_EQ(mft_->ProcessInput(0, sample.Get(), 0), S_OK);
  ASSERT_EQ(mft_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0), S_OK);
  ASSERT_EQ(mft_->GetInputStatus(0, &flags), S_OK);
  EXPECT_EQ(flags, static_cast<DWORD>(MFT_INPUT_STATUS_ACCEPT_DATA));
  bytes.clear();
  EXPECT_EQ(TakeOutput(4096, &bytes), 0);
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
