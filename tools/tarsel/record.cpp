// tarsel record -o OUT.mp4 [--camera I --format F --mic I --seconds S]: a camera
// and a microphone into the encoder, from their capture threads.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "capture.h"
#include "command.h"
#include "common.h"
#include "progress.h"

namespace tool {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t kTicksPerSecond = 10000000;  // capture and encoder times: 100 ns
// How long the devices may stay silent before the recording gives up.
constexpr auto kPatience = std::chrono::seconds(10);

// The camera formats the grabber can deliver, by its pixel format code, and the
// converter's code for them (NV12 needs none).
struct PixelFormat {
  const char* name;
  int32_t grabberCode;
  uint32_t converterCode;
  int bytesPerFourPixels;
};
constexpr PixelFormat kPixelFormats[] = {{"NV12", 0, 0, 6}, {"YUY2", 1, 4, 8}, {"I420", 2, 7, 6}};
constexpr uint32_t kConverterNv12 = 3;

// What the camera will deliver.
struct VideoFormat {
  uint32_t width = 0, height = 0;
  double fps = 0;
  const PixelFormat* pixels = nullptr;
};
// What the microphone will deliver.
struct SoundFormat {
  uint32_t channels = 0, sampleRate = 0, bitsPerSample = 0;
};

// A camera or microphone opened for asynchronous delivery, closed on scope exit.
template <int(TARSEL_CALL* Clear)(void**)>
struct Grabber {
  Grabber() = default;
  ~Grabber() { Clear(&handle); }
  Grabber(const Grabber&) = delete;
  Grabber& operator=(const Grabber&) = delete;
  void* handle = nullptr;
};
using Camera = Grabber<MFCamGrabber_Clear>;
using Microphone = Grabber<MFAudioGrabber_Clear>;

std::string Which(const char* what, int index, uint32_t count) {
  return "no " + std::string(what) + " " + std::to_string(index) + " (" + std::to_string(count) +
         " found" + (count == 0 ? "; TARSEL_FAKE_DEVICES=1 adds a virtual one)" : ")");
}

VideoFormat OpenCamera(Camera& camera, const RecordOptions& options) {
  ErrorText error;
  uint32_t count = 0, formats = 0;
  if (MFCamGrabber_Init(&camera.handle, &count, error) != 0)
    throw Failure("cameras: " + error.str());
  if (options.camera >= static_cast<int>(count))
    throw Failure(Which("camera", options.camera, count));
  const std::string which = "camera " + std::to_string(options.camera);
  if (MFCamGrabber_OpenCamera(camera.handle, options.camera, true, &formats, error) != 0) {
    throw Failure(which + ": " + error.str());
  }
  if (options.format >= static_cast<int>(formats)) {
    throw Failure(which + " has no format " + std::to_string(options.format) + " (" +
                  std::to_string(formats) + " formats; see tarsel devices)");
  }
  // Without a format asked for, the first one that can be recorded.
  const int first = options.format < 0 ? 0 : options.format;
  const int last = options.format < 0 ? static_cast<int>(formats) - 1 : options.format;
  VideoFormat format;
  std::string subtype;
  for (int f = first; f <= last && !format.pixels; ++f) {
    CamConfig config{};
    MFCamGrabber_GetConfig(camera.handle, f, &config, error);
    format = {config.width, config.height, config.framesPerSecond, nullptr};
    subtype = VideoSubtype(config.subtype);
    for (const PixelFormat& pixels : kPixelFormats) {
      if (subtype == pixels.name && format.width >= 2 && format.height >= 2) {
        format.pixels = &pixels;
      }
    }
  }
  if (!format.pixels && options.format >= 0) {
    throw Failure("camera format " + std::to_string(options.format) + " is " + subtype +
                  "; recording takes NV12, YUY2 or I420 formats");
  }
  if (!format.pixels) {
    throw Failure(which + " has no NV12, YUY2 or I420 format, which recording takes");
  }
  if (!(format.fps >= 1 && format.fps <= 1000)) format.fps = 30;
  return format;
}

SoundFormat OpenMicrophone(Microphone& microphone, const RecordOptions& options) {
  ErrorText error;
  uint32_t count = 0, formats = 0;
  if (MFAudioGrabber_Init(&microphone.handle, &count, error) != 0) {
    throw Failure("microphones: " + error.str());
  }
  if (options.microphone >= static_cast<int>(count)) {
    throw Failure(Which("microphone", options.microphone, count) + "; --no-sound records without");
  }
  if (MFAudioGrabber_OpenDevice(microphone.handle, options.microphone, true, &formats, error) !=
      0) {
    throw Failure("microphone " + std::to_string(options.microphone) + ": " + error.str());
  }
  if (formats == 0)
    throw Failure("microphone " + std::to_string(options.microphone) + " has no format");
  AudioConfig config{};
  MFAudioGrabber_GetConfig(microphone.handle, 0, &config, error);
  // PCM arrives as captured; anything else as 16-bit stereo at 44,100 Hz.
  if (AudioSubtype(config.subtype) == "PCM") {
    return {config.numChannels, config.samplesPerSecond, config.bitsPerSample};
  }
  return {2, 44100, 16};
}

// The recording the capture threads feed. Their callbacks carry no context of
// their own, so they find it through `current`; `busy` counts the callbacks
// inside it, so that it is not closed under them.
class Recording;
std::atomic<Recording*> current{nullptr};
std::atomic<int> busy{0};

class Recording {
 public:
  Recording(void* encoder, const VideoFormat& video, const SoundFormat* sound, double seconds)
      : encoder_(encoder),
        video_(video),
        sound_(sound ? *sound : SoundFormat{}),
        withSound_(sound != nullptr),
        end_(static_cast<int64_t>(seconds * kTicksPerSecond)),
        nv12_(video.width * video.height * 3 / 2) {
    if (video.pixels->converterCode != 0) {
      ErrorText error;
      if (PixConverter_Init(&converter_, video.pixels->converterCode, kConverterNv12,
                            static_cast<int32_t>(video.width), static_cast<int32_t>(video.height),
                            error) != 0) {
        throw Failure("pixel converter: " + error.str());
      }
    }
  }
  ~Recording() { PixConverter_Clear(&converter_); }

