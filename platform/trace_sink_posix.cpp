#include "platform/trace_sink.h"

#include <unistd.h>

#include <cstring>

void TraceSinkWrite(const char* text) {
  static const bool toStderr = !isatty(STDERR_FILENO);
  if (!toStderr) return;
  // A debugger shows every text as its own entry; a stream needs the line
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
    ssize_t n = write(STDERR_FILENO, text, len);
    if (n <= 0) return;
    text += n;
    len -= static_cast<size_t>(n);
  }
}
