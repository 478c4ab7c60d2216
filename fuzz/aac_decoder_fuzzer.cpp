// The AAC packet decoder with an arbitrary channel count and rates (the first
// twelve bytes) on the packets of the rest, cut before every ADTS sync word.
// The thirteenth byte says how much of each block is fetched.
#include <cstdint>

#include "fuzz_input.h"
#include "tarsel.h"

namespace {

// The most one fetch copies.
constexpr int32_t kMaxFetch = 192000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tarsel_fuzz::Fields fields(data, size);
  const auto channels = static_cast<int32_t>(fields.Word());
  const auto inRate = static_cast<int32_t>(fields.Word());
  const auto outRate = static_cast<int32_t>(fields.Word());
  const uint8_t fetch = fields.Byte();
  void* decoder = nullptr;
  char error[200];
  if (AACDECODER_Init(&decoder, channels, inRate, outRate, error) != 0) return 0;
  for (const auto& packet : tarsel_fuzz::AdtsFrames(fields.Rest(), fields.RestSize())) {
    tarsel_fuzz::Exact exact(packet.data(), packet.size());
    int32_t samples = 0;
    if (AACDECODER_DecodePacket(decoder, exact.data(), static_cast<int32_t>(exact.size()),
                                &samples) != 0)
      continue;
    // The block's own size, or a size of the input's choosing.
    int64_t bytes = int64_t{samples} * channels * 2;
    if (fetch & 0x80) bytes = (fetch & 0x7F) * 61;
    if (bytes < 0 || bytes > kMaxFetch) bytes = kMaxFetch;
    tarsel_fuzz::Exact pcm(static_cast<std::size_t>(bytes));
    AACDECODER_GetDecodedData(decoder, pcm.data(), static_cast<int32_t>(bytes));
  }
  AACDECODER_Clear(&decoder);
  return 0;
}
