// ALSA through libasound.so.2, loaded on first use. The library is optional:
// without it, or without ALSA's configuration, there are no microphones.
#include "mediafoundation/platform/linux/alsa_io.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <cerrno>

namespace tarsel::platform {

namespace {

constexpr char kLibrary[] = "libasound.so.2";
constexpr int kMaxCards = 32;
constexpr int kMaxDevicesPerCard = 32;
constexpr unsigned kPeriodsPerBuffer = 50;  // half a second of 10 ms periods

// clang-format off
#define TARSEL_ALSA_FUNCTIONS(X) \
  X(snd_lib_error_set_handler) \
  X(snd_card_next) \
  X(snd_ctl_open) \
  X(snd_ctl_close) \
  X(snd_ctl_card_info_malloc) \
  X(snd_ctl_card_info_free) \
  X(snd_ctl_card_info) \
  X(snd_ctl_card_info_get_id) \
  X(snd_ctl_card_info_get_name) \
  X(snd_ctl_pcm_next_device) \
  X(snd_pcm_info_malloc) \
  X(snd_pcm_info_free) \
  X(snd_pcm_info_set_device) \
  X(snd_pcm_info_set_subdevice) \
  X(snd_pcm_info_set_stream) \
  X(snd_ctl_pcm_info) \
  X(snd_pcm_info_get_name) \
  X(snd_pcm_open) \
  X(snd_pcm_close) \
  X(snd_pcm_hw_params_malloc) \
  X(snd_pcm_hw_params_free) \
  X(snd_pcm_hw_params_any) \
  X(snd_pcm_hw_params_test_rate) \
  X(snd_pcm_hw_params_set_access) \
  X(snd_pcm_hw_params_set_format) \
  X(snd_pcm_hw_params_set_channels) \
  X(snd_pcm_hw_params_set_rate) \
  X(snd_pcm_hw_params_set_period_size_near) \
  X(snd_pcm_hw_params_set_buffer_size_near) \
  X(snd_pcm_hw_params) \
  X(snd_pcm_sw_params_malloc) \
  X(snd_pcm_sw_params_free) \
  X(snd_pcm_sw_params_current) \
  X(snd_pcm_sw_params_set_tstamp_mode) \
  X(snd_pcm_sw_params_set_tstamp_type) \
  X(snd_pcm_sw_params_set_avail_min) \
  X(snd_pcm_sw_params) \
  X(snd_pcm_start) \
  X(snd_pcm_drop) \
  X(snd_pcm_prepare) \
  X(snd_pcm_readi) \
  X(snd_pcm_htimestamp)
// clang-format on

// The library's functions, resolved once.
struct Library {
#define TARSEL_DECLARE(name) decltype(&::name) name = nullptr;
  TARSEL_ALSA_FUNCTIONS(TARSEL_DECLARE)
#undef TARSEL_DECLARE
  bool loaded = false;
};

// ALSA reports its own troubles on the standard error stream; the library
// never prints, so those reports go nowhere.
void Silent(const char*, int, const char*, int, const char*, ...) {}

const Library& Load() {
  static const Library library = [] {
    Library loaded;
    // A host that uses ALSA itself keeps its own error reporting.
    void* hostCopy = dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD);
    if (hostCopy) dlclose(hostCopy);
    void* handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return loaded;
    bool complete = true;
#define TARSEL_RESOLVE(name)                                               \
  loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
  complete = complete && loaded.name;
    TARSEL_ALSA_FUNCTIONS(TARSEL_RESOLVE)
#undef TARSEL_RESOLVE
    if (!complete) return Library{};  // the handle stays: unloading ALSA is not safe
    if (!hostCopy) loaded.snd_lib_error_set_handler(Silent);
    loaded.loaded = true;
    return loaded;
  }();
  return library;
}

snd_pcm_format_t FormatOf(AlsaSampleFormat format) {
  return format == AlsaSampleFormat::kFloat ? SND_PCM_FORMAT_FLOAT_LE : SND_PCM_FORMAT_S16_LE;
}

// An ALSA object freed by its own function.
template <class T, class Free>
struct Owned {
  T* object = nullptr;
  Free free;
  ~Owned() {
    if (object) free(object);
  }
};

class SystemPcm final : public AlsaPcm {
 public:
  SystemPcm(const Library& alsa, snd_pcm_t* pcm) : alsa_(alsa), pcm_(pcm) {}
  ~SystemPcm() override { alsa_.snd_pcm_close(pcm_); }

