// ALSA microphones against scripted capture PCMs that fill in real time on a
// clock of their own: listing and names, the type catalogue and its order,
// negotiation, 10 ms blocks with capture-clock times in both read modes,
// overruns, busy, missing and unplugged devices.
#if defined(__linux__)

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "../deliveries.h"
#include "../fake_env.h"
#include "mediafoundation/platform/linux/alsa_microphones.h"
#include "mediafoundation/platform/media_source.h"
#include "support/test_support.h"
#include "tarsel.h"

namespace tarsel::platform {

bool operator<(const AlsaParameters& a, const AlsaParameters& b) {
  return std::tie(a.format, a.channels, a.rate) < std::tie(b.format, b.channels, b.rate);
}
bool operator==(const AlsaParameters& a, const AlsaParameters& b) { return !(a < b) && !(b < a); }

}  // namespace tarsel::platform

namespace {

using namespace tarsel::platform;
using tarsel_test::deliveries;
using tarsel_test::ErrorText;
using tarsel_test::Record;
using Clock = std::chrono::steady_clock;

constexpr LONGLONG kClockBase = 7'000'000'000;  // the capture clock at the first frame, 100 ns

struct PcmScript {
  std::set<AlsaParameters> supported;
  int openError = 0;
  bool refusesConfiguration = false;
  long framesBeforeUnplug = -1;
  long overrunAtFrame = -1;  // a read from this frame on finds an overrun, once
};

// Frame f, channel c of a 16-bit stream.
int16_t SampleAt(long frame, unsigned channel) { return static_cast<int16_t>(frame * 2 + channel); }

// What the scripted machine saw.
struct Log {
  std::vector<std::string> opened;
  std::optional<AlsaParameters> configured;
  int openPcms = 0;
};

class ScriptedPcm final : public AlsaPcm {
 public:
  ScriptedPcm(PcmScript script, Log& log, std::mutex& mutex)
      : script_(std::move(script)), log_(log), mutex_(mutex) {}
  ~ScriptedPcm() override {
    std::lock_guard lock(mutex_);
    --log_.openPcms;
  }
  bool Supports(const AlsaParameters& parameters) override {
    return script_.supported.count(parameters) > 0;
  }
  int Configure(const AlsaParameters& parameters, unsigned long) override {
    if (script_.refusesConfiguration || !Supports(parameters)) return -EINVAL;
    std::lock_guard lock(mutex_);
    log_.configured = parameters;
    parameters_ = parameters;
    return 0;
  }
  int Start() override {
    started_ = Clock::now();
    origin_ = clockFrames_;
    return Gone() ? -ENODEV : 0;
  }
  int Drop() override { return 0; }
  int Prepare() override { return Gone() ? -ENODEV : 0; }
  long Read(void* buffer, unsigned long frames) override {
    if (Gone()) return -ENODEV;
    const long available = Available();
    if (available == 0) return -EAGAIN;
    if (script_.overrunAtFrame >= 0 && read_ >= script_.overrunAtFrame) {
      script_.overrunAtFrame = -1;
      // The frames not collected are lost; the clock goes on.
      clockFrames_ = origin_ + read_ + available + parameters_->rate / 10;
      read_ = 0;
      return -EPIPE;
    }
    const long count = std::min<long>(available, static_cast<long>(frames));
    auto* samples = static_cast<int16_t*>(buffer);
    for (long f = 0; f < count; ++f) {
      for (unsigned c = 0; c < parameters_->channels; ++c) {
        *samples++ = SampleAt(origin_ + read_ + f, c);
      }
    }
    read_ += count;
    return count;
  }
  // The stamp stands at the last frame captured.
  int Stamp(unsigned long* available, timespec* time) override {
    const long ready = Available();
    const LONGLONG ticks =
        kClockBase + (origin_ + read_ + ready) * LONGLONG{10'000'000} / parameters_->rate;
    *available = static_cast<unsigned long>(ready);
    time->tv_sec = ticks / 10'000'000;
    time->tv_nsec = ticks % 10'000'000 * 100;
    return 0;
  }

 private:
  // Frames captured since the start and not yet read; the device fills in
  // real time.
  long Available() const {
    const auto elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
    return static_cast<long>(elapsed * parameters_->rate) - read_;
  }
  bool Gone() const {
    return script_.framesBeforeUnplug >= 0 && read_ >= script_.framesBeforeUnplug;
  }

