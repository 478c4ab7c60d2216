// tarsel demo [DIR]: the library's main jobs on a clip the tool makes itself,
// so that nothing needs to be at hand. Each step names its output and checks it.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "capture.h"
#include "command.h"
#include "common.h"
#include "font.h"
#include "h264_stream.h"
#include "progress.h"

namespace tool {
namespace {

constexpr int kWidth = 640, kHeight = 360, kFps = 25, kPictures = 100;
constexpr int kBitRate = 1500000;

struct Demo {
  std::filesystem::path folder;
  bool quiet = false;
  std::string Path(const char* name) const { return (folder / name).string(); }
};

// What a step found: its check line (empty: nothing to check), and whether it
// left its file.
struct Outcome {
  Outcome(std::string text, bool written = true) : check(std::move(text)), wrote(written) {}
  std::string check;
  bool wrote;
};

// One step: the file it leaves (or what it shows), a few words, and the work.
struct Step {
  const char* output;
  const char* what;
  std::function<Outcome(const Demo&)> run;
};

uint8_t Clamp(double value) {
  return static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, value))));
}

// Picture n of the sample: a drifting colour field, a ball on a loop, and the
// picture's number and time large enough to read on a contact sheet.
Picture SamplePicture(int n) {
  Picture picture(kWidth, kHeight);
  const double t = double(n) / kFps;
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* row = picture.row(y);
    for (int x = 0; x < kWidth; ++x) {
      const double phase = (x + y) / 160.0 + t * 1.5;
      row[x * 3] = Clamp(110 + 70 * std::sin(phase));
      row[x * 3 + 1] = Clamp(90 + 60 * std::sin(phase + 2.1 + y / 200.0));
      row[x * 3 + 2] = Clamp(120 + 80 * std::sin(phase + 4.2 - x / 300.0));
    }
  }
  const int ballX = static_cast<int>(kWidth / 2 + 230 * std::sin(t * 1.6));
  const int ballY = static_cast<int>(kHeight / 2 + 110 * std::sin(t * 2.3));
  for (int y = -28; y <= 28; ++y) {
    for (int x = -28; x <= 28; ++x) {
      if (x * x + y * y <= 28 * 28) FillRect(picture, ballX + x, ballY + y, 1, 1, {250, 250, 250});
    }
  }
  const std::string number = "#" + std::to_string(n);
  const std::string time = ClockTime(t);
  FillRect(picture, 0, 0, kWidth, 74, {40, 30, 30});
  DrawText(picture, 20, 12, number, 7, {255, 255, 255});
  DrawText(picture, kWidth - 20 - TextWidth(time, 5), 20, time, 5, {200, 230, 255});
  DrawText(picture, 20, kHeight - 26, "tarsel demo", 2, {255, 255, 255});
  return picture;
}

// Two tones, one a channel, at 0.4 of full scale.
constexpr int kSampleRate = 48000;
constexpr double kLeftHz = 440, kRightHz = 660;
constexpr double kPi = 3.14159265358979323846;
std::vector<int16_t> Tones(long long first, int count) {
  std::vector<int16_t> pcm(static_cast<size_t>(count) * 2);
  for (int i = 0; i < count; ++i) {
    const double t = double(first + i) / kSampleRate;
    pcm[2 * i] = static_cast<int16_t>(std::lround(13107 * std::sin(2 * kPi * kLeftHz * t)));
    pcm[2 * i + 1] = static_cast<int16_t>(std::lround(13107 * std::sin(2 * kPi * kRightHz * t)));
  }
  return pcm;
}

// The encoder's handle exists after every Init result and is cleared in every case.
struct Encoder {
  ~Encoder() { MFEncoder_Clear(&handle); }
  void* handle = nullptr;
};
struct Converter {
  ~Converter() { PixConverter_Clear(&handle); }
  void* handle = nullptr;
};

