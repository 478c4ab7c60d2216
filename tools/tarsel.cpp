// The tarsel tool: the library's main jobs from the command line.
//   tarsel info FILE               what the video and audio readers report
//   tarsel frames FILE             decodes every picture, with count, rate and a checksum
//   tarsel snapshot FILE N OUT.bmp writes picture N as a bitmap
//   tarsel demo DIR                writes a sample clip with the library's own writer,
//                                  then reads it back: information, every picture, one
//                                  picture by index, a snapshot
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tarsel.h"

namespace {

struct ErrorText {
  char text[TARSEL_ERROR_TEXT_SIZE] = {};
};

// A video reader that closes itself.
class Reader {
 public:
  explicit Reader(const char* path) {
    ErrorText error;
    if (VIDEO_Init(&handle_, path, 0, 0, nullptr, 0, error.text) != 0) {
      std::fprintf(stderr, "%s: %s\n", path, error.text);
      handle_ = nullptr;
    }
  }
  ~Reader() { VIDEO_Clear(&handle_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  explicit operator bool() const { return handle_ != nullptr; }
  void* handle() const { return handle_; }
  VidInfo Info() const {
    VidInfo info{};
    ErrorText error;
    VIDEO_getVidInfoStruct(handle_, &info, error.text);
    return info;
  }

 private:
  void* handle_ = nullptr;
};

int Usage() {
  std::fprintf(stderr,
               "usage: tarsel info FILE\n"
               "       tarsel frames FILE\n"
               "       tarsel snapshot FILE INDEX OUT.bmp\n"
               "       tarsel demo DIR\n");
  return 2;
}

void PrintVideoInfo(const VidInfo& info) {
  std::printf("  video       %d x %d, %d frames, %.3f fps, %.3f s\n", info.width, info.height,
              info.frameCount, info.frameRate, info.duration);
  std::printf("  time base   %d/%d, codec id %d\n", info.timeBaseNum, info.timeBaseDen,
              info.codecId);
}

void PrintAudioInfo(const char* path) {
  void* audio = nullptr;
  ErrorText error;
  int32_t streamIndex = -1;
  if (AUDIO_Init(&audio, path, &streamIndex, error.text) != 0) {
    std::printf("  audio       none (%s)\n", error.text);
    return;
  }
  int32_t hasAudio = 0, channels = 0, rate = 0, bufferSize = 0;
  double duration = 0;
  char codec[TARSEL_ERROR_TEXT_SIZE] = {};
  if (AUDIO_GetAudioInfo(audio, &hasAudio, &channels, &rate, &bufferSize, &duration, codec,
                         error.text) == 0) {
    std::printf("  audio       %s, %d channels, %d Hz, %.3f s\n", codec, channels, rate, duration);
  }
  AUDIO_Clear(&audio);
}

int Info(const char* path) {
  Reader reader(path);
  std::printf("%s\n", path);
  if (reader) PrintVideoInfo(reader.Info());
  PrintAudioInfo(path);
  return reader ? 0 : 1;
}

// Reads every picture in order; returns the count, or -1 when the file cannot be read.
long ReadAll(Reader& reader, uint64_t* checksum) {
  const VidInfo info = reader.Info();
  const int32_t stride = info.width * 3;
  std::vector<uint8_t> picture(static_cast<size_t>(stride) * info.height);
  uint32_t index = 0;
  double time = 0, timeAgain = 0;
  ErrorText error;
  long count = 0;
  uint64_t sum = 1469598103934665603ull;  // FNV-1a over all pictures
  while (VIDEO_getNextFrame(reader.handle(), picture.data(), stride, &index, &time, &timeAgain,
                            error.text) == 0) {
    for (uint8_t byte : picture) sum = (sum ^ byte) * 1099511628211ull;
    ++count;
  }
  *checksum = sum;
  return count;
}

int Frames(const char* path) {
  Reader reader(path);
  if (!reader) return 1;
  const auto start = std::chrono::steady_clock::now();
  uint64_t checksum = 0;
  const long count = ReadAll(reader, &checksum);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %ld pictures in %.3f s (%.1f per second), checksum %016" PRIx64 "\n", path,
              count, seconds, count / (seconds > 0 ? seconds : 1), checksum);
  return 0;
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A 24-bit bottom-up bitmap: the reader fills it directly with a negative stride.
bool WriteBitmap(void* reader, int32_t index, int32_t width, int32_t height, const char* out) {
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  std::vector<uint8_t> pixels(static_cast<size_t>(rowBytes) * height);
  uint32_t delivered = 0;
  double time = 0, timeAgain = 0;
  ErrorText error;
  uint8_t* lastRow = pixels.data() + static_cast<size_t>(rowBytes) * (height - 1);
  if (VIDEO_getFrameWithIndex(reader, lastRow, -static_cast<int32_t>(rowBytes), index, &delivered,
                              &time, &timeAgain, error.text) != 0) {
    std::fprintf(stderr, "picture %d could not be read\n", index);
    return false;
  }
  std::vector<uint8_t> file = {'B', 'M'};
  PutLe(file, 54 + static_cast<uint32_t>(pixels.size()), 4);
  PutLe(file, 0, 4);
  PutLe(file, 54, 4);
  PutLe(file, 40, 4);
  PutLe(file, static_cast<uint32_t>(width), 4);
  PutLe(file, static_cast<uint32_t>(height), 4);
  PutLe(file, 1, 2);
  PutLe(file, 24, 2);
  for (int i = 0; i < 6; ++i) PutLe(file, 0, 4);
  file.insert(file.end(), pixels.begin(), pixels.end());
  std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                             static_cast<std::streamsize>(file.size()));
  std::printf("picture %u at %.3f s written to %s\n", delivered, time, out);
  return true;
}

int Snapshot(const char* path, int32_t index, const char* out) {
  Reader reader(path);
  if (!reader) return 1;
  const VidInfo info = reader.Info();
  return WriteBitmap(reader.handle(), index, info.width, info.height, out) ? 0 : 1;
}

// A moving colour pattern, different in every picture.
void Paint(std::vector<uint8_t>& picture, int width, int height, int n) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* pixel = &picture[(static_cast<size_t>(y) * width + x) * 3];
      pixel[0] = static_cast<uint8_t>(x + n * 4);
      pixel[1] = static_cast<uint8_t>(y + n * 2);
      pixel[2] = static_cast<uint8_t>(128 + 100 * std::sin((x + y + n * 8) / 40.0));
    }
  }
}

