#include "app/cli/console_hold.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Windows' grace periods less what the handler needs after its wait.
constexpr int64_t kCloseHoldMs = 4500;
constexpr int64_t kSessionEndHoldMs = 19000;

std::mutex g_mu;
std::condition_variable g_ended;
bool g_runEnded = false;
int g_code = 0;

}  // namespace

int64_t HoldMs(ConsoleEvent event) {
  switch (event) {
    case ConsoleEvent::kInterrupt:
      return 0;
    case ConsoleEvent::kClose:
      return kCloseHoldMs;
    case ConsoleEvent::kLogoff:
    case ConsoleEvent::kShutdown:
      return kSessionEndHoldMs;
  }
  return 0;
}

HoldOutcome HoldForConsoleEvent(ConsoleEvent event, StopDecision decide, StopNotify notify,
                                int64_t holdMs) {
  notify(decide());
  HoldOutcome outcome;
  if (event == ConsoleEvent::kInterrupt) return outcome;
  outcome.held = true;
  std::unique_lock<std::mutex> lock(g_mu);
  outcome.ended = g_ended.wait_for(lock, std::chrono::milliseconds(holdMs < 0 ? 0 : holdMs),
                                   [] { return g_runEnded; });
  outcome.code = outcome.ended ? g_code : 0;
  return outcome;
}

void MarkRunEnded(int code) {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_runEnded = true;
    g_code = code;
  }
  g_ended.notify_all();
}

void ResetRunEnded() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_runEnded = false;
  g_code = 0;
}
