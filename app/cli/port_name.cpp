#include "app/cli/port_name.h"

#include <cctype>

#include "serial/net_port_name.h"

namespace {

constexpr int32_t kMaxComport = 255;

// A decimal number 1..kMaxComport, nothing else.
bool ComNumber(const std::string& digits, int32_t* out) {
  if (digits.empty() || digits.size() > 3) return false;
  int32_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > kMaxComport) return false;
  *out = n;
  return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size()) return false;
    if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool ParsePortName(const std::string& text, bool paths, PortName* out, std::string* error) {
  PortName port;
  port.text = text;
  if (text.empty()) {
    *error = "empty port name";
    return false;
  }
  if (IsNetPortName(text.c_str())) {
    port.address = NetPortAddress(text);
    if (!port.address.problem.empty()) {
      *error = port.address.problem;
      return false;
    }
    port.device = text;
    *out = port;
    return true;
  }
  std::string com = text;
  if (StartsWithNoCase(com, "\\\\.\\")) com = com.substr(4);
  if (StartsWithNoCase(com, "COM")) {
    if (!ComNumber(com.substr(3), &port.comport)) {
      *error = "bad port name \"" + text + "\": COM ports are COM1 to COM255";
      return false;
    }
    port.address = ComPortAddress(port.comport);
    *out = port;
    return true;
  }
  if (text[0] >= '0' && text[0] <= '9') {
    if (!ComNumber(text, &port.comport)) {
      *error = "bad port number \"" + text + "\": 1 to 255, as the comport key counts";
      return false;
    }
    port.address = ComPortAddress(port.comport);
    *out = port;
    return true;
  }
  if (!paths) {
    *error = "bad port name \"" + text + "\": name a COM port (COM3, COM12 or 12)";
    return false;
  }
  port.device = text.find('/') == std::string::npos ? "/dev/" + text : text;
  port.address = DevicePortAddress(port.device);
  *out = port;
  return true;
}
