#include "serial/port_holders.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// Device numbers of the pseudo-terminal multiplexer (/dev/ptmx, whose every
// open is the master side of a new pair) and of the pairs' device sides
// (/dev/pts/<n>: majors 136 to 143, n = (major - 136) * 256 + minor).
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;
constexpr unsigned kPtsFirstMajor = 136;
constexpr unsigned kPtsMajors = 8;

// The pseudo-terminal number of device `rdev`, -1 for any other device.
long PtyIndex(dev_t rdev) {
  const unsigned maj = major(rdev);
  if (maj < kPtsFirstMajor || maj >= kPtsFirstMajor + kPtsMajors) return -1;
  return static_cast<long>((maj - kPtsFirstMajor) * 256 + minor(rdev));
}

bool AllDigits(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

std::string ReadName(const std::string& procDir) {
  std::ifstream in(procDir + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// The pseudo-terminal whose master side descriptor `fd` is, from its fdinfo
// ("tty-index:"), -1 if it says none.
long MasterIndex(const std::string& procDir, const char* fd) {
  std::ifstream in(procDir + "/fdinfo/" + fd);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("tty-index:", 0) == 0) return strtol(line.c_str() + 10, nullptr, 10);
  }
  return -1;
}

struct FdScan {
  bool readable = false;
  bool holdsDevice = false;
  bool holdsMaster = false;
};

// The device looked for. Pseudo-terminals of different instances of their
// file system (containers) share device numbers, so for them the file
// system must match too.
struct Wanted {
  dev_t rdev;
  dev_t fs;
  long ptyIndex;  // -1 unless a pseudo-terminal's device side
  bool Is(const struct stat& st) const {
    return st.st_rdev == rdev && (ptyIndex < 0 || st.st_dev == fs);
  }
};

FdScan ScanDescriptors(const std::string& procDir, const Wanted& wanted) {
  FdScan scan;
  const std::string fdDir = procDir + "/fd";
  DIR* dir = opendir(fdDir.c_str());
  if (dir == nullptr) return scan;  // gone, or not ours to read
  scan.readable = true;
  while (dirent* e = readdir(dir)) {
    if (!AllDigits(e->d_name)) continue;
    const std::string link = fdDir + "/" + e->d_name;
    // Only device nodes are looked at: stat on a descriptor of a file on a
    // network share could wait for the server.
    char target[64];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n < 5) continue;
    target[n] = '\0';
    if (strncmp(target, "/dev/", 5) != 0) continue;
    struct stat st;
    if (stat(link.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (wanted.Is(st)) {
      scan.holdsDevice = true;
    } else if (wanted.ptyIndex >= 0 && st.st_rdev == makedev(kPtmxMajor, kPtmxMinor) &&
               MasterIndex(procDir, e->d_name) == wanted.ptyIndex) {
      scan.holdsMaster = true;
    }
  }
  closedir(dir);
  return scan;
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& procRoot, const std::string& device,
                                        std::vector<PortHolder>* hidden) {
  std::vector<PortHolder> holders;
  struct stat st;
  if (stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return holders;
  const Wanted wanted{st.st_rdev, st.st_dev, PtyIndex(st.st_rdev)};
  const int self = static_cast<int>(getpid());
  DIR* proc = opendir(procRoot.c_str());
  if (proc == nullptr) return holders;
  while (dirent* e = readdir(proc)) {
    if (!AllDigits(e->d_name)) continue;
    const int pid = atoi(e->d_name);
    if (pid == self) continue;
    const std::string procDir = procRoot + "/" + e->d_name;
    const FdScan scan = ScanDescriptors(procDir, wanted);
    if (scan.holdsDevice && !scan.holdsMaster) holders.push_back({pid, ReadName(procDir)});
    if (!scan.readable && hidden != nullptr) hidden->push_back({pid, ReadName(procDir)});
  }
  closedir(proc);
  std::sort(holders.begin(), holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

std::string HeldPortHint(const std::vector<PortHolder>& holders) {
  // A few names are enough to act on; the trace lists every one.
  constexpr size_t kNamed = 3;
  std::string who;
  bool modemManager = false;
  for (size_t i = 0; i < holders.size(); ++i) {
    const PortHolder& h = holders[i];
    if (h.name == "ModemManager") modemManager = true;
    if (i >= kNamed) continue;
    if (i > 0) who += ", ";
    who += (h.name.empty() ? std::string("a program") : h.name) + " (process " +
           std::to_string(h.pid) + ")";
  }
  if (holders.size() > kNamed) who += " and " + std::to_string(holders.size() - kNamed) + " more";
  const bool one = holders.size() == 1;
  std::string text = std::string(one ? "The port is in use by another program: "
                                     : "The port is in use by other programs: ") +
                     who + ".";
  if (modemManager) {
    // It opens every new serial adapter to look for a modem, and does so
    // again whenever the adapter is plugged in.
    text +=
        " ModemManager probes serial adapters for modems; make it leave this one alone with a "
        "udev rule, for example in /etc/udev/rules.d/70-tarnwick.rules: ATTRS{idVendor}==\"0403\", "
        "ATTRS{idProduct}==\"6001\", ENV{ID_MM_DEVICE_IGNORE}=\"1\" (your adapter's numbers, "
        "from lsusb), then sudo udevadm control --reload and plug the adapter in again.";
  } else {
    text += one ? " Close it, then try again." : " Close them, then try again.";
  }
  return text;
}
