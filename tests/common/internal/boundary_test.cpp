// The boundary helpers themselves: what the caller's error buffer receives.
#include "common/boundary.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

using tarsel::Guard;
using tarsel::GuardMessages;
using tarsel::Message;
using tarsel_test::ErrorText;

TEST(ErrorText, LongMessagesAreCutAt199CharactersAndTerminated) {
  const std::string longText(300, 'a');
  ErrorText buffer;
  EXPECT_EQ(Guard(buffer, "unknown", [&]() -> int { throw Message(longText.c_str()); }), 1);
  EXPECT_EQ(std::strlen(buffer.text), 199u);
  EXPECT_EQ(buffer.text[199], '\0');
  EXPECT_EQ(std::string(buffer.text), std::string(199, 'a'));
}

TEST(ErrorText, PercentSignsPassUnchanged) {
  ErrorText buffer;
  tarsel::WriteErrorText(buffer, "100% %s %d %n done");
  EXPECT_STREQ(buffer.text, "100% %s %d %n done");
}

TEST(Guard, OtherExceptionsGiveTwoAndTheFixedText) {
  ErrorText buffer;
  EXPECT_EQ(Guard(buffer, "Unknown exception in VIDEO_Init",
                  []() -> int { throw std::runtime_error("bad allocation"); }),
            2);
  EXPECT_STREQ(buffer.text, "Unknown exception in VIDEO_Init");
  ErrorText other;
  EXPECT_EQ(GuardMessages(other, []() -> int { throw std::bad_alloc(); }), 1);
  EXPECT_STREQ(other.text, "Out of memory");
}
