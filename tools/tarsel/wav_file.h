// A 16-bit PCM WAV file written block by block; the sizes in its header are
// filled in when it is closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tool {

class WavFile {
 public:
  WavFile(std::string path, int channels, int sampleRate);
  ~WavFile();  // closes without reporting; call Close() to learn of failures
  WavFile(const WavFile&) = delete;
  WavFile& operator=(const WavFile&) = delete;

  // Interleaved signed 16-bit little-endian samples.
  void Append(const uint8_t* bytes, size_t size);
  void Close();
  uint64_t dataBytes() const { return dataBytes_; }

 private:
  void Header();
  void Fail(int error);

  std::string path_;
  int channels_, sampleRate_;
  std::FILE* file_ = nullptr;
  uint64_t dataBytes_ = 0;
};

}  // namespace tool
