#include "platform/clock.h"

#include <atomic>
#include <climits>
#include <chrono>
#include <ctime>
#include <thread>

namespace {

class RealClock : public Clock {
 public:
  void PauseMs(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  int64_t NowSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  int64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
};

RealClock g_realClock;
std::atomic<Clock*> g_clock{&g_realClock};

}  // namespace

Clock& GetClock() { return *g_clock.load(std::memory_order_acquire); }

void SetClock(Clock* clock) {
  g_clock.store(clock ? clock : &g_realClock, std::memory_order_release);
}

int64_t SystemSteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t SystemSteadyMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int SystemMsUntil(int64_t deadline) {
  const int64_t left = deadline - SystemSteadyMs();
  if (left < 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}
