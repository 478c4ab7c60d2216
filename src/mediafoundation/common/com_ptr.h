// Owning pointers for COM objects and COM task memory, for the Windows SDK and
// the portable layer alike.
#pragma once

#include <cstddef>
#include <utility>

#include "mediafoundation/common/media_foundation.h"

namespace tarsel {

// Holds one reference to a COM object and releases it when dropped.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference to object.
  explicit ComPtr(T* object) noexcept : object_(object) {
    if (object_) object_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.object_) {}
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  // From a pointer to a derived interface or class.
  template <class U>
  ComPtr(ComPtr<U>&& other) noexcept : object_(other.Detach()) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Adopts a reference the caller already owns (as an out-parameter hands it over).
  static ComPtr Adopt(T* object) noexcept {
    ComPtr result;
    result.object_ = object;
    return result;
  }

  T* Get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Releases the current object and returns the slot for an out-parameter.
  T** Put() noexcept {
    Reset();
    return &object_;
  }
  // Hands the reference over to the caller.
  T* Detach() noexcept { return std::exchange(object_, nullptr); }
  void Reset() noexcept {
    if (T* object = std::exchange(object_, nullptr)) object->Release();
  }

 private:
  T* object_ = nullptr;
};

// Memory the platform allocated with CoTaskMemAlloc (strings, arrays).
template <class T>
class CoTaskMemPtr {
 public:
  CoTaskMemPtr() noexcept = default;
  CoTaskMemPtr(const CoTaskMemPtr&) = delete;
  CoTaskMemPtr& operator=(const CoTaskMemPtr&) = delete;
  ~CoTaskMemPtr() { Reset(); }

  T* Get() const noexcept { return memory_; }
  T** Put() noexcept {
    Reset();
    return &memory_;
  }
  void Reset() noexcept { CoTaskMemFree(std::exchange(memory_, nullptr)); }

 private:
  T* memory_ = nullptr;
};

}  // namespace tarsel
