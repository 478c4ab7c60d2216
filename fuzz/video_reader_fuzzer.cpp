// The video reader on an arbitrary file. The first byte picks the reader's
// flags and which requests follow the opening; the rest is the file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "fuzz_input.h"
#include "tarsel.h"

namespace {

constexpr int kMaxPictures = 48;
// Pictures above this many bytes are decoded without being copied out.
constexpr std::size_t kMaxPictureBytes = std::size_t{16} << 20;
// A few kilobytes may declare pictures of 150 megapixels, each taking a second
// to convert: a run reads as many pictures as this many BGR bytes allow (one at
// least), so that slowness of size alone does not count as a hang.
constexpr double kPictureByteBudget = 256.0 * (1 << 20);

int PicturesWithin(int32_t width, int32_t height, int wanted) {
  if (width <= 0 || height <= 0) return wanted;
  const double each = 3.0 * width * height;
  return static_cast<int>(std::max(1.0, std::min<double>(wanted, kPictureByteBudget / each)));
}

// A picture buffer of exactly the reported size, or none for a size too large.
std::unique_ptr<tarsel_fuzz::Exact> PictureFor(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  const std::size_t bytes = std::size_t{3} * width * height;
  if (bytes > kMaxPictureBytes) return nullptr;
  return std::make_unique<tarsel_fuzz::Exact>(bytes);
}

void ReadPictures(void* reader, tarsel_fuzz::Exact* picture, int32_t stride, int count) {
  uint32_t index = 0;
  double time = 0, timeAgain = 0;
  char error[200];
  for (int i = 0; i < count; ++i)
    if (VIDEO_getNextFrame(reader, picture ? picture->data() : nullptr, stride, &index, &time,
                           &timeAgain, error) != 0)
      break;
}

void Exercise(void* reader, uint8_t choice) {
  char error[200];
  int32_t width = 0, height = 0, count = 0;
  double duration = 0, rate = 0;
  VIDEO_getVideoInfo(reader, &width, &height, &count, &duration, &rate, error);
  VidInfo info;
  VIDEO_getVidInfoStruct(reader, &info, error);
  uint32_t audio = 0;
  VIDEO_getAudioInfo(reader, &audio, error);

  auto picture = PictureFor(width, height);
  const int32_t stride = 3 * width;
  // A bottom-up picture: the first row is the last one in memory.
  uint8_t* bottomUp = picture ? picture->data() + std::size_t(stride) * (height - 1) : nullptr;
  ReadPictures(reader, picture.get(), stride,
               PicturesWithin(width, height, (choice & 0x10) ? kMaxPictures : 4));
  // The requests below decode and convert further pictures: with pictures
  // this large, the sequential reads above are all a run does.
  if (PicturesWithin(width, height, 8) < 8) return;

  uint32_t index = 0;
  double time = 0, timeAgain = 0;
  if (choice & 0x20) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double at : {duration / 2, 0.0, duration, duration + 1, -1.0, nan, 1e300})
      VIDEO_getFrameWithTimeStamp(reader, bottomUp, -stride, at, &index, &time, &timeAgain, error);
  }
  if (choice & 0x40) {
    for (int32_t at : {count / 2, 0, count - 1, count, -1, INT32_MAX})
      VIDEO_getFrameWithIndex(reader, picture ? picture->data() : nullptr, stride, at, &index,
                              &time, &timeAgain, error);
  }
  if (choice & 0x80) {
    uint32_t frames = 0, num = 0, den = 0;
    int64_t first = 0, last = 0;
    VIDEO_ReadAllFrames(reader, &frames, &first, &last, &num, &den, error);
    VIDEO_Rewind(reader, error);
    VIDEO_SkipFrames(reader, 3, error);
    ReadPictures(reader, picture.get(), stride, 2);
    for (double imposed : {30.0, 1000.0, 0.0, -5.0})
      if (VIDEO_SetFrameRate(reader, imposed, error) == 0)
        VIDEO_getFrameWithIndex(reader, nullptr, stride, 5, &index, &time, &timeAgain, error);
    VIDEO_TEST(reader, error);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tarsel_fuzz::Fields fields(data, size);
  const uint8_t flags = fields.Byte();
  // Live readers take an address ending in "cgi" as MJPEG.
  const tarsel_fuzz::TemporaryFile file((flags & 0x09) == 0x09 ? ".cgi" : ".media");
  if (!file.Write(fields.Rest(), fields.RestSize())) return 0;
  void* reader = nullptr;
  char error[200];
  if (VIDEO_Init(&reader, file.path(), flags & 1, (flags >> 1) & 1, nullptr, (flags >> 2) & 1,
                 error) == 0)
    Exercise(reader, flags);
  VIDEO_Clear(&reader);
  return 0;
}