void WriteSample(const std::string& path, bool quiet) {
  EncoderSettings settings{};
  settings.width = kWidth;
  settings.height = kHeight;
  settings.frameRate = kFps;
  settings.bitRateKbps = kBitRate / 1024;
  settings.profile = 100;
  settings.level = 40;
  settings.hasAudio = 1;
  settings.numChannels = 2;
  settings.samplesPerSecond = kSampleRate;
  settings.bitsPerSample = 16;
  Encoder encoder;
  Converter converter;
  ErrorText error;
  if (MFEncoder_Init(&encoder.handle, Utf16(path).c_str(), &settings, error) != 0) {
    throw Failure(About(path, error.str()));
  }
  if (PixConverter_Init(&converter.handle, 1, 3, kWidth, kHeight, error) != 0) {
    throw Failure("pixel converter: " + error.str());
  }
  std::vector<uint8_t> nv12(kWidth * kHeight * 3 / 2);
  const auto pictureBytes = static_cast<uint32_t>(nv12.size());
  constexpr int kSamplesPerPicture = kSampleRate / kFps;
  Progress progress("sample", kPictures, quiet);
  for (int n = 0; n < kPictures; ++n) {
    const Picture picture = SamplePicture(n);
    PixConverter_Convert(converter.handle, picture.pixels.data(), nv12.data(), error);
    const std::vector<int16_t> pcm = Tones(1LL * n * kSamplesPerPicture, kSamplesPerPicture);
    const auto soundBytes = static_cast<uint32_t>(pcm.size() * 2);
    if (MFEncoder_AddVideoFrame(encoder.handle, nv12.data(), &pictureBytes, double(n) / kFps,
                                error) != 0 ||
        MFEncoder_AddAudioSamples(encoder.handle, pcm.data(), &soundBytes, double(n) / kFps,
                                  error) != 0) {
      throw Failure(About(path, error.str()));
    }
    progress.Update(n + 1);
  }
}

// Pictures and seconds of sound a file holds, as the readers see them.
std::string ReadBack(const std::string& path) {
  VideoInput video(path, {});
  Picture picture = video.NewPicture();
  Stamp stamp;
  int read = 0;
  while (video.Next(picture, stamp)) ++read;
  std::string text = Count(read, "picture") + " of " + std::to_string(video.info().width) + " x " +
                     std::to_string(video.info().height) + " at " + Number(video.info().frameRate) +
                     " fps";
  std::string message;
  if (auto sound = AudioInput::TryOpen(path, {}, &message)) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", sound->duration());
    text += " and " + std::string(seconds) + " s of sound";
  }
  return text + " read back";
}

Outcome MakeSample(const Demo& demo) {
  const std::string path = demo.Path("sample.mp4");
  WriteSample(path, demo.quiet);
  return ReadBack(path);
}

Outcome ShowInfo(const Demo& demo) {
  PrintMediaInfo(ReadMediaInfo(demo.Path("sample.mp4"), {}));
  return {"", false};
}

Outcome MakeSheetStep(const Demo& demo) {
  SheetOptions options;
  options.input = demo.Path("sample.mp4");
  options.output = demo.Path("sample-sheet.png");
  options.quiet = demo.quiet;
  const SheetResult result = MakeSheet(options);
  // Read back through the library's reader, which opens PNG files too.
  VideoInput sheet(options.output, {});
  return std::to_string(sheet.info().width) + " x " + std::to_string(sheet.info().height) +
         " pixels, " + std::to_string(result.tiles.size()) + " pictures from #" +
         std::to_string(result.tiles.front().index) + " to #" +
         std::to_string(result.tiles.back().index);
}

