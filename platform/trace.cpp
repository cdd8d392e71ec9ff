#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>

#include "platform/trace_sink.h"

std::atomic<uint32_t> dwTestPoint{0};
std::atomic<uint32_t> dwcomtestpoint{0};

namespace {
std::atomic<TraceHook> g_traceHook{nullptr};
}

void SetTraceHook(TraceHook hook) { g_traceHook.store(hook); }

void DbgTrace(const char* fmt, ...) {
  char buf[4096];
  va_list args;
  va_start(args, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  if (n < 0) return;
  TraceHook hook = g_traceHook.load();
  if (hook) {
    hook(buf);
  } else {
    TraceSinkWrite(buf);
  }
}

void TraceTestPoints() {
  DbgTrace(" dwTestPoint=%d", static_cast<int>(dwTestPoint.load()));
  DbgTrace(" dwcomtestpoint=%d", static_cast<int>(dwcomtestpoint.load()));
}
