#include <windows.h>

#include <io.h>
#include <stdio.h>

#include "app/cli/console_io.h"

// Windows 10 and later; older consoles refuse the mode.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

StopDecision g_decide = nullptr;
StopNotify g_notify = nullptr;

// Windows runs this on a thread of its own, so it may notify at once.
BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_notify(g_decide());
      return TRUE;
    default:
      return FALSE;
  }
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
