// FFV1 encode throughput of LLWRITER_WriteFrame at 1280x720 against the ffmpeg
// tool encoding the same raw BGR24 pictures with the same options (level 3,
// coder 0, 4 slices, every frame a key frame, YUV420P), side by side.
// Usage: bench_writers_ffv1 [pictures] [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tarsel.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr size_t kPictureBytes = size_t{kWidth} * kHeight * 3;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

double EncodeWithLibrary(const std::vector<uint8_t>& pictures, int count, const std::string& path) {
  const Clock::time_point start = Clock::now();
  void* writer = nullptr;
  char error[200] = {};
  if (LLWRITER_Init(&writer, path.c_str(), kWidth, kHeight, 25.0, error) != 0) {
    std::fprintf(stderr, "LLWRITER_Init: %s\n", error);
    std::exit(1);
  }
  for (int i = 0; i < count; ++i) {
    if (LLWRITER_WriteFrame(writer, pictures.data() + kPictureBytes * i, kWidth * 3, 0.0, error) !=
        0) {
      std::fprintf(stderr, "LLWRITER_WriteFrame: %s\n", error);
      std::exit(1);
    }
  }
  LLWRITER_Clear(&writer);
  return SecondsSince(start);
}

double EncodeWithTool(const std::string& raw, const std::string& path) {
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f rawvideo -pix_fmt bgr24 -s 1280x720 "
      "-r 25 -i '" +
      raw + "' -c:v ffv1 -level 3 -coder 0 -slices 4 -g 1 -pix_fmt yuv420p '" + path + "'";
  const Clock::time_point start = Clock::now();
  if (!Run(command)) {
    std::fprintf(stderr, "the ffmpeg tool failed\n");
    std::exit(1);
  }
  return SecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("tarsel_bench_writers_" + std::to_string(Clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  const std::string raw = (folder / "pictures.bgr").string();
  if (!Run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
           "testsrc2=size=1280x720:rate=25 -frames:v " +
           std::to_string(count) + " -f rawvideo -pix_fmt bgr24 '" + raw + "'")) {
    std::fprintf(stderr, "could not make the pictures\n");
    return 1;
  }
  std::ifstream in(raw, std::ios::binary);
  const std::vector<uint8_t> pictures{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
  if (pictures.size() < kPictureBytes * count) {
    std::fprintf(stderr, "short picture file\n");
    return 1;
  }

  // Alternate the two, so both see the same machine load; keep each one's best.
  double library = 1e30;
  double tool = 1e30;
  for (int round = 0; round < rounds; ++round) {
    library = std::min(library, EncodeWithLibrary(pictures, count, (folder / "lib.mkv").string()));
    tool = std::min(tool, EncodeWithTool(raw, (folder / "tool.mkv").string()));
  }
  const double libraryFps = count / library;
  const double toolFps = count / tool;
  std::printf("FFV1 1280x720, %d pictures, best of %d rounds\n", count, rounds);
  std::printf("  LLWRITER_WriteFrame: %7.2f fps (%.3f s), file %ju bytes\n", libraryFps, library,
              static_cast<uintmax_t>(std::filesystem::file_size(folder / "lib.mkv")));
  std::printf("  ffmpeg tool:         %7.2f fps (%.3f s), file %ju bytes\n", toolFps, tool,
              static_cast<uintmax_t>(std::filesystem::file_size(folder / "tool.mkv")));
  std::printf("  ratio library/tool:  %.2fx (target >= 0.90x)\n", libraryFps / toolFps);
  std::filesystem::remove_all(folder);
  return 0;
}
