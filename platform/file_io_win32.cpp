#include <windows.h>

#include <string>

#include "platform/file_io.h"

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

bool OsFile::OpenRead(const char* path) {
  Close();
  // Others may read, append and rename meanwhile, as on POSIX: a reader of
  // the download history must not make another program's append fail.
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool OsFile::OpenWrite(const char* path) {
  Close();
  // OPEN_ALWAYS: create if missing, otherwise keep the contents (no truncation).
  HANDLE h =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool OsFile::OpenAppend(const char* path) {
  Close();
  // Shared with every other appender; WriteExact puts each write at the end
  // under a lock all appenders take, so lines of several processes never mix
  // (FILE_APPEND_DATA alone does not promise that everywhere, Wine among them).
  HANDLE h = CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  append_ = true;
  return true;
}

bool RenameReplacing(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool ReplaceFileText(const char* path, const std::string& text) {
  if (text.size() > 0xFFFFFFFFu) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  const std::string temp = std::string(path) + ".tmp" + std::to_string(GetCurrentProcessId());
  HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size() && FlushFileBuffers(h);
  DWORD error = ok ? 0 : GetLastError();
  CloseHandle(h);
  if (ok && !MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) {
    DeleteFileA(temp.c_str());
    SetLastError(error == 0 ? ERROR_WRITE_FAULT : error);
  }
  return ok;
}

bool OsFile::Size(uint64_t* size) {
  if (!IsOpen()) return false;
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetFileSize(AsHandle(handle_), &high);
  // 0xFFFFFFFF is also a valid low half; only the error code tells them apart.
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = (static_cast<uint64_t>(high) << 32) | low;
  return true;
}

bool OsFile::ReadExact(void* buf, uint32_t count) {
  if (!IsOpen()) return false;
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), buf, count, &got, nullptr)) return false;
  return got == count;
}

bool OsFile::WriteExact(const void* buf, uint32_t count) {
  if (!IsOpen()) return false;
  HANDLE h = AsHandle(handle_);
  // The appenders' lock: one byte far past any data, so that readers are
  // never refused while it is held.
  OVERLAPPED whole = {};
  whole.Offset = 0xFFFFFFFE;
  whole.OffsetHigh = 0x7FFFFFFF;
  if (append_) {
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) return false;
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_END)) {
      UnlockFileEx(h, 0, 1, 0, &whole);
      return false;
    }
  }
  DWORD put = 0;
  const bool ok = WriteFile(h, buf, count, &put, nullptr) && put == count;
  if (append_) UnlockFileEx(h, 0, 1, 0, &whole);
  return ok;
}

void OsFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kInvalid;
  append_ = false;
}
