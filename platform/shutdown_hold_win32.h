// What the Windows hold asks of the system, replaceable by tests; Windows
// code only. Wine keeps no block reason that a test could read back, so the
// tests see the reason on its way in.
#pragma once
#include <windows.h>

struct ShutdownHoldCalls {
  BOOL(WINAPI* blockReasonCreate)(HWND, LPCWSTR);
  BOOL(WINAPI* blockReasonDestroy)(HWND);
  EXECUTION_STATE(WINAPI* setExecutionState)(EXECUTION_STATE);
};

// Installs `calls` (not owned, must outlive every hold made with them);
// nullptr restores the system's. Takes effect for holds made afterwards.
void SetShutdownHoldCalls(const ShutdownHoldCalls* calls);

// The class of the hidden top-level window that refuses the end of the
// session while a hold lives; one such window per hold, on a thread of its own.
extern const char kShutdownHoldWindowClass[];
