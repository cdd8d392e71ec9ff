// The stable identity of a port, as the download history keys it: the same
// text for the same serial line whatever name it was opened by, and across
// reboots where the system gives one.
#pragma once
#include <string>

// A console server's port: "HOST:PORT". Linux: the /dev/serial/by-id name of
// the device (USB adapters; it holds the adapter's serial number), else the
// device's resolved path (/dev/ttyS0, a pseudo-terminal). Windows: the COM
// name in capitals. `devRoot` is where /dev lives (tests pass a tree of their own).
std::string PortIdentity(const std::string& name, const std::string& devRoot = "/dev");
// The part for a local port, one per platform.
std::string LocalPortIdentity(const std::string& name, const std::string& devRoot);
