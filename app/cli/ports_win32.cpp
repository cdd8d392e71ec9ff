// Serial ports on Windows: the ports the serial drivers registered under
// HARDWARE\DEVICEMAP\SERIALCOMM, and every COMn the system knows as a DOS
// device (virtual and USB ports that are not in that key).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/cli/ports.h"

namespace {

// The number of "COMn", 0 for anything else.
int ComNumberOf(const char* name) {
  if (_strnicmp(name, "COM", 3) != 0 || name[3] == '\0') return 0;
  for (const char* p = name + 3; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
  }
  return atoi(name + 3);
}

// What the DOS device COMn stands for, "" if the system has no such device.
std::string DosTarget(int n) {
  char name[16];
  snprintf(name, sizeof name, "COM%d", n);
  char target[1024];
  if (QueryDosDeviceA(name, target, sizeof target) == 0) return std::string();
  return target;
}

void AddRegisteredPorts(std::map<int, std::string>* ports) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  for (DWORD i = 0;; ++i) {
    char value[256];
    DWORD valueLen = sizeof value;
    char data[64];
    DWORD dataLen = sizeof data - 1;
    DWORD type = 0;
    LONG r = RegEnumValueA(key, i, value, &valueLen, nullptr, &type,
                           reinterpret_cast<BYTE*>(data), &dataLen);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLen] = '\0';
    if (int n = ComNumberOf(data)) (*ports)[n] = value;
  }
  RegCloseKey(key);
}

void AddDosDevicePorts(std::map<int, std::string>* ports) {
  // The list of every DOS device name; it grows until it fits.
  std::vector<char> names(65536);
  DWORD len = 0;
  while ((len = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
         GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 24)) {
    names.resize(names.size() * 2);
  }
  for (const char* p = names.data(); p < names.data() + len && *p; p += strlen(p) + 1) {
    if (int n = ComNumberOf(p)) {
      if (ports->find(n) == ports->end()) (*ports)[n] = DosTarget(n);
    }
  }
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const std::string&, const std::string&) {
  std::map<int, std::string> found;
  AddRegisteredPorts(&found);
  AddDosDevicePorts(&found);
  std::vector<PortInfo> ports;
  for (const auto& entry : found) {
    PortInfo port;
    port.name = "COM" + std::to_string(entry.first);
    port.device = entry.second;
    ports.push_back(port);
  }
  return ports;
}

bool PortPathsAllowed() { return false; }

PortInfo DescribeSerialPort(const std::string& device, const std::string& sysRoot,
                            const std::string& devRoot) {
  for (const PortInfo& p : ListSerialPorts(sysRoot, devRoot)) {
    if (_stricmp(p.name.c_str(), device.c_str()) == 0) return p;
  }
  PortInfo port;
  port.name = device;
  return port;
}

bool ResolvePort(const PortName& name, ResolvedPort* out, std::string* problem) {
  if (ResolveNetPort(name, out)) return true;
  ResolvedPort port;
  port.display = "COM" + std::to_string(name.comport);
  if (DosTarget(name.comport).empty()) {
    *problem = "there is no " + port.display + " on this computer";
    return false;
  }
  port.key = port.display;
  port.address = ComPortAddress(name.comport);
  *out = port;
  return true;
}