  // The moment both devices were asked to start: the origin of both streams.
  void Start() { start_ = Clock::now(); }

  void OnPicture(int64_t timestamp, uint32_t bytes, const uint8_t* block) {
    int64_t time;
    if (!Accept(timestamp, &videoClock_, &time)) return;
    const uint8_t* picture = block;
    const uint64_t pixels = uint64_t{video_.width} * video_.height;
    if (bytes < pixels * video_.pixels->bytesPerFourPixels / 4) {
      return Fail("the camera delivered " + std::to_string(bytes) + " bytes for a picture");
    }
    if (converter_) {
      if (PixConverter_Convert(converter_, block, nv12_.data(), nullptr) != 0) {
        return Fail("the picture could not be converted to NV12");
      }
      picture = nv12_.data();
    }
    const auto size = static_cast<uint32_t>(pixels * 3 / 2);
    ErrorText error;
    if (MFEncoder_AddVideoFrame_Ticks(encoder_, picture, &size, time, error) != 0) {
      return Fail("picture: " + error.str());
    }
    Count(&pictures_, 0);
  }

  void OnSound(int64_t timestamp, uint32_t bytes, const uint8_t* block) {
    int64_t time;
    if (!Accept(timestamp, &soundClock_, &time)) return;
    ErrorText error;
    if (MFEncoder_AddAudioSamples(encoder_, block, &bytes, double(time) / kTicksPerSecond, error) !=
        0) {
      return Fail("sound: " + error.str());
    }
    Count(&blocks_, bytes);
  }

