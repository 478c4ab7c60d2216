#include "support/page_edge.h"

#include <cstring>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tarsel_test {
namespace {

std::size_t PageSize() {
#if defined(_WIN32)
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace

PageEdge::PageEdge(std::size_t capacity) {
  const std::size_t page = PageSize();
  readable_ = (capacity + page - 1) / page * page;
  total_ = readable_ + page;
#if defined(_WIN32)
  void* memory = VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  DWORD previous = 0;
  if (!memory ||
      !VirtualProtect(static_cast<uint8_t*>(memory) + readable_, page, PAGE_NOACCESS, &previous))
    throw std::runtime_error("no guarded memory");
#else
  void* memory = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED || mprotect(static_cast<uint8_t*>(memory) + readable_, page, PROT_NONE))
    throw std::runtime_error("no guarded memory");
#endif
  base_ = static_cast<uint8_t*>(memory);
}

PageEdge::~PageEdge() {
#if defined(_WIN32)
  VirtualFree(base_, 0, MEM_RELEASE);
#else
  munmap(base_, total_);
#endif
}

uint8_t* PageEdge::Place(const std::vector<uint8_t>& bytes) {
  if (bytes.size() > readable_) throw std::length_error("too many bytes for the page edge");
  uint8_t* start = base_ + readable_ - bytes.size();
  if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
  return start;
}

}  // namespace tarsel_test
