// Init for objects whose handle the caller receives before the open is tried:
// after any result the caller owns the object and releases it with the family's
// Clear, so a half-opened object must be safe to use and to destroy.
#pragma once

#include <memory>
#include <utility>

#include "common/boundary.h"

namespace tarsel {

template <class T, class... Args>
int CreateThenOpen(void** handle, char* errorText, const char* unknownText,
                   Args&&... args) noexcept {
  ClearErrorText(errorText);
  return Guard(errorText, unknownText, [&] {
    if (!handle) throw Message(kNullHandlePointer);
    auto object = std::make_unique<T>();
    T& opening = *object;
    *handle = object.release();
    opening.Open(std::forward<Args>(args)...);
    return 0;
  });
}

}  // namespace tarsel
