// tarsel transcode IN -o OUT [--ffv1 | --bitrate B --gop G --fps F]: an FFV1
// archive copy through the low-level writer, or any container the timed writer
// knows, with that container's default codec.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "command.h"
#include "common.h"
#include "progress.h"

namespace tool {
namespace {

constexpr char kNoFfv1Tag[] = "Could inder the proper codec id from fourcc";

// Both writers behind one face: Open, one Write per picture, Close.
class Writer {
 public:
  virtual ~Writer() = default;
  // `end` is the time in seconds at which the picture stops being shown.
  virtual void Write(const Picture& picture, double end) = 0;
  virtual long long frames() = 0;
};

class Ffv1Writer : public Writer {
 public:
  Ffv1Writer(const std::string& path, const VidInfo& info, double fps) : path_(path) {
    ErrorText error;
    if (LLWRITER_Init(&handle_, path.c_str(), info.width, info.height, fps, error) != 0) {
      std::string message = error.str();
      if (message == kNoFfv1Tag) message += " (FFV1 goes into .mkv, .avi or .nut files)";
      throw Failure(About(path, message));
    }
  }
  ~Ffv1Writer() override { LLWRITER_Clear(&handle_); }
  void Write(const Picture& picture, double end) override {
    ErrorText error;
    if (LLWRITER_WriteFrame(handle_, picture.pixels.data(), picture.stride(), end, error) != 0) {
      throw Failure(About(path_, error.str()));
    }
    ++frames_;
  }
  long long frames() override { return frames_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  long long frames_ = 0;
};

class TimedWriter : public Writer {
 public:
  TimedWriter(const std::string& path, const VidInfo& info, const TranscodeOptions& options,
              int fps)
      : path_(path) {
    ErrorText error;
    if (VIDWRITER_Init(&handle_, path.c_str(), info.width, info.height, 0, "",
                       BitRate(options, info, fps), fps, options.gop, error) != 0) {
      throw Failure(About(path, error.str()));
    }
  }
  ~TimedWriter() override { VIDWRITER_Clear(&handle_); }
  void Write(const Picture& picture, double end) override {
    ErrorText error;
    if (VIDWRITER_WriteFrame(handle_, picture.pixels.data(), picture.stride(), end, error) != 0) {
      throw Failure(About(path_, error.str()));
    }
  }
  long long frames() override {
    uint32_t bytes = 0, frames = 0;
    ErrorText error;
    VIDWRITER_GetVideoInfo(handle_, &bytes, &frames, error);
    return frames;
  }

 private:
  // A tenth of a bit per pixel unless asked: fair quality for the usual codecs.
  static int BitRate(const TranscodeOptions& options, const VidInfo& info, int fps) {
    if (options.bitRate > 0) return options.bitRate;
    const double rate = 0.1 * info.width * info.height * fps;
    return static_cast<int>(std::clamp(rate, 100e3, 50e6));
  }

  std::string path_;
  void* handle_ = nullptr;
};

void NoteLostSound(const TranscodeOptions& options) {
  if (!options.noteLostSound || IsNetworkAddress(options.input)) return;
  std::string ignored;
  if (AudioInput::TryOpen(options.input, options.in, &ignored)) {
    std::fprintf(
        stderr, "tarsel: note: %s\n",
        About(options.input, "the sound is not copied (the writers take pictures only)").c_str());
  }
}

}  // namespace

TranscodeResult Transcode(const TranscodeOptions& options) {
  CheckNotTheInput(options.input, options.output);
  VideoInput video(options.input, options.in);
  const VidInfo& info = video.info();
  // The reader numbers pictures at this rate, repeating one across a gap.
  const double inputFps = info.frameRate > 0 && std::isfinite(info.frameRate) ? info.frameRate : 25;
  const int outputFps =
      options.fps > 0 ? options.fps : std::max(1, static_cast<int>(std::lround(inputFps)));
  std::unique_ptr<Writer> writer;
  if (options.ffv1) {
    writer = std::make_unique<Ffv1Writer>(options.output, info, inputFps);
  } else {
    writer = std::make_unique<TimedWriter>(options.output, info, options, outputFps);
  }
  NoteLostSound(options);

  Progress progress("transcode", video.live() ? 0 : info.frameCount, options.quiet);
  Picture picture = video.NewPicture();
  Stamp stamp;
  long long pictures = 0;
  while (video.Next(picture, stamp)) {
    writer->Write(picture, (stamp.index + 1.0) / inputFps);
    progress.Update(++pictures);
  }
  progress.Finish();
  const long long frames = writer->frames();
  writer.reset();  // finishes the file
  if (pictures == 0) throw Failure(About(options.input, "no picture could be read"));
  const double rate = options.ffv1 ? inputFps : outputFps;
  return {pictures, frames, frames / rate};
}

Subcommand AddTranscode(CLI::App& tarsel) {
  auto options = std::make_shared<TranscodeOptions>();
  CLI::App* command = tarsel.add_subcommand(
      "transcode", "A copy of the video: lossless FFV1, or the output container's own codec");
  command->add_option("input", options->input, "Media file or stream address")
      ->required()
      ->type_name("FILE");
  command
      ->add_option("-o,--output", options->output,
                   "The file to write; its name picks the container")
      ->required()
      ->type_name("FILE");
  auto* ffv1 = command->add_flag("--ffv1", options->ffv1,
                                 "Lossless FFV1 archive copy (.mkv, .avi or .nut), one frame per "
                                 "picture at the input's rate");
  auto* bitRate = command
                      ->add_option("--bitrate", options->bitRate,
                                   "Video bit rate in bit/s (default: 0.1 bit a pixel)")
                      ->type_name("B")
                      ->check(CLI::Range(1000, 500000000));
  auto* gop = command->add_option("--gop", options->gop, "Key frame every G frames")
                  ->type_name("G")
                  ->capture_default_str()
                  ->check(CLI::Range(1, 10000));
  auto* fps = command
                  ->add_option("--fps", options->fps,
                               "Output frames per second (default: the input's, rounded)")
                  ->type_name("F")
                  ->check(CLI::Range(1, 1000));
  ffv1->excludes(bitRate)->excludes(gop)->excludes(fps);
  AddInputOptions(*command, options->in, true);
  AddQuietOption(*command, options->quiet);
  return {command, [options] {
            const TranscodeResult result = Transcode(*options);
            std::printf("%s: %lld frames, %s s, from %lld pictures\n", options->output.c_str(),
                        result.frames, Number(result.seconds).c_str(), result.pictures);
          }};
}

}  // namespace tool
