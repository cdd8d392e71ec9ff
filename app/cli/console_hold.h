// What the console control handler does with one event, portable so that
// both builds test it. Windows ends a console process as soon as the handler
// returns from a closed console window, a logoff or a shutdown (and after a
// grace period even if it does not return), so for these the handler asks
// for a stop as Ctrl+C does and then holds until the run has ended: its
// result written, its temporary files removed. A refused stop (the
// bootloader is being written) holds the same way while the bootloader
// finishes.
#pragma once
#include <cstdint>

#include "app/cli/console_io.h"

enum class ConsoleEvent {
  kInterrupt,  // Ctrl+C, Ctrl+Break: the process goes on after the handler
  kClose,      // the console window was closed
  kLogoff,
  kShutdown,
};

// How long the handler may hold for `event`, ms: a little less than Windows
// waits before it ends the process itself (5 s for a closed console, 20 s at
// logoff and shutdown), so that what is left can still be removed. 0 for
// events that do not end the process.
int64_t HoldMs(ConsoleEvent event);

struct HoldOutcome {
  bool held = false;   // the event ends the process; the handler waited
  bool ended = false;  // the run ended within the bound
  int code = 0;        // its exit code, if it ended
};

// Takes the decision, tells `notify`, then for an event that ends the
// process waits (blocked, not polling) until MarkRunEnded or `holdMs` passed.
HoldOutcome HoldForConsoleEvent(ConsoleEvent event, StopDecision decide, StopNotify notify,
                                int64_t holdMs);

// The run is over with exit code `code`: everything it had to say is written.
// Called once, by main, after the run; wakes every holding handler.
void MarkRunEnded(int code);
// For tests: the run has not ended yet.
void ResetRunEnded();
