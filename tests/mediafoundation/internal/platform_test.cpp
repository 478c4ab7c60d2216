// The portable Media Foundation layer: attribute stores, QISearch, reference
// counting, samples and buffers, start-up counting, the fake device provider and
// the source reader's synchronous and asynchronous reads.
#if !defined(_WIN32)

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../deliveries.h"
#include "../fake_env.h"
#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/common/media_foundation.h"
#include "mediafoundation/platform/fake_devices.h"
#include "mediafoundation/platform/runtime.h"

namespace {

using tarsel::ComPtr;
using tarsel::CoTaskMemPtr;

UINT64 Pack(UINT32 high, UINT32 low) { return UINT64{high} << 32 | low; }

// A COM object that counts its references, to watch who holds it.
class Probe final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    static const QITAB table[] = {{&kProbeIid, 0}, {nullptr, 0}};
    return QISearch(this, table, riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  static constexpr GUID kProbeIid{0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7}};
  std::atomic<ULONG> references{1};
};

constexpr GUID kKey{0xabcdef01, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kOtherKey{0xabcdef02, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

ComPtr<IMFAttributes> NewStore() {
  ComPtr<IMFAttributes> store;
  EXPECT_EQ(MFCreateAttributes(store.Put(), 2), S_OK);
  return store;
}

TEST(Attributes, ValuesKeepTheirTypes) {
  auto store = NewStore();
  EXPECT_EQ(store->SetUINT32(kKey, 7), S_OK);
  UINT32 small = 0;
  UINT64 large = 0;
  EXPECT_EQ(store->GetUINT32(kKey, &small), S_OK);
  EXPECT_EQ(small, 7u);
  EXPECT_EQ(store->GetUINT64(kKey, &large), MF_E_INVALIDTYPE);
  EXPECT_EQ(store->GetUINT32(kOtherKey, &small), MF_E_ATTRIBUTENOTFOUND);
  MF_ATTRIBUTE_TYPE type{};
  EXPECT_EQ(store->GetItemType(kKey, &type), S_OK);
  EXPECT_EQ(type, MF_ATTRIBUTE_UINT32);

  // A new value replaces the old one, whatever its type.
  EXPECT_EQ(store->SetUINT64(kKey, Pack(640, 480)), S_OK);
  EXPECT_EQ(store->GetUINT64(kKey, &large), S_OK);
  EXPECT_EQ(large, Pack(640, 480));
  EXPECT_EQ(store->SetGUID(kOtherKey, MFVideoFormat_NV12), S_OK);
  GUID guid{};
  EXPECT_EQ(store->GetGUID(kOtherKey, &guid), S_OK);
  EXPECT_EQ(guid, MFVideoFormat_NV12);
  UINT32 count = 0;
  EXPECT_EQ(store->GetCount(&count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(store->DeleteItem(kKey), S_OK);
  EXPECT_EQ(store->GetUINT64(kKey, &large), MF_E_ATTRIBUTENOTFOUND);
}

TEST(Attributes, StringsAndBlobs) {
  auto store = NewStore();
  EXPECT_EQ(store->SetString(kKey, u"Cam\u00E9ra"), S_OK);
  UINT32 length = 0;
  EXPECT_EQ(store->GetStringLength(kKey, &length), S_OK);
  EXPECT_EQ(length, 6u);
  CoTaskMemPtr<WCHAR> copy;
  EXPECT_EQ(store->GetAllocatedString(kKey, copy.Put(), &length), S_OK);
  EXPECT_EQ(std::u16string(copy.Get()), u"Cam\u00E9ra");
  WCHAR shortBuffer[6];
  EXPECT_TRUE(FAILED(store->GetString(kKey, shortBuffer, 6, &length)));
  WCHAR buffer[7];
  EXPECT_EQ(store->GetString(kKey, buffer, 7, &length), S_OK);
  EXPECT_EQ(std::u16string(buffer), u"Cam\u00E9ra");

  const BYTE bytes[] = {1, 2, 3};
  EXPECT_EQ(store->SetBlob(kOtherKey, bytes, 3), S_OK);
  BYTE out[3] = {};
  UINT32 size = 0;
  EXPECT_EQ(store->GetBlob(kOtherKey, out, 3, &size), S_OK);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::memcmp(out, bytes, 3), 0);
}

TEST(Attributes, StoredObjectsAreHeldAndQueried) {
  Probe probe;
  {
    auto store = NewStore();
    EXPECT_EQ(store->SetUnknown(kKey, &probe), S_OK);
    EXPECT_EQ(probe.references, 2u);
    ComPtr<IUnknown> back;
    EXPECT_EQ(store->GetUnknown(kKey, Probe::kProbeIid, reinterpret_cast<void**>(back.Put())),
              S_OK);
    EXPECT_EQ(back.Get(), &probe);
    EXPECT_EQ(probe.references, 3u);
    ComPtr<IUnknown> none;
    EXPECT_EQ(store->GetUnknown(kKey, IID_IMFMediaType, reinterpret_cast<void**>(none.Put())),
              E_NOINTERFACE);
  }
  EXPECT_EQ(probe.references, 1u);  // the store's last Release let it go
}

TEST(Attributes, CopyAllItemsReplacesTheDestination) {
  ComPtr<IMFMediaType> source, destination;
  ASSERT_EQ(MFCreateMediaType(source.Put()), S_OK);
  ASSERT_EQ(MFCreateMediaType(destination.Put()), S_OK);
  source->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  source->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 2);
  destination->SetUINT32(kKey, 9);
  ASSERT_EQ(source->CopyAllItems(destination.Get()), S_OK);
  UINT32 value = 0;
  EXPECT_EQ(destination->GetUINT32(kKey, &value), MF_E_ATTRIBUTENOTFOUND);
  EXPECT_EQ(destination->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &value), S_OK);
  EXPECT_EQ(value, 2u);
  GUID major{};
  EXPECT_EQ(destination->GetMajorType(&major), S_OK);
  EXPECT_EQ(major, MFMediaType_Audio);
  // The copy is independent of its source.
  source->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 1);
  destination->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &value);
  EXPECT_EQ(value, 2u);
}

