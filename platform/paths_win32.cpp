#include "platform/paths.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <string>

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

namespace {

// True if `dir` lies inside the system folder `csidl` (Program Files).
bool InsideFolder(const char* dir, int csidl) {
  char folder[MAX_PATH] = {0};
  if (SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return false;
  size_t n = strlen(folder);
  return n > 0 && _strnicmp(dir, folder, n) == 0 && (dir[n] == '\\' || dir[n] == '\0');
}

}  // namespace

bool IsDirWritable(const char* dir) {
  // Installed programs: even an administrator's copy keeps its settings in
  // the user's folder, where a program without elevation can write them.
  if (InsideFolder(dir, CSIDL_PROGRAM_FILES) || InsideFolder(dir, CSIDL_PROGRAM_FILESX86)) {
    return false;
  }
  DWORD attr = GetFileAttributesA(dir);
  if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY) ||
      (attr & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  // The folder's permissions decide; the only sure test is to create a file.
  char probe[MAX_PATH];
  if (GetTempFileNameA(dir, "fwd", 0, probe) == 0) return false;
  DeleteFileA(probe);
  return true;
}

bool GetUserAppDir(AppFileKind kind, char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  const bool local = kind == AppFileKind::kHistory;
  char base[MAX_PATH] = {0};
  DWORD n = GetEnvironmentVariableA(local ? "LOCALAPPDATA" : "APPDATA", base, sizeof base);
  if (n == 0 || n >= sizeof base) {
    if (SHGetFolderPathA(nullptr, (local ? CSIDL_LOCAL_APPDATA : CSIDL_APPDATA) | CSIDL_FLAG_CREATE,
                         nullptr, SHGFP_TYPE_CURRENT, base) != S_OK) {
      return false;
    }
  }
  std::string dir = std::string(base);
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  dir += "tarnwick\\";
  if (dir.size() >= size) return false;
  if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  snprintf(out, size, "%s", dir.c_str());
  return true;
}

bool GetUserDocumentsDir(char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  char folder[MAX_PATH] = {0};
  if (SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
    return false;
  }
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  if (dir.size() >= size) return false;
  snprintf(out, size, "%s", dir.c_str());
  return true;
}