  PcmScript script_;
  Log& log_;
  std::mutex& mutex_;
  std::optional<AlsaParameters> parameters_;
  Clock::time_point started_;
  long clockFrames_ = 0;  // frames of the clock before this start
  long origin_ = 0;
  long read_ = 0;
};

class ScriptedAlsa final : public AlsaIo {
 public:
  void Add(const std::string& name, const std::string& description, PcmScript script) {
    devices_.push_back({name, description});
    scripts_[name] = std::move(script);
  }
  // A device reached only through the converting plug-in.
  void AddConverting(const std::string& name, const std::string& description) {
    Add(name, description, {});
    PcmScript plugged;
    for (const auto format : {AlsaSampleFormat::kS16, AlsaSampleFormat::kFloat}) {
      for (const unsigned rate : {44100u, 48000u}) {
        for (const unsigned channels : {1u, 2u}) plugged.supported.insert({format, channels, rate});
      }
    }
    scripts_["plug" + name] = plugged;
  }
  void Unconfigured() { listError_ = -ENOENT; }
  int CaptureDevices(std::vector<AlsaCaptureDevice>* devices) override {
    if (listError_) return listError_;
    *devices = devices_;
    return 0;
  }
  int Open(const std::string& name, std::unique_ptr<AlsaPcm>* pcm) override {
    std::lock_guard lock(mutex_);
    log_.opened.push_back(name);
    const PcmScript& script = scripts_.at(name);
    if (script.openError) return -script.openError;
    ++log_.openPcms;
    *pcm = std::make_unique<ScriptedPcm>(script, log_, mutex_);
    return 0;
  }
  Log Seen() {
    std::lock_guard lock(mutex_);
    return log_;
  }

 private:
  std::vector<AlsaCaptureDevice> devices_;
  std::map<std::string, PcmScript> scripts_;
  int listError_ = 0;
  std::mutex mutex_;
  Log log_;
};

constexpr AlsaParameters kMonoS16{AlsaSampleFormat::kS16, 1, 48000};
constexpr AlsaParameters kStereoS16{AlsaSampleFormat::kS16, 2, 48000};
constexpr AlsaParameters kStereoFloat44{AlsaSampleFormat::kFloat, 2, 44100};
constexpr AlsaParameters kStereoFloat48{AlsaSampleFormat::kFloat, 2, 48000};

PcmScript UsbMicrophone() { return {{kStereoFloat48, kStereoS16, kStereoFloat44, kMonoS16}}; }

// The 10 ms block that starts at frame first, 16-bit stereo.
std::vector<uint8_t> StereoBlock(long first) {
  std::vector<uint8_t> bytes(480 * 4);
  auto* samples = reinterpret_cast<int16_t*>(bytes.data());
  for (long f = 0; f < 480; ++f) {
    for (unsigned c = 0; c < 2; ++c) *samples++ = SampleAt(first + f, c);
  }
  return bytes;
}

class AlsaMicrophones : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Close(); }
  void Close() {
    MFAudioGrabber_Clear(&microphone_);
    if (alsa_) {
      EXPECT_EQ(alsa_->Seen().openPcms, 0) << "a PCM was left open";
    }
  }
  // A new scripted machine whose only device is the microphone given, if any.
  void Reset(std::optional<PcmScript> microphone = std::nullopt) {
    Close();
    added_.reset();
    alsa_ = std::make_shared<ScriptedAlsa>();
    provider_.emplace(alsa_);
    added_.emplace(&*provider_);
    if (microphone) alsa_->Add("hw:CARD=Mic,DEV=0", "USB Mic, USB Audio", *microphone);
    deliveries.Reset();
  }
  void Init() {
    ErrorText error;
    ASSERT_EQ(MFAudioGrabber_Init(&microphone_, &devices_, error), 0) << error.text;
  }
  int OpenDevice(int index) {
    ErrorText error;
    const int result = MFAudioGrabber_OpenDevice(microphone_, index, true, &formats_, error);
    if (result) {
      EXPECT_STREQ(error.text, "Error activating video device");
    }
    return result;
  }
  // Opens the first device's stream directly, for the codes behind the texts.
  std::shared_ptr<CaptureStream> OpenStream(HRESULT* failure) {
    const auto listed = provider_->ListDevices(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    *failure = S_OK;
    try {
      return listed.at(0).open();
    } catch (const DeviceUnavailable& unavailable) {
      *failure = unavailable.hr;
    }
    return nullptr;
  }

  tarsel_test::FakeDevicesOff noFakes_;
  std::shared_ptr<ScriptedAlsa> alsa_;
  std::optional<AlsaMicrophoneProvider> provider_;
  std::optional<ScopedDeviceProvider> added_;
  void* microphone_ = nullptr;
  uint32_t devices_ = 0;
  uint32_t formats_ = 0;
};

