// The grabber base through a test grabber that can start asynchronous delivery
// (the common tail of StartGrabbing): the COM shape, OnReadSample's order of
// tests, reopening and restarting, and COM initialisation. Numbering, stop,
// delivery and Clear while delivering are tested through the exports.
#if !defined(_WIN32)

#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../deliveries.h"
#include "../fake_env.h"
#include "mediafoundation/audio/mf_audio_grabber.h"
#include "mediafoundation/camera/mf_cam_grabber.h"
#include "mediafoundation/platform/runtime.h"

namespace {

using tarsel::ComPtr;
using tarsel_test::deliveries;
using tarsel_test::Record;

// A camera grabber whose asynchronous delivery a test can start.
class TestCamGrabber : public tarsel::MFCamGrabber {
 public:
  using CaptureGrabber::BeginGrabbing;
  using CaptureGrabber::ReadsInFlight;
  using CaptureGrabber::SampleCounter;
};

template <class T>
ComPtr<T> OpenGrabber(int device, bool asynchronous) {
  tarsel_test::SetFakeDevices("1");
  auto grabber = tarsel::CaptureGrabber::Make<T>();
  uint32_t devices = 0, formats = 0;
  grabber->ListDevices(&devices);
  grabber->OpenDevice(device, asynchronous, &formats);
  return grabber;
}

// Clear as the export does it: close, then give back the handle's reference.
template <class T>
void Clear(ComPtr<T>& grabber) {
  void* handle = static_cast<tarsel::CaptureGrabber*>(grabber.Detach());
  EXPECT_EQ(tarsel::DestroyGrabber(&handle), 0);
  EXPECT_EQ(handle, nullptr);
}

class GrabberBase : public ::testing::Test {
 protected:
  void SetUp() override { deliveries.Reset(); }
};

TEST_F(GrabberBase, QueryInterfaceAndReferences) {
  for (const bool asynchronous : {false, true}) {
    SCOPED_TRACE(asynchronous);
    auto grabber = OpenGrabber<TestCamGrabber>(1, asynchronous);
    IMFSourceReaderCallback* callback = grabber.Get();
    void* out = nullptr;
    EXPECT_EQ(callback->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(callback));
    EXPECT_EQ(callback->QueryInterface(IID_IMFSourceReaderCallback, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(callback));
    EXPECT_EQ(callback->QueryInterface(IID_IMFMediaSource, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(callback->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    // The handle's, the two just taken, and the asynchronous reader's.
    EXPECT_EQ(callback->Release(), asynchronous ? 3u : 2u);
    EXPECT_EQ(callback->Release(), asynchronous ? 2u : 1u);
    // A sample that comes while not grabbing is discarded uncounted.
    EXPECT_EQ(grabber->OnReadSample(S_OK, 0, 0, 5, nullptr), S_OK);
    EXPECT_EQ(grabber->SampleCounter(), 0u);
    Clear(grabber);
  }
}

TEST_F(GrabberBase, EachGrabberMakesOneStartupPair) {
  const int before = tarsel::platform::MediaFoundationStartups();
  auto first = OpenGrabber<TestCamGrabber>(0, true);
  auto second = OpenGrabber<tarsel::MFAudioGrabber>(0, true);
  EXPECT_EQ(tarsel::platform::MediaFoundationStartups(), before + 2);
  Clear(first);
  Clear(second);
  EXPECT_EQ(tarsel::platform::MediaFoundationStartups(), before);
}

// The callback is gone after a failed read: delivery needs it registered again.
TEST_F(GrabberBase, FailedReadClearsTheCallback) {
  auto grabber = OpenGrabber<TestCamGrabber>(1, true);
  grabber->SetReadyCallBack(Record);
  IMFSourceReaderCallback* callback = grabber.Get();
  EXPECT_EQ(callback->OnReadSample(E_FAIL, 0, MF_SOURCE_READERF_ERROR, 0, nullptr), E_FAIL);
  grabber->BeginGrabbing();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (grabber->SampleCounter() < 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(grabber->SampleCounter(), 1u);
  EXPECT_TRUE(deliveries.Copy().empty());
  Clear(grabber);
}

TEST_F(GrabberBase, SecondOpenKeepsAsynchronousDelivery) {
  auto grabber = OpenGrabber<TestCamGrabber>(0, true);
  grabber->SetReadyCallBack(Record);
  grabber->BeginGrabbing();
  ASSERT_TRUE(deliveries.WaitFor(1));
  uint32_t formats = 0;
  grabber->OpenDevice(1, true, &formats);
  EXPECT_EQ(formats, 1u);
  deliveries.Reset();
  grabber->BeginGrabbing();
  ASSERT_TRUE(deliveries.WaitFor(2));
  const auto seen = deliveries.Copy();
  EXPECT_EQ(seen[0].bytes.size(), 320u * 240 * 3 / 2);
  EXPECT_EQ(seen[0].Frame(), 0u);  // a new source counts its frames from 0
  Clear(grabber);
}

TEST_F(GrabberBase, RestartsWhileDeliveringKeepOneReadInFlight) {
  auto grabber = OpenGrabber<TestCamGrabber>(1, true);
  grabber->SetReadyCallBack(Record);
  grabber->BeginGrabbing();
  ASSERT_TRUE(deliveries.WaitFor(1));
  for (int start = 0; start < 20; ++start) {
    grabber->BeginGrabbing();
    if (start % 5 == 0) grabber->StopGrabbing();  // a stop just before a start, too
  }
  grabber->BeginGrabbing();
  EXPECT_LE(grabber->ReadsInFlight(), 1);
  deliveries.Reset();
  ASSERT_TRUE(deliveries.WaitFor(3));
  EXPECT_LE(grabber->ReadsInFlight(), 1);
  Clear(grabber);
}

// COM counts initialisations per thread. A grabber undoes its own only when it
// succeeded, and only on the thread that made it, so the caller's stay intact.
TEST_F(GrabberBase, ComInitialisationIsUndoneOnlyWhereItSucceeded) {
  using tarsel::platform::ComInitializationsOnThisThread;
  auto onThread = [](auto body) { std::thread(body).join(); };
  onThread([] {  // made and cleared on one thread without COM: back to none
    auto grabber = OpenGrabber<TestCamGrabber>(1, false);
    EXPECT_EQ(ComInitializationsOnThisThread(), 1);
    Clear(grabber);
    EXPECT_EQ(ComInitializationsOnThisThread(), 0);
  });
  onThread([] {  // the caller's apartment is the grabber's: its request counts and is undone
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    auto grabber = OpenGrabber<TestCamGrabber>(1, false);
    EXPECT_EQ(ComInitializationsOnThisThread(), 2);
    Clear(grabber);
    EXPECT_EQ(ComInitializationsOnThisThread(), 1);
    CoUninitialize();
  });
  onThread([] {  // the caller's thread is multithreaded: the grabber's request fails
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    auto grabber = OpenGrabber<TestCamGrabber>(1, false);
    Clear(grabber);
    EXPECT_EQ(ComInitializationsOnThisThread(), 1);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
  });
  ComPtr<TestCamGrabber> made;
  onThread([&] { made = OpenGrabber<TestCamGrabber>(1, false); });
  onThread([&] {  // cleared on another thread, whose own initialisation stays
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    Clear(made);
    EXPECT_EQ(ComInitializationsOnThisThread(), 1);
    CoUninitialize();
  });
}

}  // namespace

#endif  // !_WIN32
