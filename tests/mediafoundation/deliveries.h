// What a grabber's ready callback handed over, kept for the test to wait on.
// The callback is a plain function, so the record is one per program; a test
// resets it before it starts a grabber and may give it a step to run after
// each block (outside the lock, so that the step may call the grabber).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "tarsel.h"

namespace tarsel_test {

// The fake cameras and the scripted drivers write the frame number first.
inline uint32_t FrameNumber(const uint8_t* frame) {
  return frame[0] | frame[1] << 8 | frame[2] << 16 | uint32_t{frame[3]} << 24;
}

struct Block {
  uint32_t number;
  int64_t time;
  std::vector<uint8_t> bytes;
  uint32_t Frame() const { return bytes.size() < 4 ? 0 : FrameNumber(bytes.data()); }
};

struct Deliveries {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Block> blocks;
  std::function<void(const Block&)> after;  // run after each block is kept
  std::atomic<bool> cleared{false};         // the grabber was cleared: nothing more may come
  std::atomic<int> lateCalls{0};            // blocks that came all the same, never reset

  void Reset(std::function<void(const Block&)> step = nullptr) {
    std::lock_guard lock(mutex);
    blocks.clear();
    after = std::move(step);
    cleared = false;
  }
  // Waits until done(blocks) holds, 30 seconds at most; false when it never did.
  template <class Done>
  bool WaitUntil(Done done) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(30), [&] { return done(blocks); });
  }
  bool WaitFor(std::size_t count) {
    return WaitUntil([&](const std::vector<Block>& seen) { return seen.size() >= count; });
  }
  std::vector<Block> Copy() {
    std::lock_guard lock(mutex);
    return blocks;
  }
};

inline Deliveries deliveries;

inline void TARSEL_CALL Record(uint32_t number, int64_t time, uint32_t size, uint8_t* bytes) {
  if (deliveries.cleared) ++deliveries.lateCalls;
  Block block{number, time, std::vector<uint8_t>(bytes, bytes + size)};
  std::function<void(const Block&)> step;
  {
    std::lock_guard lock(deliveries.mutex);
    deliveries.blocks.push_back(block);
    step = deliveries.after;
  }
  deliveries.arrived.notify_all();
  if (step) step(block);
}

}  // namespace tarsel_test
