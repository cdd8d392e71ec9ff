#include "serial/usb_latency.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/trace.h"

const bool kOnWindows = true;
// Where the common USB adapters' driver keeps each port's settings.
const char kUsbLatencyRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

namespace {

// Below FTDIBUS each device has instances, each with "Device Parameters"
// holding PortName ("COM3") and LatencyTimer (ms, a DWORD).
bool FindPort(HKEY base, const std::string& path, const std::string& port, int depth, int* timer) {
  HKEY key;
  if (RegOpenKeyExA(base, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  bool found = false;
  char name[256] = {0};
  DWORD size = sizeof name;
  DWORD type = 0;
  if (RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ && _stricmp(name, port.c_str()) == 0) {
    DWORD value = 0;
    DWORD valueSize = sizeof value;
    if (RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &valueSize) == ERROR_SUCCESS &&
        type == REG_DWORD) {
      *timer = static_cast<int>(value);
    }
    found = true;
  }
  for (DWORD i = 0; !found && depth < 3; ++i) {
    char sub[256];
    DWORD subSize = sizeof sub;
    if (RegEnumKeyExA(key, i, sub, &subSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    found = FindPort(base, path + "\\" + sub, port, depth + 1, timer);
  }
  RegCloseKey(key);
  return found;
}

}  // namespace

UsbLatency InspectUsbLatency(const std::string& root, const std::string& device) {
  // The event character travels in the line settings; the registry says
  // nothing about it, so eventChar stays false here.
  UsbLatency found;
  // Tests keep their fake tree under HKEY_CURRENT_USER ("HKCU\\..." roots).
  HKEY base = HKEY_LOCAL_MACHINE;
  std::string path = root;
  if (path.rfind("HKCU\\", 0) == 0) {
    base = HKEY_CURRENT_USER;
    path = path.substr(5);
  }
  int timer = -1;
  if (FindPort(base, path, device, 0, &timer)) {
    found.usb = true;
    found.timerMs = timer;
  }
  return found;
}

std::string LatencyTuner::OnOpen(intptr_t, const std::string& root, const std::string& device,
                                 bool eventChar) {
  highMs_ = -1;
  // The line settings already carry the event character; whether the
  // adapter acts on it is its driver's affair.
  eventCharOn_ = eventChar;
  UsbLatency found = InspectUsbLatency(root, device);
  if (!found.usb) return std::string();
  DbgTrace("USB serial adapter on %s: latency timer %d ms\n", device.c_str(), found.timerMs);
  // The driver reads its timer from the registry when the device starts;
  // changing it takes the user's Device Manager, so this only warns.
  if (DecideLatency(found, false) != LatencyVerdict::kWarn) return std::string();
  device_ = device;
  highMs_ = found.timerMs;
  std::string warning = Warning(false);
  DbgTrace("%s\n", warning.c_str());
  return warning;
}

void LatencyTuner::OnClose(intptr_t) {}
