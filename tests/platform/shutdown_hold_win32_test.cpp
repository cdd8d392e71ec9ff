// The Windows hold: its hidden window refuses the end of the session for as
// long as the hold lives, with the reason handed to Windows and the execution
// state that keeps the PC awake; both are undone when the hold ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/shutdown_hold.h"
#include "platform/shutdown_hold_win32.h"
#include "support/trace_capture.h"

namespace {

const char kWhy[] = "Writing firmware to the SAS Expander on COM 3: do not power off";

// What the hold asked of the system; the hold calls from its own thread.
struct Recorded {
  std::mutex mu;
  bool createOk = true;
  bool stateOk = true;
  std::wstring reason;
  HWND reasonWindow = nullptr;
  HWND destroyedWindow = nullptr;
  std::vector<EXECUTION_STATE> states;
} g_rec;

BOOL WINAPI FakeCreate(HWND hWnd, LPCWSTR reason) {
  std::lock_guard<std::mutex> lock(g_rec.mu);
  g_rec.reasonWindow = hWnd;
  g_rec.reason = reason;
  SetLastError(ERROR_ACCESS_DENIED);
  return g_rec.createOk ? TRUE : FALSE;
}
BOOL WINAPI FakeDestroy(HWND hWnd) {
  std::lock_guard<std::mutex> lock(g_rec.mu);
  g_rec.destroyedWindow = hWnd;
  return TRUE;
}
EXECUTION_STATE WINAPI FakeState(EXECUTION_STATE state) {
  std::lock_guard<std::mutex> lock(g_rec.mu);
  g_rec.states.push_back(state);
  return g_rec.stateOk ? ES_CONTINUOUS : 0;
}
const ShutdownHoldCalls kFakeCalls = {FakeCreate, FakeDestroy, FakeState};

// Wine without an X display makes no windows at all (the hold then only
// traces); tests/e2e/wine_session_end.sh runs these tests under Xvfb.
bool CanMakeWindows() {
  HWND w = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                           nullptr);
  if (w == nullptr) return false;
  DestroyWindow(w);
  return true;
}

HWND HoldWindow() { return FindWindowA(kShutdownHoldWindowClass, nullptr); }

// The answer a window gives Windows' question before a shutdown or logoff.
LRESULT Ask(HWND hWnd, LPARAM why) { return SendMessageA(hWnd, WM_QUERYENDSESSION, 0, why); }

TEST(ShutdownHoldWin32Test, RefusesTheSessionEndWhileItLives) {
  if (!CanMakeWindows()) GTEST_SKIP() << "no display: no window can be made";
  struct Case {
    const char* name;
    bool createOk;
    bool stateOk;
    const char* traced;  // a trace text the hold must leave, "" for none
  } cases[] = {
      {"granted", true, true, "ShutdownHold: held ("},
      // Without the reason Windows still sees the refusal, and says only
      // that the program prevents the shutdown.
      {"no reason", false, true, "ShutdownHold: ShutdownBlockReasonCreate failed: error 5"},
      {"no execution state", true, false, "ShutdownHold: SetThreadExecutionState failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::lock_guard<std::mutex> lock(g_rec.mu);
      g_rec.createOk = c.createOk;
      g_rec.stateOk = c.stateOk;
      g_rec.reason.clear();
      g_rec.reasonWindow = g_rec.destroyedWindow = nullptr;
      g_rec.states.clear();
    }
    SetShutdownHoldCalls(&kFakeCalls);
    TraceCapture trace;
    HWND window = nullptr;
    {
      ShutdownHold hold(kWhy);
      EXPECT_TRUE(hold.held());
      window = HoldWindow();
      ASSERT_NE(window, nullptr);
      EXPECT_FALSE(IsWindowVisible(window));
      EXPECT_EQ(GetAncestor(window, GA_ROOT), window);  // top-level: Windows asks it
      EXPECT_EQ(Ask(window, 0), 0);
      EXPECT_EQ(Ask(window, ENDSESSION_LOGOFF), 0);
      std::lock_guard<std::mutex> lock(g_rec.mu);
      EXPECT_EQ(g_rec.reasonWindow, window);
      EXPECT_EQ(g_rec.reason,
                L"Writing firmware to the SAS Expander on COM 3: do not power off");
      EXPECT_EQ(g_rec.states, std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED});
    }
    SetShutdownHoldCalls(nullptr);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(HoldWindow(), nullptr);
    std::lock_guard<std::mutex> lock(g_rec.mu);
    EXPECT_EQ(g_rec.destroyedWindow, window);
    EXPECT_EQ(g_rec.states,
              (std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}));
    EXPECT_TRUE(trace.Contains(c.traced));
    EXPECT_TRUE(trace.Contains("ShutdownHold: the end of the session is refused (logoff)"));
  }
}

// The system's own calls, as far as this Windows (or Wine) has them: the
// window refuses whatever the reason's fate, and the hold ends cleanly.
TEST(ShutdownHoldWin32Test, TheSystemsCalls) {
  if (!CanMakeWindows()) GTEST_SKIP() << "no display: no window can be made";
  HWND window = nullptr;
  {
    ShutdownHold hold(kWhy);
    EXPECT_TRUE(hold.held());
    window = HoldWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Ask(window, 0), 0);
  }
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
