#include "mediafoundation/common/hresult_text.h"

#include <cstdint>
#include <cstdio>

namespace tarsel {

std::string HresultText(HRESULT hr) {
  char* systemText = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
  std::string text = HresultTextFrom(hr, systemText);
  if (systemText) LocalFree(systemText);
  return text;
}

std::string HresultTextFrom(HRESULT hr, const char* systemText) {
  if (systemText) {
    std::string text(systemText);
    if (text.size() >= 2 && text.back() == '\n') {
      text.pop_back();
      if (text.back() == '\r') text.pop_back();
    }
    return text;
  }
  const auto code = static_cast<std::uint32_t>(hr);
  const auto dispatchCode = static_cast<std::uint16_t>(code - 0x80040200u);
  char text[48];
  if (code >= 0x80040200u && code < 0x80050000u && dispatchCode != 0) {
    std::snprintf(text, sizeof text, "IDispatch error #%d", int{dispatchCode});
  } else {
    std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  }
  return text;
}

}  // namespace tarsel