TEST(Com, QISearchAnswersFromItsTable) {
  Probe probe;
  void* out = &probe;
  EXPECT_EQ(probe.QueryInterface(IID_IMFSample, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(probe.QueryInterface(IID_IUnknown, &out), S_OK);  // the table's first entry
  EXPECT_EQ(out, &probe);
  EXPECT_EQ(probe.QueryInterface(Probe::kProbeIid, &out), S_OK);
  EXPECT_EQ(probe.references, 3u);
  EXPECT_EQ(probe.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST(Com, StartupPairsAreCounted) {
  const int startups = tarsel::platform::MediaFoundationStartups();
  EXPECT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK);
  EXPECT_EQ(MFStartup(0x10070, MFSTARTUP_FULL), MF_E_BAD_STARTUP_VERSION);
  EXPECT_EQ(tarsel::platform::MediaFoundationStartups(), startups + 1);
  MFShutdown();
  EXPECT_EQ(tarsel::platform::MediaFoundationStartups(), startups);

  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(tarsel::platform::ComInitializationsOnThisThread(), 2);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(tarsel::platform::ComInitializationsOnThisThread(), 0);
  }).join();
}

TEST(Samples, BuffersAreHeldAndJoined) {
  ComPtr<IMFMediaBuffer> first, second;
  ASSERT_EQ(MFCreateMemoryBuffer(4, first.Put()), S_OK);
  ASSERT_EQ(MFCreateMemoryBuffer(8, second.Put()), S_OK);
  EXPECT_EQ(first->SetCurrentLength(5), E_INVALIDARG);
  for (auto [buffer, fill, length] :
       {std::tuple{first.Get(), BYTE{1}, DWORD{4}}, std::tuple{second.Get(), BYTE{2}, DWORD{3}}}) {
    BYTE* bytes = nullptr;
    DWORD max = 0;
    ASSERT_EQ(buffer->Lock(&bytes, &max, nullptr), S_OK);
    std::memset(bytes, fill, max);
    buffer->Unlock();
    buffer->SetCurrentLength(length);
  }
  EXPECT_EQ(first->Unlock(), E_FAIL);  // not locked
  ComPtr<IMFSample> sample;
  ASSERT_EQ(MFCreateSample(sample.Put()), S_OK);
  LONGLONG time = 0;
  EXPECT_EQ(sample->GetSampleTime(&time), static_cast<HRESULT>(0xC00D36C8u));
  sample->AddBuffer(first.Get());
  sample->AddBuffer(second.Get());
  DWORD total = 0;
  sample->GetTotalLength(&total);
  EXPECT_EQ(total, 7u);
  ComPtr<IMFMediaBuffer> joined;
  ASSERT_EQ(sample->ConvertToContiguousBuffer(joined.Put()), S_OK);
  BYTE* bytes = nullptr;
  DWORD length = 0;
  ASSERT_EQ(joined->Lock(&bytes, nullptr, &length), S_OK);
  EXPECT_EQ(std::vector<BYTE>(bytes, bytes + length), (std::vector<BYTE>{1, 1, 1, 1, 2, 2, 2}));
  joined->Unlock();
  DWORD count = 0;
  sample->GetBufferCount(&count);
  EXPECT_EQ(count, 1u);
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

std::vector<std::u16string> ListNames(const GUID& kind) {
  std::vector<std::u16string> names;
  for (const auto& device : Enumerate(kind)) {
    CoTaskMemPtr<WCHAR> name;
    EXPECT_EQ(device->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, name.Put(), nullptr),
              S_OK);
    names.emplace_back(name.Get());
  }
  return names;
}

TEST(FakeProvider, ListsOnlyWhenAskedTo) {
  {
    tarsel_test::FakeDevicesOff off;
    EXPECT_TRUE(ListNames(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID).empty());
    EXPECT_TRUE(ListNames(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID).empty());
    tarsel_test::SetFakeDevices("yes");
    EXPECT_TRUE(ListNames(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID).empty());
  }
  tarsel_test::SetFakeDevices("1");
  EXPECT_EQ(ListNames(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID),
            (std::vector<std::u16string>{u"Tarsel Virtual Camera", u"Tarsel Cam\u00E9ra \u4E2D"}));
  EXPECT_EQ(ListNames(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID),
            (std::vector<std::u16string>{u"Tarsel Virtual Microphone"}));
  // Without a device class there is nothing to list.
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  EXPECT_EQ(MFEnumDeviceSources(NewStore().Get(), &activates, &count), E_INVALIDARG);
}

// A source reader on one of the fake devices, opened as the grabbers open it.
struct Device {
  ComPtr<IMFActivate> activate;
  ComPtr<IMFMediaSource> source;
  ComPtr<IMFSourceReader> reader;
};

Device Open(const GUID& kind, UINT32 index, IMFSourceReaderCallback* callback = nullptr) {
  tarsel_test::SetFakeDevices("1");
  Device device;
  device.activate = Enumerate(kind).at(index);
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

struct VideoType {
  GUID subtype;
  UINT32 width, height, rate;
};

ComPtr<IMFMediaType> MakeVideoType(const VideoType& format) {
  ComPtr<IMFMediaType> type;
  MFCreateMediaType(type.Put());
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, format.subtype);
  type->SetUINT64(MF_MT_FRAME_SIZE, Pack(format.width, format.height));
  if (format.rate) type->SetUINT64(MF_MT_FRAME_RATE, Pack(format.rate, 1));
  return type;
}

// The catalogue and the control values are checked through the grabber's
// exports; here what those cannot see: the current type, the stream numbers,
// the capability flags and the controls' identity.
TEST(FakeCamera, CurrentTypeAndControlInterfaces) {
  Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 0);
  ComPtr<IMFMediaType> current;
  ASSERT_EQ(camera.reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, current.Put()),
            S_OK);
  GUID subtype{};
  current->GetGUID(MF_MT_SUBTYPE, &subtype);
  EXPECT_EQ(subtype, MFVideoFormat_NV12);
  EXPECT_EQ(camera.reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_AUDIO_STREAM, current.Put()),
            MF_E_INVALIDSTREAMNUMBER);
  ComPtr<IMFMediaType> native;
  EXPECT_EQ(camera.reader->GetNativeMediaType(0, 6, native.Put()), MF_E_NO_MORE_TYPES);

  ComPtr<IAMCameraControl> control;
  ASSERT_EQ(
      camera.source->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(control.Put())),
      S_OK);
  LONG min, max, step, def, caps, value, flags;
  EXPECT_EQ(control->GetRange(CameraControl_Zoom, &min, &max, &step, &def, &caps), S_OK);
  EXPECT_EQ((std::vector<LONG>{min, max, step, def, caps}),
            (std::vector<LONG>{100, 400, 10, 100, 3}));
  EXPECT_EQ(control->Get(CameraControl_Roll, &value, &flags), E_PROP_ID_UNSUPPORTED);
  // The control shares the source's identity.
  ComPtr<IMFMediaSource> same;
  control->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(same.Put()));
  EXPECT_EQ(same.Get(), camera.source.Get());
  ComPtr<IAMVideoProcAmp> amp;
  ASSERT_EQ(camera.source->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(amp.Put())),
            S_OK);
  EXPECT_EQ(amp->GetRange(VideoProcAmp_Saturation, &min, &max, &step, &def, &caps), S_OK);
  EXPECT_EQ((std::vector<LONG>{min, max, step, def, caps}), (std::vector<LONG>{0, 100, 1, 64, 3}));
  EXPECT_EQ(amp->Get(VideoProcAmp_Hue, &value, &flags), E_PROP_ID_UNSUPPORTED);
}

