// The MP4 writer and muxer on arbitrary units and times. Four bytes choose the
// family, the container, how units are timed, the size and the frame rate; the
// rest is cut before every start code into units, which get the 4-byte start
// code callers use unless the first byte asks for them as they are. Parameter
// sets go to AddSPSPPS once both are known, every other unit is added as a frame.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "fuzz_input.h"
#include "tarsel.h"

namespace {

constexpr const char* kContainers[] = {".mp4",  ".mkv", ".ts",  ".avi",
                                       ".h264", ".mov", ".flv", ".unknown"};
constexpr std::size_t kMaxUnits = 400;

struct Family {
  int (*init)(void**, const char*, uint32_t, uint32_t, uint32_t, char*);
  int (*addSpsPps)(void*, const uint8_t*, int32_t, const uint8_t*, int32_t, char*);
  int (*addFrame)(void*, const uint8_t*, int32_t, char*);
  int (*addFrameWithTime)(void*, const uint8_t*, int32_t, double, char*);
  int (*clear)(void**);
};
constexpr Family kWriter{MP4WRITER_Init, MP4WRITER_AddSPSPPS, MP4WRITER_AddFrame,
                         MP4WRITER_AddRawH264FrameWithTime, MP4WRITER_Clear};
constexpr Family kMuxer{MP4Muxer_Init, MP4Muxer_AddSPSPPS, MP4Muxer_AddFrame,
                        MP4Muxer_AddRawH264FrameWithTime, MP4Muxer_Clear};

// The time of unit n: regular, or moved by the unit's last byte, which also
// picks the times no clock gives.
double TimeOf(std::size_t n, uint32_t rate, const std::vector<uint8_t>& unit, bool jitter) {
  const double regular = static_cast<double>(n) / (rate ? rate : 25);
  if (!jitter || unit.empty()) return regular;
  switch (unit.back()) {
    case 0xFF:
      return std::numeric_limits<double>::quiet_NaN();
    case 0xFE:
      return -1e300;
    case 0xFD:
      return 1e300;
    case 0xFC:
      return -regular;
    case 0xFB:
      return std::numeric_limits<double>::infinity();
    default:
      return regular + static_cast<int8_t>(unit.back()) * 0.01;
  }
}

// A parameter set as it came, or without its start code.
std::vector<uint8_t> ParameterSet(const std::vector<uint8_t>& unit, bool bare) {
  if (!bare) return unit;
  const std::size_t skip = unit.size() > 3 && unit[2] == 1 ? 3 : 4;
  return {unit.begin() + std::min(skip, unit.size()), unit.end()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tarsel_fuzz::Fields fields(data, size);
  const uint8_t choice = fields.Byte();
  const uint32_t width = fields.Byte() * 4u;
  const uint32_t height = fields.Byte() * 4u;
  const uint32_t rate = fields.Byte();
  const Family& family = (choice & 1) ? kMuxer : kWriter;
  const int timing = (choice >> 4) & 3;  // untimed, timed, jittered, alternating
  const bool bareParameterSets = choice & 0x40;
  const bool unitsAsGiven = choice & 0x80;

  const tarsel_fuzz::TemporaryFile file(kContainers[(choice >> 1) & 7]);
  void* writer = nullptr;
  char error[200];
  if (family.init(&writer, file.path(), width, height, rate, error) == 0) {
    std::vector<uint8_t> sps, pps;
    std::size_t n = 0;
    for (auto unit : tarsel_fuzz::NalUnits(fields.Rest(), fields.RestSize())) {
      if (++n > kMaxUnits) break;
      if (!unitsAsGiven && unit.size() >= 3 && unit[0] == 0 && unit[1] == 0 && unit[2] == 1)
        unit.insert(unit.begin(), 0);
      const int type = tarsel_fuzz::NalType(unit);
      if (type == 7 || type == 8) {
        (type == 7 ? sps : pps) = ParameterSet(unit, bareParameterSets);
        if (!sps.empty() && !pps.empty()) {
          tarsel_fuzz::Exact exactSps(sps.data(), sps.size()), exactPps(pps.data(), pps.size());
          family.addSpsPps(writer, exactSps.data(), static_cast<int32_t>(sps.size()),
                           exactPps.data(), static_cast<int32_t>(pps.size()), error);
        }
        continue;
      }
      tarsel_fuzz::Exact exact(unit.data(), unit.size());
      const auto length = static_cast<int32_t>(unit.size());
      if (timing == 0 || (timing == 3 && n % 2 == 0))
        family.addFrame(writer, exact.data(), length, error);
      else
        family.addFrameWithTime(writer, exact.data(), length, TimeOf(n, rate, unit, timing != 1),
                                error);
    }
  }
  // The writer's handle is set after every Init result.
  family.clear(&writer);
  return 0;
}
