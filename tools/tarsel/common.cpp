#include "common.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tool {

std::string ErrorText::str() const {
  std::string message(text, strnlen(text, sizeof text));
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  return message.empty() ? "failed without a message" : message;
}

std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int length = byte < 0x80         ? 1
                       : (byte >> 5) == 6  ? 2
                       : (byte >> 4) == 14 ? 3
                       : (byte >> 3) == 30 ? 4
                                           : 0;
    char32_t code = length == 1   ? byte
                    : length == 2 ? byte & 0x1F
                    : length == 3 ? byte & 0x0F
                                  : byte & 0x07;
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next >> 6) == 2;
      code = code << 6 | (next & 0x3F);
    }
    if (!valid) {
      out += static_cast<char16_t>(byte);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 | code >> 10);
      out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
  return out;
}

namespace {
std::string program = "tarsel";
}  // namespace

void SetProgram(const char* argv0) {
  if (argv0 && std::strpbrk(argv0, "/\\")) program = argv0;
}

const std::string& Program() { return program; }

std::string About(const std::string& path, const std::string& text) { return path + ": " + text; }

void CheckNotTheInput(const std::string& input, const std::string& output) {
  std::error_code error;
  if (std::filesystem::equivalent(input, output, error)) {
    throw Failure(About(output, "is the input; choose another output name"));
  }
}

std::string ClockTime(double seconds) {
  if (!std::isfinite(seconds)) return "-";
  const bool negative = seconds < 0;
  const long long centis = std::llround(std::fabs(seconds) * 100);
  const long long whole = centis / 100;
  char text[48];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld", negative ? "-" : "", whole / 3600,
                  whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%s%lld:%02lld.%02lld", negative ? "-" : "", whole / 60,
                  whole % 60, centis % 100);
  }
  return text;
}

std::string Count(long long n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string Number(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace tool
