// 1080p conversions per second of PixConverter_Convert against libswscale called
// directly with the same flags on the same buffers, side by side: short rounds
// of the two alternate, so that a busy machine slows both alike, and the median
// round of each counts.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "tarsel.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRounds = 41;
constexpr int kConversionsPerRound = 4;
// libswscale called directly reads and writes a little past tightly packed
// pictures; the spare bytes keep the baseline inside its allocation.
constexpr std::size_t kSpare = 4096;

struct Pair {
  const char* name;
  uint32_t sourceCode;
  uint32_t destinationCode;
  AVPixelFormat source;
  AVPixelFormat destination;
};

template <class Body>
double ConversionsPerSecond(Body&& body) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kConversionsPerRound; ++i) body();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return kConversionsPerRound / elapsed.count();
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

uint8_t* AllocatePicture(AVPixelFormat format) {
  const int size = av_image_get_buffer_size(format, kWidth, kHeight, 1);
  auto* bytes = static_cast<uint8_t*>(av_malloc(static_cast<std::size_t>(size) + kSpare));
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / kWidth);
  return bytes;
}

void Measure(const Pair& pair) {
  uint8_t* source = AllocatePicture(pair.source);
  uint8_t* destination = AllocatePicture(pair.destination);
  void* converter = nullptr;
  char errorText[200];
  if (PixConverter_Init(&converter, pair.sourceCode, pair.destinationCode, kWidth, kHeight,
                        errorText) != 0) {
    std::printf("%s: PixConverter_Init failed: %s\n", pair.name, errorText);
    return;
  }
  SwsContext* scaler = sws_getContext(kWidth, kHeight, pair.source, kWidth, kHeight,
                                      pair.destination, SWS_BICUBIC, nullptr, nullptr, nullptr);
  uint8_t* sourcePlanes[4];
  int sourcePitches[4];
  av_image_fill_arrays(sourcePlanes, sourcePitches, source, pair.source, kWidth, kHeight, 1);
  uint8_t* destinationPlanes[4];
  int destinationPitches[4];
  av_image_fill_arrays(destinationPlanes, destinationPitches, destination, pair.destination, kWidth,
                       kHeight, 1);

  std::vector<double> libraryRates, directRates;
  for (int round = 0; round < kRounds; ++round) {
    libraryRates.push_back(ConversionsPerSecond(
        [&] { PixConverter_Convert(converter, source, destination, errorText); }));
    directRates.push_back(ConversionsPerSecond([&] {
      sws_scale(scaler, sourcePlanes, sourcePitches, 0, kHeight, destinationPlanes,
                destinationPitches);
    }));
  }
  const double library = Median(libraryRates);
  const double direct = Median(directRates);
  std::printf("%-14s PixConverter_Convert %7.1f /s   libswscale %7.1f /s   ratio %.3fx\n",
              pair.name, library, direct, library / direct);
  sws_freeContext(scaler);
  PixConverter_Clear(&converter);
  av_free(source);
  av_free(destination);
}

}  // namespace

int main() {
  std::printf("1920x1080 conversions per second (median of %d alternating rounds of %d)\n", kRounds,
              kConversionsPerRound);
  const Pair pairs[] = {
      {"BGR24->NV12", 1, 3, AV_PIX_FMT_BGR24, AV_PIX_FMT_NV12},
      {"NV12->BGR24", 3, 1, AV_PIX_FMT_NV12, AV_PIX_FMT_BGR24},
      {"BGRA->NV12", 2, 3, AV_PIX_FMT_BGRA, AV_PIX_FMT_NV12},
  };
  for (const Pair& pair : pairs) Measure(pair);
  return 0;
}
