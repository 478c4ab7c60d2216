// The export boundary: how failures raised inside the library become return
// codes and texts in the caller's error buffer, and how handles are made,
// checked and destroyed. Every export goes through these helpers.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "common/log_policy.h"

namespace tarsel {

inline constexpr std::size_t kErrorTextSize = 200;

// An anticipated failure. The text lives in the exception itself, so raising
// never allocates and no text area is shared between threads.
class Message {
 public:
  explicit Message(const char* text) noexcept;
  // FFmpeg's text for an error code, formatted with av_strerror.
  static Message FromAv(int averror) noexcept;
  const char* text() const noexcept { return text_.data(); }

 private:
  Message() noexcept = default;
  std::array<char, kErrorTextSize> text_{};
};

// The only writer of the caller's error text: copies at most 199 characters and
// a NUL, never formats. A null buffer is ignored.
void WriteErrorText(char* errorText, const char* text) noexcept;
// Sets all 200 bytes to NUL.
void ClearErrorText(char* errorText) noexcept;

// A Message becomes 1 and its text; anything else 2 and the export's fixed text.
template <class Body>
int Guard(char* errorText, const char* unknownText, Body&& body) noexcept {
  try {
    return body();
  } catch (const Message& message) {
    WriteErrorText(errorText, message.text());
    return 1;
  } catch (...) {
    WriteErrorText(errorText, unknownText);
    return 2;
  }
}

inline constexpr char kOutOfMemory[] = "Out of memory";
inline constexpr char kUnexpectedFailure[] = "Unexpected failure";

// For operations without a fixed text for code 2: a Message becomes 1 and its
// text. Nothing else is expected here; should the runtime still raise (memory
// exhausted), the caller gets 1 and a plain text rather than a terminated process.
template <class Body>
int GuardMessages(char* errorText, Body&& body) noexcept {
  try {
    return body();
  } catch (const Message& message) {
    WriteErrorText(errorText, message.text());
    return 1;
  } catch (const std::bad_alloc&) {
    WriteErrorText(errorText, kOutOfMemory);
    return 1;
  } catch (...) {
    WriteErrorText(errorText, kUnexpectedFailure);
    return 1;
  }
}

// For exports without an error buffer: any failure becomes failedResult.
template <class Body>
int GuardSilently(int failedResult, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failedResult;
  }
}

// The object behind a handle. T names its null-handle text as kNotInitialized.
template <class T>
T& Live(void* handle) {
  if (!handle) throw Message(T::kNotInitialized);
  return *static_cast<T*>(handle);
}

inline constexpr char kNullHandlePointer[] = "The handle pointer is null";

// Init: clears the buffer, makes the object, opens it, and writes the handle
// only once the open succeeded. A failed open destroys the object, so every
// resource it had acquired is released by its destructor.
template <class T, class... Args>
int CreateObject(void** handle, char* errorText, const char* unknownText, Args&&... args) noexcept {
  ClearErrorText(errorText);
  ApplyLogPolicy();
  return Guard(errorText, unknownText, [&] {
    if (!handle) throw Message(kNullHandlePointer);
    auto object = std::make_unique<T>();
    object->Open(std::forward<Args>(args)...);
    *handle = object.release();
    return 0;
  });
}

// Init for objects whose handle the caller receives before the open is tried:
// after any result the caller owns the object and releases it with the family's
// Clear, so a half-opened object must be safe to use and to destroy.
template <class T, class... Args>
int CreateThenOpen(void** handle, char* errorText, const char* unknownText,
                   Args&&... args) noexcept {
  ClearErrorText(errorText);
  ApplyLogPolicy();
  return Guard(errorText, unknownText, [&] {
    if (!handle) throw Message(kNullHandlePointer);
    auto object = std::make_unique<T>();
    T& opening = *object;
    *handle = object.release();
    opening.Open(std::forward<Args>(args)...);
    return 0;
  });
}

// Clear: takes the object out of the caller's variable first, then lets it die.
template <class T>
int DestroyObject(void** handle) noexcept {
  if (handle) {
    std::unique_ptr<T> dying(static_cast<T*>(std::exchange(*handle, nullptr)));
  }
  return 0;
}

}  // namespace tarsel

// Exports a second name for an export's function (Linux; Windows aliases it in
// the module definition derived from the export list).
#if defined(_WIN32)
#define TARSEL_EXPORT_ALIAS(type, second_name, target, params)
#else
#define TARSEL_EXPORT_ALIAS(type, second_name, target, params) \
  extern "C" TARSEL_EXPORT type TARSEL_CALL second_name params __attribute__((alias(#target)))
#endif
