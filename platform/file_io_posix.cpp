#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"

// POSIX has no share modes: "others may read" holds by default and the
// exclusive write open of the temporary image files is advisory only, which is
// enough because only this process knows their names.

bool OsFile::OpenRead(const char* path) {
  Close();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool OsFile::OpenWrite(const char* path) {
  Close();
  int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool OsFile::OpenAppend(const char* path) {
  Close();
  int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  handle_ = fd;
  // O_APPEND puts each write at the end by itself: no lock needed here.
  append_ = true;
  return true;
}

bool RenameReplacing(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool OsFile::Size(uint64_t* size) {
  struct stat st;
  if (!IsOpen() || ::fstat(static_cast<int>(handle_), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

// read() and write() may move fewer bytes than asked (signals, and Linux caps
// one call at about 2 GiB), so both loop until the count or a real failure.
bool OsFile::ReadExact(void* buf, uint32_t count) {
  if (!IsOpen()) return false;
  uint8_t* p = static_cast<uint8_t*>(buf);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(static_cast<int>(handle_), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // error, or end of file before `count`
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool OsFile::WriteExact(const void* buf, uint32_t count) {
  if (!IsOpen()) return false;
  const uint8_t* p = static_cast<const uint8_t*>(buf);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(static_cast<int>(handle_), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

void OsFile::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
  append_ = false;
}
