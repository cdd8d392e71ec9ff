#include "config/profile.h"

#include <windows.h>

#include <cstring>

#include "platform/files.h"

namespace {
bool HasLineBreak(const char* s) { return strpbrk(s, "\r\n") != nullptr; }

// The system functions take a DWORD size; a zero size must not reach them as
// "no limit".
DWORD ClampSize(size_t size) {
  return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(size);
}
}  // namespace

uint32_t ProfileGetString(const char* path, const char* section, const char* key,
                          const char* def, char* out, size_t size) {
  if (size == 0) return 0;
  return GetPrivateProfileStringA(section, key, def, out, ClampSize(size), path);
}

uint32_t ProfileGetInt(const char* path, const char* section, const char* key, int32_t def) {
  return GetPrivateProfileIntA(section, key, def, path);
}

bool ProfileWriteString(const char* path, const char* section, const char* key,
                        const char* value) {
  // The system function writes a line break inside a value as it stands,
  // which would put a line of the value's own into the file.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (WritePrivateProfileStringA(section, key, value, path) != FALSE) return true;
  SetLastFileError(GetLastError());
  return false;
}
