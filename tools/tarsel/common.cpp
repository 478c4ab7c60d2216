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
