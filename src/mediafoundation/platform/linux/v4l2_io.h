// The calls through which the camera provider reaches V4L2 devices: the
// system's own, or a scripted device in tests. Results follow the kernel's:
// 0 (or a count) on success, minus the errno value on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarsel::platform {

class V4l2Io {
 public:
  virtual ~V4l2Io() = default;
  // The video device nodes, /dev/video0 first, in numeric order.
  virtual std::vector<std::string> DeviceNodes() = 0;
  // Opens a node for reading and writing without blocking: a descriptor or -errno.
  virtual int Open(const std::string& path) = 0;
  virtual void Close(int fd) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
  // Maps a capture buffer; null on failure.
  virtual void* Map(int fd, std::size_t length, std::int64_t offset) = 0;
  virtual void Unmap(void* address, std::size_t length) = 0;
  // Waits up to timeoutMs for a filled buffer: the poll events, 0 when the time
  // ran out, or -errno.
  virtual int Poll(int fd, int timeoutMs) = 0;
};

// The system's device nodes and calls.
std::shared_ptr<V4l2Io> SystemV4l2Io();

}  // namespace tarsel::platform
