// What only Linux can tell about a port before it is opened: permissions,
// other processes, ModemManager and the USB adapter behind it.
#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/cli/doctor.h"
#include "app/cli/exit_codes.h"
#include "serial/port_holders.h"
#include "serial/usb_latency.h"

namespace {

DoctorFinding AccessFinding(const ResolvedPort& port) {
  DoctorFinding f;
  f.check = "access";
  if (access(port.display.c_str(), R_OK | W_OK) == 0) {
    f.text = "you may open it";
    return f;
  }
  struct stat st;
  std::string groupName = "dialout";
  if (stat(port.display.c_str(), &st) == 0) {
    if (const struct group* g = getgrgid(st.st_gid)) groupName = g->gr_name;
  }
  f.level = FindingLevel::kBlock;
  f.code = kExitCannotOpen;
  f.text = "you may not open it: it belongs to the group " + groupName;
  f.remedy = "sudo usermod -aG " + groupName + " $USER, then log in again";
  return f;
}

DoctorFinding HoldersFinding(const DoctorRoots& roots, const ResolvedPort& port) {
  DoctorFinding f;
  f.check = "holders";
  const std::vector<PortHolder> holders = FindPortHolders(roots.proc, port.display);
  if (holders.empty()) {
    f.text = "no other program has it open";
    return f;
  }
  f.level = FindingLevel::kBlock;
  f.code = kExitCannotOpen;
  f.text = "in use by";
  for (size_t i = 0; i < holders.size(); ++i) {
    f.text += (i ? ", " : " ") + (holders[i].name.empty() ? std::string("?") : holders[i].name) +
              " (process " + std::to_string(holders[i].pid) + ")";
  }
  f.remedy = HeldPortHint(holders);
  return f;
}

bool ModemManagerRuns(const std::string& procRoot) {
  bool found = false;
  if (DIR* d = opendir(procRoot.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
      std::ifstream in(procRoot + "/" + e->d_name + "/comm");
      std::string name;
      if (std::getline(in, name) && name == "ModemManager") {
        found = true;
        break;
      }
    }
    closedir(d);
  }
  return found;
}

// udev keeps each device's properties in a file named by its numbers.
bool Told(const std::string& udevRoot, const ResolvedPort& port) {
  struct stat st;
  if (stat(port.display.c_str(), &st) != 0) return false;
  char name[48];
  snprintf(name, sizeof name, "/c%u:%u", major(st.st_rdev), minor(st.st_rdev));
  std::ifstream in(udevRoot + name);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "E:ID_MM_DEVICE_IGNORE=1") return true;
  }
  return false;
}

DoctorFinding ModemManagerFinding(const DoctorRoots& roots, const ResolvedPort& port,
                                  const PortInfo* info) {
  DoctorFinding f;
  f.check = "modemmanager";
  if (!ModemManagerRuns(roots.proc)) {
    f.text = "ModemManager does not run";
  } else if (Told(roots.udev, port)) {
    f.text = "ModemManager runs and is told to leave this adapter alone";
  } else {
    // It opens new adapters to look for a modem and reads what arrives.
    f.level = FindingLevel::kWarn;
    f.text = "ModemManager runs and is not told to leave this adapter alone";
    const std::string vendor = info && !info->vendorId.empty() ? info->vendorId : "VVVV";
    const std::string product = info && !info->productId.empty() ? info->productId : "PPPP";
    f.remedy = "a udev rule in /etc/udev/rules.d/70-tarnwick.rules: ATTRS{idVendor}==\"" +
               vendor + "\", ATTRS{idProduct}==\"" + product +
               "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"; then sudo udevadm control --reload and plug "
               "the adapter in again";
  }
  return f;
}

DoctorFinding AdapterFinding(const ResolvedPort& port, const UsbLatency& found,
                             const PortInfo* info, bool eventChar) {
  DoctorFinding f;
  f.check = "adapter";
  std::string who;
  if (info) {
    who = info->manufacturer;
    if (!info->product.empty()) who += (who.empty() ? "" : " ") + info->product;
    if (!info->vendorId.empty()) who += " (" + info->vendorId + ":" + info->productId + ")";
    if (!info->driver.empty()) who += ", driver " + info->driver;
  }
  f.text = "USB adapter" + (who.empty() ? std::string() : " " + who);
  f.text += found.timerMs >= 0 ? ", latency timer " + std::to_string(found.timerMs) + " ms"
                               : ", latency timer unknown";
  f.text += !found.eventChar           ? ", no event character"
            : found.eventCharWritable ? ", event character may be set"
                                      : ", event character needs root";
  if (found.timerMs <= kMaxGoodLatencyMs) return f;
  // A writable timer is lowered to 1 ms by the port itself when it opens.
  if (found.timerWritable) {
    f.text += "; tarnwick sets the timer to 1 ms while it has the port (then " +
              LatencyCostText(1, false) + ")";
    return f;
  }
  const bool evOn = eventChar && found.eventCharWritable;
  f.level = FindingLevel::kWarn;
  f.text += "; " + LatencyCostText(found.timerMs, evOn);
  f.remedy = LatencyRemedy(port.display, false, evOn);
  return f;
}

}  // namespace

std::vector<DoctorFinding> PlatformFindings(const DoctorRoots& roots, const ResolvedPort& port,
                                            bool eventChar) {
  std::vector<DoctorFinding> findings;
  findings.push_back(AccessFinding(port));
  findings.push_back(HoldersFinding(roots, port));
  const UsbLatency found = InspectUsbLatency(roots.sys, port.display);
  if (!found.usb) {
    DoctorFinding f;
    f.check = "adapter";
    f.text = "no USB adapter (a built-in UART or a pseudo-terminal): no latency timer";
    findings.push_back(f);
    return findings;
  }
  const PortInfo info = DescribeSerialPort(port.display, roots.sys, roots.dev);
  findings.push_back(ModemManagerFinding(roots, port, &info));
  findings.push_back(AdapterFinding(port, found, &info, eventChar));
  return findings;
}
