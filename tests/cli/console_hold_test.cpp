// The console control handler's logic, in both builds: the stop decision for
// each event, and the hold that keeps Windows from ending the process before
// the run has ended.
#include "app/cli/console_hold.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

// The decision as the front end takes it: refused while the bootloader is
// written (here a flag of the test's own).
bool g_inBootloader = false;
bool Decide() { return !g_inBootloader; }
std::promise<bool>* g_told = nullptr;
void Tell(bool accepted) { g_told->set_value(accepted); }

TEST(ConsoleHoldTest, EventsThatEndTheProcessHoldUntilTheRunHasEnded) {
  constexpr int kNever = -1;
  struct Case {
    const char* name;
    ConsoleEvent event;
    bool bootloader;
    int endsWith;  // the run's exit code once told of the decision, or kNever
    int64_t holdMs;
    bool accepted, held, ended;
  } cases[] = {
      {"Ctrl+C: a stop, no hold", ConsoleEvent::kInterrupt, false, kNever, 10000, true, false,
       false},
      {"Ctrl+C in the bootloader: refused", ConsoleEvent::kInterrupt, true, kNever, 10000, false,
       false, false},
      {"closed: a stop, held to the end", ConsoleEvent::kClose, false, 7, 10000, true, true, true},
      {"closed in the bootloader: held while it finishes", ConsoleEvent::kClose, true, 0, 10000,
       false, true, true},
      {"logoff: held to the end", ConsoleEvent::kLogoff, false, 7, 10000, true, true, true},
      {"shutdown, the run never ends: the bound", ConsoleEvent::kShutdown, true, kNever, 0, false,
       true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetRunEnded();
    g_inBootloader = c.bootloader;
    std::promise<bool> told;
    std::shared_future<bool> decided = told.get_future().share();
    g_told = &told;
    // The main thread's part: the download goes on until the decision is
    // known, then ends and says so.
    std::unique_ptr<std::thread> run;
    if (c.endsWith != kNever) {
      run.reset(new std::thread([decided, &c] {
        decided.wait();
        MarkRunEnded(c.endsWith);
      }));
    }
    const HoldOutcome outcome = HoldForConsoleEvent(c.event, Decide, Tell, c.holdMs);
    if (run) run->join();
    // Told before the hold ended, whatever came of it.
    ASSERT_EQ(std::future_status::ready, decided.wait_for(std::chrono::seconds(0)));
    EXPECT_EQ(c.accepted, decided.get());
    EXPECT_EQ(c.held, outcome.held);
    EXPECT_EQ(c.ended, outcome.ended);
    if (c.ended) {
      EXPECT_EQ(c.endsWith, outcome.code);
    }
  }
  g_told = nullptr;
  g_inBootloader = false;
  ResetRunEnded();
}

// The handler must return before Windows ends the process on its own, or the
// files left are never removed.
TEST(ConsoleHoldTest, HoldsStayWithinWhatWindowsGrants) {
  EXPECT_EQ(0, HoldMs(ConsoleEvent::kInterrupt));
  EXPECT_GT(HoldMs(ConsoleEvent::kClose), 3000);
  EXPECT_LT(HoldMs(ConsoleEvent::kClose), 5000);
  for (ConsoleEvent e : {ConsoleEvent::kLogoff, ConsoleEvent::kShutdown}) {
    EXPECT_GT(HoldMs(e), 10000);
    EXPECT_LT(HoldMs(e), 20000);
  }
}

}  // namespace
