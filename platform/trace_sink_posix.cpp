#include "platform/trace_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/paths.h"

namespace {

// Opened once: standard error when it is not a terminal (a pipe or a file the
// user redirected), otherwise fwdl.log beside the executable, appended to, so
// that a terminal dialog is never drawn over and a trace is always kept.
int TraceFd() {
  static int fd = [] {
    if (!isatty(STDERR_FILENO)) return STDERR_FILENO;
    char dir[kMaxPathText];
    char path[kMaxPathText + 16];
    if (!GetExeDir(dir, sizeof dir)) return STDERR_FILENO;
    snprintf(path, sizeof path, "%sfwdl.log", dir);
    int f = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return f >= 0 ? f : -1;
  }();
  return fd;
}

}  // namespace

void TraceSinkWrite(const char* text) {
  int fd = TraceFd();
  if (fd < 0) return;
  // A debugger shows every text as its own entry; a log file needs the line
  // end that many texts do not carry, so one is added where it is missing.
  char line[4097];
  size_t len = strlen(text);
  if (len == 0) return;
  if (len < sizeof line - 1 && text[len - 1] != '\n') {
    memcpy(line, text, len);
    line[len++] = '\n';
    line[len] = '\0';
    text = line;
  }
  // One write per text keeps lines of the two threads from interleaving.
  while (len > 0) {
    ssize_t n = write(fd, text, len);
    if (n <= 0) return;
    text += n;
    len -= static_cast<size_t>(n);
  }
}
