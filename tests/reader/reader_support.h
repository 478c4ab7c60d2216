// Helpers of the video reader's tests: opening fixtures, reading pictures and
// the ffmpeg tool's reference pictures.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tarsel.h"

namespace reader_test {

constexpr char kNotInitialized[] = "Video grabber not inititialized";

// A reader open on a fixture, cleared when it goes out of scope.
class Reader {
 public:
  explicit Reader(const std::string& fixture, bool live = false, bool sequential = false,
                  bool applyAspect = false);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  void* handle() const { return handle_; }
  bool ok() const { return handle_ != nullptr; }
  const char* error() const { return errorText_; }
  VidInfo Info();

 private:
  void* handle_ = nullptr;
  char errorText_[200] = {};
};

struct Delivery {
  int result = -1;
  uint32_t index = 0;
  double time = -1.0;
  double timeAgain = -1.0;
};

// Pictures of width x height packed BGR24 (3 * width bytes a row).
using Picture = std::vector<uint8_t>;

Delivery Next(void* reader, Picture* picture, int width, int height);
Delivery AtIndex(void* reader, int32_t index, Picture* picture, int width, int height);
Delivery AtTime(void* reader, double seconds, Picture* picture, int width, int height);

// The ffmpeg tool's pictures of a fixture, raw BGR24.
std::vector<Picture> ReferencePictures(const std::string& fixture, int width, int height);
// The ffmpeg tool's per-picture MD5s of a fixture (framemd5 output).
std::vector<std::string> ReferenceMd5s(const std::string& fixture);
std::string Md5Of(const Picture& picture);
// key=value lines.
std::map<std::string, std::string> ReadProbe(const std::string& fixture);

}  // namespace reader_test