  bool Supports(const AlsaParameters& parameters) override {
    Owned<snd_pcm_hw_params_t, decltype(alsa_.snd_pcm_hw_params_free)> hw{
        nullptr, alsa_.snd_pcm_hw_params_free};
    if (alsa_.snd_pcm_hw_params_malloc(&hw.object) < 0) return false;
    // Each setting narrows the space the next one is tested in, so the
    // parameters are supported together.
    return alsa_.snd_pcm_hw_params_any(pcm_, hw.object) >= 0 &&
           alsa_.snd_pcm_hw_params_set_access(pcm_, hw.object, SND_PCM_ACCESS_RW_INTERLEAVED) >=
               0 &&
           alsa_.snd_pcm_hw_params_set_format(pcm_, hw.object, FormatOf(parameters.format)) >= 0 &&
           alsa_.snd_pcm_hw_params_set_channels(pcm_, hw.object, parameters.channels) >= 0 &&
           alsa_.snd_pcm_hw_params_test_rate(pcm_, hw.object, parameters.rate, 0) == 0;
  }

  int Configure(const AlsaParameters& parameters, unsigned long periodFrames) override {
    Owned<snd_pcm_hw_params_t, decltype(alsa_.snd_pcm_hw_params_free)> hw{
        nullptr, alsa_.snd_pcm_hw_params_free};
    int result = alsa_.snd_pcm_hw_params_malloc(&hw.object);
    snd_pcm_uframes_t period = periodFrames;
    snd_pcm_uframes_t buffer = periodFrames * kPeriodsPerBuffer;
    int direction = 0;
    if (result >= 0) result = alsa_.snd_pcm_hw_params_any(pcm_, hw.object);
    if (result >= 0) {
      result = alsa_.snd_pcm_hw_params_set_access(pcm_, hw.object, SND_PCM_ACCESS_RW_INTERLEAVED);
    }
    if (result >= 0) {
      result = alsa_.snd_pcm_hw_params_set_format(pcm_, hw.object, FormatOf(parameters.format));
    }
    if (result >= 0) {
      result = alsa_.snd_pcm_hw_params_set_channels(pcm_, hw.object, parameters.channels);
    }
    if (result >= 0) result = alsa_.snd_pcm_hw_params_set_rate(pcm_, hw.object, parameters.rate, 0);
    if (result >= 0) {
      result = alsa_.snd_pcm_hw_params_set_period_size_near(pcm_, hw.object, &period, &direction);
    }
    if (result >= 0) {
      result = alsa_.snd_pcm_hw_params_set_buffer_size_near(pcm_, hw.object, &buffer);
    }
    if (result >= 0) result = alsa_.snd_pcm_hw_params(pcm_, hw.object);
    if (result < 0) return result;

    Owned<snd_pcm_sw_params_t, decltype(alsa_.snd_pcm_sw_params_free)> sw{
        nullptr, alsa_.snd_pcm_sw_params_free};
    result = alsa_.snd_pcm_sw_params_malloc(&sw.object);
    if (result >= 0) result = alsa_.snd_pcm_sw_params_current(pcm_, sw.object);
    if (result >= 0) {
      result = alsa_.snd_pcm_sw_params_set_tstamp_mode(pcm_, sw.object, SND_PCM_TSTAMP_ENABLE);
    }
    if (result >= 0) {
      result =
          alsa_.snd_pcm_sw_params_set_tstamp_type(pcm_, sw.object, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    }
    if (result >= 0) result = alsa_.snd_pcm_sw_params_set_avail_min(pcm_, sw.object, periodFrames);
    if (result >= 0) result = alsa_.snd_pcm_sw_params(pcm_, sw.object);
    return result;
  }

  int Start() override { return alsa_.snd_pcm_start(pcm_); }
  int Drop() override { return alsa_.snd_pcm_drop(pcm_); }
  int Prepare() override { return alsa_.snd_pcm_prepare(pcm_); }
  long Read(void* buffer, unsigned long frames) override {
    return alsa_.snd_pcm_readi(pcm_, buffer, frames);
  }
  int Stamp(unsigned long* available, timespec* time) override {
    snd_pcm_uframes_t frames = 0;
    const int result = alsa_.snd_pcm_htimestamp(pcm_, &frames, time);
    *available = frames;
    return result;
  }

 private:
  const Library& alsa_;
  snd_pcm_t* const pcm_;
};

class SystemIo final : public AlsaIo {
 public:
  int CaptureDevices(std::vector<AlsaCaptureDevice>* devices) override {
    const Library& alsa = Load();
    if (!alsa.loaded) return -ENOSYS;
    int card = -1;
    for (int cards = 0; cards < kMaxCards; ++cards) {
      const int result = alsa.snd_card_next(&card);
      if (result < 0) return devices->empty() ? result : 0;
      if (card < 0) break;
      AddCard(alsa, card, devices);
    }
    return 0;
  }

