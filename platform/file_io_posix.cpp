#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

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

namespace {

// The file a write goes to: the target of a symbolic link, so that the link
// survives the rename.
bool ResolveTarget(const char* path, std::string* target) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (!realpath(path, resolved)) return false;
    *target = resolved;
  } else {
    *target = path;
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces `path` with `text` through a new file in the same folder and a
// rename, so that a crash leaves either the old or the new file, never half of
// one. `mode` is the permission of the file being replaced (0666 for a new
// one, less the umask).
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode, bool keep_mode) {
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && (!keep_mode || fchmod(fd, mode) == 0) && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    const int error = errno;  // the failure's, not the clean-up's
    unlink(temp.c_str());
    errno = error;
    return false;
  }
  // Make the rename itself durable; a failure here leaves a good file anyway.
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

}  // namespace

bool ReplaceFileText(const char* path, const std::string& text) {
  std::string target;
  if (!ResolveTarget(path, &target)) return false;
  struct stat st;
  const bool existed = ::stat(target.c_str(), &st) == 0;
  return ReplaceFile(target, text, existed ? (st.st_mode & 07777) : 0, existed);
}

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
