// 720p NV12 pictures per second through MFEncoder_AddVideoFrame and
// MFEncoder_Clear (H.264 at 4000 kbit/s, high profile, level 4, CBR), against
// the ffmpeg tool encoding the same raw pictures with libx264 at the settings
// the encoder gives libx264. The pictures are made at run time with the tool in
// a temporary folder; both sides run in turn, best of kRuns each.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tarsel.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kWidth = 1280, kHeight = 720, kFrameRate = 30;
constexpr int kDistinct = 60;  // pictures in the raw file
constexpr int kLoops = 5;      // each side encodes them this many times over
constexpr int kRuns = 3;
constexpr std::size_t kPictureBytes = std::size_t{kWidth} * kHeight * 3 / 2;

struct Timing {
  double wall = 1e30;  // seconds, best run
  double cpu = 1e30;   // processor seconds of that side, best run
};

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

void TimeLibrary(const std::vector<uint8_t>& raw, const std::string& path, Timing* best) {
  EncoderSettings settings{};
  settings.width = kWidth;
  settings.height = kHeight;
  settings.frameRate = kFrameRate;
  settings.bitRateKbps = 4000;
  settings.profile = 100;
  settings.level = 40;
  const std::u16string url = Utf16(path);
  const double cpuStart = CpuSeconds(RUSAGE_SELF);
  const auto start = Clock::now();
  char error[200];
  void* encoder = nullptr;
  if (MFEncoder_Init(&encoder, url.c_str(), &settings, error) != 0) {
    std::fprintf(stderr, "MFEncoder_Init failed: %s\n", error);
    std::exit(1);
  }
  const uint32_t bytes = static_cast<uint32_t>(kPictureBytes);
  for (int n = 0; n < kDistinct * kLoops; ++n) {
    const uint8_t* picture = raw.data() + (n % kDistinct) * kPictureBytes;
    if (MFEncoder_AddVideoFrame(encoder, picture, &bytes, double(n) / kFrameRate, error) != 0) {
      std::fprintf(stderr, "picture %d failed: %s\n", n, error);
      std::exit(1);
    }
  }
  MFEncoder_Clear(&encoder);
  best->wall = std::min(best->wall, Since(start));
  best->cpu = std::min(best->cpu, CpuSeconds(RUSAGE_SELF) - cpuStart);
}

void TimeTool(const std::string& raw, const std::string& path, Timing* best) {
  // What the encoder asks of libx264 for these settings.
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -stream_loop " + std::to_string(kLoops - 1) +
      " -f rawvideo -pix_fmt nv12 -s " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
      " -framerate " + std::to_string(kFrameRate) + " -i \"" + raw +
      "\" -c:v libx264 -preset veryfast -profile:v high -level 40 -bf 0"
      " -b:v 4096000 -maxrate 4096000 -bufsize 4096000 -x264-params force-cfr=1 \"" +
      path + "\"";
  const double cpuStart = CpuSeconds(RUSAGE_CHILDREN);
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "the ffmpeg tool failed\n");
    std::exit(1);
  }
  best->wall = std::min(best->wall, Since(start));
  best->cpu = std::min(best->cpu, CpuSeconds(RUSAGE_CHILDREN) - cpuStart);
}

std::string Load() {
  std::ifstream in("/proc/loadavg");
  std::string one, five;
  in >> one >> five;
  return one + " (1 min), " + five + " (5 min)";
}

}  // namespace

int main() {
  const fs::path folder =
      fs::temp_directory_path() /
      ("tarsel_encoder_bench_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(folder);
  const std::string raw = (folder / "pictures.nv12").string();
  const std::string make =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" +
      std::to_string(kWidth) + "x" + std::to_string(kHeight) +
      ":rate=" + std::to_string(kFrameRate) + " -frames:v " + std::to_string(kDistinct) +
      " -pix_fmt nv12 -f rawvideo \"" + raw + "\"";
  std::printf("making %d pictures of %dx%d NV12...\n", kDistinct, kWidth, kHeight);
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the pictures\n");
    return 1;
  }
  std::ifstream in(raw, std::ios::binary);
  const std::vector<uint8_t> pictures((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
  if (pictures.size() != kPictureBytes * kDistinct) {
    std::fprintf(stderr, "unexpected raw size %zu\n", pictures.size());
    return 1;
  }
  std::printf("machine load before: %s\n", Load().c_str());
  Timing library, tool;
  for (int run = 0; run < kRuns; ++run) {
    TimeLibrary(pictures, (folder / "library.mp4").string(), &library);
    TimeTool(raw, (folder / "tool.mp4").string(), &tool);
  }
  const double frames = kDistinct * kLoops;
  std::printf("machine load after:  %s\n", Load().c_str());
  std::printf("%d pictures, best of %d runs\n", int(frames), kRuns);
  std::printf("MFEncoder (Init..Clear):  %7.1f pictures/s (%.2f s, %.2f s of processor)\n",
              frames / library.wall, library.wall, library.cpu);
  std::printf("ffmpeg tool, libx264:     %7.1f pictures/s (%.2f s, %.2f s of processor)\n",
              frames / tool.wall, tool.wall, tool.cpu);
  std::printf("ratio MFEncoder / ffmpeg: %.2fx (target >= 0.9x)\n", tool.wall / library.wall);
  fs::remove_all(folder);
  return 0;
}
