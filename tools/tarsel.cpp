// The tarsel tool: the library's main jobs from the command line.
//   tarsel info FILE     what the video reader reports about a file
#include <cstdio>
#include <cstring>

#include "tarsel.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: tarsel info FILE\n");
  return 2;
}

int Info(const char* path) {
  char errorText[TARSEL_ERROR_TEXT_SIZE];
  void* reader = nullptr;
  if (VIDEO_Init(&reader, path, 0, 0, nullptr, 0, errorText) != 0) {
    std::fprintf(stderr, "%s: %s\n", path, errorText);
    return 1;
  }
  VidInfo info{};
  VIDEO_getVidInfoStruct(reader, &info, errorText);
  std::printf("%s\n", path);
  std::printf("  size        %d x %d\n", info.width, info.height);
  std::printf("  frames      %d\n", info.frameCount);
  std::printf("  frame rate  %.3f fps\n", info.frameRate);
  std::printf("  duration    %.3f s\n", info.duration);
  std::printf("  codec id    %d\n", info.codecId);
  std::printf("  time base   %d/%d\n", info.timeBaseNum, info.timeBaseDen);
  VIDEO_Clear(&reader);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return Info(argv[2]);
  return Usage();
}
