// The exports shared by the camera and audio grabbers, against the fake devices
// (TARSEL_FAKE_DEVICES=1): device lists and names, opening, both format
// catalogues, bad input and null handles.
#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "fake_env.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace {

using tarsel_test::ErrorText;

constexpr char kCamNotInitialized[] = "Cam grabber not initialized";
constexpr char kAudioNotInitialized[] = "Audio grabber not initialized";
constexpr char kAudiograbberNotInitialized[] = "Audiograbber not initialized";

// {XXXXXXXX-0000-0010-8000-00AA00389B71}, the platform's subtypes by tag.
TarselGuid Subtype(uint32_t tag) {
  return TarselGuid{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr uint32_t kNv12 = 0x3231564E;
constexpr uint32_t kYuy2 = 0x32595559;
constexpr uint32_t kI420 = 0x30323449;
constexpr uint32_t kRgb24 = 20;
constexpr uint32_t kPcm = 1;
constexpr uint32_t kFloat = 3;

bool SameGuid(const TarselGuid& a, const TarselGuid& b) { return std::memcmp(&a, &b, 16) == 0; }

class FakeDevices : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "the fake devices belong to the portable platform layer";
#endif
  }
  void TearDown() override {
    MFCamGrabber_Clear(&camera_);
    MFAudioGrabber_Clear(&microphone_);
  }
  // Init lists the fake devices and clears the error buffer.
  void InitCamera() {
    ErrorText error;
    ASSERT_EQ(MFCamGrabber_Init(&camera_, &cameraCount_, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
    EXPECT_EQ(cameraCount_, 2u);
  }
  void InitMicrophone() {
    ErrorText error;
    ASSERT_EQ(MFAudioGrabber_Init(&microphone_, &microphoneCount_, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
    EXPECT_EQ(microphoneCount_, 1u);
  }

  void* camera_ = nullptr;
  void* microphone_ = nullptr;
  uint32_t cameraCount_ = 77;
  uint32_t microphoneCount_ = 77;
};

// Names are narrowed to the low byte of each UTF-16 unit (U+00E9 becomes 0xE9,
// U+4E2D becomes 0x2D) and copied without a terminator, cut at the length given;
// a bad length or index copies nothing. The camera's copied count is left as it
// was for a bad index.
TEST_F(FakeDevices, DeviceNames) {
  InitCamera();
  InitMicrophone();
  struct Case {
    bool microphone;
    int32_t index, length;
    const char* written;  // then 'x', as the buffer was
    uint32_t copied;
  };
  const Case cases[] = {
      {false, 0, 64, "Tarsel Virtual Camera", 21},
      {false, 1, 64, "Tarsel Cam\xE9ra \x2D", 15},
      {false, 0, 6, "Tarsel", 6},
      {false, 0, 0, "", 0},
      {false, 0, -1, "", 0},
      {false, -1, 16, "", 99},
      {false, 2, 16, "", 99},
      {true, 0, 64, "Tarsel Virtual Microphone", 0},
      {true, 0, 7, "Tarsel ", 0},
      {true, 0, -5, "", 0},
      {true, -1, 16, "", 0},
      {true, 1, 16, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.microphone << " " << c.index << " " << c.length);
    char name[64];
    std::memset(name, 'x', sizeof name);
    uint32_t copied = 99;
    EXPECT_EQ(c.microphone ? MFAudioGrabber_GetDeviceName(microphone_, c.index, name, c.length)
                           : MFCamGrabber_GetDeviceName(camera_, c.index, name, &copied, c.length),
              0);
    const std::size_t size = std::strlen(c.written);
    EXPECT_EQ(std::string(name, size + 1), std::string(c.written) + "x");
    if (!c.microphone) {
      EXPECT_EQ(copied, c.copied);
    }
  }
  // A null name with nothing to copy is harmless; with bytes to copy it is
  // refused. The copied count is optional.
  uint32_t copied = 99;
  EXPECT_EQ(MFCamGrabber_GetDeviceName(camera_, 0, nullptr, &copied, 0), 0);
  EXPECT_EQ(MFCamGrabber_GetDeviceName(camera_, 0, nullptr, &copied, 10), -1);
  char name[8] = "xxxxxxx";
  EXPECT_EQ(MFCamGrabber_GetDeviceName(camera_, 0, name, nullptr, 3), 0);
  EXPECT_EQ(std::string(name, 4), "Tarx");
}

struct CameraFormat {
  uint32_t tag, width, height, numerator, denominator;
};

TEST_F(FakeDevices, CameraCatalogueRecordByRecord) {
  InitCamera();
  for (bool asynchronous : {true, false}) {
    ErrorText error;
    uint32_t formats = 0;
    ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 0, asynchronous, &formats, error), 0) << error.text;
    EXPECT_TRUE(error.AllZero());
    ASSERT_EQ(formats, 6u);
    const CameraFormat expected[] = {
        {kNv12, 640, 480, 30, 1},  {kYuy2, 640, 480, 30, 1}, {kI420, 640, 480, 30, 1},
        {kNv12, 1280, 720, 30, 1}, {kNv12, 320, 240, 60, 1}, {kRgb24, 160, 120, 0, 0},
    };
    for (int i = 0; i < 6; ++i) {
      SCOPED_TRACE(i);
      CamConfig config;
      std::memset(&config, 0xAB, sizeof config);
      ErrorText configError;
      ASSERT_EQ(MFCamGrabber_GetConfig(camera_, i, &config, configError), 0);
      EXPECT_TRUE(configError.Untouched());
      EXPECT_TRUE(SameGuid(config.subtype, Subtype(expected[i].tag)));
      EXPECT_EQ(config.width, expected[i].width);
      EXPECT_EQ(config.height, expected[i].height);
      EXPECT_EQ(config.frameRateNumerator, expected[i].numerator);
      EXPECT_EQ(config.frameRateDenominator, expected[i].denominator);
      if (expected[i].denominator) {
        EXPECT_EQ(config.framesPerSecond, double(expected[i].numerator));
      } else {
        EXPECT_TRUE(std::isnan(config.framesPerSecond));  // 0 / 0
      }
    }
  }
}

TEST_F(FakeDevices, CameraConfigOutOfRangeZeroesOnlySizeAndRate) {
  InitCamera();
  ErrorText error;
  uint32_t formats = 0;
  ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 0, false, &formats, error), 0);
  for (int32_t index : {6, -1, 1000}) {
    CamConfig config;
    std::memset(&config, 0xAB, sizeof config);
    CamConfig marked = config;
    EXPECT_EQ(MFCamGrabber_GetConfig(camera_, index, &config, error), 0);
    EXPECT_EQ(config.width, 0u);
    EXPECT_EQ(config.height, 0u);
    EXPECT_EQ(config.framesPerSecond, 0.0);
    EXPECT_TRUE(SameGuid(config.subtype, marked.subtype));
    EXPECT_EQ(config.frameRateNumerator, marked.frameRateNumerator);
    EXPECT_EQ(config.frameRateDenominator, marked.frameRateDenominator);
  }
}

