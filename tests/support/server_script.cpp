#include "support/server_script.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/test_support.h"
#include "support/wine.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace tarsel_test {
namespace {

constexpr char kDriveZ[] = "Z:";
// Debian's interpreter, which has the GStreamer bindings the RTSP server needs.
constexpr char kPython[] = "/usr/bin/python3";

std::vector<int> ReadPorts(const std::string& path) {
  std::ifstream in(path);
  std::vector<int> ports;
  for (std::string word; in >> word;) {
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos)
      ports.push_back(std::stoi(word));
  }
  return ports;
}

#if defined(_WIN32)
// Wine starts programs of the build machine itself (detached: no pipes, no
// process handle); on Windows there is no such interpreter.
bool Launch(const std::vector<std::string>& arguments, long long*, int*, std::string* why) {
  if (!RunningUnderWine()) return *why = "the test servers run only on Linux or under Wine", false;
  const std::string python = SeenPath(kPython);
  if (GetFileAttributesA(python.c_str()) == INVALID_FILE_ATTRIBUTES)
    return *why = std::string("no ") + kPython + " on the build machine", false;
  std::string line = python;
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return *why = "cannot start " + python, false;
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return true;
}

bool Exited(long long) { return false; }
void Kill(long long, int) {}
void Release(int) {}
#else
// The script reads its standard input from a pipe whose other end only this
// process holds, so it ends when this process ends, however that happens.
bool Launch(const std::vector<std::string>& arguments, long long* process, int* keep,
            std::string* why) {
  if (access(kPython, X_OK) != 0) return *why = std::string("no ") + kPython, false;
  int input[2];
  if (pipe2(input, O_CLOEXEC) != 0) return *why = "no pipe", false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> all{kPython};
  all.insert(all.end(), arguments.begin(), arguments.end());
  all.push_back("--watch-stdin");
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int result = posix_spawn(&pid, kPython, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  if (result != 0) {
    close(input[1]);
    return *why = std::string("cannot start ") + kPython, false;
  }
  // The write end stays open, unused, for the server's lifetime.
  *process = pid;
  *keep = input[1];
  return true;
}

bool Exited(long long process) {
  const pid_t pid = static_cast<pid_t>(process);
  return waitpid(pid, nullptr, WNOHANG) == pid;
}

void Release(int keep) {
  if (keep >= 0) close(keep);
}

void Kill(long long process, int keep) {
  const pid_t pid = static_cast<pid_t>(process);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  Release(keep);
}
#endif

}  // namespace

std::string SeenPath(const std::string& hostPath) {
  return RunningUnderWine() ? kDriveZ + hostPath : hostPath;
}

std::string HostPath(const std::string& seenPath) {
  return seenPath.rfind(kDriveZ, 0) == 0 ? seenPath.substr(2) : seenPath;
}

bool ServerScript::Start(const std::string& script, const std::vector<std::string>& arguments,
                         double waitSeconds) {
  static int serial = 0;
  const std::string name = "server" + std::to_string(++serial);
  portFile_ = ScratchPath(name + ".port");
  stopFile_ = ScratchPath(name + ".stop");
  std::remove(portFile_.c_str());
  std::remove(stopFile_.c_str());
  std::vector<std::string> all{script, "--port-file", HostPath(portFile_), "--stop-file",
                               HostPath(stopFile_)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  if (!Launch(all, &process_, &input_, &why_)) return false;
  running_ = true;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000));
  while (std::chrono::steady_clock::now() < deadline) {
    ports_ = ReadPorts(portFile_);
    if (!ports_.empty()) return true;
    if (Exited(process_)) {
      running_ = false;
      Release(input_);
      return why_ = script + " ended before listening (see its messages above)", false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Stop();
  why_ = script + " did not listen within " + std::to_string(waitSeconds) + " s";
  return false;
}

void ServerScript::Stop() {
  if (!running_) return;
  running_ = false;
  std::ofstream(stopFile_) << "stop\n";
  Kill(process_, input_);
  input_ = -1;
  ports_.clear();
}

}  // namespace tarsel_test