  // Waits until both streams have their length, the recording failed or was
  // interrupted, or the devices went quiet.
  void Wait(bool quiet) {
    Progress progress("record", std::llround(double(end_) / kTicksPerSecond * video_.fps), quiet);
    std::unique_lock<std::mutex> lock(mutex_);
    long long seen = -1;
    auto lastNews = Clock::now();
    while (error_.empty() && !Interrupted() &&
           !(videoClock_.done && (!withSound_ || soundClock_.done))) {
      wake_.wait_for(lock, std::chrono::milliseconds(100));
      if (pictures_ + blocks_ != seen) {
        seen = pictures_ + blocks_;
        lastNews = Clock::now();
      } else if (Clock::now() - lastNews > kPatience) {
        error_ =
            pictures_ == 0 ? "the camera delivered no picture" : "the devices stopped delivering";
      }
      progress.Update(pictures_);
    }
  }

  const std::string& error() const { return error_; }
  long long pictures() const { return pictures_; }
  // After the capture threads have let go.
  double soundSeconds() const {
    const double bytesPerSecond =
        double(sound_.channels) * sound_.sampleRate * sound_.bitsPerSample / 8;
    return bytesPerSecond > 0 ? soundBytes_ / bytesPerSecond : 0;
  }

 private:
  // Where one stream's times start: its first block's device time and arrival.
  struct StreamClock {
    int64_t first = -1;
    int64_t offset = 0;  // arrival of the first block after Start, in ticks
    bool done = false;
  };

  // The block's time in the file, or false when the stream is complete or the
  // recording has failed.
  bool Accept(int64_t timestamp, StreamClock* clock, int64_t* time) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clock->done || !error_.empty()) return false;
    if (clock->first < 0) {
      clock->first = timestamp;
      clock->offset =
          std::chrono::duration_cast<
              std::chrono::duration<int64_t, std::ratio<1, kTicksPerSecond>>>(Clock::now() - start_)
              .count();
    }
    *time = clock->offset + timestamp - clock->first;
    if (*time >= end_) {
      clock->done = true;
      wake_.notify_all();
      return false;
    }
    return true;
  }

  void Count(long long* blocks, uint32_t soundBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++*blocks;
    soundBytes_ += soundBytes;
    wake_.notify_all();
  }

  void Fail(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = text;
    wake_.notify_all();
  }

  void* encoder_;
  VideoFormat video_;
  SoundFormat sound_;
  bool withSound_;
  int64_t end_;
  std::vector<uint8_t> nv12_;  // used by the camera's thread only
  void* converter_ = nullptr;
  Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  StreamClock videoClock_, soundClock_;
  long long pictures_ = 0, blocks_ = 0;
  uint64_t soundBytes_ = 0;
  std::string error_;
};

void TARSEL_CALL PictureReady(uint32_t, int64_t timestamp, uint32_t bytes, uint8_t* block) {
  ++busy;
  if (Recording* recording = current) recording->OnPicture(timestamp, bytes, block);
  --busy;
}

void TARSEL_CALL SoundReady(uint32_t, int64_t timestamp, uint32_t bytes, uint8_t* block) {
  ++busy;
  if (Recording* recording = current) recording->OnSound(timestamp, bytes, block);
  --busy;
}

