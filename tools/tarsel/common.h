// What every subcommand of the tarsel tool shares: exit codes, failures, the
// library's error text buffer, and a few words about files and times.
#pragma once

#include <stdexcept>
#include <string>

#include "tarsel.h"

namespace tool {

// The exit codes `tarsel --help` lists.
enum ExitCode {
  kSuccess = 0,
  kFailed = 1,    // an input could not be read or an output written
  kUsage = 2,     // the command line was refused
  kTimedOut = 3,  // a network input did not answer in time
  kInterrupted = 130,
};

// A failure that ends the command: main prints its text (when there is one)
// and exits with its code.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& text, int code = kFailed)
      : std::runtime_error(text), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// The caller-owned buffer every export writes its message into.
struct ErrorText {
  char text[TARSEL_ERROR_TEXT_SIZE] = {};
  operator char*() { return text; }
  // The message without the line feeds some of the library's texts end with.
  std::string str() const;
};

// UTF-8 text as UTF-16, the form the encoder takes its file name in; bytes that
// are not UTF-8 are taken as Latin-1.
std::u16string Utf16(const std::string& text);

// How the user started the tool, for commands it suggests: the path given when
// it was started by path, "tarsel" when found on the PATH.
void SetProgram(const char* argv0);
const std::string& Program();

// "PATH: TEXT", the form of every message about a file.
std::string About(const std::string& path, const std::string& text);

// Refuses an output that is the input itself: writing it would destroy the input
// before it is read.
void CheckNotTheInput(const std::string& input, const std::string& output);

// Seconds as "m:ss.cc", or "h:mm:ss" from an hour on.
std::string ClockTime(double seconds);

// "1 picture", "3 pictures".
std::string Count(long long n, const std::string& noun);

// A number with the fewest digits that show it (25, 29.97, 0.04).
std::string Number(double value);

}  // namespace tool
