#include <windows.h>

#include "platform/paths.h"

bool FileExists(const char* path) {
  return path != nullptr && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const char* path) {
  if (path == nullptr) return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
