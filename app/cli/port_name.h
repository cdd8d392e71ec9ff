// Ports as users name them: a device path, a by-id path, COM3, COM12, a
// number as in the comport key of fwdl.ini, or a console server's port
// (socket://HOST:PORT, tcp://HOST:PORT, rfc2217://HOST:PORT).
#pragma once
#include <cstdint>
#include <string>

#include "serial/serial_port.h"

struct PortName {
  std::string text;     // as given
  int32_t comport = 0;  // the comport number for COMn, \\.\COMn or n; 0 for a path
  std::string device;   // the device path for a path (Linux only), the name as given for a
                        // console server's port; "" for a number
  PortAddress address;  // the port itself, the console server's name parsed
};

// Parses `text`. A number n and COMn (any letter case, also \\.\COMn) give
// comport n (1 to 255). With `paths` (Linux), a name with a '/' is a device
// path and a bare name such as ttyUSB0 means /dev/ttyUSB0 (ResolvePort
// looks for ./ttyUSB0 first); without it
// (Windows) they are errors. A console server's port is taken on both, and
// checked strictly. False with a one-line `error` otherwise.
bool ParsePortName(const std::string& text, bool paths, PortName* out, std::string* error);
