// The audio reader on an arbitrary file. The first byte picks which requests
// follow the opening; the rest is the file.
#include <cstdint>
#include <limits>

#include "fuzz_input.h"
#include "tarsel.h"

namespace {

constexpr int kMaxBlocks = 64;

void ReadBlocks(void* reader, tarsel_fuzz::Exact& samples, int count) {
  int32_t sampleCount = 0, byteCount = 0;
  double time = 0;
  char error[200];
  for (int i = 0; i < count; ++i)
    if (AUDIO_GetNewAudioSamples(reader, samples.data(), &sampleCount, &byteCount, &time, error) !=
        0)
      break;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tarsel_fuzz::Fields fields(data, size);
  const uint8_t choice = fields.Byte();
  const tarsel_fuzz::TemporaryFile file(".media");
  if (!file.Write(fields.Rest(), fields.RestSize())) return 0;
  void* reader = nullptr;
  int32_t stream = -1;
  char error[200];
  if (AUDIO_Init(&reader, file.path(), &stream, error) == 0) {
    int32_t hasAudio = 0, channels = 0, rate = 0, bufferSize = 0;
    double duration = 0;
    char codecName[200];
    // Jumps are refused before the information has settled the duration.
    if (choice & 1) {
      double at = 0.5;
      AUDIO_JumpToTimeStamp(reader, &at, error);
    }
    AUDIO_GetAudioInfo(reader, &hasAudio, &channels, &rate, &bufferSize, &duration, codecName,
                       error);
    // Blocks never exceed the reported buffer size.
    tarsel_fuzz::Exact samples(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 0);
    ReadBlocks(reader, samples, (choice & 2) ? kMaxBlocks : 4);
    if (choice & 4) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      for (double to : {duration / 2, 0.0, duration, duration + 1, -1.0, nan, 1e300}) {
        double at = to;
        AUDIO_JumpToTimeStamp(reader, &at, error);
        ReadBlocks(reader, samples, 2);
      }
    }
  }
  AUDIO_Clear(&reader);
  return 0;
}
