// The debug trace shared by every module, and the two diagnostic markers.
#pragma once
#include <atomic>
#include <cstdint>

// printf-style text into a 4096-byte buffer on the caller's stack (cut, never
// overrun), handed unchanged to the trace sink: no prefix, no time stamp, no
// line end added. Safe from any thread without a lock.
void DbgTrace(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Writes " dwTestPoint=%d" and " dwcomtestpoint=%d" to the trace.
void TraceTestPoints();

// Progress markers: fixed numbers stored at fixed steps of the download
// protocol and of the serial port, read only by TraceTestPoints. Written by
// the worker, read by the dialog thread; a stale value is acceptable.
extern std::atomic<uint32_t> dwTestPoint;
extern std::atomic<uint32_t> dwcomtestpoint;

// Tests capture the trace here instead of the platform sink; nullptr restores it.
using TraceHook = void (*)(const char* text);
void SetTraceHook(TraceHook hook);