TEST(FakeCamera, MediaTypeAcceptance) {
  Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 0);
  const struct {
    VideoType type;
    bool accepted;
  } cases[] = {
      {{MFVideoFormat_NV12, 640, 480, 30}, true},  {{MFVideoFormat_YUY2, 1280, 720, 15}, true},
      {{MFVideoFormat_I420, 320, 240, 60}, true},  {{MFVideoFormat_NV12, 640, 480, 0}, true},
      {{MFVideoFormat_NV12, 640, 480, 60}, false}, {{MFVideoFormat_NV12, 1280, 720, 31}, false},
      {{MFVideoFormat_RGB24, 160, 120, 0}, false}, {{MFVideoFormat_MJPG, 640, 480, 30}, false},
      {{MFVideoFormat_NV12, 800, 600, 30}, false}, {{MFVideoFormat_NV12, 160, 120, 0}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type.width);
    HRESULT hr = camera.reader->SetCurrentMediaType(0, nullptr, MakeVideoType(c.type).Get());
    EXPECT_EQ(hr, c.accepted ? S_OK : MF_E_INVALIDMEDIATYPE);
  }
  // 90 frames a second as the grabber asks for it: 10,000,000 / 111,111.
  auto fast = MakeVideoType({MFVideoFormat_NV12, 320, 240, 0});
  fast->SetUINT64(MF_MT_FRAME_RATE, Pack(10'000'000, 111'111));
  EXPECT_EQ(camera.reader->SetCurrentMediaType(0, nullptr, fast.Get()), MF_E_INVALIDMEDIATYPE);
  auto noSize = MakeVideoType({MFVideoFormat_NV12, 0, 0, 30});
  noSize->DeleteItem(MF_MT_FRAME_SIZE);
  EXPECT_EQ(camera.reader->SetCurrentMediaType(0, nullptr, noSize.Get()), MF_E_INVALIDMEDIATYPE);
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

TEST(FakeCamera, SynchronousReadsAreNumberedAndTimed) {
  Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 1);  // NV12 320x240 30/1
  std::vector<LONGLONG> times;
  std::vector<std::vector<BYTE>> frames;
  for (int i = 0; i < 4; ++i) {
    DWORD stream = 9, flags = 9;
    LONGLONG time = 0;
    ComPtr<IMFSample> sample;
    ASSERT_EQ(camera.reader->ReadSample(MF_SOURCE_READER_ANY_STREAM, 0, &stream, &flags, &time,
                                        sample.Put()),
              S_OK);
    EXPECT_EQ(stream, 0u);
    EXPECT_EQ(flags, 0u);
    LONGLONG sampleTime = 0, duration = 0;
    sample->GetSampleTime(&sampleTime);
    sample->GetSampleDuration(&duration);
    EXPECT_EQ(sampleTime, time);
    EXPECT_GE(duration, 333'333);
    times.push_back(time);
    frames.push_back(Bytes(sample.Get()));
  }
  EXPECT_GT(times[0], 0);  // the clock does not start at 0
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(frames[i].size(), 320u * 240 * 3 / 2);
    EXPECT_EQ(tarsel_test::FrameNumber(frames[i].data()), static_cast<UINT32>(i));
    EXPECT_EQ(times[i] - times[0], i * 10'000'000LL / 30);
    if (i > 0) {
      EXPECT_NE(frames[i], frames[i - 1]);
    }
  }
}

TEST(FakeMicrophone, AcceptsItsOwnFormatsOnly) {
  Device microphone = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID, 0);
  auto make = [](const GUID& subtype, UINT32 bits, UINT32 channels, UINT32 rate) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(type.Put());
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, bits);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    return type;
  };
  EXPECT_EQ(microphone.reader->SetCurrentMediaType(0, nullptr,
                                                   make(MFAudioFormat_PCM, 16, 1, 44100).Get()),
            MF_E_INVALIDMEDIATYPE);
  auto wrongAlignment = make(MFAudioFormat_PCM, 16, 1, 16000);
  wrongAlignment->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 4);
  EXPECT_EQ(microphone.reader->SetCurrentMediaType(0, nullptr, wrongAlignment.Get()),
            MF_E_INVALIDMEDIATYPE);
  // The float format is taken (its tone is checked after the grabber's resampler).
  EXPECT_EQ(microphone.reader->SetCurrentMediaType(0, nullptr,
                                                   make(MFAudioFormat_Float, 32, 2, 48000).Get()),
            S_OK);
}

