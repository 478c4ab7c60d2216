#include "mediafoundation/common/mf_runtime.h"

#include "common/boundary.h"

#if defined(_WIN32)
#include <cstdio>
#include <string>

namespace tarsel {
namespace {

// The DLLs whose functions the library imports with delayed binding.
constexpr const wchar_t* kMediaFoundationDlls[] = {L"mfplat.dll", L"mf.dll", L"mfreadwrite.dll"};

// The system's text for hr, as the encoder reports Media Foundation failures:
// FormatMessageA's text without its line end, or "Unknown error 0x..." when
// the system has none.
Message PlatformMessage(HRESULT hr) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text) {
    message.assign(text, length);
    if (message.size() >= 2 && message.back() == '\n') {
      message.pop_back();
      if (message.back() == '\r') message.pop_back();
    }
  } else {
    char unknown[40];
    std::snprintf(unknown, sizeof unknown, "Unknown error 0x%0lX", static_cast<unsigned long>(hr));
    message = unknown;
  }
  if (text) LocalFree(text);
  return Message(message.c_str());
}

// The loader's error for the first DLL that does not load, or 0. The DLLs stay
// loaded for the process, so the delayed bindings find them.
DWORD LoadMediaFoundation() {
  for (const wchar_t* name : kMediaFoundationDlls) {
    if (!LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return GetLastError();
  }
  return 0;
}

}  // namespace

void RequireMediaFoundation() {
  static const DWORD loadError = LoadMediaFoundation();
  if (loadError != 0) throw PlatformMessage(HRESULT_FROM_WIN32(loadError));
}

}  // namespace tarsel

#else

namespace tarsel {

void RequireMediaFoundation() {}

}  // namespace tarsel

#endif
