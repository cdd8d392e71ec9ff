#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "app/cli/console_hold.h"
#include "app/cli/console_io.h"
#include "platform/tempfile.h"

// Windows 10 and later; older consoles refuse the mode.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

StopDecision g_decide = nullptr;
StopNotify g_notify = nullptr;

// Windows runs this on a thread of its own, so it may notify and wait.
BOOL WINAPI OnConsoleControl(DWORD type) {
  ConsoleEvent event;
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      event = ConsoleEvent::kInterrupt;
      break;
    case CTRL_CLOSE_EVENT:
      event = ConsoleEvent::kClose;
      break;
    // Windows sends these two only to processes without user32 (ours has it
    // through shell32) and outside an interactive session; should one come,
    // it is a close with more time.
    case CTRL_LOGOFF_EVENT:
      event = ConsoleEvent::kLogoff;
      break;
    case CTRL_SHUTDOWN_EVENT:
      event = ConsoleEvent::kShutdown;
      break;
    default:
      return FALSE;
  }
  const HoldOutcome outcome = HoldForConsoleEvent(event, g_decide, g_notify, HoldMs(event));
  if (!outcome.held) return TRUE;
  // The run is over: end with its own exit code rather than the one Windows
  // gives a process it ends.
  if (outcome.ended) ExitProcess(static_cast<UINT>(outcome.code));
  // Out of time: Windows ends the process when this returns; no temporary
  // image file may stay behind.
  DeleteTempFilesLeft();
  return TRUE;
}

}  // namespace

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool EnableTerminalEscapes() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void InstallStopHandler(StopDecision decide, StopNotify notify) {
  g_decide = decide;
  g_notify = notify;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void IgnoreBrokenPipe() {}