// ------------------------------------------------------------ asynchronous reads

// A reader callback that records what reaches it.
class Recorder final : public IMFSourceReaderCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    static const QITAB table[] = {{&IID_IMFSourceReaderCallback, 0}, {nullptr, 0}};
    return QISearch(this, table, riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE OnReadSample(HRESULT status, DWORD, DWORD flags, LONGLONG time,
                                         IMFSample* sample) override {
    std::lock_guard lock(mutex);
    statuses.push_back(status);
    times.push_back(time);
    lastFlags = flags;
    if (sample) frames.push_back(tarsel_test::FrameNumber(Bytes(sample).data()));
    threads.push_back(std::this_thread::get_id());
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
  std::vector<HRESULT> statuses;
  std::vector<LONGLONG> times;
  std::vector<UINT32> frames;
  std::vector<std::thread::id> threads;
  DWORD lastFlags = 0;
  int flushes = 0;
};

TEST(AsyncReader, ReadsCompleteOnAWorkerThroughTheCallback) {
  Recorder recorder;
  {
    Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 1, &recorder);
    EXPECT_EQ(recorder.references, 2u);  // the reader holds its callback
    DWORD flags = 0;
    LONGLONG time = 0;
    ComPtr<IMFSample> sample;
    // Synchronous reads are refused in asynchronous mode.
    EXPECT_EQ(camera.reader->ReadSample(0, 0, nullptr, &flags, &time, sample.Put()), E_INVALIDARG);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(camera.reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr,
                                          nullptr, nullptr),
                S_OK);
    }
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.frames.size() == 3; }));
    EXPECT_EQ(recorder.frames, (std::vector<UINT32>{0, 1, 2}));
    EXPECT_EQ(recorder.times[2] - recorder.times[0], 2 * 10'000'000LL / 30);
    EXPECT_NE(recorder.threads[0], std::this_thread::get_id());

    // A flush cancels the read waiting for its frame and reports itself.
    ASSERT_EQ(camera.reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(camera.reader->Flush(MF_SOURCE_READER_ALL_STREAMS), S_OK);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.flushes == 1; }));

    // After the source is shut down, a read completes with the failure.
    std::size_t before = 0;
    {
      std::lock_guard lock(recorder.mutex);
      before = recorder.statuses.size();
    }
    camera.source->Shutdown();
    ASSERT_EQ(camera.reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.statuses.size() == before + 1; }));
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.statuses.back(), MF_E_SHUTDOWN);
    EXPECT_EQ(recorder.lastFlags, static_cast<DWORD>(MF_SOURCE_READERF_ERROR));
  }
  EXPECT_EQ(recorder.references, 1u);  // the reader's last Release let the callback go
}

