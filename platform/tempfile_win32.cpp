#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/os_error.h"
#include "platform/tempfile.h"
#include "platform/tempfile_list.h"
#include "platform/trace.h"

bool GetTempDir(char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  char dir[MAX_PATH + 1] = {0};
  DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n >= sizeof dir || n >= size) {
    DWORD err = GetLastError();
    DbgTrace("GetTempPathA failed (%lu, error %lu: %s)\n", static_cast<unsigned long>(n),
             static_cast<unsigned long>(err), OsErrorText(err).c_str());
    return false;
  }
  memcpy(out, dir, n + 1);
  return true;
}

bool CreateTempFileName(const char* dir, const char* prefix, char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  // GetTempFileNameA writes up to MAX_PATH characters; unique number 0 makes
  // it pick a free name and create the file empty.
  char name[MAX_PATH + 1] = {0};
  if (GetTempFileNameA(dir, prefix, 0, name) == 0) {
    DWORD err = GetLastError();
    DbgTrace("GetTempFileNameA(%s) failed, error %lu (%s)\n", dir, static_cast<unsigned long>(err),
             OsErrorText(err).c_str());
    return false;
  }
  size_t len = strlen(name);
  if (len >= size) {
    DeleteFileA(name);
    return false;
  }
  memcpy(out, name, len + 1);
  NoteTempFile(out);
  return true;
}

bool DeleteFilePath(const char* path) {
  ForgetTempFile(path);
  return DeleteFileA(path) != 0;
}