TEST_F(FakeDevices, SecondCameraAndReopening) {
  InitCamera();
  ErrorText error;
  uint32_t formats = 0;
  ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 0, true, &formats, error), 0);
  EXPECT_EQ(formats, 6u);
  ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 1, true, &formats, error), 0) << error.text;
  ASSERT_EQ(formats, 1u);
  CamConfig config{};
  ASSERT_EQ(MFCamGrabber_GetConfig(camera_, 0, &config, error), 0);
  EXPECT_TRUE(SameGuid(config.subtype, Subtype(kNv12)));
  EXPECT_EQ(config.width, 320u);
  EXPECT_EQ(config.height, 240u);
  EXPECT_EQ(config.framesPerSecond, 30.0);
  // The catalogue is rebuilt at each open.
  EXPECT_EQ(MFCamGrabber_GetConfig(camera_, 1, &config, error), 0);
  EXPECT_EQ(config.width, 0u);
  ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 0, false, &formats, error), 0) << error.text;
  EXPECT_EQ(formats, 6u);
}

struct AudioFormat {
  uint32_t tag, bits, channels, rate, align, bytesPerSecond;
};

TEST_F(FakeDevices, MicrophoneCatalogueRecordByRecord) {
  InitMicrophone();
  ErrorText error;
  uint32_t formats = 0;
  ASSERT_EQ(MFAudioGrabber_OpenDevice(microphone_, 0, true, &formats, error), 0) << error.text;
  EXPECT_TRUE(error.AllZero());
  ASSERT_EQ(formats, 3u);
  const AudioFormat expected[] = {
      {kPcm, 16, 2, 48000, 4, 192000},
      {kFloat, 32, 2, 48000, 8, 384000},
      {kPcm, 16, 1, 16000, 2, 32000},
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    AudioConfig config;
    std::memset(&config, 0xAB, sizeof config);
    ASSERT_EQ(MFAudioGrabber_GetConfig(microphone_, i, &config, error), 0);
    EXPECT_TRUE(SameGuid(config.subtype, Subtype(expected[i].tag)));
    EXPECT_EQ(config.bitsPerSample, expected[i].bits);
    EXPECT_EQ(config.numChannels, expected[i].channels);
    EXPECT_EQ(config.samplesPerSecond, expected[i].rate);
    EXPECT_EQ(config.blockAlignment, expected[i].align);
    EXPECT_EQ(config.avgBytesPerSecond, expected[i].bytesPerSecond);
    EXPECT_EQ(config.allSamplesIndependent, 1u);
  }
  for (int32_t index : {3, -1}) {
    AudioConfig config;
    std::memset(&config, 0xAB, sizeof config);
    const AudioConfig marked = config;
    EXPECT_EQ(MFAudioGrabber_GetConfig(microphone_, index, &config, error), 0);
    EXPECT_EQ(config.bitsPerSample, 0u);
    EXPECT_EQ(config.numChannels, 0u);
    EXPECT_EQ(config.samplesPerSecond, 0u);
    EXPECT_EQ(config.blockAlignment, 0u);
    EXPECT_TRUE(SameGuid(config.subtype, marked.subtype));
    EXPECT_EQ(config.avgBytesPerSecond, marked.avgBytesPerSecond);
    EXPECT_EQ(config.allSamplesIndependent, marked.allSamplesIndependent);
  }
}

