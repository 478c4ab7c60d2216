// Progress of long work on stderr: a bar with count, rate and time left on a
// terminal, a plain line every few seconds otherwise, nothing when quiet.
#pragma once

#include <chrono>
#include <string>

namespace tool {

class Progress {
 public:
  // total <= 0: the amount of work is not known (no bar, no time left).
  Progress(std::string label, long long total, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(long long done);
  // Clears the bar; the caller then prints its result.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::string Line(long long done, double seconds) const;

  std::string label_;
  long long total_;
  bool quiet_;
  bool terminal_;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point next_ = start_;
};

}  // namespace tool
