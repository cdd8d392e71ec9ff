// The debug trace shared by every module, the two diagnostic markers, and the
// trace file (fwdl.log) that keeps the trace for a technician to send.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// printf-style text into a 4096-byte buffer on the caller's stack (cut, never
// overrun), handed unchanged to the trace sink: no prefix, no time stamp, no
// line end added. Once the trace file has started, the text also goes there
// (see TraceStartFile). Safe from any thread.
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

// Tests capture the trace here instead of the platform sink and the trace
// file; nullptr restores them.
using TraceHook = void (*)(const char* text);
void SetTraceHook(TraceHook hook);

// The trace file's size bound (bytes): beyond it the file moves to
// "<path>.1", replacing the one kept there, and a new file begins.
constexpr uint64_t kTraceFileLimit = 1024 * 1024;

// Starts the trace file `path`, appended to: first `marker` (one line, that
// tells runs apart), then the texts traced since the program began (held in
// memory, up to 64 KiB), then every later text. In the file each text is one
// line (a line end is added where it lacks one) behind a local time prefix
// "YYYY-MM-DD HH:MM:SS.mmm ". A rotated file begins with the marker again.
// False if the file cannot be opened: the trace then goes only to the sink.
bool TraceStartFile(const char* path, const char* marker, uint64_t limit = kTraceFileLimit);
// Closes the trace file and forgets the held texts; texts traced from then on
// are held again, as at program start.
void TraceStopFile();

// The file-system calls of the trace file. A full file is moved aside to
// "<path>.1"; where that fails (another program holds the file open, a folder
// that allows no rename), the file is cut to nothing and begun again; where
// even that fails, the trace file ends for the run with one line that says
// why. The file is never reopened per line.
class TraceFileSystem {
 public:
  virtual ~TraceFileSystem() = default;
  // fopen: "ab" appends, "wb" cuts the file to nothing. nullptr on failure,
  // with errno set.
  virtual std::FILE* Open(const char* path, const char* mode) = 0;
  // True if `from` now has the name `to` (which does not exist beforehand).
  virtual bool Rename(const char* from, const char* to) = 0;
  virtual void Remove(const char* path) = 0;
};
// Tests make the calls fail here; nullptr restores the C library's. Takes
// effect from the next open or rotation.
void SetTraceFileSystem(TraceFileSystem* fs);
// "YYYY-MM-DD HH:MM:SS" of the wall clock now, local time.
void TraceTimeText(char* out, size_t size);
