#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

bool IsDirWritable(const char* dir) {
  // Where the package manager puts programs; root could write there, but a
  // settings file does not belong beside /usr/bin/tarnwick.
  for (const char* system : {"/usr/", "/bin/", "/sbin/"}) {
    if (strncmp(dir, system, strlen(system)) == 0) return false;
  }
  struct stat st;
  if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // access() lets root write anywhere: a folder without any write bit counts
  // as read-only for root too.
  if ((st.st_mode & 0222) == 0) return false;
  return access(dir, W_OK) == 0;
}

bool GetUserAppDir(AppFileKind kind, char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  const bool settings = kind == AppFileKind::kSettings;
  std::string base;
  // The base-directory rules: a relative value is to be ignored.
  const char* xdg = getenv(settings ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      const passwd* pw = getpwuid(getuid());
      home = pw ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') return false;
    base = std::string(home) + (settings ? "/.config" : "/.local/state");
  }
  const std::string dir = base + "/tarnwick/";
  if (dir.size() >= size) return false;
  // Each missing level in turn, private to the user as the rules ask.
  for (size_t at = 1; at < dir.size(); ++at) {
    if (dir[at] != '/') continue;
    const std::string level = dir.substr(0, at);
    if (mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  snprintf(out, size, "%s", dir.c_str());
  return true;
}

bool GetUserDocumentsDir(char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return false;
  std::string dir = home;
  if (dir.back() != '/') dir += '/';
  if (dir.size() >= size) return false;
  snprintf(out, size, "%s", dir.c_str());
  return true;
}
