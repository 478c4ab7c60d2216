#include "support/process_resources.h"

#if defined(_WIN32)
#include <windows.h>
// windows.h first.
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

namespace tarsel_test {

#if defined(_WIN32)
int OpenDescriptors() {
  DWORD handles = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &handles) ? static_cast<int>(handles) : -1;
}

int RunningThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int threads = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
  CloseHandle(snapshot);
  return threads;
}
#else
namespace {
int Entries(const char* folder) {
  DIR* dir = opendir(folder);
  if (!dir) return -1;
  int entries = 0;
  while (readdir(dir)) ++entries;
  closedir(dir);
  return entries;
}
}  // namespace

int OpenDescriptors() { return Entries("/proc/self/fd"); }
int RunningThreads() { return Entries("/proc/self/task"); }
#endif

}  // namespace tarsel_test
