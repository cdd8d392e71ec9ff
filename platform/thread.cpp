#include "platform/thread.h"

#include <atomic>

namespace {
std::atomic<ThreadStarter> g_starter{nullptr};
}

void SetThreadStarter(ThreadStarter starter) { g_starter.store(starter); }

bool StartDetachedThread(ThreadRoutine routine, uint32_t param) {
  ThreadStarter starter = g_starter.load();
  return starter ? starter(routine, param) : PlatformStartDetachedThread(routine, param);
}
