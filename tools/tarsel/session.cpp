#include "session.h"

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "common.h"

namespace tool {
namespace {

std::atomic<bool> interrupted{false};
// Steady-clock nanoseconds; 0 when no deadline is armed.
std::atomic<long long> deadline{0};
std::atomic<bool> timedOut{false};

// How often a watchdog looks for Ctrl-C, and how long it then lets the command
// stop by itself.
constexpr auto kPollPeriod = std::chrono::milliseconds(100);
constexpr auto kInterruptGrace = std::chrono::seconds(1);

long long Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

extern "C" void OnInterrupt(int) {
  interrupted = true;
  std::signal(SIGINT, SIG_DFL);
}

std::string Scheme(const std::string& path) {
  const auto colon = path.find("://");
  if (colon == std::string::npos || colon == 0) return "";
  for (size_t i = 0; i < colon; ++i) {
    const char c = path[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return "";
    }
  }
  std::string scheme = path.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

}  // namespace

void InstallInterruptHandler() { std::signal(SIGINT, OnInterrupt); }

bool Interrupted() { return interrupted; }

void StopIfInterrupted() {
  if (interrupted) throw Failure("interrupted", kInterrupted);
}

bool IsNetworkAddress(const std::string& path) {
  const std::string scheme = Scheme(path);
  return !scheme.empty() && scheme != "file";
}

bool IsLiveAddress(const std::string& path) {
  const std::string scheme = Scheme(path);
  for (const char* live : {"rtsp", "rtsps", "xxrtsp", "rtmp", "rtmps", "rtp", "udp", "srt"}) {
    if (scheme == live) return true;
  }
  return false;
}

int ReaderInterrupt(void*) {
  if (interrupted) return 1;
  const long long due = deadline;
  if (due != 0 && Now() > due) {
    timedOut = true;
    return 1;
  }
  return 0;
}

Deadline::Deadline(double seconds) {
  deadline = seconds > 0 ? Now() + static_cast<long long>(seconds * 1e9) : 0;
}

Deadline::~Deadline() { deadline = 0; }

bool Deadline::TimedOut() { return timedOut; }

void Deadline::Forget() { timedOut = false; }

Watchdog::Watchdog(std::string path, double seconds) : path_(std::move(path)), seconds_(seconds) {
  Rearm();
  thread_ = std::thread([this] { Watch(); });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Watchdog::Rearm() {
  std::lock_guard<std::mutex> lock(mutex_);
  // No timeout: the watchdog still answers Ctrl-C.
  due_ = seconds_ <= 0 ? std::chrono::steady_clock::time_point::max()
                       : std::chrono::steady_clock::now() +
                             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds_));
}

void Watchdog::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<std::chrono::steady_clock::time_point> interruptedAt;
  while (!done_) {
    const auto due = due_;
    const auto now = std::chrono::steady_clock::now();
    if (Interrupted() && !interruptedAt) interruptedAt = now;
    // After Ctrl-C the command has a moment to stop on its own, between blocks.
    if (interruptedAt && now - *interruptedAt >= kInterruptGrace) {
      Exit("interrupted", kInterrupted);
    }
    if (now >= due) Exit(NoAnswer(path_, seconds_), kTimedOut);
    wake_.wait_until(lock, std::min(due, now + kPollPeriod), [&] { return done_ || due_ != due; });
  }
}

void Watchdog::Exit(const std::string& text, int code) {
  // The reader is still blocked and has no way to be told: end the process.
  std::fprintf(stderr, "tarsel: %s\n", text.c_str());
  std::fflush(stderr);
  std::_Exit(code);
}

std::string NoAnswer(const std::string& path, double seconds) {
  return About(path, "no answer within " + Number(seconds) + " s");
}

}  // namespace tool
