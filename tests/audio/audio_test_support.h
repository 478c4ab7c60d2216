// Helpers of the audio tests: reference PCM, ffprobe's key=value output, ADTS
// framing and sample comparisons.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace audio_test {

// Interleaved signed 16-bit samples of a raw s16le file.
std::vector<int16_t> ReadPcm(const std::string& path);
// Samples of a byte block.
std::vector<int16_t> ToSamples(const uint8_t* bytes, size_t byteCount);
// Keys of ffprobe's "key=value" output; the first occurrence wins.
std::map<std::string, std::string> ReadProbe(const std::string& path);
// Seconds of a probe value; 0 for "N/A".
double ProbeSeconds(const std::map<std::string, std::string>& probe, const std::string& key);

// The frames of an ADTS stream, with their 7- or 9-byte headers or without
// (the raw access units).
std::vector<std::vector<uint8_t>> SplitAdts(const std::vector<uint8_t>& stream, bool keepHeaders);

struct Difference {
  size_t compared = 0;
  int maxAbs = 0;
  double rms = 0.0;
};
// Compares the first n samples of both.
Difference Compare(const std::vector<int16_t>& actual, const std::vector<int16_t>& expected);

}  // namespace audio_test
