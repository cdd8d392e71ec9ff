// Serial ports on Linux: the tty class in sysfs says which ttyS* have a UART
// and which USB device a ttyUSB* or ttyACM* belongs to; /dev/serial/by-id
// holds the names that survive re-plugging.
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/cli/ports.h"

namespace {

std::vector<std::string> DirNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// The first line of a sysfs attribute, "" if there is none.
std::string ReadAttr(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

bool IsNumberedTty(const std::string& name) {
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    const size_t n = strlen(prefix);
    if (name.size() > n && name.compare(0, n, prefix) == 0 &&
        name.find_first_not_of("0123456789", n) == std::string::npos) {
      return true;
    }
  }
  return false;
}

// ttyS0 to ttyS31 exist whether or not a UART is there; the kernel's port
// type 0 means none was found.
bool HasUart(const std::string& ttyDir) {
  const std::string type = ReadAttr(ttyDir + "/type");
  return !type.empty() && type != "0";
}

// The USB device above the tty's device: the nearest parent with idVendor,
// looked for no higher than sysfs itself.
void ReadUsb(const std::string& sysRoot, const std::string& ttyDir, PortInfo* port) {
  const std::string top = RealPath(sysRoot);
  std::string dir = RealPath(ttyDir + "/device");
  while (!dir.empty() && !top.empty() && dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
    if (access((dir + "/idVendor").c_str(), R_OK) == 0) {
      port->vendorId = ReadAttr(dir + "/idVendor");
      port->productId = ReadAttr(dir + "/idProduct");
      port->serial = ReadAttr(dir + "/serial");
      port->manufacturer = ReadAttr(dir + "/manufacturer");
      port->product = ReadAttr(dir + "/product");
      return;
    }
    dir = dir.substr(0, dir.rfind('/'));
  }
}

std::string DriverName(const std::string& ttyDir) {
  const std::string driver = RealPath(ttyDir + "/device/driver");
  return driver.empty() ? std::string() : driver.substr(driver.rfind('/') + 1);
}

// The port `dev` whose tty lives in `ttyDir`, with the by-id link among
// `byIds` (names in `byIdDir`) that leads to it.
PortInfo Describe(const std::string& sysRoot, const std::string& ttyDir, const std::string& dev,
                  const std::string& byIdDir, const std::vector<std::string>& byIds) {
  PortInfo port;
  port.name = dev;
  port.driver = DriverName(ttyDir);
  ReadUsb(sysRoot, ttyDir, &port);
  const std::string target = RealPath(dev);
  for (const std::string& link : byIds) {
    if (RealPath(byIdDir + "/" + link) == target) {
      port.byId = byIdDir + "/" + link;
      break;
    }
  }
  return port;
}

}  // namespace

PortInfo DescribeSerialPort(const std::string& device, const std::string& sysRoot,
                            const std::string& devRoot) {
  const std::string real = RealPath(device);
  const std::string path = real.empty() ? device : real;
  const std::string name = path.substr(path.rfind('/') + 1);
  const std::string byIdDir = devRoot + "/serial/by-id";
  return Describe(sysRoot, sysRoot + "/class/tty/" + name, device, byIdDir, DirNames(byIdDir));
}

std::vector<PortInfo> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<PortInfo> ports;
  const std::string byIdDir = devRoot + "/serial/by-id";
  const std::vector<std::string> byIds = DirNames(byIdDir);
  for (const std::string& name : DirNames(sysRoot + "/class/tty")) {
    if (!IsNumberedTty(name)) continue;
    const std::string ttyDir = sysRoot + "/class/tty/" + name;
    const std::string dev = devRoot + "/" + name;
    if (access(dev.c_str(), F_OK) != 0) continue;
    if (name.compare(0, 4, "ttyS") == 0 && !HasUart(ttyDir)) continue;
    ports.push_back(Describe(sysRoot, ttyDir, dev, byIdDir, byIds));
  }
  // ttyS10 after ttyS9: by prefix, then by number.
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
    const size_t da = a.name.find_last_not_of("0123456789") + 1;
    const size_t db = b.name.find_last_not_of("0123456789") + 1;
    const std::string pa = a.name.substr(0, da), pb = b.name.substr(0, db);
    if (pa != pb) return pa < pb;
    return atol(a.name.c_str() + da) < atol(b.name.c_str() + db);
  });
  return ports;
}

bool PortPathsAllowed() { return true; }

bool ResolvePort(const PortName& name, ResolvedPort* out, std::string* problem) {
  if (ResolveNetPort(name, out)) return true;
  ResolvedPort port;
  // A bare name is what the user sees in this folder before it is a device
  // of /dev: ./X is tried first.
  std::string tried;
  if (name.device.empty()) {
    // What comport=n means here: the n-th on-board UART.
    char path[32];
    snprintf(path, sizeof path, "/dev/ttyS%d", static_cast<int>(name.comport) - 1);
    port.display = path;
  } else if (!name.text.empty() && name.text.find('/') == std::string::npos) {
    const std::string here = "./" + name.text;
    struct stat st;
    port.display = stat(here.c_str(), &st) == 0 ? here : name.device;
    tried = " (tried " + here + " and " + name.device + ")";
  } else {
    port.display = name.device;
  }
  if (port.display.size() >= 260) {
    *problem = "port path too long: " + port.display;
    return false;
  }
  struct stat st;
  if (stat(port.display.c_str(), &st) != 0) {
    const int err = errno;
    *problem = err == ENOENT ? "there is no serial port " +
                                   (tried.empty() ? port.display : name.text + tried)
                             : port.display + ": " + strerror(err);
    return false;
  }
  if (!S_ISCHR(st.st_mode)) {
    *problem = port.display + " is not a serial port";
    return false;
  }
  port.key = RealPath(port.display);
  if (port.key.empty()) port.key = port.display;
  port.address = DevicePortAddress(port.display);
  *out = port;
  return true;
}
