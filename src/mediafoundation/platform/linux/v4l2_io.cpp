// V4L2 through the system's calls.
#include "mediafoundation/platform/linux/v4l2_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarsel::platform {

namespace {

constexpr char kDeviceFolder[] = "/dev";
constexpr char kNodePrefix[] = "video";

// The number of a node named video<number>, or -1.
long NodeNumber(const char* name) {
  const std::size_t prefix = sizeof kNodePrefix - 1;
  if (std::strncmp(name, kNodePrefix, prefix) != 0 || name[prefix] == '\0') return -1;
  char* end = nullptr;
  const long number = std::strtol(name + prefix, &end, 10);
  return *end == '\0' && number >= 0 ? number : -1;
}

class SystemIo final : public V4l2Io {
 public:
  std::vector<std::string> DeviceNodes() override {
    std::vector<std::pair<long, std::string>> found;
    if (DIR* folder = opendir(kDeviceFolder)) {
      while (const dirent* entry = readdir(folder)) {
        const long number = NodeNumber(entry->d_name);
        if (number >= 0)
          found.emplace_back(number, std::string(kDeviceFolder) + "/" + entry->d_name);
      }
      closedir(folder);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto& node : found) nodes.push_back(std::move(node.second));
    return nodes;
  }
  int Open(const std::string& path) override {
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  }
  void Close(int fd) override { close(fd); }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    int result;
    do {
      result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -errno : result;
  }
  void* Map(int fd, std::size_t length, std::int64_t offset) override {
    void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    return address == MAP_FAILED ? nullptr : address;
  }
  void Unmap(void* address, std::size_t length) override { munmap(address, length); }
  int Poll(int fd, int timeoutMs) override {
    pollfd entry{fd, POLLIN, 0};
    const int result = poll(&entry, 1, timeoutMs);
    if (result < 0) return errno == EINTR ? 0 : -errno;
    return result == 0 ? 0 : entry.revents;
  }
};

}  // namespace

std::shared_ptr<V4l2Io> SystemV4l2Io() {
  static const std::shared_ptr<V4l2Io> io = std::make_shared<SystemIo>();
  return io;
}

}  // namespace tarsel::platform