// Makes the capture threads let go of the recording before it is closed.
struct Detach {
  ~Detach() {
    current = nullptr;
    while (busy > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

// The encoder's handle exists after every Init result and is cleared in every case.
struct Encoder {
  ~Encoder() { MFEncoder_Clear(&handle); }
  void* handle = nullptr;
};

EncoderSettings Settings(const VideoFormat& video, const SoundFormat* sound) {
  EncoderSettings settings{};
  settings.width = video.width;
  settings.height = video.height;
  settings.frameRate = static_cast<uint32_t>(std::max(1L, std::lround(video.fps)));
  // A tenth of a bit per pixel, as the timed writer's default.
  settings.bitRateKbps = static_cast<uint32_t>(
      std::max(256.0, 0.1 * video.width * video.height * settings.frameRate / 1024));
  settings.profile = 100;  // High
  const uint64_t pixels = uint64_t{video.width} * video.height;
  settings.level = pixels > 1920u * 1088u ? 51 : pixels > 1280u * 720u && video.fps > 30 ? 42 : 40;
  if (sound) {
    settings.hasAudio = 1;
    settings.numChannels = sound->channels;
    settings.samplesPerSecond = sound->sampleRate;
    settings.bitsPerSample = sound->bitsPerSample;
  }
  return settings;
}

}  // namespace

RecordResult Record(const RecordOptions& options) {
  Camera camera;
  const VideoFormat video = OpenCamera(camera, options);
  Microphone microphone;
  SoundFormat sound{};
  if (options.withSound) sound = OpenMicrophone(microphone, options);
  const SoundFormat* withSound = options.withSound ? &sound : nullptr;

  Encoder encoder;
  EncoderSettings settings = Settings(video, withSound);
  ErrorText error;
  if (MFEncoder_Init(&encoder.handle, Utf16(options.output).c_str(), &settings, error) != 0) {
    throw Failure(About(options.output, error.str()));
  }
  Recording recording(encoder.handle, video, withSound, options.seconds);
  {
    Detach detach;
    current = &recording;
    MFCamGrabber_SetFrameReadyCallBack(camera.handle, PictureReady);
    if (withSound) MFAudioGrabber_SetAudioReadyCallBack(microphone.handle, SoundReady);
    recording.Start();
    if (MFCamGrabber_StartGrabbing(camera.handle, video.width, video.height,
                                   static_cast<int32_t>(std::lround(video.fps)),
                                   video.pixels->grabberCode, error) != 0) {
      throw Failure("camera " + std::to_string(options.camera) + ": " + error.str());
    }
    if (withSound && MFAudioGrabber_StartGrabbing(microphone.handle, 0, error) != 0) {
      MFCamGrabber_StopGrabbing(camera.handle);
      throw Failure("microphone " + std::to_string(options.microphone) + ": " + error.str());
    }
    recording.Wait(options.quiet);
    MFCamGrabber_StopGrabbing(camera.handle);
    if (withSound) MFAudioGrabber_StopGrabbing(microphone.handle);
  }
  MFEncoder_Clear(&encoder.handle);  // finishes the file
  if (!recording.error().empty()) throw Failure(About(options.output, recording.error()));
  StopIfInterrupted();
  return {static_cast<int>(video.width),
          static_cast<int>(video.height),
          video.pixels->name,
          recording.pictures(),
          options.withSound,
          static_cast<int>(sound.channels),
          static_cast<int>(sound.sampleRate),
          recording.soundSeconds()};
}

Subcommand AddRecord(CLI::App& tarsel) {
  auto options = std::make_shared<RecordOptions>();
  auto noSound = std::make_shared<bool>(false);
  CLI::App* command = tarsel.add_subcommand(
      "record", "A camera and a microphone recorded into an H.264/AAC file (.mp4)");
  command->add_option("-o,--output", options->output, "The file to write (.mp4, .m4v, .3gp)")
      ->required()
      ->type_name("FILE");
  command->add_option("--camera", options->camera, "Camera number (see tarsel devices)")
      ->capture_default_str()
      ->check(CLI::Range(0, 1000));
  command
      ->add_option("--format", options->format,
                   "The camera's format number (see tarsel devices; default: its first NV12, "
                   "YUY2 or I420 format)")
      ->type_name("F")
      ->check(CLI::Range(0, 100000));
  auto* mic =
      command->add_option("--mic", options->microphone, "Microphone number (see tarsel devices)")
          ->capture_default_str()
          ->check(CLI::Range(0, 1000));
  command->add_flag("--no-sound", *noSound, "Record the camera alone")->excludes(mic);
  command->add_option("--seconds", options->seconds, "Length of the recording")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 86400.0));
  AddQuietOption(*command, options->quiet);
  return {command, [options, noSound] {
            options->withSound = !*noSound;
            const RecordResult r = Record(*options);
            std::printf("%s: %lld pictures of %d x %d (%s)", options->output.c_str(), r.pictures,
                        r.width, r.height, r.format.c_str());
            if (r.sound) {
              std::printf(", %s s of sound (%d channels, %d Hz)", Number(r.soundSeconds).c_str(),
                          r.channels, r.sampleRate);
            }
            std::printf("\n");
          }};
}

}  // namespace tool
