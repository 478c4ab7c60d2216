// The audio grabber's resampler path where the fake microphone cannot lead:
// samples handed to OnReadSample directly (output longer than one block, no
// output, a sample that cannot be processed), and Resample over a scripted
// transform that fails, stalls or is told to stop.
#if !defined(_WIN32)

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../fake_env.h"
#include "../sine_check.h"
#include "common/boundary.h"
#include "mediafoundation/audio/audio_resampling.h"
#include "mediafoundation/audio/mf_audio_grabber.h"

namespace {

using tarsel::ComPtr;

struct Block {
  uint32_t number;
  int64_t timestamp;
  std::vector<uint8_t> bytes;
};
std::vector<Block> blocks;  // filled on the test's own thread: the grabber is synchronous

void TARSEL_CALL Record(uint32_t number, int64_t timestamp, uint32_t size, uint8_t* block) {
  blocks.push_back({number, timestamp, std::vector<uint8_t>(block, block + size)});
}

class TestAudioGrabber : public tarsel::MFAudioGrabber {
 public:
  using CaptureGrabber::SampleCounter;
};

ComPtr<IMFSample> SampleOf(const std::vector<uint8_t>& bytes, bool withBuffer = true) {
  ComPtr<IMFSample> sample;
  EXPECT_EQ(MFCreateSample(sample.Put()), S_OK);
  if (!withBuffer) return sample;
  ComPtr<IMFMediaBuffer> buffer;
  EXPECT_EQ(MFCreateMemoryBuffer(static_cast<DWORD>(bytes.size()), buffer.Put()), S_OK);
  BYTE* target = nullptr;
  buffer->Lock(&target, nullptr, nullptr);
  if (!bytes.empty()) std::memcpy(target, bytes.data(), bytes.size());
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
  sample->AddBuffer(buffer.Get());
  return sample;
}

// Seconds of the microphone's tone as float stereo at 48 kHz.
std::vector<uint8_t> FloatTone(double seconds) {
  std::vector<uint8_t> bytes;
  for (int n = 0; n < seconds * 48000; ++n) {
    const float value = static_cast<float>(0.5 * std::sin(2 * 3.14159265358979 * 440 * n / 48000));
    for (int channel = 0; channel < 2; ++channel) {
      const auto* p = reinterpret_cast<const uint8_t*>(&value);
      bytes.insert(bytes.end(), p, p + 4);
    }
  }
  return bytes;
}

TEST(AudioResamplerPath, SamplesOfAnyLengthThroughTheGrabber) {
  tarsel_test::SetFakeDevices("1");
  blocks.clear();
  auto grabber = tarsel::CaptureGrabber::Make<TestAudioGrabber>();
  uint32_t devices = 0, formats = 0;
  grabber->ListDevices(&devices);
  grabber->OpenDevice(0, false, &formats);  // synchronous: only this test delivers
  grabber->SetReadyCallBack(Record);
  grabber->StartGrabbing(1);  // float stereo 48 kHz: resampled
  IMFSourceReaderCallback* callback = grabber.Get();

  // Five seconds in one sample make 882,000 bytes, more than one block holds:
  // the rest comes in a second block, timed four seconds after the first.
  callback->OnReadSample(S_OK, 0, 0, 7'000'000, SampleOf(FloatTone(5)).Get());
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].number, 1u);
  EXPECT_EQ(blocks[1].number, 2u);
  EXPECT_EQ(blocks[0].timestamp, 7'000'000);
  EXPECT_EQ(blocks[1].timestamp, 7'000'000 + 40'000'000);
  EXPECT_EQ(blocks[0].bytes.size(), tarsel::kResampleBlockSize);
  EXPECT_NEAR(static_cast<double>(blocks[1].bytes.size()), 882000 - 705600, 400);
  std::vector<uint8_t> joined = blocks[0].bytes;
  joined.insert(joined.end(), blocks[1].bytes.begin(), blocks[1].bytes.end());
  const std::vector<double> left = tarsel_test::DecodeChannel(
      joined.data(), joined.size(), tarsel_test::SampleKind::kPcm, 16, 2, 0);
  const std::vector<double> steady(left.begin() + 441, left.end());
  const tarsel_test::SineFit fit = tarsel_test::FitSine(steady, 44100, 440);
  EXPECT_NEAR(fit.amplitude, 0.5, 0.01);
  EXPECT_LT(fit.residual, 0.005);  // unbroken across the two blocks

  // A sample with no audio still makes its (empty) block.
  callback->OnReadSample(S_OK, 0, 0, 8'000'000, SampleOf({}).Get());
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[2].number, 3u);
  EXPECT_TRUE(blocks[2].bytes.empty());

  // A sample the resampler cannot take is dropped; the resampler starts afresh
  // with the next one.
  callback->OnReadSample(S_OK, 0, 0, 9'000'000, SampleOf({}, false).Get());
  EXPECT_EQ(blocks.size(), 3u);
  EXPECT_EQ(grabber->SampleCounter(), 3u);
  callback->OnReadSample(S_OK, 0, 0, 9'100'000, SampleOf(FloatTone(0.01)).Get());
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[3].number, 4u);
  EXPECT_GT(blocks[3].bytes.size(), 1400u);  // 441 frames less the filter's delay
  EXPECT_LE(blocks[3].bytes.size(), 1764u);

  void* handle = static_cast<tarsel::CaptureGrabber*>(grabber.Detach());
  tarsel::DestroyGrabber(&handle);
}

