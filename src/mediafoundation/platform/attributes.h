// The attribute store behind IMFAttributes and every interface derived from it
// (media types, samples, activation objects): typed values under GUID keys, safe
// to use from several threads, as the platform's stores are.
#pragma once

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "mediafoundation/platform/com_object.h"

namespace tarsel::platform {

inline constexpr HRESULT E_NOT_SUFFICIENT_BUFFER = MakeHresult(0x8007007Au);

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
  }
};

// One value of a store; the alternatives follow MF_ATTRIBUTE_TYPE.
using AttributeValue =
    std::variant<UINT32, UINT64, double, GUID, std::u16string, std::vector<BYTE>, ComPtr<IUnknown>>;

std::u16string CopyWideString(LPCWSTR text);

template <class Interface>  // IMFAttributes or an interface derived from it
class Attributes : public ComObject<Interface> {
 public:
  HRESULT STDMETHODCALLTYPE GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override {
    if (!type) return E_POINTER;
    std::lock_guard lock(mutex_);
    auto item = items_.find(key);
    if (item == items_.end()) return MF_E_ATTRIBUTENOTFOUND;
    static constexpr MF_ATTRIBUTE_TYPE kTypes[] = {
        MF_ATTRIBUTE_UINT32, MF_ATTRIBUTE_UINT64, MF_ATTRIBUTE_DOUBLE,  MF_ATTRIBUTE_GUID,
        MF_ATTRIBUTE_STRING, MF_ATTRIBUTE_BLOB,   MF_ATTRIBUTE_IUNKNOWN};
    *type = kTypes[item->second.index()];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID key, UINT32* value) override {
    return Read(key, value);
  }
  HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID key, UINT64* value) override {
    return Read(key, value);
  }
  HRESULT STDMETHODCALLTYPE GetDouble(REFGUID key, double* value) override {
    return Read(key, value);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(REFGUID key, GUID* value) override { return Read(key, value); }
  HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID key, UINT32* length) override {
    std::u16string text;
    HRESULT hr = Read(key, &text);
    if (SUCCEEDED(hr)) {
      if (!length) return E_POINTER;
      *length = static_cast<UINT32>(text.size());
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetString(REFGUID key, LPWSTR buffer, UINT32 capacity,
                                      UINT32* length) override {
    std::u16string text;
    HRESULT hr = Read(key, &text);
    if (FAILED(hr)) return hr;
    if (!buffer) return E_POINTER;
    if (capacity < text.size() + 1) return E_NOT_SUFFICIENT_BUFFER;
    text.copy(buffer, text.size());
    buffer[text.size()] = u'\0';
    if (length) *length = static_cast<UINT32>(text.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID key, LPWSTR* value,
                                               UINT32* length) override {
    if (!value) return E_POINTER;
    std::u16string text;
    HRESULT hr = Read(key, &text);
    if (FAILED(hr)) return hr;
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!copy) return E_OUTOFMEMORY;
    text.copy(copy, text.size());
    copy[text.size()] = u'\0';
    *value = copy;
    if (length) *length = static_cast<UINT32>(text.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID key, UINT32* size) override {
    std::vector<BYTE> blob;
    HRESULT hr = Read(key, &blob);
    if (SUCCEEDED(hr)) {
      if (!size) return E_POINTER;
      *size = static_cast<UINT32>(blob.size());
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetBlob(REFGUID key, BYTE* buffer, UINT32 capacity,
                                    UINT32* size) override {
    std::vector<BYTE> blob;
    HRESULT hr = Read(key, &blob);
    if (FAILED(hr)) return hr;
    if (!buffer) return E_POINTER;
    if (capacity < blob.size()) return E_NOT_SUFFICIENT_BUFFER;
    if (!blob.empty()) std::memcpy(buffer, blob.data(), blob.size());
    if (size) *size = static_cast<UINT32>(blob.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID key, REFIID riid, LPVOID* value) override {
    if (!value) return E_POINTER;
    *value = nullptr;
    ComPtr<IUnknown> object;
    HRESULT hr = Read(key, &object);
    if (FAILED(hr)) return hr;
    return object->QueryInterface(riid, value);
  }
  HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID key) override {
    ComPtr<IUnknown> released;  // dropped after the lock, should it own a store
    std::lock_guard lock(mutex_);
    auto item = items_.find(key);
    if (item != items_.end()) {
      if (auto* object = std::get_if<ComPtr<IUnknown>>(&item->second)) released = *object;
      items_.erase(item);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DeleteAllItems() override {
    std::map<GUID, AttributeValue, GuidLess> released;
    std::lock_guard lock(mutex_);
    released.swap(items_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID key, UINT32 value) override {
    return Write(key, value);
  }
  HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID key, UINT64 value) override {
    return Write(key, value);
  }
  HRESULT STDMETHODCALLTYPE SetDouble(REFGUID key, double value) override {
    return Write(key, value);
  }
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID key, REFGUID value) override {
    return Write(key, GUID(value));
  }
  HRESULT STDMETHODCALLTYPE SetString(REFGUID key, LPCWSTR value) override {
    if (!value) return E_POINTER;
    return Write(key, CopyWideString(value));
  }
  HRESULT STDMETHODCALLTYPE SetBlob(REFGUID key, const BYTE* buffer, UINT32 size) override {
    if (!buffer && size > 0) return E_POINTER;
    return Write(key, std::vector<BYTE>(buffer, buffer + size));
  }
  HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID key, IUnknown* value) override {
    if (!value) return DeleteItem(key);
    return Write(key, ComPtr<IUnknown>(value));
  }
  HRESULT STDMETHODCALLTYPE GetCount(UINT32* count) override {
    if (!count) return E_POINTER;
    std::lock_guard lock(mutex_);
    *count = static_cast<UINT32>(items_.size());
    return S_OK;
  }
  // Replaces everything in destination by a copy of this store's items.
  HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* destination) override {
    if (!destination) return E_POINTER;
    std::vector<std::pair<GUID, AttributeValue>> items;
    {
      std::lock_guard lock(mutex_);
      items.assign(items_.begin(), items_.end());
    }
    HRESULT hr = destination->DeleteAllItems();
    for (const auto& item : items) {
      if (FAILED(hr)) break;
      const GUID& key = item.first;  // a lambda may not capture a structured binding in C++17
      hr = std::visit([&](const auto& v) { return Store(destination, key, v); }, item.second);
    }
    return hr;
  }

 protected:
  template <class T>
  HRESULT Read(REFGUID key, T* value) {
    if (!value) return E_POINTER;
    std::lock_guard lock(mutex_);
    auto item = items_.find(key);
    if (item == items_.end()) return MF_E_ATTRIBUTENOTFOUND;
    const T* stored = std::get_if<T>(&item->second);
    if (!stored) return MF_E_INVALIDTYPE;
    *value = *stored;
    return S_OK;
  }
  template <class T>
  HRESULT Write(REFGUID key, T value) {
    AttributeValue replaced;  // an old value dies after the lock is given back
    std::lock_guard lock(mutex_);
    auto [item, inserted] = items_.try_emplace(key, std::move(value));
    if (!inserted) {
      replaced = std::move(item->second);
      item->second = std::move(value);
    }
    return S_OK;
  }

 private:
  static HRESULT Store(IMFAttributes* to, REFGUID key, UINT32 v) { return to->SetUINT32(key, v); }
  static HRESULT Store(IMFAttributes* to, REFGUID key, UINT64 v) { return to->SetUINT64(key, v); }
  static HRESULT Store(IMFAttributes* to, REFGUID key, double v) { return to->SetDouble(key, v); }
  static HRESULT Store(IMFAttributes* to, REFGUID key, const GUID& v) {
    return to->SetGUID(key, v);
  }
  static HRESULT Store(IMFAttributes* to, REFGUID key, const std::u16string& v) {
    return to->SetString(key, v.c_str());
  }
  static HRESULT Store(IMFAttributes* to, REFGUID key, const std::vector<BYTE>& v) {
    return to->SetBlob(key, v.data(), static_cast<UINT32>(v.size()));
  }
  static HRESULT Store(IMFAttributes* to, REFGUID key, const ComPtr<IUnknown>& v) {
    return to->SetUnknown(key, v.Get());
  }

  std::mutex mutex_;
  std::map<GUID, AttributeValue, GuidLess> items_;
};

}  // namespace tarsel::platform
