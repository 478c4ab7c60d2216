// The audio grabber through the C boundary, against the fake microphone
// (TARSEL_FAKE_DEVICES=1): 10 ms blocks of a 440 Hz sine at half of full scale
// in PCM 16-bit stereo 48 kHz, IEEE float stereo 48 kHz and PCM 16-bit mono
// 16 kHz. PCM arrives as captured; float goes through the resampler and
// arrives as 16-bit stereo PCM at 44,100 Hz. The microphone runs in real time:
// waits are bounded generously and rates are measured against the device's
// timestamps, never against the clock.
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "deliveries.h"
#include "sine_check.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

using tarsel_test::Block;
using tarsel_test::deliveries;
using tarsel_test::ErrorText;
using tarsel_test::Record;
using tarsel_test::SampleKind;

constexpr int64_t kBlockTicks = 100'000;  // the microphone's 10 ms

class AudioGrabber : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "the fake microphone belongs to the portable platform layer";
#endif
    ErrorText error;
    uint32_t devices = 0;
    ASSERT_EQ(MFAudioGrabber_Init(&grabber_, &devices, error), 0) << error.text;
    ASSERT_GE(devices, 1u);
    deliveries.Reset();
  }
  void TearDown() override { MFAudioGrabber_Clear(&grabber_); }

  void Open(bool asynchronous) {
    ErrorText error;
    uint32_t formats = 0;
    ASSERT_EQ(MFAudioGrabber_OpenDevice(grabber_, 0, asynchronous, &formats, error), 0)
        << error.text;
    ASSERT_EQ(formats, 3u);
    ASSERT_EQ(MFAudioGrabber_SetAudioReadyCallBack(grabber_, Record), 0);
  }
  void Start(int32_t format) {
    ErrorText error;
    ASSERT_EQ(MFAudioGrabber_StartGrabbing(grabber_, format, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
  }

  void* grabber_ = nullptr;
};

struct Delivery {
  int32_t format;
  int channels;
  int rate;               // of the delivered audio
  uint32_t blockBytes;    // every block's size; 0 where the resampler decides
  double bytesPerSecond;  // of the delivered audio
};

TEST_F(AudioGrabber, EachFormatDeliversTheToneAtItsRate) {
  const Delivery formats[] = {
      {0, 2, 48000, 1920, 192000},  // PCM as captured
      {1, 2, 44100, 0, 176400},     // float, resampled
      {2, 1, 16000, 320, 32000},    // PCM as captured
  };
  ASSERT_NO_FATAL_FAILURE(Open(true));
  for (const Delivery& d : formats) {
    SCOPED_TRACE(d.format);
    deliveries.Reset();
    ASSERT_NO_FATAL_FAILURE(Start(d.format));
    ASSERT_TRUE(deliveries.WaitFor(105));  // a second of device time and a little more
    ASSERT_EQ(MFAudioGrabber_StopGrabbing(grabber_), 0);
    const std::vector<Block> blocks = deliveries.Copy();
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      ASSERT_EQ(blocks[i].number, i + 1) << "block " << i;  // in the order they came
    }

    // Bytes against the device's clock, over the blocks before the last.
    double bytes = 0;
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
      if (d.blockBytes) {
        EXPECT_EQ(blocks[i].bytes.size(), d.blockBytes) << "block " << i;
      }
      bytes += blocks[i].bytes.size();
    }
    const double seconds = (blocks.back().time - blocks.front().time) / 1e7;
    ASSERT_GT(seconds, 0.9);
    EXPECT_NEAR(bytes / seconds, d.bytesPerSecond, d.bytesPerSecond * 0.03);

    // The tone runs on unbroken through consecutive blocks (the microphone
    // skips blocks only when its reader falls a second behind).
    std::vector<uint8_t> joined;
    for (std::size_t i = 2; i < blocks.size(); ++i) {
      if (blocks[i].time - blocks[i - 1].time != kBlockTicks) break;
      joined.insert(joined.end(), blocks[i].bytes.begin(), blocks[i].bytes.end());
    }
    ASSERT_GE(joined.size(), 20 * bytes / blocks.size());
    for (int channel = 0; channel < d.channels; ++channel) {
      SCOPED_TRACE(channel);
      const std::vector<double> x = tarsel_test::DecodeChannel(
          joined.data(), joined.size(), SampleKind::kPcm, 16, d.channels, channel);
      EXPECT_NEAR(tarsel_test::ZeroCrossingFrequency(x, d.rate), 440.0, 1.0);
      const tarsel_test::SineFit fit = tarsel_test::FitSine(x, d.rate, 440.0);
      EXPECT_NEAR(fit.amplitude, 0.5, 0.01);
      EXPECT_LT(fit.residual, 0.005);
    }
  }
}

