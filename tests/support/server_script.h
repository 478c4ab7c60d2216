// A loopback server for network tests: a Python script started by the test
// program, on Linux and under Wine alike. The script writes the ports it
// listens on into a file; the test ends it with a stop file (and, where it can,
// by killing it), and the script ends by itself when its lifetime is over or,
// on Linux, when the test process is gone.
#pragma once

#include <string>
#include <vector>

namespace tarsel_test {

class ServerScript {
 public:
  ServerScript() = default;
  ServerScript(const ServerScript&) = delete;
  ServerScript& operator=(const ServerScript&) = delete;
  ~ServerScript() { Stop(); }

  // Starts the script (a path on the build machine) with its arguments and
  // waits, at most waitSeconds, for its ports. False with why() when it cannot.
  bool Start(const std::string& script, const std::vector<std::string>& arguments,
             double waitSeconds = 60.0);
  // The numbers of the line "word N word M ...", in order.
  const std::vector<int>& ports() const { return ports_; }
  const std::string& why() const { return why_; }
  // Ends the server at once; its connections drop as in a crash.
  void Stop();

 private:
  std::string portFile_, stopFile_, why_;
  std::vector<int> ports_;
  // The process, and on Linux the write end of its standard input.
  long long process_ = 0;
  int input_ = -1;
  bool running_ = false;
};

// A path of the build machine as this program names it (under Wine, on drive Z:).
std::string SeenPath(const std::string& hostPath);
// A path of this program as the build machine names it.
std::string HostPath(const std::string& seenPath);

}  // namespace tarsel_test