TEST_F(FakeDevices, OpenIndexOutOfRangeOpensNothingAndNullConfigIsRefused) {
  InitCamera();
  InitMicrophone();
  for (int32_t index : {-1, 2, 99}) {
    ErrorText error;
    uint32_t formats = 77;
    EXPECT_EQ(MFCamGrabber_OpenCamera(camera_, index, true, &formats, error), 0);
    EXPECT_EQ(formats, 77u);
    EXPECT_TRUE(error.AllZero());
  }
  ErrorText error;
  uint32_t formats = 77;
  EXPECT_EQ(MFAudioGrabber_OpenDevice(microphone_, 1, true, &formats, error), 0);
  EXPECT_EQ(formats, 77u);
  // Without an open device the catalogue is empty.
  CamConfig config{};
  config.width = 5;
  EXPECT_EQ(MFCamGrabber_GetConfig(camera_, 0, &config, error), 0);
  EXPECT_EQ(config.width, 0u);
  EXPECT_EQ(MFCamGrabber_GetConfig(camera_, 0, nullptr, error), 1);
  EXPECT_STREQ(error.text, "Config pointer is null");
  ErrorText audioError;
  EXPECT_EQ(MFAudioGrabber_GetConfig(microphone_, 0, nullptr, audioError), 1);
  EXPECT_STREQ(audioError.text, "Config pointer is null");
}

// Stop and registration work before any start; Clear nulls the handle and is
// safe twice.
TEST_F(FakeDevices, StopRegisterAndClearInAnyState) {
  InitCamera();
  InitMicrophone();
  EXPECT_EQ(MFCamGrabber_StopGrabbing(camera_), 0);
  EXPECT_EQ(MFAudioGrabber_StopGrabbing(microphone_), 0);
  EXPECT_EQ(MFCamGrabber_SetFrameReadyCallBack(camera_, nullptr), 0);
  EXPECT_EQ(MFAudioGrabber_SetAudioReadyCallBack(microphone_, nullptr), 0);
  ErrorText error;
  uint32_t formats = 0;
  ASSERT_EQ(MFCamGrabber_OpenCamera(camera_, 0, true, &formats, error), 0);
  EXPECT_EQ(MFCamGrabber_Clear(&camera_), 0);
  EXPECT_EQ(camera_, nullptr);
  EXPECT_EQ(MFCamGrabber_Clear(&camera_), 0);
  EXPECT_EQ(MFAudioGrabber_Clear(&microphone_), 0);
  EXPECT_EQ(microphone_, nullptr);
  EXPECT_EQ(MFAudioGrabber_Clear(&microphone_), 0);
  EXPECT_EQ(MFAudioGrabber_Clear(nullptr), 0);
  EXPECT_EQ(TestAudioStuff(), 0);  // opens the first microphone and releases it
}

