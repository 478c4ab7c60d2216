// The boundary helpers themselves: what the caller's error buffer receives.
#include "common/boundary.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

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
  // Bytes after the terminator keep what the caller had there.
  EXPECT_EQ(buffer.text[std::strlen("100% %s %d %n done") + 1], 'x');
}

TEST(ErrorText, ClearingSetsAll200BytesToNul) {
  ErrorText buffer;
  tarsel::ClearErrorText(buffer);
  EXPECT_TRUE(buffer.AllZero());
  tarsel::ClearErrorText(nullptr);  // a null buffer is ignored
  tarsel::WriteErrorText(nullptr, "ignored");
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

TEST(Message, FfmpegTextsComeFromAvStrerror) {
  char expected[200];
  av_strerror(AVERROR(ENOENT), expected, sizeof expected);
  EXPECT_STREQ(Message::FromAv(AVERROR(ENOENT)).text(), expected);
  EXPECT_STREQ(Message::FromAv(AVERROR_INVALIDDATA).text(),
               "Invalid data found when processing input");
}

namespace {
struct Counted {
  static constexpr char kNotInitialized[] = "Counted not initialized";
  static int alive;
  Counted() { ++alive; }
  ~Counted() { --alive; }
  void Open(bool fail) {
    if (fail) throw Message("open failed");
  }
};
int Counted::alive = 0;
}  // namespace

TEST(Handles, FailedOpenLeavesTheHandleAndFreesTheObject) {
  void* handle = reinterpret_cast<void*>(0x1234);
  ErrorText buffer;
  EXPECT_EQ(tarsel::CreateObject<Counted>(&handle, buffer, "unknown", true), 1);
  EXPECT_EQ(handle, reinterpret_cast<void*>(0x1234));
  EXPECT_STREQ(buffer.text, "open failed");
  EXPECT_EQ(Counted::alive, 0);

  ErrorText ok;
  EXPECT_EQ(tarsel::CreateObject<Counted>(&handle, ok, "unknown", false), 0);
  EXPECT_TRUE(ok.AllZero());
  EXPECT_EQ(Counted::alive, 1);
  EXPECT_EQ(tarsel::DestroyObject<Counted>(&handle), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(Counted::alive, 0);
  EXPECT_EQ(tarsel::DestroyObject<Counted>(&handle), 0);  // a second Clear is harmless
  EXPECT_EQ(tarsel::DestroyObject<Counted>(nullptr), 0);
}

TEST(Handles, LiveRaisesTheFamilysNullHandleText) {
  ErrorText buffer;
  EXPECT_EQ(GuardMessages(buffer, [] { return (tarsel::Live<Counted>(nullptr), 0); }), 1);
  EXPECT_STREQ(buffer.text, "Counted not initialized");
}
