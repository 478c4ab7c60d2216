// tarsel frames FILE -o DIR [--every N | --index I... | --time T...]: pictures as
// PNG or BMP files named by their index.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "command.h"
#include "common.h"
#include "progress.h"

namespace tool {
namespace {

struct FramesOptions {
  std::string input, folder;
  int32_t every = 1;
  std::vector<int32_t> indices;
  std::vector<double> times;
  std::string format = "png";
  bool quiet = false;
  InputOptions in;
};

class FrameWriter {
 public:
  explicit FrameWriter(const FramesOptions& options) : options_(options) {
    std::error_code error;
    std::filesystem::create_directories(options.folder, error);
    if (error || !std::filesystem::is_directory(options.folder)) {
      throw Failure(About(options.folder, error ? error.message() : "is not a folder"));
    }
  }

  void Write(const Picture& picture, uint32_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06u.%s", index, options_.format.c_str());
    const std::string path = (std::filesystem::path(options_.folder) / name).string();
    if (options_.format == "bmp") {
      WriteBmp(path, picture);
    } else {
      WritePng(path, picture);
    }
    ++written_;
  }
  long long written() const { return written_; }

 private:
  const FramesOptions& options_;
  long long written_ = 0;
};

// Every n-th picture from the start; returns the pictures written.
void WriteEvery(VideoInput& video, FrameWriter& writer, const FramesOptions& options) {
  const int32_t count = video.info().frameCount;
  const long long total =
      video.live() || count <= 0 ? 0 : (count + options.every - 1) / options.every;
  Progress progress("frames", total, options.quiet);
  Picture picture = video.NewPicture();
  Stamp stamp;
  while (video.Next(picture, stamp)) {
    writer.Write(picture, stamp.index);
    progress.Update(writer.written());
    if (options.every > 1) video.Skip(options.every - 1);
  }
}

// The asked pictures; those the video does not have are reported and skipped.
int WriteChosen(VideoInput& video, FrameWriter& writer, const FramesOptions& options) {
  const bool byIndex = !options.indices.empty();
  const size_t total = byIndex ? options.indices.size() : options.times.size();
  Progress progress("frames", static_cast<long long>(total), options.quiet);
  Picture picture = video.NewPicture();
  int missing = 0;
  for (size_t i = 0; i < total; ++i) {
    Stamp stamp;
    const bool found = byIndex ? video.AtIndex(options.indices[i], picture, stamp)
                               : video.AtTime(options.times[i], picture, stamp);
    if (found) {
      writer.Write(picture, byIndex ? static_cast<uint32_t>(options.indices[i]) : stamp.index);
    } else {
      ++missing;
      progress.Finish();
      const VidInfo& info = video.info();
      const std::string what = byIndex
                                   ? "no picture " + std::to_string(options.indices[i]) +
                                         " (the video has " + std::to_string(info.frameCount) + ")"
                                   : "no picture at " + Number(options.times[i]) +
                                         " s (the video lasts " + Number(info.duration) + " s)";
      std::fprintf(stderr, "tarsel: %s\n", About(options.input, what).c_str());
    }
    progress.Update(static_cast<long long>(i + 1));
  }
  return missing;
}

void RunFrames(const FramesOptions& options) {
  VideoInput video(options.input, options.in);
  if (video.live() && (!options.indices.empty() || !options.times.empty())) {
    throw Failure(About(options.input, "a live stream has no pictures by index or time"), kUsage);
  }
  FrameWriter writer(options);
  const auto start = std::chrono::steady_clock::now();
  int missing = 0;
  if (options.indices.empty() && options.times.empty()) {
    WriteEvery(video, writer, options);
  } else {
    missing = WriteChosen(video, writer, options);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s written to %s", Count(writer.written(), "picture").c_str(),
              options.folder.c_str());
  if (seconds > 0 && writer.written() > 0) {
    std::printf(" (%.1f per second)", writer.written() / seconds);
  }
  std::printf("\n");
  if (missing) throw Failure("", kFailed);
}

}  // namespace

Subcommand AddFrames(CLI::App& tarsel) {
  auto options = std::make_shared<FramesOptions>();
  CLI::App* command = tarsel.add_subcommand(
      "frames", "Pictures of a video as PNG or BMP files, named by their index");
  command->add_option("input", options->input, "Media file or stream address")
      ->required()
      ->type_name("FILE");
  command->add_option("-o,--output", options->folder, "Folder for the pictures (made if needed)")
      ->required()
      ->type_name("DIR");
  auto* every = command->add_option("--every", options->every, "Every N-th picture from the first")
                    ->type_name("N")
                    ->check(CLI::Range(1, 1 << 30));
  auto* index = command->add_option("--index", options->indices, "The pictures with these indices")
                    ->type_name("I")
                    ->check(CLI::NonNegativeNumber);
  auto* time = command
                   ->add_option("--time", options->times,
                                "The first picture at or after each of these times (seconds)")
                   ->type_name("T")
                   ->check(SecondsValidator());
  every->excludes(index)->excludes(time);
  index->excludes(time);
  command->add_option("--format", options->format, "png or bmp")
      ->check(CLI::IsMember({"png", "bmp"}))
      ->default_str("png");
  AddInputOptions(*command, options->in, true);
  AddQuietOption(*command, options->quiet);
  return {command, [options] { RunFrames(*options); }};
}

}  // namespace tool
