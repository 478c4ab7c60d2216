// The grabbers against a device provider of the test's own: a device that does
// not tell its name and cannot be opened.
#if !defined(_WIN32)

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "../fake_env.h"
#include "mediafoundation/audio/mf_audio_grabber.h"
#include "mediafoundation/camera/mf_cam_grabber.h"
#include "mediafoundation/platform/capture_device.h"

namespace {

using tarsel::platform::CaptureStream;
using tarsel::platform::DeviceEntry;

// Lists one device of each class, without a name; opening it fails.
class NamelessProvider final : public tarsel::platform::DeviceProvider {
 public:
  std::vector<DeviceEntry> ListDevices(const GUID&) const override {
    DeviceEntry entry;
    entry.symbolicLink = u"test://nameless";
    entry.open = [] { return std::shared_ptr<tarsel::platform::CaptureStream>(); };
    return {entry};
  }
};

// A device that opens but cannot tell its current format.
class BrokenStream final : public tarsel::platform::CaptureStream {
 public:
  const GUID& MajorType() const override { return MFMediaType_Video; }
  HRESULT GetNativeType(DWORD, IMFMediaType**) const override { return MF_E_NO_MORE_TYPES; }
  HRESULT GetCurrentType(IMFMediaType**) const override { return E_FAIL; }
  HRESULT SetCurrentType(IMFMediaType*) override { return MF_E_INVALIDMEDIATYPE; }
  HRESULT Read(const tarsel::platform::CancelCheck&, LONGLONG*, IMFSample**) override {
    return E_FAIL;
  }
  void Wake() override {}
  void Shutdown() override {}
};

class BrokenProvider final : public tarsel::platform::DeviceProvider {
 public:
  std::vector<DeviceEntry> ListDevices(const GUID&) const override {
    return {{std::u16string(u"Broken"), u"test://broken",
             [] { return std::shared_ptr<CaptureStream>(std::make_shared<BrokenStream>()); }}};
  }
};

class TestCamGrabber : public tarsel::MFCamGrabber {
 public:
  using CaptureGrabber::SourceReader;
};

template <class T>
int Init(void** handle, uint32_t* count, char* errorText) {
  return tarsel::CreateGrabber<T>(handle, count, errorText, "unknown");
}

TEST(Providers, AddedDevicesComeBeforeTheFakeOnes) {
  tarsel_test::SetFakeDevices("1");
  NamelessProvider nameless;
  tarsel::platform::ScopedDeviceProvider added(&nameless);
  void* camera = nullptr;
  uint32_t count = 0;
  char errorText[200];
  ASSERT_EQ(Init<tarsel::MFCamGrabber>(&camera, &count, errorText), 0);
  EXPECT_EQ(count, 3u);
  auto& grabber = *static_cast<tarsel::MFCamGrabber*>(static_cast<tarsel::CaptureGrabber*>(camera));
  // The camera whose name cannot be read is listed with an empty name.
  char name[32];
  std::memset(name, 'x', sizeof name);
  uint32_t copied = 99;
  EXPECT_EQ(grabber.GetDeviceName(0, name, &copied, 32), 0);
  EXPECT_EQ(copied, 0u);
  EXPECT_EQ(name[0], 'x');
  EXPECT_EQ(grabber.GetDeviceName(1, name, &copied, 32), 0);
  EXPECT_EQ(std::string(name, copied), "Tarsel Virtual Camera");

  // A device that cannot be activated fails the open; the grabber stays usable.
  uint32_t formats = 77;
  try {
    grabber.OpenDevice(0, true, &formats);
    ADD_FAILURE() << "the open should fail";
  } catch (const tarsel::Message& message) {
    EXPECT_STREQ(message.text(), "Error activating video device");
  }
  EXPECT_EQ(formats, 77u);
  grabber.OpenDevice(1, true, &formats);
  EXPECT_EQ(formats, 6u);
  EXPECT_EQ(tarsel::DestroyGrabber(&camera), 0);
}

TEST(Providers, AudioGrabberNeedsEveryName) {
  NamelessProvider nameless;
  tarsel::platform::ScopedDeviceProvider added(&nameless);
  void* microphone = reinterpret_cast<void*>(0x1);
  uint32_t count = 77;
  char errorText[200];
  EXPECT_EQ(Init<tarsel::MFAudioGrabber>(&microphone, &count, errorText), 1);
  EXPECT_STREQ(errorText, "Error getting device name.");
  EXPECT_EQ(microphone, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(count, 77u);
}

TEST(Providers, OpenAfterAFailedAsynchronousOpenIsSynchronous) {
  tarsel_test::SetFakeDevices("1");
  BrokenProvider broken;
  tarsel::platform::ScopedDeviceProvider added(&broken);
  auto grabber = tarsel::CaptureGrabber::Make<TestCamGrabber>();
  uint32_t devices = 0, formats = 77;
  grabber->ListDevices(&devices);
  ASSERT_EQ(devices, 3u);
  try {
    grabber->OpenDevice(0, true, &formats);
    ADD_FAILURE() << "the open should fail";
  } catch (const tarsel::Message& message) {
    EXPECT_STREQ(message.text(), "Error retrieving current media type from first video stream");
  }
  EXPECT_EQ(formats, 77u);
  grabber->OpenDevice(2, false, &formats);  // the second fake camera
  EXPECT_EQ(formats, 1u);
  DWORD flags = 0;
  LONGLONG time = 0;
  tarsel::ComPtr<IMFSample> sample;
  EXPECT_EQ(grabber->SourceReader()->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr,
                                                &flags, &time, sample.Put()),
            S_OK);
  void* handle = static_cast<tarsel::CaptureGrabber*>(grabber.Detach());
  EXPECT_EQ(tarsel::DestroyGrabber(&handle), 0);
}

}  // namespace

#endif  // !_WIN32