TEST(AsyncReader, ReleasingTheReaderCancelsAPendingRead) {
  Recorder recorder;
  {
    Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 1, &recorder);
    ASSERT_EQ(camera.reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.frames.size() == 1; }));
    ASSERT_EQ(camera.reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  }
  EXPECT_EQ(recorder.references, 1u);
  std::lock_guard lock(recorder.mutex);
  EXPECT_LE(recorder.frames.size(), 2u);
}

TEST(SourceReader, ShutsItsSourceDownWhenReleased) {
  Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 0);
  DWORD characteristics = 0;
  EXPECT_EQ(camera.source->GetCharacteristics(&characteristics), S_OK);
  EXPECT_EQ(characteristics, static_cast<DWORD>(MFMEDIASOURCE_IS_LIVE));
  camera.reader.Reset();
  EXPECT_EQ(camera.source->GetCharacteristics(&characteristics), MF_E_SHUTDOWN);
}

TEST(AsyncReader, NeedsThePlatformStarted) {
  Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 1);
  ComPtr<IMFSourceReader> reader;
  EXPECT_EQ(MFCreateSourceReaderFromMediaSource(camera.source.Get(), nullptr, reader.Put()),
            MF_E_PLATFORM_NOT_INITIALIZED);
}

TEST(Activation, ShutdownObjectLetsTheNextActivationMakeANewSource) {
  Device camera = Open(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID, 0);
  ComPtr<IMFMediaSource> again;
  camera.activate->ActivateObject(IID_IMFMediaSource, reinterpret_cast<void**>(again.Put()));
  EXPECT_EQ(again.Get(), camera.source.Get());
  camera.source->Shutdown();
  EXPECT_EQ(camera.source->Shutdown(), MF_E_SHUTDOWN);
  camera.activate->ShutdownObject();
  camera.activate->ActivateObject(IID_IMFMediaSource, reinterpret_cast<void**>(again.Put()));
  EXPECT_NE(again.Get(), camera.source.Get());
  DWORD characteristics = 0;
  EXPECT_EQ(again->GetCharacteristics(&characteristics), S_OK);
}

}  // namespace

#endif  // !_WIN32
