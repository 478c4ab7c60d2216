// The H.264 packet decoder on a packet sequence: the input after its first
// byte is cut before every start code, and the first byte says how many units
// make one packet, how often the picture is fetched, and whether a few packets
// are cut short.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "tarsel.h"

namespace {

constexpr std::size_t kMaxPictureBytes = std::size_t{16} << 20;

void FetchPicture(void* decoder, int32_t width, int32_t height, bool sizeOnly) {
  uint32_t size = 0;
  if (sizeOnly || width <= 0 || height <= 0 || std::size_t{3} * width * height > kMaxPictureBytes) {
    DECODER_GetBitmapData(decoder, nullptr, &size);
    return;
  }
  tarsel_fuzz::Exact bitmap(std::size_t{3} * width * height);
  DECODER_GetBitmapData(decoder, bitmap.data(), &size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tarsel_fuzz::Fields fields(data, size);
  const uint8_t choice = fields.Byte();
  const std::size_t unitsPerPacket = 1 + (choice & 3);
  const auto units = tarsel_fuzz::NalUnits(fields.Rest(), fields.RestSize());
  void* decoder = nullptr;
  char error[200];
  if (DECODER_Init(&decoder, error) != 0) return 0;
  for (std::size_t first = 0, n = 0; first < units.size(); first += unitsPerPacket, ++n) {
    std::vector<uint8_t> packet;
    for (std::size_t i = first; i < first + unitsPerPacket && i < units.size(); ++i)
      packet.insert(packet.end(), units[i].begin(), units[i].end());
    // Every eighth packet, when asked, loses its second half.
    if ((choice & 0x40) && n % 8 == 7) packet.resize(packet.size() / 2);
    tarsel_fuzz::Exact exact(packet.data(), packet.size());
    int32_t width = 0, height = 0;
    const int result = DECODER_DecodeFrame(decoder, exact.data(),
                                           static_cast<int32_t>(exact.size()), &width, &height);
    if (result == 0 && ((choice & 0x10) || n % 4 == 0))
      FetchPicture(decoder, width, height, choice & 0x20);
  }
  DECODER_Clear(&decoder);
  return 0;
}
