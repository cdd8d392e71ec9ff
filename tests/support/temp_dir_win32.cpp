#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>

#include "support/temp_dir.h"

// mingw has no mkdtemp. CreateDirectoryA fails on a name that exists, so a
// name taken by another process (or an earlier run) is never shared: the next
// candidate is tried instead.
std::string MakeUniqueTempDir(const char* prefix) {
  char base[MAX_PATH + 1] = {0};
  const DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n >= sizeof base) return std::string();
  static std::atomic<unsigned> counter{0};
  const unsigned long pid = GetCurrentProcessId();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const unsigned long salt = GetTickCount() ^ (counter.fetch_add(1) * 2654435761u);
    char name[MAX_PATH + 1];
    const int len = snprintf(name, sizeof name, "%s%s.%lx-%08lx", base, prefix, pid, salt);
    if (len <= 0 || static_cast<size_t>(len) >= sizeof name) return std::string();
    if (CreateDirectoryA(name, nullptr)) return std::string(name);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

void SetTestEnvironment(const char* name, const char* value) { _putenv_s(name, value); }
