// The text of a failed HRESULT: the system's message without its line break,
// and the two fallbacks for codes without one.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "mediafoundation/common/hresult_text.h"

namespace {

using tarsel::HresultText;
using tarsel::HresultTextFrom;

constexpr HRESULT Code(uint32_t value) { return static_cast<HRESULT>(value); }

TEST(HresultText, SystemTextLosesItsClosingLineBreak) {
  const struct {
    const char* system;
    const char* text;
  } cases[] = {
      {"Access is denied.\r\n", "Access is denied."},
      {"Two\r\nlines\n", "Two\r\nlines"},
      {"No carriage return\n", "No carriage return"},
      {"Carriage return only\r", "Carriage return only\r"},
      {"\r\n", ""},
      {"\n", "\n"},  // shorter than two characters: kept
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HresultTextFrom(E_FAIL, c.system), c.text);
}

TEST(HresultText, CodesWithoutTextNameTheCode) {
  const struct {
    uint32_t code;
    const char* text;
  } cases[] = {
      {0x80040201, "IDispatch error #1"},
      {0x80040300, "IDispatch error #256"},
      {0x8004FFFF, "IDispatch error #65023"},
      {0x80040200, "Unknown error 0x80040200"},  // code 0 is no IDispatch error
      {0x800401FF, "Unknown error 0x800401FF"},
      {0x80050000, "Unknown error 0x80050000"},
      {0xC00D36B4, "Unknown error 0xC00D36B4"},
      {0x00012345, "Unknown error 0x12345"},
  };
  for (const auto& c : cases) EXPECT_EQ(HresultTextFrom(Code(c.code), nullptr), c.text);
}

#if defined(_WIN32)
TEST(HresultText, WindowsTextsComeFromTheSystem) {
  const std::string text = HresultText(E_INVALIDARG);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_EQ(text.find("Unknown error"), std::string::npos) << text;
}
#else
// The portable layer's table holds the system's texts for the codes it returns
// (the encoder's tests meet "The parameter is incorrect.", "The system cannot
// find the path specified." and Media Foundation's own codes, which have none).
TEST(HresultText, PortableTable) {
  const struct {
    uint32_t code;
    const char* text;
  } cases[] = {
      {0x80070005, "Access is denied."},
      {0x8007000E, "Not enough memory resources are available to complete this operation."},
      {0x80004005, "Unspecified error"},
      {0x80004001, "Not implemented"},
      {0x80040154, "Class not registered"},
  };
  for (const auto& c : cases) EXPECT_EQ(HresultText(Code(c.code)), c.text);
}
#endif

}  // namespace