// Without the fake devices this machine's own devices are listed: the test
// needs a machine without capture devices (a build machine, Wine).
TEST(NoDevices, EverythingIsOutOfRange) {
  tarsel_test::FakeDevicesOff off;
  void* camera = nullptr;
  uint32_t count = 77;
  ErrorText error;
  ASSERT_EQ(MFCamGrabber_Init(&camera, &count, error), 0);
  if (count > 0) {
    MFCamGrabber_Clear(&camera);
    GTEST_SKIP() << "this machine has cameras";
  }
  uint32_t formats = 77;
  EXPECT_EQ(MFCamGrabber_OpenCamera(camera, 0, true, &formats, error), 0);
  EXPECT_EQ(formats, 77u);
  char name[8] = "xxxxxxx";
  uint32_t copied = 77;
  EXPECT_EQ(MFCamGrabber_GetDeviceName(camera, 0, name, &copied, 8), 0);
  EXPECT_EQ(copied, 77u);
  EXPECT_EQ(name[0], 'x');
  EXPECT_EQ(MFCamGrabber_Clear(&camera), 0);

  void* microphone = nullptr;
  count = 77;
  ASSERT_EQ(MFAudioGrabber_Init(&microphone, &count, error), 0);
  if (count > 0) {
    MFAudioGrabber_Clear(&microphone);
    GTEST_SKIP() << "this machine has audio capture devices";
  }
  EXPECT_EQ(MFAudioGrabber_OpenDevice(microphone, 0, true, &formats, error), 0);
  EXPECT_EQ(formats, 77u);
  EXPECT_EQ(MFAudioGrabber_Clear(&microphone), 0);
  EXPECT_EQ(TestAudioStuff(), 0);
}

TEST(NullHandles, OperationsReportTheFamilyTexts) {
  ErrorText error;
  uint32_t formats = 77;
  EXPECT_EQ(MFCamGrabber_OpenCamera(nullptr, 0, true, &formats, error), 1);
  EXPECT_STREQ(error.text, kCamNotInitialized);
  EXPECT_EQ(formats, 77u);
  ErrorText audioOpen;
  EXPECT_EQ(MFAudioGrabber_OpenDevice(nullptr, 0, true, &formats, audioOpen), 1);
  EXPECT_STREQ(audioOpen.text, kAudiograbberNotInitialized);

  CamConfig camConfig{};
  ErrorText camConfigError;
  EXPECT_EQ(MFCamGrabber_GetConfig(nullptr, 0, &camConfig, camConfigError), 1);
  EXPECT_STREQ(camConfigError.text, kCamNotInitialized);
  AudioConfig audioConfig{};
  ErrorText audioConfigError;
  EXPECT_EQ(MFAudioGrabber_GetConfig(nullptr, 0, &audioConfig, audioConfigError), 1);
  EXPECT_STREQ(audioConfigError.text, kAudioNotInitialized);

  char name[4] = "xxx";
  uint32_t copied = 77;
  EXPECT_EQ(MFCamGrabber_GetDeviceName(nullptr, 0, name, &copied, 4), -1);
  EXPECT_EQ(MFAudioGrabber_GetDeviceName(nullptr, 0, name, 4), -1);
  EXPECT_EQ(copied, 77u);
  EXPECT_EQ(name[0], 'x');
  EXPECT_EQ(MFCamGrabber_StopGrabbing(nullptr), 1);
  EXPECT_EQ(MFAudioGrabber_StopGrabbing(nullptr), 1);
  EXPECT_EQ(MFCamGrabber_SetFrameReadyCallBack(nullptr, nullptr), 1);
  EXPECT_EQ(MFAudioGrabber_SetAudioReadyCallBack(nullptr, nullptr), 1);
  void* none = nullptr;
  EXPECT_EQ(MFCamGrabber_Clear(&none), 0);
  EXPECT_EQ(MFAudioGrabber_Clear(&none), 0);
  ErrorText camInit, audioInit;
  EXPECT_EQ(MFCamGrabber_Init(nullptr, &copied, camInit), 1);
  EXPECT_STREQ(camInit.text, "The handle pointer is null");
  EXPECT_EQ(MFAudioGrabber_Init(nullptr, &copied, audioInit), 1);
  EXPECT_STREQ(audioInit.text, "The handle pointer is null");
}

}  // namespace
