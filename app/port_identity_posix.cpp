#include "app/port_identity.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>


namespace {

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

}  // namespace

std::string LocalPortIdentity(const std::string& name, const std::string& devRoot) {
  const std::string device = RealPath(name);
  if (device.empty()) return name;
  const std::string byId = devRoot + "/serial/by-id";
  if (DIR* dir = opendir(byId.c_str())) {
    std::string found;
    while (const dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      const std::string link = byId + "/" + e->d_name;
      // The smallest name wins, so that two links to one device (an
      // interface number in one) always give the same identity.
      if (RealPath(link) == device && (found.empty() || link < found)) found = link;
    }
    closedir(dir);
    if (!found.empty()) return found;
  }
  return device;
}
