#include "common/boundary.h"

#include <cstring>

extern "C" {
#include <libavutil/error.h>
}

namespace tarsel {

Message::Message(const char* text) noexcept {
  if (!text) return;
  const std::size_t length = strnlen(text, kErrorTextSize - 1);
  std::memcpy(text_.data(), text, length);
  text_[length] = '\0';
}

Message Message::FromAv(int averror) noexcept {
  Message message;
  if (av_strerror(averror, message.text_.data(), message.text_.size()) < 0) {
    // av_strerror already wrote a generic text naming the code.
  }
  message.text_.back() = '\0';
  return message;
}

void WriteErrorText(char* errorText, const char* text) noexcept {
  if (!errorText || !text) return;
  const std::size_t length = strnlen(text, kErrorTextSize - 1);
  std::memcpy(errorText, text, length);
  errorText[length] = '\0';
}

void ClearErrorText(char* errorText) noexcept {
  if (errorText) std::memset(errorText, 0, kErrorTextSize);
}

}  // namespace tarsel