#define NOT_USED(signature) \
  HRESULT STDMETHODCALLTYPE signature override { return E_NOTIMPL; }

// A transform whose output follows a script: each step writes its byte count
// and returns its result; after the last step it needs more input.
class ScriptedTransform final : public IMFTransform {
 public:
  struct Step {
    DWORD bytes;
    HRESULT result;
  };
  ScriptedTransform(HRESULT inputResult, std::vector<Step> steps, int repeat = 1)
      : inputResult_(inputResult), steps_(std::move(steps)), repeat_(repeat) {}
  int flushes = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE ProcessInput(DWORD, IMFSample*, DWORD) override { return inputResult_; }
  HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD, MFT_OUTPUT_STREAM_INFO* info) override {
    *info = {0, 4, 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR) override {
    if (message == MFT_MESSAGE_COMMAND_FLUSH) ++flushes;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD, DWORD, MFT_OUTPUT_DATA_BUFFER* output,
                                          DWORD*) override {
    if (next_ == steps_.size() * repeat_) return MF_E_TRANSFORM_NEED_MORE_INPUT;
    const Step& step = steps_[next_++ % steps_.size()];
    ComPtr<IMFMediaBuffer> buffer;
    output->pSample->GetBufferByIndex(0, buffer.Put());
    DWORD capacity = 0;
    buffer->GetMaxLength(&capacity);
    buffer->SetCurrentLength(std::min(step.bytes, capacity));
    return step.result;
  }
  // Unused by the grabber.
  NOT_USED(GetStreamLimits(DWORD*, DWORD*, DWORD*, DWORD*))
  NOT_USED(GetStreamCount(DWORD*, DWORD*))
  NOT_USED(GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*))
  NOT_USED(GetInputStreamInfo(DWORD, MFT_INPUT_STREAM_INFO*))
  NOT_USED(GetAttributes(IMFAttributes**))
  NOT_USED(GetInputStreamAttributes(DWORD, IMFAttributes**))
  NOT_USED(GetOutputStreamAttributes(DWORD, IMFAttributes**))
  NOT_USED(DeleteInputStream(DWORD))
  NOT_USED(AddInputStreams(DWORD, DWORD*))
  NOT_USED(GetInputAvailableType(DWORD, DWORD, IMFMediaType**))
  NOT_USED(GetOutputAvailableType(DWORD, DWORD, IMFMediaType**))
  NOT_USED(SetInputType(DWORD, IMFMediaType*, DWORD))
  NOT_USED(SetOutputType(DWORD, IMFMediaType*, DWORD))
  NOT_USED(GetInputCurrentType(DWORD, IMFMediaType**))
  NOT_USED(GetOutputCurrentType(DWORD, IMFMediaType**))
  NOT_USED(GetInputStatus(DWORD, DWORD*))
  NOT_USED(GetOutputStatus(DWORD*))
  NOT_USED(SetOutputBounds(LONGLONG, LONGLONG))
  NOT_USED(ProcessEvent(DWORD, IMFMediaEvent*))

 private:
  const HRESULT inputResult_;
  const std::vector<Step> steps_;
  const std::size_t repeat_;
  std::size_t next_ = 0;
};

struct Script {
  const char* name;
  HRESULT inputResult;
  std::vector<ScriptedTransform::Step> steps;
  int repeat;
  bool sinkStops;                   // the sink wants nothing after the first block
  std::vector<std::size_t> blocks;  // the sizes handed over
  const char* message;              // raised, or null
  int flushes;                      // so that the next sample is taken
};

TEST(AudioResamplerPath, OutputLoopEndsOnFailureStallAndStop) {
  const DWORD piece = tarsel::kResampledBytesPerSecond / 10;
  // clang-format off
  const Script scripts[] = {
      {"drained", S_OK, {{8, S_OK}, {8, S_OK}}, 1, false, {16}, nullptr, 0},
      {"failure keeps the output so far", S_OK, {{8, S_OK}, {8, E_FAIL}}, 1, false, {8}, nullptr, 1},
      {"stalled", S_OK, {{8, S_OK}, {0, S_OK}, {8, S_OK}}, 1, false, {8}, nullptr, 1},
      {"nothing out", S_OK, {}, 1, false, {0}, nullptr, 0},
      {"input refused", E_FAIL, {}, 1, false, {}, "The resampler MFT ProcessInput call failed.", 1},
      {"long output", S_OK, {{piece, S_OK}}, 50, false, {705600, 176400}, nullptr, 0},
      {"sink stops", S_OK, {{piece, S_OK}}, 50, true, {705600}, nullptr, 1},
  };
  // clang-format on
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.name);
    ScriptedTransform transform(script.inputResult, script.steps, script.repeat);
    std::vector<std::size_t> sizes;
    std::string raised;
    try {
      tarsel::Resample(&transform, SampleOf({0, 0, 0, 0}).Get(), 0,
                       [&](LONGLONG, uint32_t size, uint8_t*) {
                         sizes.push_back(size);
                         return !script.sinkStops;
                       });
    } catch (const tarsel::Message& message) {
      raised = message.text();
    }
    EXPECT_EQ(sizes, script.blocks);
    EXPECT_EQ(raised, script.message ? script.message : "");
    EXPECT_EQ(transform.flushes, script.flushes);
  }
}

#undef NOT_USED

}  // namespace

#endif  // !_WIN32
