// Names of serial lines on a console server: socket://HOST:PORT and
// tcp://HOST:PORT (raw TCP, the server's side of the line set up already) and
// rfc2217://HOST:PORT (telnet with the COM port option: this program sets the
// line itself). HOST is a name, an IPv4 address or an IPv6 address in square
// brackets; PORT is 1 to 65535.
#pragma once
#include <cstdint>
#include <string>

enum class NetPortKind { kRaw, kRfc2217 };

struct NetPortName {
  NetPortKind kind = NetPortKind::kRaw;
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 0;
};

// True when `text` begins with one of the three prefixes (in any letter case):
// then it names a network port, well formed or not.
bool IsNetPortName(const char* text);
// Parses a network port name. False with a one-line `error` for anything
// that is not exactly PREFIX HOST:PORT.
bool ParseNetPortName(const std::string& text, NetPortName* out, std::string* error);
// HOST:PORT as texts show it ("[::1]:2001" for IPv6).
std::string NetEndpointText(const NetPortName& name);