TEST_F(AlsaMicrophones, CapturePcmsAreListedWithTheirTypesInOrder) {
  Reset(UsbMicrophone());
  alsa_->AddConverting("hw:CARD=PCH,DEV=0", "HDA Intel PCH, ALC3246 Anal\xC3\xB3g");
  Init();
  ASSERT_EQ(devices_, 2u);
  char name[64] = {};
  EXPECT_EQ(MFAudioGrabber_GetDeviceName(microphone_, 0, name, 64), 0);
  EXPECT_STREQ(name, "USB Mic, USB Audio");
  std::memset(name, 0, sizeof name);
  EXPECT_EQ(MFAudioGrabber_GetDeviceName(microphone_, 1, name, 64), 0);
  EXPECT_STREQ(name, "HDA Intel PCH, ALC3246 Anal\xF3g");

  struct Entry {
    const GUID& subtype;
    UINT32 bits, channels, rate;
  };
  const std::vector<Entry> usb = {{MFAudioFormat_PCM, 16, 1, 48000},
                                  {MFAudioFormat_PCM, 16, 2, 48000},
                                  {MFAudioFormat_Float, 32, 2, 44100},
                                  {MFAudioFormat_Float, 32, 2, 48000}};
  std::vector<Entry> converting;
  for (const GUID* subtype : {&MFAudioFormat_PCM, &MFAudioFormat_Float}) {
    for (const UINT32 rate : {44100u, 48000u}) {
      for (const UINT32 channels : {1u, 2u}) {
        converting.push_back({*subtype, *subtype == MFAudioFormat_PCM ? 16u : 32u, channels, rate});
      }
    }
  }
  for (const auto& [device, expected] : {std::pair{0, usb}, std::pair{1, converting}}) {
    SCOPED_TRACE(device);
    ASSERT_EQ(OpenDevice(device), 0);
    ASSERT_EQ(formats_, expected.size());
    for (UINT32 i = 0; i < formats_; ++i) {
      AudioConfig config{};
      ErrorText error;
      ASSERT_EQ(MFAudioGrabber_GetConfig(microphone_, i, &config, error), 0);
      const UINT32 alignment = expected[i].bits / 8 * expected[i].channels;
      EXPECT_EQ(std::memcmp(&config.subtype, &expected[i].subtype, 16), 0) << i;
      EXPECT_EQ(config.bitsPerSample, expected[i].bits) << i;
      EXPECT_EQ(config.numChannels, expected[i].channels) << i;
      EXPECT_EQ(config.samplesPerSecond, expected[i].rate) << i;
      EXPECT_EQ(config.blockAlignment, alignment) << i;
      EXPECT_EQ(config.avgBytesPerSecond, alignment * expected[i].rate) << i;
      EXPECT_EQ(config.allSamplesIndependent, 1u) << i;
    }
  }
  // The second device was tried as it is, then through the converting plug-in.
  const Log log = alsa_->Seen();
  EXPECT_EQ(log.opened, (std::vector<std::string>{"hw:CARD=Mic,DEV=0", "hw:CARD=PCH,DEV=0",
                                                  "plughw:CARD=PCH,DEV=0"}));
}

