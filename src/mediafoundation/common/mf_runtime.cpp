#include "mediafoundation/common/mf_runtime.h"

#if defined(_WIN32)
#include "common/boundary.h"
#include "mediafoundation/common/hresult_text.h"

namespace tarsel {
namespace {

// The DLLs whose functions the library imports with delayed binding.
constexpr const wchar_t* kMediaFoundationDlls[] = {L"mfplat.dll", L"mf.dll", L"mfreadwrite.dll"};

// The loader's error for the first DLL that does not load, or 0. The DLLs stay
// loaded for the process, so the delayed bindings find them.
DWORD LoadMediaFoundation() {
  for (const wchar_t* name : kMediaFoundationDlls) {
    if (!LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return GetLastError();
  }
  return 0;
}

}  // namespace

// Reported as every Media Foundation failure is: the HRESULT text.
void RequireMediaFoundation() {
  static const DWORD loadError = LoadMediaFoundation();
  if (loadError != 0) throw Message(HresultText(HRESULT_FROM_WIN32(loadError)).c_str());
}

}  // namespace tarsel

#else

namespace tarsel {

void RequireMediaFoundation() {}

}  // namespace tarsel

#endif
