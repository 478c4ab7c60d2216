// Access units per second stored by MP4WRITER_AddRawH264FrameWithTime from a
// 1080p H.264 stream, against `ffmpeg -c copy` of the same stream into MP4.
// The stream is made at run time with libx264 in a temporary folder.
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

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kSeconds = 10;
constexpr int kFrameRate = 25;
constexpr int kRuns = 5;

struct Stream {
  Bytes sps, pps;
  std::vector<Bytes> accessUnits;
};

// One access unit per picture, slices behind 4-byte start codes; the first SPS
// and PPS go to AddSPSPPS, SEI and repeated parameter sets are dropped.
Stream Split(const Bytes& bytes) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 3 <= bytes.size(); ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) starts.push_back(i + 3);
  Stream stream;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : bytes.size();
    while (end > starts[k] && bytes[end - 1] == 0) --end;
    Bytes nal{0, 0, 0, 1};
    nal.insert(nal.end(), bytes.begin() + starts[k], bytes.begin() + end);
    const int type = nal[4] & 0x1f;
    if (type == 7 && stream.sps.empty()) stream.sps = nal;
    if (type == 8 && stream.pps.empty()) stream.pps = nal;
    if (type != 1 && type != 5) continue;
    const bool firstSlice = nal.size() > 5 && (nal[5] & 0x80);
    if (firstSlice || stream.accessUnits.empty()) stream.accessUnits.emplace_back();
    stream.accessUnits.back().insert(stream.accessUnits.back().end(), nal.begin(), nal.end());
  }
  return stream;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Timing {
  double total = 1e30;  // Init to Clear, file finished
  double calls = 1e30;  // the AddRawH264FrameWithTime calls alone
};

Timing TimeLibrary(const Stream& stream, const std::string& path) {
  Timing best;
  for (int run = 0; run < kRuns; ++run) {
    char error[200];
    void* writer = nullptr;
    const auto start = Clock::now();
    if (MP4WRITER_Init(&writer, path.c_str(), 1920, 1080, kFrameRate, error) != 0 ||
        MP4WRITER_AddSPSPPS(writer, stream.sps.data(), int32_t(stream.sps.size()),
                            stream.pps.data(), int32_t(stream.pps.size()), error) != 0) {
      std::fprintf(stderr, "open failed: %s\n", error);
      std::exit(1);
    }
    const auto callsStart = Clock::now();
    for (std::size_t i = 0; i < stream.accessUnits.size(); ++i) {
      const Bytes& unit = stream.accessUnits[i];
      if (MP4WRITER_AddRawH264FrameWithTime(writer, unit.data(), int32_t(unit.size()),
                                            double(i) / kFrameRate, error) != 0) {
        std::fprintf(stderr, "frame %zu failed: %s\n", i, error);
        std::exit(1);
      }
    }
    const double calls = Seconds(callsStart);
    MP4WRITER_Clear(&writer);
    best.total = std::min(best.total, Seconds(start));
    best.calls = std::min(best.calls, calls);
  }
  return best;
}

// limit: extra output options, such as "-frames:v 1" to time the tool's start-up.
double TimeFfmpegCopy(const std::string& input, const std::string& output,
                      const std::string& limit = "") {
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f h264 -framerate " +
      std::to_string(kFrameRate) + " -i \"" + input + "\" -c copy " + limit + " \"" + output + "\"";
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "ffmpeg -c copy failed\n");
      std::exit(1);
    }
    best = std::min(best, Seconds(start));
  }
  return best;
}

}  // namespace

int main() {
  const fs::path folder =
      fs::temp_directory_path() /
      ("tarsel_mp4_bench_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(folder);
  const std::string raw = (folder / "source.h264").string();
  const std::string make =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=" +
      std::to_string(kFrameRate) + " -t " + std::to_string(kSeconds) +
      " -c:v libx264 -preset ultrafast -b:v 8M -g 50 -pix_fmt yuv420p -f h264 \"" + raw + "\"";
  std::printf("making %d s of 1080p H.264 with libx264...\n", kSeconds);
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the stream\n");
    return 1;
  }
  std::ifstream in(raw, std::ios::binary);
  const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Stream stream = Split(bytes);
  const double units = double(stream.accessUnits.size());
  std::printf("stream: %zu access units, %.1f MB\n", stream.accessUnits.size(), bytes.size() / 1e6);

  const Timing library = TimeLibrary(stream, (folder / "library.mp4").string());
  const double ffmpeg = TimeFfmpegCopy(raw, (folder / "ffmpeg.mp4").string());
  const double startup = TimeFfmpegCopy(raw, (folder / "one.mp4").string(), "-frames:v 1");
  std::printf("best of %d runs\n", kRuns);
  std::printf("MP4WRITER (Init..Clear):          %10.0f access units/s (%.4f s)\n",
              units / library.total, library.total);
  std::printf("MP4WRITER (frame calls only):     %10.0f access units/s (%.4f s)\n",
              units / library.calls, library.calls);
  std::printf("ffmpeg -c copy (whole process):   %10.0f access units/s (%.4f s)\n", units / ffmpeg,
              ffmpeg);
  std::printf("ffmpeg -c copy less its start-up:  %10.0f access units/s (%.4f s; 1 frame %.4f s)\n",
              (units - 1) / std::max(ffmpeg - startup, 1e-9), ffmpeg - startup, startup);
  std::printf("ratio MP4WRITER / ffmpeg -c copy: %.2fx (target >= 1.0x)\n",
              library.total > 0 ? ffmpeg / library.total : 0.0);
  fs::remove_all(folder);
  return 0;
}
