#include "ffmpeg/reader/input_watch.h"

#include <cstdlib>

namespace tarsel {
namespace {

// A whole number of milliseconds from the environment, or the default when the
// variable is unset or not such a number.
std::chrono::milliseconds FromVariable(const char* name, std::chrono::milliseconds fallback) {
  const char* text = std::getenv(name);
  if (!text || *text < '0' || *text > '9') return fallback;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (*end != '\0' || value < 0) return fallback;
  return std::chrono::milliseconds(value);
}

}  // namespace

NetworkLimits NetworkLimits::FromEnvironment() {
  NetworkLimits limits;
  limits.open = FromVariable("TARSEL_OPEN_TIMEOUT_MS", limits.open);
  limits.read = FromVariable("TARSEL_READ_TIMEOUT_MS", limits.read);
  return limits;
}

void InputWatch::Install(AVFormatContext* context, VideoInterruptCallBack caller) {
  caller_ = caller;
  context->interrupt_callback.callback = &InputWatch::Call;
  context->interrupt_callback.opaque = this;
}

void InputWatch::Arm(std::chrono::milliseconds limit) {
  outcome_ = Outcome::kNone;
  limited_ = limit.count() > 0;
  if (limited_) deadline_ = std::chrono::steady_clock::now() + limit;
}

// The caller's function receives itself as its argument, as it always has.
int InputWatch::Call(void* opaque) {
  InputWatch& watch = *static_cast<InputWatch*>(opaque);
  if (watch.caller_ && watch.caller_(reinterpret_cast<void*>(watch.caller_)) != 0) {
    watch.outcome_ = Outcome::kAborted;
    return 1;
  }
  if (watch.limited_ && std::chrono::steady_clock::now() >= watch.deadline_) {
    watch.outcome_ = Outcome::kTimedOut;
    return 1;
  }
  return 0;
}

}  // namespace tarsel
