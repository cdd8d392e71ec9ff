#include <pthread.h>

#include <cstring>
#include <new>

#include "platform/thread.h"
#include "platform/trace.h"

namespace {

struct ThreadStart {
  ThreadRoutine routine;
  uint32_t param;
};

void* Trampoline(void* arg) {
  ThreadStart start = *static_cast<ThreadStart*>(arg);
  delete static_cast<ThreadStart*>(arg);
  start.routine(start.param);
  return nullptr;
}

}  // namespace

bool PlatformStartDetachedThread(ThreadRoutine routine, uint32_t param) {
  ThreadStart* start = new (std::nothrow) ThreadStart{routine, param};
  if (start == nullptr) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete start;
    return false;
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, Trampoline, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    DbgTrace("pthread_create failed: %s\n", strerror(rc));
    delete start;
    return false;
  }
  return true;
}