// Peak signal-to-noise ratio of two videos, picture by picture.
std::string Compare(const std::string& copy, const std::string& original) {
  VideoInput a(copy, {}), b(original, {});
  Picture pa = a.NewPicture(), pb = b.NewPicture();
  Stamp sa, sb;
  long long pictures = 0;
  double squares = 0, samples = 0;
  bool same = pa.pixels.size() == pb.pixels.size();
  while (same && a.Next(pa, sa) && b.Next(pb, sb)) {
    ++pictures;
    for (size_t i = 0; i < pa.pixels.size(); ++i) {
      const double d = double(pa.pixels[i]) - pb.pixels[i];
      squares += d * d;
    }
    samples += static_cast<double>(pa.pixels.size());
  }
  if (!same || pictures == 0) return "cannot be compared with " + original;
  const std::string name = std::filesystem::path(original).filename().string();
  if (squares == 0) return std::to_string(pictures) + " pictures, identical to " + name + "'s";
  char psnr[32];
  std::snprintf(psnr, sizeof psnr, "%.1f dB", 10 * std::log10(255.0 * 255.0 * samples / squares));
  return std::to_string(pictures) + " pictures, " + psnr + " PSNR against " + name;
}

Outcome MakeFfv1Copy(const Demo& demo) {
  TranscodeOptions options;
  options.input = demo.Path("sample.mp4");
  options.output = demo.Path("sample-ffv1.mkv");
  options.ffv1 = true;
  options.noteLostSound = false;
  options.quiet = demo.quiet;
  Transcode(options);
  return Compare(options.output, options.input) + " (FFV1 here stores 4:2:0 colour)";
}

Outcome MakeStream(const Demo& demo) {
  TranscodeOptions options;
  options.input = demo.Path("sample.mp4");
  options.output = demo.Path("sample.h264");
  options.bitRate = kBitRate * 2;
  // Every picture a key frame: the encoder then makes no B-frames, whose order
  // the MP4 writer could not keep.
  options.gop = 1;
  options.noteLostSound = false;
  options.quiet = demo.quiet;
  Transcode(options);
  AccessUnitReader units(options.output);
  AccessUnit unit;
  long long pictures = 0, keys = 0;
  while (units.Next(unit)) {
    pictures += unit.HasVcl();
    keys += unit.IsIdr();
  }
  return std::to_string(pictures) + " pictures, " + std::to_string(keys) + " of them key frames";
}

Outcome MuxStream(const Demo& demo) {
  MuxOptions options;
  options.input = demo.Path("sample.h264");
  options.output = demo.Path("sample-muxed.mp4");
  options.fps = kFps;
  options.quiet = demo.quiet;
  Mux(options);
  return Compare(options.output, options.input);
}

// The frequency of one channel of interleaved 16-bit stereo, from how often it
// rises through zero (past a margin that coding noise does not cross).
double Frequency(const std::string& wav, int channel, int sampleRate) {
  FILE* file = std::fopen(wav.c_str(), "rb");
  if (!file) return 0;
  std::vector<int16_t> samples;
  int16_t frame[2];
  std::fseek(file, 44, SEEK_SET);
  while (std::fread(frame, sizeof frame, 1, file) == 1) samples.push_back(frame[channel]);
  std::fclose(file);
  constexpr int kMargin = 1000;
  long long first = -1, last = -1, crossings = 0;
  bool below = false;
  for (size_t i = 0; i < samples.size(); ++i) {
    if (samples[i] < -kMargin) below = true;
    if (below && samples[i] > kMargin) {
      if (first < 0) first = static_cast<long long>(i);
      last = static_cast<long long>(i);
      ++crossings;
      below = false;
    }
  }
  // Whole periods between the first crossing and the last.
  return last > first ? (crossings - 1) * double(sampleRate) / double(last - first) : 0;
}

Outcome ExtractSound(const Demo& demo) {
  AudioOptions options;
  options.input = demo.Path("sample.mp4");
  options.output = demo.Path("sample.wav");
  options.quiet = demo.quiet;
  const AudioResult result = ExtractAudio(options);
  char check[160];
  std::snprintf(check, sizeof check, "%.2f s of %d channels at %d Hz: tones of %.0f and %.0f Hz",
                double(result.samples) / result.sampleRate, result.channels, result.sampleRate,
                Frequency(options.output, 0, result.sampleRate),
                result.channels > 1 ? Frequency(options.output, 1, result.sampleRate) : 0.0);
  return std::string(check);
}

