#include "wav_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "common.h"

namespace tool {
namespace {

constexpr uint32_t kHeaderBytes = 44;
// The RIFF sizes are 32-bit.
constexpr uint64_t kMostDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

WavFile::WavFile(std::string path, int channels, int sampleRate)
    : path_(std::move(path)), channels_(channels), sampleRate_(sampleRate) {
  file_ = std::fopen(path_.c_str(), "wb");
  if (!file_) throw Failure(About(path_, std::strerror(errno)));
  Header();
}

WavFile::~WavFile() {
  if (!file_) return;
  try {
    Close();
  } catch (const Failure&) {
    // Already unwinding from another failure, or nobody asked: the file stays as it is.
  }
}

void WavFile::Header() {
  const uint32_t blockAlign = static_cast<uint32_t>(channels_) * 2;
  const auto data = static_cast<uint32_t>(dataBytes_);
  std::vector<uint8_t> header = {'R', 'I', 'F', 'F'};
  PutLe(header, kHeaderBytes - 8 + data, 4);
  for (char c : std::string("WAVEfmt ")) header.push_back(static_cast<uint8_t>(c));
  PutLe(header, 16, 4);
  PutLe(header, 1, 2);  // integer PCM
  PutLe(header, static_cast<uint32_t>(channels_), 2);
  PutLe(header, static_cast<uint32_t>(sampleRate_), 4);
  PutLe(header, static_cast<uint32_t>(sampleRate_) * blockAlign, 4);
  PutLe(header, blockAlign, 2);
  PutLe(header, 16, 2);
  for (char c : std::string("data")) header.push_back(static_cast<uint8_t>(c));
  PutLe(header, data, 4);
  if (std::fseek(file_, 0, SEEK_SET) != 0 ||
      std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
      std::fseek(file_, 0, SEEK_END) != 0) {
    Fail(errno);
  }
}

void WavFile::Append(const uint8_t* bytes, size_t size) {
  if (dataBytes_ + size > kMostDataBytes) {
    throw Failure(About(path_, "the sound is too long for a WAV file (4 GB at most)"));
  }
  if (std::fwrite(bytes, 1, size, file_) != size) Fail(errno);
  dataBytes_ += size;
}

void WavFile::Close() {
  if (!file_) return;
  Header();
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) throw Failure(About(path_, std::strerror(errno)));
}

void WavFile::Fail(int error) {
  std::fclose(file_);
  file_ = nullptr;
  throw Failure(About(path_, std::strerror(error)));
}

}  // namespace tool
