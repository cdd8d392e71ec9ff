// The serial line of a console server, reached over TCP: the backend for the
// port names of serial/net_port_name.h. Raw names carry the line's bytes as
// they are; rfc2217 names speak telnet and set the line's settings first.
#pragma once
#include <cstdint>

#include "serial/serial_port.h"

// How long a connection may take to be made, and how long the server may
// take to answer each step of the telnet negotiation (ms).
constexpr uint32_t kNetConnectTimeoutMs = 10000;
constexpr uint32_t kNetAnswerTimeoutMs = 3000;

// The one network port of the process. Open connects to the console
// server's port of the address it is given.
SerialBackend& NetSerialBackend();
