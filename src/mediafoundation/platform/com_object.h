// Reference counting shared by the COM objects of the portable layer.
#pragma once

#include <atomic>
#include <utility>

#include "mediafoundation/common/com_ptr.h"
#include "mediafoundation/platform/mf_types.h"

namespace tarsel::platform {

// An object implementing one or more interfaces. It is born with one reference,
// held by whoever made it, and the last Release destroys it.
template <class... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    // COM's rule: the object owns itself once it is handed out.
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> references_{1};
};

// Makes a COM object; the returned pointer holds its first reference.
template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
  return ComPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}

// Writes an interface of object to *out with a new reference.
template <class Interface>
HRESULT HandOut(Interface* object, void** out) {
  if (!out) return E_POINTER;
  object->AddRef();
  *out = object;
  return S_OK;
}

}  // namespace tarsel::platform
