#include "support/test_support.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <process.h>
#define TARSEL_GETPID _getpid
#else
#include <unistd.h>
#define TARSEL_GETPID getpid
#endif

namespace tarsel_test {

std::string FixturePath(const std::string& name) { return std::string(TARSEL_FIXTURE_DIR) + "/" + name; }

std::string ScratchPath(const std::string& name) {
  return std::string(TARSEL_SCRATCH_DIR) + "/" + std::to_string(TARSEL_GETPID()) + "_" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

namespace {
constexpr char kMarker = 'x';
}

ErrorText::ErrorText() { std::memset(text, kMarker, sizeof text); }

bool ErrorText::Untouched() const {
  for (char c : text)
    if (c != kMarker) return false;
  return true;
}

bool ErrorText::AllZero() const {
  for (char c : text)
    if (c != 0) return false;
  return true;
}

}  // namespace tarsel_test
