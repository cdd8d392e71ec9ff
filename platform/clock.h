// The one clock of the program. Every pause and every deadline goes through it,
// so that tests can swap in a virtual clock and run a 75-second wait in
// milliseconds with exact, repeatable durations.
#pragma once
#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  // Sleeps for `ms` milliseconds.
  virtual void PauseMs(uint32_t ms) = 0;
  // Calendar time in whole seconds (what time() gives).
  virtual int64_t NowSeconds() = 0;
  // A steady count of milliseconds, for measuring short intervals.
  virtual int64_t NowMs() = 0;
};

// The clock in use: the real one unless a test installed another.
Clock& GetClock();
// Installs `clock` (not owned); nullptr restores the real clock.
void SetClock(Clock* clock);

// Shorthands for the clock in use.
inline void PauseMs(uint32_t ms) { GetClock().PauseMs(ms); }
inline int64_t NowSeconds() { return GetClock().NowSeconds(); }

// The system's steady milliseconds, whatever clock is installed: for the
// bounds of system calls (poll, select, a connect, a name lookup) that a
// virtual clock cannot shorten.
int64_t SystemSteadyMs();
// The same steady clock in microseconds, for timing bytes as they arrive.
int64_t SystemSteadyMicros();
// Milliseconds from now until `deadline` (SystemSteadyMs): 0 once it has
// passed, at most INT_MAX.
int SystemMsUntil(int64_t deadline);
