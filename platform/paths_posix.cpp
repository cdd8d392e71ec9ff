#include "platform/paths.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

char PathSeparator() { return '/'; }

bool GetExeDir(char* out, size_t size) {
  if (size == 0) return false;
  char exe[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
  if (n <= 0) {
    out[0] = '\0';
    return false;
  }
  exe[n] = '\0';
  char* slash = strrchr(exe, '/');
  if (slash) slash[1] = '\0';
  snprintf(out, size, "%s", exe);
  return true;
}