TEST_F(AudioGrabber, CallbackMayRestartAndStopFromInside) {
  ASSERT_NO_FATAL_FAILURE(Open(true));
  // PCM, then float from inside the fifth block's callback, stopped from inside
  // the tenth block after that.
  auto restarted = std::make_shared<bool>(false);  // the step runs on the delivering thread
  deliveries.Reset([grabber = grabber_, restarted](const Block& block) {
    if (!*restarted && block.number == 5) {
      *restarted = true;
      ErrorText error;
      EXPECT_EQ(MFAudioGrabber_StartGrabbing(grabber, 1, error), 0) << error.text;
    } else if (*restarted && block.number == 10) {
      MFAudioGrabber_StopGrabbing(grabber);
    }
  });
  ASSERT_NO_FATAL_FAILURE(Start(0));
  ASSERT_TRUE(deliveries.WaitFor(15));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // and no more come
  const std::vector<Block> blocks = deliveries.Copy();
  ASSERT_EQ(blocks.size(), 15u);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE(i);
    if (i < 5) {
      EXPECT_EQ(blocks[i].number, i + 1);
      EXPECT_EQ(blocks[i].bytes.size(), 1920u);
    } else {
      EXPECT_EQ(blocks[i].number, i - 4);  // numbered anew
      EXPECT_GE(blocks[i].bytes.size(), 1400u);
      EXPECT_LE(blocks[i].bytes.size(), 1900u);
    }
  }
}

TEST_F(AudioGrabber, SynchronousOpenDeliversNothing) {
  ASSERT_NO_FATAL_FAILURE(Open(false));
  ASSERT_NO_FATAL_FAILURE(Start(1));
  ASSERT_NO_FATAL_FAILURE(Start(0));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(deliveries.Copy().empty());
}

TEST_F(AudioGrabber, BadStarts) {
  ErrorText error;
  EXPECT_EQ(MFAudioGrabber_StartGrabbing(grabber_, 0, error), 1);  // nothing opened
  EXPECT_STREQ(error.text, "Video source not activated");
  ASSERT_NO_FATAL_FAILURE(Open(true));
  for (int32_t format : {-1, 3, 4, INT_MIN, INT_MAX}) {
    ErrorText badIndex;
    EXPECT_EQ(MFAudioGrabber_StartGrabbing(grabber_, format, badIndex), 1) << format;
    EXPECT_STREQ(badIndex.text, "format idx out of bounds");
    EXPECT_EQ(badIndex.text[std::strlen(badIndex.text) + 1], 0);  // cleared on entry
  }
  ErrorText nullHandle;
  EXPECT_EQ(MFAudioGrabber_StartGrabbing(nullptr, 0, nullHandle), 1);
  EXPECT_STREQ(nullHandle.text, "Cam grabber not initialized");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(deliveries.Copy().empty());  // failed starts start nothing
}

// Start, deliver, restart in another format, stop and clear, over and over:
// nothing may reach the callback after Clear returned.
TEST_F(AudioGrabber, StartRestartStopClearLoop) {
  MFAudioGrabber_Clear(&grabber_);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    ErrorText error;
    uint32_t devices = 0;
    ASSERT_EQ(MFAudioGrabber_Init(&grabber_, &devices, error), 0) << error.text;
    deliveries.Reset();
    ASSERT_NO_FATAL_FAILURE(Open(true));
    ASSERT_NO_FATAL_FAILURE(Start(round % 3));
    ASSERT_TRUE(deliveries.WaitFor(1));
    ASSERT_NO_FATAL_FAILURE(Start((round + 1) % 3));
    if (round % 2) {
      ASSERT_TRUE(deliveries.WaitFor(3));
    }
    if (round % 4 == 1) MFAudioGrabber_StopGrabbing(grabber_);
    EXPECT_EQ(MFAudioGrabber_Clear(&grabber_), 0);
    EXPECT_EQ(grabber_, nullptr);
    deliveries.cleared = true;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(deliveries.lateCalls, 0);
}

}  // namespace
