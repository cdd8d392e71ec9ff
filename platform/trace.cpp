#include "platform/trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/trace_sink.h"

std::atomic<uint32_t> dwTestPoint{0};
std::atomic<uint32_t> dwcomtestpoint{0};

namespace {

std::atomic<TraceHook> g_traceHook{nullptr};

// What is held before the file starts: enough for the settings and start-up
// lines of a run, bounded so that a program that never starts the file does
// not grow.
constexpr size_t kMaxHeld = 64 * 1024;

// The trace file. Both threads trace, so its state is guarded; the debugger
// output (the sink) is not, and never waits for the file.
class TraceFile {
 public:
  bool Start(const char* path, const char* marker, uint64_t limit) {
    std::lock_guard<std::mutex> lock(mu_);
    CloseLocked();
    path_ = path;
    marker_ = marker;
    limit_ = limit;
    if (!OpenLocked()) {
      holding_ = false;
      held_.clear();
      return false;
    }
    if (size_ >= limit_) RotateLocked(false);
    WriteLineLocked(Prefixed(marker_.c_str()));
    std::string held;
    held.swap(held_);
    holding_ = false;
    if (!held.empty()) WriteLineLocked(held);
    return true;
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(mu_);
    CloseLocked();
    holding_ = true;
    held_.clear();
  }

  void Write(const char* text) {
    if (text[0] == '\0') return;
    std::lock_guard<std::mutex> lock(mu_);
    std::string line = Prefixed(text);
    if (file_) {
      WriteLineLocked(line);
    } else if (holding_ && held_.size() + line.size() <= kMaxHeld) {
      held_ += line;
    }
  }

 private:
  // "<time> <text>\n".
  static std::string Prefixed(const char* text) {
    char stamp[40];
    auto now = std::chrono::system_clock::now();
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    TraceTimeText(stamp, sizeof stamp);
    char prefix[48];
    snprintf(prefix, sizeof prefix, "%s.%03d ", stamp, static_cast<int>(ms % 1000));
    std::string line = prefix;
    line += text;
    if (line.back() != '\n') line += '\n';
    return line;
  }

  bool OpenLocked() {
    file_ = fopen(path_.c_str(), "ab");
    if (!file_) return false;
    fseek(file_, 0, SEEK_END);
    long size = ftell(file_);
    size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    return true;
  }

  void CloseLocked() {
    if (file_) fclose(file_);
    file_ = nullptr;
  }

  // Moves the full file aside and begins a new one, with the marker when the
  // run goes on in it. Should the rename fail (the old file held open
  // elsewhere), the file starts over instead: the bound holds either way.
  void RotateLocked(bool continued) {
    CloseLocked();
    std::string old = path_ + ".1";
    std::remove(old.c_str());
    if (std::rename(path_.c_str(), old.c_str()) != 0) std::remove(path_.c_str());
    if (!OpenLocked() || !continued) return;
    std::string marker = Prefixed((marker_ + " (continued)").c_str());
    fwrite(marker.data(), 1, marker.size(), file_);
    size_ += marker.size();
  }

  void WriteLineLocked(const std::string& line) {
    if (size_ > 0 && size_ + line.size() > limit_) RotateLocked(true);
    if (!file_) return;
    fwrite(line.data(), 1, line.size(), file_);
    // Flushed at once: the trace must survive a crash or a killed process.
    fflush(file_);
    size_ += line.size();
  }

  std::mutex mu_;
  FILE* file_ = nullptr;
  std::string path_;
  std::string marker_;
  uint64_t limit_ = kTraceFileLimit;
  uint64_t size_ = 0;
  bool holding_ = true;
  std::string held_;
};

TraceFile& File() {
  static TraceFile file;
  return file;
}

}  // namespace

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
    File().Write(buf);
  }
}

void TraceTestPoints() {
  DbgTrace(" dwTestPoint=%d", static_cast<int>(dwTestPoint.load()));
  DbgTrace(" dwcomtestpoint=%d", static_cast<int>(dwcomtestpoint.load()));
}

bool TraceStartFile(const char* path, const char* marker, uint64_t limit) {
  return File().Start(path, marker, limit);
}

void TraceStopFile() { File().Stop(); }

void TraceTimeText(char* out, size_t size) {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  // localtime fills one static record for every thread.
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  std::tm* tm = std::localtime(&now);
  if (!tm || std::strftime(out, size, "%Y-%m-%d %H:%M:%S", tm) == 0) snprintf(out, size, "?");
}
