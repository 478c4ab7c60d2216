#include "support/wine.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tarsel_test {

namespace {

using WineGetVersion = const char* (*)();

WineGetVersion FindWineGetVersion() {
#if defined(_WIN32)
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll) return nullptr;
  return reinterpret_cast<WineGetVersion>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
#else
  return nullptr;
#endif
}

}  // namespace

bool RunningUnderWine() { return FindWineGetVersion() != nullptr; }

std::string WineVersion() {
  WineGetVersion get = FindWineGetVersion();
  const char* version = get ? get() : nullptr;
  return version ? version : "";
}

}  // namespace tarsel_test
