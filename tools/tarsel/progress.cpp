#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common.h"

namespace tool {
namespace {

constexpr auto kTerminalPeriod = std::chrono::milliseconds(100);
constexpr auto kLogPeriod = std::chrono::seconds(5);
constexpr int kBarWidth = 24;

}  // namespace

Progress::Progress(std::string label, long long total, bool quiet)
    : label_(std::move(label)),
      total_(total),
      quiet_(quiet),
      terminal_(isatty(fileno(stderr)) != 0) {
  // Plain lines start after one period, so short work prints nothing.
  if (!terminal_) next_ = start_ + kLogPeriod;
}

Progress::~Progress() { Finish(); }

std::string Progress::Line(long long done, double seconds) const {
  std::string line = label_ + " ";
  if (total_ > 0 && terminal_) {
    const int filled = static_cast<int>(kBarWidth * std::min(1.0, double(done) / total_));
    line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
  }
  line += std::to_string(done);
  if (total_ > 0) line += "/" + std::to_string(total_);
  if (seconds > 0.2 && done > 0) {
    const double rate = done / seconds;
    char text[64];
    std::snprintf(text, sizeof text, ", %.1f per second", rate);
    line += text;
    if (total_ > done) line += ", " + ClockTime((total_ - done) / rate) + " left";
  }
  return line;
}

void Progress::Update(long long done) {
  if (quiet_) return;
  const auto now = Clock::now();
  if (now < next_) return;
  next_ = now + (terminal_ ? kTerminalPeriod : kLogPeriod);
  const double seconds = std::chrono::duration<double>(now - start_).count();
  if (terminal_) {
    std::fprintf(stderr, "\r%s\x1b[K", Line(done, seconds).c_str());
    drawn_ = true;
  } else {
    std::fprintf(stderr, "%s\n", Line(done, seconds).c_str());
  }
  std::fflush(stderr);
}

void Progress::Finish() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r\x1b[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace tool
