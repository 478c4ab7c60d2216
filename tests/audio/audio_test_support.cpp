#include "audio_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace audio_test {

std::vector<int16_t> ToSamples(const uint8_t* bytes, size_t byteCount) {
  std::vector<int16_t> samples(byteCount / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

std::vector<int16_t> ReadPcm(const std::string& path) {
  const std::vector<uint8_t> bytes = tarsel_test::ReadFile(path);
  return ToSamples(bytes.data(), bytes.size());
}

std::map<std::string, std::string> ReadProbe(const std::string& path) {
  std::map<std::string, std::string> values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
      values.emplace(line.substr(0, equals), line.substr(equals + 1));
  }
  return values;
}

double ProbeSeconds(const std::map<std::string, std::string>& probe, const std::string& key) {
  const auto found = probe.find(key);
  if (found == probe.end() || found->second == "N/A") return 0.0;
  return std::strtod(found->second.c_str(), nullptr);
}

std::vector<std::vector<uint8_t>> SplitAdts(const std::vector<uint8_t>& stream, bool keepHeaders) {
  std::vector<std::vector<uint8_t>> frames;
  size_t at = 0;
  while (at + 7 <= stream.size()) {
    const uint8_t* h = stream.data() + at;
    if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) break;
    const bool hasCrc = (h[1] & 0x01) == 0;
    const size_t headerSize = hasCrc ? 9 : 7;
    const size_t frameSize = ((h[3] & 0x03u) << 11) | (h[4] << 3u) | (h[5] >> 5u);
    if (frameSize <= headerSize || at + frameSize > stream.size()) break;
    const size_t skip = keepHeaders ? 0 : headerSize;
    frames.emplace_back(h + skip, h + frameSize);
    at += frameSize;
  }
  return frames;
}

Difference Compare(const std::vector<int16_t>& actual, const std::vector<int16_t>& expected) {
  Difference difference;
  difference.compared = std::min(actual.size(), expected.size());
  double sum = 0.0;
  for (size_t i = 0; i < difference.compared; ++i) {
    const int delta = std::abs(actual[i] - expected[i]);
    difference.maxAbs = std::max(difference.maxAbs, delta);
    sum += static_cast<double>(delta) * delta;
  }
  if (difference.compared) difference.rms = std::sqrt(sum / difference.compared);
  return difference;
}

}  // namespace audio_test
