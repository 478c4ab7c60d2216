// Whether the test program runs under Wine rather than on Windows itself.
// Wine lacks some Media Foundation parts (sink writers, an H.264 encoder
// transform, IWMResamplerProps, cameras); tests of those skip under Wine,
// saying why, and run on real Windows.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace tarsel_test {

// True when ntdll exports wine_get_version (never on Windows or Linux).
bool RunningUnderWine();
// Wine's version text, or an empty string when not under Wine.
std::string WineVersion();

}  // namespace tarsel_test

// Skips the current test under Wine with the reason printed.
#define TARSEL_SKIP_UNDER_WINE(reason)                                           \
  do {                                                                           \
    if (::tarsel_test::RunningUnderWine())                                       \
      GTEST_SKIP() << "Wine " << ::tarsel_test::WineVersion() << ": " << reason; \
  } while (0)
