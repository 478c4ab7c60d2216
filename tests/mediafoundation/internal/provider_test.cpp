// The grabbers against a device provider of the test's own: a device that does
// not tell its name and cannot be opened.
#if !defined(_WIN32)

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "../fake_env.h"
#include "mediafoundation/audio/mf_audio_grabber.h"
#include "mediafoundation/camera/mf_cam_grabber.h"
#include "mediafoundation/platform/capture_device.h"

namespace {

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

}  // namespace

#endif  // !_WIN32
