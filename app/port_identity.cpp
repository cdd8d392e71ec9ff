#include "app/port_identity.h"

#include <cctype>

#include "serial/net_port_name.h"

std::string PortIdentity(const std::string& name, const std::string& devRoot) {
  if (!IsNetPortName(name.c_str())) return LocalPortIdentity(name, devRoot);
  NetPortName net;
  std::string error;
  if (!ParseNetPortName(name, &net, &error)) return name;
  // One line of a console server has one TCP port, whatever the prefix.
  for (char& c : net.host) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return NetEndpointText(net);
}
