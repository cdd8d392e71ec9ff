#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/tempfile.h"
#include "platform/tempfile_list.h"
#include "platform/trace.h"

namespace {

// Names are "<prefix:3><4 hex digits>.tmp", like the Windows temporary names,
// so there are 65536 of them per prefix. The search starts at a number that
// differs between processes and moves on with every name handed out.
constexpr unsigned kNameCount = 0x10000;

unsigned NextStart() {
  static std::atomic<unsigned> next{static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ (getpid() * 2654435761u))};
  return next.fetch_add(1);
}

}  // namespace

bool GetTempDir(char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  const char* dir = getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  size_t len = strlen(dir);
  bool slash = dir[len - 1] == '/';
  int n = snprintf(out, size, "%s%s", dir, slash ? "" : "/");
  if (n < 0 || static_cast<size_t>(n) >= size) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool CreateTempFileName(const char* dir, const char* prefix, char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  size_t dirLen = strlen(dir);
  const char* sep = (dirLen > 0 && dir[dirLen - 1] == '/') ? "" : "/";
  unsigned start = NextStart();
  for (unsigned i = 0; i < kNameCount; ++i) {
    unsigned number = (start + i) % kNameCount;
    int n = snprintf(out, size, "%s%s%.3s%04X.tmp", dir, sep, prefix, number);
    if (n < 0 || static_cast<size_t>(n) >= size) {
      out[0] = '\0';
      return false;
    }
    // O_EXCL: the name is ours only if this call created the file.
    int fd = open(out, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      NoteTempFile(out);
      return true;
    }
    if (errno != EEXIST) {
      DbgTrace("CreateTempFileName: cannot create %s: %s\n", out, strerror(errno));
      out[0] = '\0';
      return false;
    }
  }
  DbgTrace("CreateTempFileName: no free name left in %s\n", dir);
  out[0] = '\0';
  return false;
}

bool DeleteFilePath(const char* path) {
  ForgetTempFile(path);
  return unlink(path) == 0;
}
