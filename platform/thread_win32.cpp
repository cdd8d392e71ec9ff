#include <windows.h>

#include <new>

#include "platform/os_error.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace {

struct ThreadStart {
  ThreadRoutine routine;
  uint32_t param;
};

DWORD WINAPI Trampoline(LPVOID arg) {
  ThreadStart start = *static_cast<ThreadStart*>(arg);
  delete static_cast<ThreadStart*>(arg);
  return start.routine(start.param);
}

}  // namespace

bool PlatformStartDetachedThread(ThreadRoutine routine, uint32_t param) {
  ThreadStart* start = new (std::nothrow) ThreadStart{routine, param};
  if (start == nullptr) return false;
  // Default security and stack size, running at once.
  HANDLE h = CreateThread(nullptr, 0, Trampoline, start, 0, nullptr);
  if (h == nullptr) {
    DWORD err = GetLastError();
    DbgTrace("CreateThread failed: error %lu (%s)\n", err, OsErrorText(err).c_str());
    delete start;
    return false;
  }
  // The handle is not kept: the thread ends by itself and is never joined.
  CloseHandle(h);
  return true;
}
