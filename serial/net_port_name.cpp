#include "serial/net_port_name.h"

#include <cctype>
#include <cstring>

namespace {

struct Prefix {
  const char* text;
  NetPortKind kind;
};
constexpr Prefix kPrefixes[] = {
    {"socket://", NetPortKind::kRaw},
    {"tcp://", NetPortKind::kRaw},
    {"rfc2217://", NetPortKind::kRfc2217},
};

// The prefix `text` starts with, or null.
const Prefix* FindPrefix(const char* text) {
  for (const Prefix& p : kPrefixes) {
    const size_t n = strlen(p.text);
    size_t i = 0;
    while (i < n && text[i] != '\0' &&
           std::tolower(static_cast<unsigned char>(text[i])) == p.text[i]) {
      ++i;
    }
    if (i == n) return &p;
  }
  return nullptr;
}

bool HostNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool Ipv6Char(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

}  // namespace

bool IsNetPortName(const char* text) { return text != nullptr && FindPrefix(text) != nullptr; }

bool ParseNetPortName(const std::string& text, NetPortName* out, std::string* error) {
  const Prefix* prefix = FindPrefix(text.c_str());
  if (prefix == nullptr) {
    *error = "\"" + text + "\" is no network port (socket://, tcp:// or rfc2217://)";
    return false;
  }
  const std::string form = std::string(prefix->text) + "HOST:PORT";
  const std::string bad = "bad network port \"" + text + "\": ";
  // The settings keep a port's name in 260 bytes.
  if (text.size() > 259) {
    *error = bad + "longer than 259 characters";
    return false;
  }
  std::string rest = text.substr(strlen(prefix->text));
  NetPortName name;
  name.kind = prefix->kind;
  size_t colon;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      *error = bad + "the IPv6 address has no closing ]";
      return false;
    }
    name.host = rest.substr(1, close - 1);
    if (name.host.empty() || name.host.find(':') == std::string::npos) {
      *error = bad + "no IPv6 address between [ and ]";
      return false;
    }
    for (char c : name.host) {
      if (!Ipv6Char(c)) {
        *error = bad + "the IPv6 address holds '" + std::string(1, c) + "'";
        return false;
      }
    }
    colon = close + 1;
    if (colon >= rest.size() || rest[colon] != ':') {
      *error = bad + "write " + form + " (the port number is missing)";
      return false;
    }
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) {
      *error = bad + "write " + form + " (the port number is missing)";
      return false;
    }
    name.host = rest.substr(0, colon);
    if (name.host.empty()) {
      *error = bad + "write " + form + " (the host is missing)";
      return false;
    }
    for (char c : name.host) {
      if (!HostNameChar(c)) {
        *error = bad + "the host name holds '" + std::string(1, c) + "'; write " + form;
        return false;
      }
    }
    if (name.host.size() > 253) {
      *error = bad + "the host name is longer than 253 characters";
      return false;
    }
  }
  const std::string digits = rest.substr(colon + 1);
  uint32_t port = 0;
  bool ok = !digits.empty() && digits.size() <= 5;
  for (char c : digits) {
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  if (!ok || port < 1 || port > 65535) {
    *error = bad + "the port must be a number from 1 to 65535, with nothing after it";
    return false;
  }
  name.port = static_cast<uint16_t>(port);
  *out = name;
  return true;
}

std::string NetEndpointText(const NetPortName& name) {
  const bool v6 = name.host.find(':') != std::string::npos;
  return (v6 ? "[" + name.host + "]" : name.host) + ":" + std::to_string(name.port);
}
