#include "platform/paths.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>

char PathSeparator() { return '\\'; }

bool GetExeDir(char* out, size_t size) {
  if (size == 0) return false;
  char exe[MAX_PATH + 1] = {0};
  DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    out[0] = '\0';
    return false;
  }
  PathRemoveFileSpecA(exe);
  PathAddBackslashA(exe);
  snprintf(out, size, "%s", exe);
  return true;
}
