// The serial ports of this machine, and a port name checked before it is
// opened. One header; ports_posix.cpp reads sysfs and /dev, ports_win32.cpp
// asks Windows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/port_name.h"

struct PortInfo {
  std::string name;          // what --port takes: /dev/ttyUSB0, COM3
  std::string byId;          // Linux: the stable /dev/serial/by-id name, "" if none
  std::string driver;        // Linux: the tty's driver (ftdi_sio, cdc_acm, serial8250)
  std::string vendorId;      // USB: idVendor, four hex digits; "" if not USB
  std::string productId;     // USB: idProduct
  std::string serial;        // USB: the serial number string, "" if none
  std::string manufacturer;  // USB
  std::string product;       // USB
  std::string device;        // Windows: the system's device (\Device\Serial0), "" if unknown
};

// Every serial port, in name order (COM ports by number). Linux looks at
// ttyS* (only those with a UART behind them), ttyUSB* and ttyACM* under
// `sysRoot`/class/tty with their device files under `devRoot`; tests pass
// folders of their own. Windows asks the system and ignores both roots.
std::vector<PortInfo> ListSerialPorts(const std::string& sysRoot = "/sys",
                                      const std::string& devRoot = "/dev");
// What `ports` would say about `device`, listed or not (a pseudo-terminal in
// a test's tree); only `name` is filled when nothing is known.
PortInfo DescribeSerialPort(const std::string& device, const std::string& sysRoot = "/sys",
                            const std::string& devRoot = "/dev");
// The port as one line of `tarnwick-cli ports`.
std::string PortLine(const PortInfo& port);

// A parsed port name resolved to the device that will be opened.
struct ResolvedPort {
  std::string display;  // the device as messages name it: /dev/ttyUSB0, COM3
  std::string key;      // equal for two names of one device (a by-id link and its target)
  PortAddress address;  // what is opened
};

// Resolves `name` without opening it (a console server's port is not
// connected to here: its key is its host and port). False with a one-line `problem` for a
// port that does not exist or is no serial device (a file, /dev/null). On
// Linux a bare name X (no '/') is looked for as ./X first, then as /dev/X;
// when neither exists the problem names both.
bool ResolvePort(const PortName& name, ResolvedPort* out, std::string* problem);
// The part of ResolvePort common to both platforms: a console server's port.
// False when `name` is none.
bool ResolveNetPort(const PortName& name, ResolvedPort* out);
// True where a port may be named by a device path (Linux).
bool PortPathsAllowed();