bool WriteSample(const std::string& path, int width, int height, int frames) {
  void* writer = nullptr;
  ErrorText error;
  if (LLWRITER_Init(&writer, path.c_str(), width, height, 25.0, error.text) != 0) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.text);
    return false;
  }
  std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3);
  bool ok = true;
  for (int n = 0; n < frames && ok; ++n) {
    Paint(picture, width, height, n);
    ok = LLWRITER_WriteFrame(writer, picture.data(), width * 3, n / 25.0, error.text) == 0;
  }
  LLWRITER_Clear(&writer);
  if (!ok) std::fprintf(stderr, "%s: %s\n", path.c_str(), error.text);
  return ok;
}

int Demo(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  const std::string sample = dir + "/sample.mkv";
  constexpr int kWidth = 320, kHeight = 240, kFrames = 100;
  std::printf("writing %s: %d FFV1 pictures of %dx%d at 25 fps\n", sample.c_str(), kFrames, kWidth,
              kHeight);
  std::fflush(stdout);  // the writer prints the file's layout to FFmpeg's log (stderr)
  if (!WriteSample(sample, kWidth, kHeight, kFrames)) return 1;
  if (Info(sample.c_str()) != 0) return 1;
  if (Frames(sample.c_str()) != 0) return 1;
  const std::string bitmap = dir + "/picture50.bmp";
  return Snapshot(sample.c_str(), 50, bitmap.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return Info(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "frames") == 0) return Frames(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "snapshot") == 0)
    return Snapshot(argv[2], std::atoi(argv[3]), argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "demo") == 0) return Demo(argv[2]);
  return Usage();
}
