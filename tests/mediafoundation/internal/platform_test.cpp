// The portable Media Foundation layer where the capture exports cannot reach
// or see: attribute stores, the fake device provider's switch, and the
// asynchronous source reader's flush, release and start-up rules.
#if !defined(_WIN32)

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "../deliveries.h"
#include "../fake_env.h"
#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/common/media_foundation.h"

namespace {

using tarsel::ComPtr;

UINT64 Pack(UINT32 high, UINT32 low) { return UINT64{high} << 32 | low; }

constexpr GUID kKey{0xabcdef01, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kOtherKey{0xabcdef02, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

ComPtr<IMFAttributes> NewStore() {
  ComPtr<IMFAttributes> store;
  EXPECT_EQ(MFCreateAttributes(store.Put(), 2), S_OK);
  return store;
}

// Stored values round-trip through every export's catalogue; here what those
// never show: a value keeps its type, and a key can be missing.
TEST(Attributes, ValuesKeepTheirTypes) {
  auto store = NewStore();
  EXPECT_EQ(store->SetUINT32(kKey, 7), S_OK);
  UINT64 large = 0;
  EXPECT_EQ(store->GetUINT64(kKey, &large), MF_E_INVALIDTYPE);
  UINT32 small = 0;
  EXPECT_EQ(store->GetUINT32(kOtherKey, &small), MF_E_ATTRIBUTENOTFOUND);
  // A new value replaces the old one, whatever its type.
  EXPECT_EQ(store->SetUINT64(kKey, Pack(640, 480)), S_OK);
  EXPECT_EQ(store->GetUINT64(kKey, &large), S_OK);
  EXPECT_EQ(large, Pack(640, 480));
  EXPECT_EQ(store->DeleteItem(kKey), S_OK);
  EXPECT_EQ(store->GetUINT64(kKey, &large), MF_E_ATTRIBUTENOTFOUND);
}

// The layer copies types into fresh ones that are then changed (the
// resampler's output type is its input's copy): the source must stay as it was.
TEST(Attributes, CopyAllItemsMakesAnIndependentCopy) {
  ComPtr<IMFMediaType> source, copy;
  ASSERT_EQ(MFCreateMediaType(source.Put()), S_OK);
  ASSERT_EQ(MFCreateMediaType(copy.Put()), S_OK);
  source->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 2);
  ASSERT_EQ(source->CopyAllItems(copy.Get()), S_OK);
  copy->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 1);
  UINT32 value = 0;
  EXPECT_EQ(source->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &value), S_OK);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(copy->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &value), S_OK);
  EXPECT_EQ(value, 1u);
}

// ------------------------------------------------------------ devices

std::vector<ComPtr<IMFActivate>> Enumerate(const GUID& kind) {
  auto filter = NewStore();
  filter->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, kind);
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  EXPECT_EQ(MFEnumDeviceSources(filter.Get(), &activates, &count), S_OK);
  std::vector<ComPtr<IMFActivate>> devices;
  for (UINT32 i = 0; i < count; ++i) {
    devices.emplace_back(activates[i]);  // holds its own reference
    activates[i]->Release();
  }
  CoTaskMemFree(activates);
  return devices;
}

// The fake devices' lists are checked through the exports; they come only
// when the variable is 1.
TEST(FakeProvider, ListsOnlyWhenAskedTo) {
  tarsel_test::FakeDevicesOff off;
  tarsel_test::SetFakeDevices("yes");
  EXPECT_TRUE(Enumerate(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID).empty());
}

// A source reader on the second fake camera, opened as the grabbers open it.
struct Device {
  ComPtr<IMFActivate> activate;
  ComPtr<IMFMediaSource> source;
  ComPtr<IMFSourceReader> reader;
};

Device Open(IMFSourceReaderCallback* callback = nullptr) {
  tarsel_test::SetFakeDevices("1");
  Device device;
  device.activate = Enumerate(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID).at(1);
  EXPECT_EQ(device.activate->ActivateObject(IID_IMFMediaSource,
                                            reinterpret_cast<void**>(device.source.Put())),
            S_OK);
  auto settings = NewStore();
  if (callback) settings->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
  MFStartup(MF_VERSION, MFSTARTUP_FULL);
  EXPECT_EQ(
      MFCreateSourceReaderFromMediaSource(device.source.Get(), settings.Get(), device.reader.Put()),
      S_OK);
  MFShutdown();
  return device;
}

std::vector<BYTE> Bytes(IMFSample* sample) {
  ComPtr<IMFMediaBuffer> buffer;
  EXPECT_EQ(sample->ConvertToContiguousBuffer(buffer.Put()), S_OK);
  BYTE* bytes = nullptr;
  DWORD length = 0;
  EXPECT_EQ(buffer->Lock(&bytes, nullptr, &length), S_OK);
  std::vector<BYTE> copy(bytes, bytes + length);
  buffer->Unlock();
  return copy;
}

// ------------------------------------------------------------ asynchronous reads

// A reader callback that records what reaches it. Numbers, times and the
// refusal of synchronous reads are checked through the camera exports.
class Recorder final : public IMFSourceReaderCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    static const QITAB table[] = {{&IID_IMFSourceReaderCallback, 0}, {nullptr, 0}};
    return QISearch(this, table, riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE OnReadSample(HRESULT, DWORD, DWORD, LONGLONG,
                                         IMFSample* sample) override {
    std::lock_guard lock(mutex);
    if (sample) frames.push_back(tarsel_test::FrameNumber(Bytes(sample).data()));
    changed.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnFlush(DWORD) override {
    std::lock_guard lock(mutex);
    ++flushes;
    changed.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

  template <class Predicate>
  bool WaitFor(Predicate done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), done);
  }

  std::atomic<ULONG> references{1};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<UINT32> frames;
  int flushes = 0;
};

// The grabbers' stop waits for the flush to be reported before it returns.
TEST(AsyncReader, FlushCancelsThePendingReadAndReportsItself) {
  Recorder recorder;
  {
    Device camera = Open(&recorder);
    EXPECT_EQ(recorder.references, 2u);  // the reader holds its callback
    ASSERT_EQ(camera.reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(camera.reader->Flush(MF_SOURCE_READER_ALL_STREAMS), S_OK);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.flushes == 1; }));
  }
  EXPECT_EQ(recorder.references, 1u);  // the reader's last Release let the callback go
}

TEST(AsyncReader, ReleasingTheReaderCancelsAPendingRead) {
  Recorder recorder;
  {
    Device camera = Open(&recorder);
    ASSERT_EQ(camera.reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.frames.size() == 1; }));
    ASSERT_EQ(camera.reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  }
  EXPECT_EQ(recorder.references, 1u);
  std::lock_guard lock(recorder.mutex);
  EXPECT_LE(recorder.frames.size(), 2u);
}

TEST(AsyncReader, NeedsThePlatformStarted) {
  Device camera = Open();
  ComPtr<IMFSourceReader> reader;
  EXPECT_EQ(MFCreateSourceReaderFromMediaSource(camera.source.Get(), nullptr, reader.Put()),
            MF_E_PLATFORM_NOT_INITIALIZED);
}

}  // namespace

#endif  // !_WIN32