TEST_F(AlsaMicrophones, DevicesThatCannotBeUsedFailWithThePlatformsCodes) {
  struct Case {
    const char* what;
    PcmScript script;
    HRESULT activation;
  };
  const Case cases[] = {
      {"busy", {{kMonoS16}, EBUSY}, MF_E_AUDIO_RECORDING_DEVICE_IN_USE},
      {"gone", {{kMonoS16}, ENODEV}, MF_E_AUDIO_RECORDING_DEVICE_INVALIDATED},
      {"no permission", {{kMonoS16}, EACCES}, E_ACCESSDENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset(c.script);
    HRESULT failure = S_OK;
    EXPECT_EQ(OpenStream(&failure), nullptr);
    EXPECT_EQ(failure, c.activation);
    Init();
    EXPECT_EQ(OpenDevice(0), 1);
  }
  // Without ALSA's configuration there is nothing to list, and no failure.
  Reset(UsbMicrophone());
  alsa_->Unconfigured();
  Init();
  EXPECT_EQ(devices_, 0u);
}

TEST_F(AlsaMicrophones, TypesAreConfiguredExactlyOrRefused) {
  Reset(UsbMicrophone());
  Init();
  ASSERT_EQ(OpenDevice(0), 0);
  ErrorText error;
  ASSERT_EQ(MFAudioGrabber_StartGrabbing(microphone_, 1, error), 0) << error.text;
  EXPECT_EQ(alsa_->Seen().configured, kStereoS16);
  ASSERT_EQ(MFAudioGrabber_StartGrabbing(microphone_, 2, error), 0) << error.text;
  EXPECT_EQ(alsa_->Seen().configured, kStereoFloat44);
  MFAudioGrabber_StopGrabbing(microphone_);

  // A device that refuses even its own types fails the start.
  MFAudioGrabber_Clear(&microphone_);
  PcmScript refusing = UsbMicrophone();
  refusing.refusesConfiguration = true;
  alsa_->Add("hw:CARD=Other,DEV=0", "Other, USB Audio", refusing);
  Init();
  ASSERT_EQ(OpenDevice(1), 0);
  EXPECT_EQ(MFAudioGrabber_StartGrabbing(microphone_, 1, error), 1);
  EXPECT_STREQ(error.text, "Failed to set media type on source reader");
}

// Blocks of 10 ms, each the device's next frames, stamped with the capture
// clock: the first frame's time and then 10 ms more for each block. An
// overrun loses frames and starts the stamps from the clock again.
TEST_F(AlsaMicrophones, BlocksAreTenMillisecondsOnTheCaptureClock) {
  struct Case {
    const char* what;
    long overrunAtFrame;
    long framesBeforeUnplug;
  };
  const Case cases[] = {{"steady", -1, -1}, {"overrun", 960, -1}, {"unplugged", -1, 5 * 480}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PcmScript script = UsbMicrophone();
    script.overrunAtFrame = c.overrunAtFrame;
    script.framesBeforeUnplug = c.framesBeforeUnplug;
    Reset(script);
    Init();
    ASSERT_EQ(OpenDevice(0), 0);
    ASSERT_EQ(MFAudioGrabber_SetAudioReadyCallBack(microphone_, Record), 0);
    ErrorText error;
    ASSERT_EQ(MFAudioGrabber_StartGrabbing(microphone_, 1, error), 0) << error.text;
    ASSERT_TRUE(deliveries.WaitFor(5));
    if (c.framesBeforeUnplug >= 0) {
      // Delivery ended with the device.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_EQ(deliveries.Copy().size(), 5u);
    }
    MFAudioGrabber_StopGrabbing(microphone_);
    const auto seen = deliveries.Copy();
    for (std::size_t k = 0; k < 5; ++k) {
      EXPECT_EQ(seen[k].number, k + 1);
      EXPECT_EQ(seen[k].bytes.size(), 1920u);
      if (k > 0) {
        EXPECT_GT(seen[k].time, seen[k - 1].time);
      }
    }
    if (c.overrunAtFrame < 0) {
      for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(seen[k].time, kClockBase + LONGLONG(k) * 100'000) << k;
        EXPECT_EQ(seen[k].bytes, StereoBlock(long(k) * 480)) << k;
      }
    } else {
      // Two blocks before the overrun, then frames from past the lost ones.
      EXPECT_EQ(seen[1].time, kClockBase + 100'000);
      EXPECT_GT(seen[2].time - seen[1].time, 100'000);
      EXPECT_EQ(seen[3].time - seen[2].time, 100'000);
    }
  }
}

TEST_F(AlsaMicrophones, PolledBlocksAndUnplug) {
  PcmScript script = UsbMicrophone();
  script.framesBeforeUnplug = 3 * 480;
  Reset(script);
  HRESULT failure = S_OK;
  const auto stream = OpenStream(&failure);
  ASSERT_TRUE(stream);
  tarsel::ComPtr<IMFMediaSource> source;
  ASSERT_EQ(CreateCaptureSource(stream, source.Put()), S_OK);
  ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK);
  tarsel::ComPtr<IMFSourceReader> reader;
  ASSERT_EQ(MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, reader.Put()), S_OK);
  std::vector<HRESULT> results;
  std::vector<LONGLONG> times;
  for (int n = 0; n < 5; ++n) {
    DWORD flags = 0;
    LONGLONG time = 0;
    tarsel::ComPtr<IMFSample> sample;
    results.push_back(reader->ReadSample(MF_SOURCE_READER_FIRST_AUDIO_STREAM, 0, nullptr, &flags,
                                         &time, sample.Put()));
    times.push_back(time);
  }
  const HRESULT gone = MF_E_AUDIO_RECORDING_DEVICE_INVALIDATED;
  EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, S_OK, S_OK, gone, gone}));
  // The first block is mono 16-bit at 48 kHz, the device's first type.
  EXPECT_EQ(times[0], kClockBase);
  EXPECT_EQ(times[2], kClockBase + 200'000);
  reader.Reset();
  source.Reset();
  MFShutdown();
}

}  // namespace

#endif  // __linux__
