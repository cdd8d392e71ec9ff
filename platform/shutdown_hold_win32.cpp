// The Windows hold: a hidden top-level window on a thread of its own that
// answers WM_QUERYENDSESSION with FALSE and carries the block reason Windows
// shows at a shutdown or logoff, and, on the same thread, the execution state
// that keeps the idle timer from sleeping the PC.
//
// A thread of its own because a console program (tarnwick-cli) has no
// message loop, and because ShutdownBlockReasonCreate only works on the
// thread that created the window. The execution state belongs to the thread
// that set it, so it ends with that thread at the latest.
#include "platform/shutdown_hold.h"

#include <windows.h>
#include <shlwapi.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/os_error.h"
#include "platform/shutdown_hold_win32.h"
#include "platform/trace.h"

const char kShutdownHoldWindowClass[] = "TarnwickShutdownHold";

namespace {

const ShutdownHoldCalls kSystemCalls = {ShutdownBlockReasonCreate, ShutdownBlockReasonDestroy,
                                        SetThreadExecutionState};
std::atomic<const ShutdownHoldCalls*> g_calls{&kSystemCalls};

// Sent by the owner to end the hold: the window goes, the loop ends.
constexpr UINT kEndHoldMsg = WM_APP + 1;

// The reason as Windows wants it: the program's texts are 8-bit ANSI.
std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::vector<wchar_t> buf(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buf.data(), n);
  return std::wstring(buf.data());
}

// The window's title, which Windows lists beside the reason: the program's
// file name without ".exe".
void ProgramTitle(char* out, size_t size) {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  snprintf(out, size, "%s", PathFindFileNameA(path));
  PathRemoveExtensionA(out);
  if (out[0] == '\0') snprintf(out, size, "tarnwick");
}

LRESULT CALLBACK HoldWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      DbgTrace("ShutdownHold: the end of the session is refused (%s)\n",
               (lParam & ENDSESSION_LOGOFF) ? "logoff" : "shutdown");
      return FALSE;
    case WM_ENDSESSION:
      // Sent only once every program agreed or the user chose to end the
      // session anyway: the process ends after this returns.
      if (wParam) DbgTrace("ShutdownHold: the session ends anyway, the download is cut\n");
      return 0;
    case kEndHoldMsg:
      DestroyWindow(hWnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hWnd, message, wParam, lParam);
  }
}

bool RegisterHoldClass() {
  WNDCLASSEXA wc;
  memset(&wc, 0, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = HoldWndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kShutdownHoldWindowClass;
  if (RegisterClassExA(&wc) != 0) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

void SetShutdownHoldCalls(const ShutdownHoldCalls* calls) {
  g_calls = calls != nullptr ? calls : &kSystemCalls;
}

struct ShutdownHold::Impl {
  std::wstring reason;
  const ShutdownHoldCalls* calls = nullptr;
  HANDLE ready = nullptr;   // set once the thread has its window (or gave up)
  HANDLE thread = nullptr;
  HWND window = nullptr;    // written by the thread before `ready`
  bool refusing = false;    // the window is up and refuses the session's end

  static DWORD WINAPI Run(LPVOID arg) { return static_cast<Impl*>(arg)->Loop(); }

  DWORD Loop() {
    char title[MAX_PATH];
    ProgramTitle(title, sizeof title);
    // Top-level and never shown: a message-only window would not be asked.
    window = RegisterHoldClass()
                 ? CreateWindowExA(WS_EX_TOOLWINDOW, kShutdownHoldWindowClass, title, WS_POPUP, 0,
                                   0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)
                 : nullptr;
    if (window == nullptr) {
      const DWORD err = GetLastError();
      DbgTrace("ShutdownHold: no window to refuse the end of the session: error %lu (%s)\n", err,
               OsErrorText(err).c_str());
      SetEvent(ready);
      return 1;
    }
    refusing = true;
    if (!calls->blockReasonCreate(window, reason.c_str())) {
      const DWORD err = GetLastError();
      DbgTrace("ShutdownHold: ShutdownBlockReasonCreate failed: error %lu (%s); the end of the "
               "session is still refused, without the reason\n",
               err, OsErrorText(err).c_str());
    }
    if (calls->setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
      DbgTrace("ShutdownHold: SetThreadExecutionState failed, the idle timer may sleep the PC\n");
    }
    SetEvent(ready);

    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0 && got != -1) {
      DispatchMessageA(&msg);
    }
    calls->setExecutionState(ES_CONTINUOUS);
    calls->blockReasonDestroy(window);
    if (IsWindow(window)) DestroyWindow(window);
    return 0;
  }
};

ShutdownHold::ShutdownHold(const std::string& why) : impl_(new Impl) {
  impl_->reason = Widen(why);
  impl_->calls = g_calls.load();
  impl_->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (impl_->ready != nullptr) {
    impl_->thread = CreateThread(nullptr, 0, &Impl::Run, impl_.get(), 0, nullptr);
  }
  if (impl_->thread == nullptr) {
    const DWORD err = GetLastError();
    DbgTrace("ShutdownHold: no thread for the hold: error %lu (%s)\n", err,
             OsErrorText(err).c_str());
    return;
  }
  // The thread only creates a window before it sets the event.
  WaitForSingleObject(impl_->ready, INFINITE);
  if (impl_->refusing) DbgTrace("ShutdownHold: held (%s)\n", why.c_str());
}

ShutdownHold::~ShutdownHold() {
  if (impl_->thread != nullptr) {
    if (impl_->window != nullptr) PostMessageA(impl_->window, kEndHoldMsg, 0, 0);
    // The loop ends at once; the thread reads *impl_ until it has.
    WaitForSingleObject(impl_->thread, INFINITE);
    CloseHandle(impl_->thread);
    if (impl_->refusing) DbgTrace("ShutdownHold: released\n");
  }
  if (impl_->ready != nullptr) CloseHandle(impl_->ready);
}

bool ShutdownHold::held() const { return impl_->refusing; }
