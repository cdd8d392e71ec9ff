#include <sys/stat.h>

#include "platform/paths.h"

bool FileExists(const char* path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0;
}

bool IsFolder(const char* path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
