// Bounds every blocking FFmpeg call of a reader. FFmpeg calls the watch while it
// waits for data; the watch asks the caller's interrupt callback first, then
// ends the wait once the reader's own limit for the call has passed.
#pragma once

#include <chrono>

#include "ffmpeg/common/av_ptr.h"
#include "tarsel.h"

namespace tarsel {

// How long a network input may keep the reader waiting, in milliseconds (0: no
// limit): to open (connect and read the stream's description) and, while
// reading, without a packet. Defaults 30 s each; TARSEL_OPEN_TIMEOUT_MS and
// TARSEL_READ_TIMEOUT_MS change them for the readers opened afterwards.
struct NetworkLimits {
  std::chrono::milliseconds open{30000};
  std::chrono::milliseconds read{30000};
  static NetworkLimits FromEnvironment();
  static NetworkLimits None() {
    return {std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
  }
};

class InputWatch {
 public:
  enum class Outcome { kNone, kTimedOut, kAborted };

  InputWatch() = default;
  InputWatch(const InputWatch&) = delete;
  InputWatch& operator=(const InputWatch&) = delete;

  // Makes the watch the context's interrupt callback, asking `caller` (which may
  // be null) first; the watch must outlive the context.
  void Install(AVFormatContext* context, VideoInterruptCallBack caller);
  // Starts a call that may wait at most `limit` (0: as long as the caller allows).
  void Arm(std::chrono::milliseconds limit);
  // What ended the last call, if the watch did.
  Outcome outcome() const { return outcome_; }

 private:
  static int Call(void* opaque);

  VideoInterruptCallBack caller_ = nullptr;
  Outcome outcome_ = Outcome::kNone;
  bool limited_ = false;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace tarsel
