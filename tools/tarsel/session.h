// Ctrl-C and network deadlines. The video reader's interrupt callback carries no
// context of its own (its argument is the callback itself), so the state it
// consults belongs to the process: one Ctrl-C flag and one deadline, armed around
// each blocking call on a network input.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tool {

// The first Ctrl-C asks the running command to stop where it stands (outputs are
// closed properly); a second one ends the process at once.
void InstallInterruptHandler();
bool Interrupted();
// Throws the interruption as a Failure with its exit code.
void StopIfInterrupted();

// An address that FFmpeg reaches over a network ("scheme://...", not file:).
bool IsNetworkAddress(const std::string& path);
// A stream that can only be read forward (cameras, RTSP, RTMP, UDP, SRT).
bool IsLiveAddress(const std::string& path);

// The video reader's interrupt callback: nonzero after Ctrl-C or once the armed
// deadline has passed.
int ReaderInterrupt(void* unused);

// Arms the callback's deadline for the lifetime of the object (no deadline for a
// timeout of 0). TimedOut() tells whether the callback fired since Forget(): the
// reader may still hand out the pictures it holds after an interrupted read, and
// report the end only on a later call.
class Deadline {
 public:
  explicit Deadline(double seconds);
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;
  static bool TimedOut();
  static void Forget();
};

// For readers without an interrupt callback (the audio reader): when a blocking
// call outlasts the timeout, or still blocks a moment after Ctrl-C, the process
// ends with the timeout's or the interruption's exit code. Each Rearm starts the
// period again.
class Watchdog {
 public:
  Watchdog(std::string path, double seconds);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  void Rearm();

 private:
  void Watch();
  [[noreturn]] static void Exit(const std::string& text, int code);
  std::string path_;
  double seconds_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::chrono::steady_clock::time_point due_;
  bool done_ = false;
  std::thread thread_;
};

// The text of a timeout.
std::string NoAnswer(const std::string& path, double seconds);

}  // namespace tool
