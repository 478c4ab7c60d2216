// Switching the fake capture devices on and off inside a test program.
#pragma once

#include <cstdlib>
#include <string>

namespace tarsel_test {

inline void SetFakeDevices(const char* value) {
#if defined(_WIN32)
  _putenv_s("TARSEL_FAKE_DEVICES", value ? value : "");
#else
  if (value) {
    setenv("TARSEL_FAKE_DEVICES", value, 1);
  } else {
    unsetenv("TARSEL_FAKE_DEVICES");
  }
#endif
}

// Turns the fake devices off for one scope and restores the setting after.
class FakeDevicesOff {
 public:
  FakeDevicesOff() {
    const char* current = std::getenv("TARSEL_FAKE_DEVICES");
    hadValue_ = current != nullptr;
    if (current) saved_ = current;
    SetFakeDevices(nullptr);
  }
  ~FakeDevicesOff() { SetFakeDevices(hadValue_ ? saved_.c_str() : nullptr); }

 private:
  bool hadValue_ = false;
  std::string saved_;
};

}  // namespace tarsel_test
