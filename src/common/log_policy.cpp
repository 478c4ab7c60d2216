#include "common/log_policy.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace tarsel {
namespace {

// Below every level FFmpeg has (AV_LOG_QUIET is -8).
constexpr int kNoLevel = INT_MIN;

// The level TARSEL_LOG names, or kNoLevel when it is unset or unknown.
int RequestedLevel() noexcept {
  const char* value = std::getenv("TARSEL_LOG");
  if (!value) return kNoLevel;
  static constexpr struct {
    const char* name;
    int level;
  } kLevels[] = {{"quiet", AV_LOG_QUIET}, {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING},
                 {"info", AV_LOG_INFO},   {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG}};
  for (const auto& entry : kLevels) {
    if (std::strcmp(value, entry.name) == 0) return entry.level;
  }
  return kNoLevel;
}

void Apply() noexcept {
  const int requested = RequestedLevel();
  if (requested != kNoLevel) {
    av_log_set_level(requested);
  } else if (av_log_get_level() == AV_LOG_INFO) {
    // Still FFmpeg's default: nobody in the process asked for its messages.
    // Even its errors are routine for a library that seeks and reads damaged
    // files (a seek into B-frames misses references); failures reach the
    // caller through return codes and texts.
    av_log_set_level(AV_LOG_QUIET);
  }
}

}  // namespace

void ApplyLogPolicy() noexcept {
  static std::once_flag once;
  try {
    std::call_once(once, Apply);
  } catch (...) {
    // call_once raises only when the platform cannot run it; the level then
    // stays as the host left it.
  }
}

}  // namespace tarsel
