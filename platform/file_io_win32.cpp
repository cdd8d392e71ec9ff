#include <windows.h>

#include "platform/file_io.h"

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

bool OsFile::OpenRead(const char* path) {
  Close();
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
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
  // FILE_APPEND_DATA alone: the system moves every write to the end of the
  // file as one step, whoever else appends meanwhile (they share the file).
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool RenameReplacing(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
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
  DWORD put = 0;
  if (!WriteFile(AsHandle(handle_), buf, count, &put, nullptr)) return false;
  return put == count;
}

void OsFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kInvalid;
}