Outcome MakeRecording(const Demo& demo) {
  if (CountCameras() == 0) {
    return {"skipped: no camera (TARSEL_FAKE_DEVICES=1 adds a virtual camera and microphone)",
            false};
  }
  RecordOptions options;
  options.output = demo.Path("recording.mp4");
  options.seconds = 2;
  options.withSound = CountMicrophones() > 0;
  options.quiet = demo.quiet;
  Record(options);
  return ReadBack(options.output);
}

// The steps in order. Each later one reads what earlier ones wrote.
const Step kSteps[] = {
    {"sample.mp4", "a 4 s synthetic clip with sound, written by the encoder (H.264, AAC)",
     MakeSample},
    {"info", "what the video and audio readers report about sample.mp4", ShowInfo},
    {"sample-sheet.png", "a contact sheet of the clip", MakeSheetStep},
    {"sample-ffv1.mkv", "an FFV1 archive copy of the pictures, written by the low-level writer",
     MakeFfv1Copy},
    {"sample.h264", "the pictures as an H.264 stream, written by the timed writer", MakeStream},
    {"sample-muxed.mp4", "the stream stored in MP4 by the MP4 writer", MuxStream},
    {"sample.wav", "the clip's sound, decoded by the audio reader", ExtractSound},
    {"recording.mp4", "2 s from the first camera and microphone, through the encoder",
     MakeRecording},
};

// A word as a POSIX shell reads it back: quoted when it holds anything but
// letters, digits and a few harmless signs.
std::string ShellWord(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789_-./:=+,@%") == std::string::npos;
  if (plain) return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Commands to try next, on the demo's own clip, as they can be pasted.
void PrintNext(const Demo& demo) {
  const std::string tarsel = ShellWord(Program()) + " ";
  const std::string clip = ShellWord(demo.Path("sample.mp4"));
  std::printf("\nTry next:\n");
  const std::pair<std::string, const char*> lines[] = {
      {"info " + clip + " --json", "what the readers see, for scripts"},
      {"frames " + clip + " -o " + ShellWord(demo.Path("pictures")) + " --every 25",
       "every 25th picture as a PNG file"},
      {"sheet YOUR_VIDEO -o sheet.png", "what is in a file, at a glance"},
      {"devices", "cameras and microphones (TARSEL_FAKE_DEVICES=1 adds virtual ones)"},
      {"record -o me.mp4 --seconds 10", "from the first camera and microphone"},
      {"COMMAND --help", "every command's options"},
  };
  for (const auto& [command, what] : lines) {
    std::printf("  %s\n      %s\n", (tarsel + command).c_str(), what);
  }
}

void RunDemo(const std::string& folder, bool quiet) {
  Demo demo{folder, quiet};
  std::error_code error;
  std::filesystem::create_directories(demo.folder, error);
  if (error || !std::filesystem::is_directory(demo.folder)) {
    throw Failure(About(folder, error ? error.message() : "is not a folder"));
  }
  std::printf("The Tarsel demo, in %s\n\n", folder.c_str());
  for (const Step& step : kSteps) {
    std::printf("%-18s %s\n", step.output, step.what);
    std::fflush(stdout);
    const Outcome outcome = step.run(demo);
    if (!outcome.check.empty()) std::printf("%-18s %s\n", "  check", outcome.check.c_str());
    if (outcome.wrote) std::printf("%-18s %s\n", "  written to", demo.Path(step.output).c_str());
    std::printf("\n");
  }
  std::printf("All done: the files are in %s\n", folder.c_str());
  PrintNext(demo);
}

}  // namespace

Subcommand AddDemo(CLI::App& tarsel) {
  auto folder = std::make_shared<std::string>("tarsel-demo");
  auto quiet = std::make_shared<bool>(false);
  CLI::App* command =
      tarsel.add_subcommand("demo", "A tour: makes a clip and runs the main jobs on it");
  command->add_option("folder", *folder, "Where the files go (made if needed)")
      ->type_name("DIR")
      ->capture_default_str();
  AddQuietOption(*command, *quiet);
  return {command, [folder, quiet] { RunDemo(*folder, *quiet); }};
}

}  // namespace tool
