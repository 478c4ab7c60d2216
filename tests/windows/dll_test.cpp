// tarsel.dll as Windows sees it: its version resource says what the header
// says, and it works where Media Foundation is absent (Windows N without the
// Media Feature Pack, Server Core). There the video reader opens and reads,
// while the capture and encoder Inits fail with the system's text for the
// missing DLL. The test without Media Foundation runs where its DLLs cannot be
// loaded (tests/CMakeLists.txt disables them under Wine) and skips elsewhere.
// Exports are looked up at run time: a build of some families lacks some.
#if defined(_WIN32)

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tarsel.h"

namespace {

using tarsel_test::ErrorText;
using tarsel_test::FixturePath;

HMODULE TarselDll() { return GetModuleHandleA("tarsel.dll"); }

template <class Function>
Function* FindExport(const char* name) {
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(TarselDll(), name)));
}

std::string VersionValue(const std::vector<char>& info, const wchar_t* name) {
  const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return "(absent)";
  }
  return std::string(value, value + (length ? length - 1 : 0));  // ASCII digits and dots
}

TEST(WindowsDll, VersionResourceHoldsTheHeadersVersion) {
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(TarselDll(), path, MAX_PATH), 0u);
  const DWORD size = GetFileVersionInfoSizeW(path, nullptr);
  ASSERT_GT(size, 0u) << "tarsel.dll has no version resource";
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), TARSEL_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), TARSEL_VERSION_MINOR);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), TARSEL_VERSION_PATCH);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  const std::string version = std::to_string(TARSEL_VERSION_MAJOR) + "." +
                              std::to_string(TARSEL_VERSION_MINOR) + "." +
                              std::to_string(TARSEL_VERSION_PATCH);
  EXPECT_EQ(VersionValue(info, L"FileVersion"), version);
  EXPECT_EQ(VersionValue(info, L"ProductVersion"), version);
  EXPECT_EQ(VersionValue(info, L"OriginalFilename"), "tarsel.dll");
  EXPECT_NE(VersionValue(info, L"FileDescription"), "(absent)");
}

// The loader's error for Media Foundation's platform DLL, or 0 when it loads.
DWORD MediaFoundationLoadError() {
  HMODULE module = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) return GetLastError();
  FreeLibrary(module);
  return 0;
}

// The system's message for hr, without its line end.
std::string SystemText(HRESULT hr) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message(text ? text : "", length);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

using GrabberInit = int TARSEL_CALL(void**, uint32_t*, char*);
using EncoderInit = int TARSEL_CALL(void**, const tarsel_char16*, EncoderSettings*, char*);

TEST(WithoutMediaFoundation, TheReaderWorksAndCaptureInitsGiveTheSystemsText) {
  const DWORD loadError = MediaFoundationLoadError();
  if (loadError == 0)
    GTEST_SKIP() << "Media Foundation is present: test_windows.WithoutMediaFoundation runs this "
                    "with its DLLs disabled";
  const std::string expected = SystemText(HRESULT_FROM_WIN32(loadError));
  ASSERT_FALSE(expected.empty());

  void* reader = nullptr;
  ErrorText error;
  ASSERT_EQ(VIDEO_Init(&reader, FixturePath("windows_av.mp4").c_str(), 0, 0, nullptr, 0, error), 0)
      << error.text;
  std::vector<uint8_t> picture(160 * 120 * 3);
  uint32_t index = 99;
  double time = -1, timeAgain = -1;
  EXPECT_EQ(VIDEO_getNextFrame(reader, picture.data(), 160 * 3, &index, &time, &timeAgain, error),
            0);
  EXPECT_EQ(index, 0u);
  VIDEO_Clear(&reader);

  void* const untouched = &reader;  // any value the caller had
  for (const char* name : {"MFCamGrabber_Init", "MFAudioGrabber_Init"}) {
    SCOPED_TRACE(name);
    auto* init = FindExport<GrabberInit>(name);
    if (!init) continue;
    void* handle = untouched;
    uint32_t count = 7;
    ErrorText initError;
    EXPECT_EQ(init(&handle, &count, initError), 1);
    EXPECT_EQ(std::string(initError.text), expected);
    EXPECT_EQ(handle, untouched);
  }
  if (auto* init = FindExport<EncoderInit>("MFEncoder_Init")) {
    EncoderSettings settings{};
    settings.width = 64;
    settings.height = 48;
    settings.frameRate = 25;
    void* handle = untouched;
    ErrorText initError;
    EXPECT_EQ(init(&handle, L"never.mp4", &settings, initError), 1);
    EXPECT_EQ(std::string(initError.text), expected);
    // The encoder may hand out its handle before opening; Clear releases it.
    if (handle != untouched) FindExport<int TARSEL_CALL(void**)>("MFEncoder_Clear")(&handle);
  }
}

}  // namespace

#endif  // _WIN32
