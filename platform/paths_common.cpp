#include "platform/paths.h"

#include <cstdio>
#include <cstring>

const char* PathFileNamePart(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

bool GetAppFileDir(AppFileKind kind, char* out, size_t size) {
  char exeDir[kMaxPathText];
  if (!GetExeDir(exeDir, sizeof exeDir)) exeDir[0] = '\0';
  return ChooseAppFileDir(exeDir, kind, out, size);
}

bool ChooseAppFileDir(const char* exeDir, AppFileKind kind, char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  if (exeDir[0] != '\0' && IsDirWritable(exeDir)) {
    return snprintf(out, size, "%s", exeDir) < static_cast<int>(size);
  }
  return GetUserAppDir(kind, out, size);
}

bool GetChooserStartDir(char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  char exeDir[kMaxPathText];
  if (GetExeDir(exeDir, sizeof exeDir) && IsDirWritable(exeDir)) {
    return snprintf(out, size, "%s", exeDir) < static_cast<int>(size);
  }
  return GetUserDocumentsDir(out, size);
}
