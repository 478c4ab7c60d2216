// Shared helpers of the test programs: where fixtures and scratch files live,
// and reading files whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarsel_test {

// A fixture made by tests/make_fixtures.sh.
std::string FixturePath(const std::string& name);
// A path for a file a test writes; unique to this test process.
std::string ScratchPath(const std::string& name);
// The whole file, or an empty vector when it cannot be read.
std::vector<uint8_t> ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// An error text buffer filled with a marker, so tests see what was written.
struct ErrorText {
  char text[200];
  ErrorText();
  operator char*() { return text; }
  bool Untouched() const;  // still all marker bytes
  bool AllZero() const;    // cleared: all 200 bytes NUL
};

}  // namespace tarsel_test
