// A clock that only moves when the program pauses or waits, so a test of a
// 75-second time-out runs in microseconds and can assert exact durations.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/clock.h"

class VirtualClock : public Clock {
 public:
  // Starts at a fixed calendar time, on a whole second.
  explicit VirtualClock(int64_t startSeconds = 1700000000) : ms_(startSeconds * 1000) {}
  void PauseMs(uint32_t ms) override { ms_ += ms; }
  int64_t NowSeconds() override { return ms_.load() / 1000; }
  int64_t NowMs() override { return ms_.load(); }
  void AdvanceMs(int64_t ms) { ms_ += ms; }
  void SetMs(int64_t ms) { ms_ = ms; }

 private:
  std::atomic<int64_t> ms_;
};

// Installs a VirtualClock for the lifetime of the object.
class ScopedVirtualClock {
 public:
  ScopedVirtualClock() { SetClock(&clock_); }
  ~ScopedVirtualClock() { SetClock(nullptr); }
  VirtualClock& clock() { return clock_; }

 private:
  VirtualClock clock_;
};