  int Open(const std::string& name, std::unique_ptr<AlsaPcm>* pcm) override {
    const Library& alsa = Load();
    if (!alsa.loaded) return -ENOSYS;
    snd_pcm_t* opened = nullptr;
    const int result =
        alsa.snd_pcm_open(&opened, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (result < 0) return result;
    *pcm = std::make_unique<SystemPcm>(alsa, opened);
    return 0;
  }

 private:
  // The capture PCMs of one card; a card whose control cannot be opened (no
  // configuration, no permission) has none.
  static void AddCard(const Library& alsa, int card, std::vector<AlsaCaptureDevice>* devices) {
    const std::string control = "hw:" + std::to_string(card);
    snd_ctl_t* ctl = nullptr;
    if (alsa.snd_ctl_open(&ctl, control.c_str(), 0) < 0) return;
    Owned<snd_ctl_t, decltype(alsa.snd_ctl_close)> ownedCtl{ctl, alsa.snd_ctl_close};
    Owned<snd_ctl_card_info_t, decltype(alsa.snd_ctl_card_info_free)> cardInfo{
        nullptr, alsa.snd_ctl_card_info_free};
    Owned<snd_pcm_info_t, decltype(alsa.snd_pcm_info_free)> pcmInfo{nullptr,
                                                                    alsa.snd_pcm_info_free};
    if (alsa.snd_ctl_card_info_malloc(&cardInfo.object) < 0 ||
        alsa.snd_pcm_info_malloc(&pcmInfo.object) < 0 ||
        alsa.snd_ctl_card_info(ctl, cardInfo.object) < 0) {
      return;
    }
    const std::string id = alsa.snd_ctl_card_info_get_id(cardInfo.object);
    const std::string cardName = alsa.snd_ctl_card_info_get_name(cardInfo.object);
    int device = -1;
    for (int count = 0; count < kMaxDevicesPerCard; ++count) {
      if (alsa.snd_ctl_pcm_next_device(ctl, &device) < 0 || device < 0) break;
      alsa.snd_pcm_info_set_device(pcmInfo.object, static_cast<unsigned>(device));
      alsa.snd_pcm_info_set_subdevice(pcmInfo.object, 0);
      alsa.snd_pcm_info_set_stream(pcmInfo.object, SND_PCM_STREAM_CAPTURE);
      if (alsa.snd_ctl_pcm_info(ctl, pcmInfo.object) < 0) continue;  // playback only
      devices->push_back({"hw:CARD=" + id + ",DEV=" + std::to_string(device),
                          cardName + ", " + alsa.snd_pcm_info_get_name(pcmInfo.object)});
    }
  }
};

}  // namespace

std::shared_ptr<AlsaIo> SystemAlsaIo() {
  static const std::shared_ptr<AlsaIo> io = std::make_shared<SystemIo>();
  return io;
}

}  // namespace tarsel::platform
