#include "platform/trace.h"

#include <cerrno>
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

// The C library's calls, for every run but the tests that make them fail.
class LibcFileSystem : public TraceFileSystem {
 public:
  std::FILE* Open(const char* path, const char* mode) override { return std::fopen(path, mode); }
  bool Rename(const char* from, const char* to) override { return std::rename(from, to) == 0; }
  void Remove(const char* path) override { std::remove(path); }
};

LibcFileSystem g_libcFileSystem;

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
    holding_ = false;
    std::string held;
    held.swap(held_);
    if (!OpenLocked("ab")) return false;
    if (size_ >= limit_ && !RotateLocked(false)) return false;
    WriteLineLocked(Prefixed(marker_.c_str()));
    if (!held.empty()) WriteLineLocked(held);
    return file_ != nullptr;
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

  void SetFileSystem(TraceFileSystem* fs) {
    std::lock_guard<std::mutex> lock(mu_);
    fs_ = fs ? fs : &g_libcFileSystem;
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

  bool OpenLocked(const char* mode) {
    file_ = fs_->Open(path_.c_str(), mode);
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
  // run goes on in it. Windows refuses to rename a file that another program
  // holds open, and a folder may allow no rename at all: then the file is cut
  // to nothing in place. Should that fail as well, the file ends for the run
  // (false), so that no later line tries it again.
  bool RotateLocked(bool continued) {
    CloseLocked();
    std::string old = path_ + ".1";
    fs_->Remove(old.c_str());
    const char* note = " (continued)";
    if (fs_->Rename(path_.c_str(), old.c_str())) {
      OpenLocked("ab");
    } else {
      note = " (continued; the full file could not be moved aside, so it began again)";
      OpenLocked("wb");
    }
    if (!file_) {
      EndLocked(errno);
      return false;
    }
    if (continued) {
      std::string marker = Prefixed((marker_ + note).c_str());
      fwrite(marker.data(), 1, marker.size(), file_);
      size_ += marker.size();
    }
    return true;
  }

  // One line that says why the file ends, to the sink and, if it still takes
  // a line, to the file; the file stays closed for the rest of the run.
  void EndLocked(int err) {
    std::string notice = "trace file " + path_ + " is full and cannot be begun again (" +
                         std::strerror(err) + "); it takes no more lines in this run";
    TraceSinkWrite(notice.c_str());
    std::FILE* last = fs_->Open(path_.c_str(), "ab");
    if (!last) return;
    std::string line = Prefixed(notice.c_str());
    fwrite(line.data(), 1, line.size(), last);
    fclose(last);
  }

  void WriteLineLocked(const std::string& line) {
    if (!file_) return;
    if (size_ > 0 && size_ + line.size() > limit_ && !RotateLocked(true)) return;
    fwrite(line.data(), 1, line.size(), file_);
    // Flushed at once: the trace must survive a crash or a killed process.
    fflush(file_);
    size_ += line.size();
  }

  std::mutex mu_;
  TraceFileSystem* fs_ = &g_libcFileSystem;
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

void SetTraceFileSystem(TraceFileSystem* fs) { File().SetFileSystem(fs); }

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
