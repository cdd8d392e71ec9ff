#include <string>

#include "app/cli/ports.h"

#include <cctype>

#include "serial/net_port_name.h"

std::string PortLine(const PortInfo& port) {
  std::string line = port.name;
  if (!port.vendorId.empty()) line += "  usb " + port.vendorId + ":" + port.productId;
  if (!port.serial.empty()) line += " serial=" + port.serial;
  std::string label = port.manufacturer;
  if (!port.product.empty()) label += (label.empty() ? "" : " ") + port.product;
  if (!label.empty()) line += " \"" + label + "\"";
  if (!port.driver.empty()) line += "  driver=" + port.driver;
  if (!port.byId.empty()) line += "  by-id=" + port.byId;
  if (!port.device.empty()) line += "  " + port.device;
  return line;
}

bool ResolveNetPort(const PortName& name, ResolvedPort* out) {
  if (name.address.kind != PortAddress::Kind::kNet || !name.address.problem.empty()) return false;
  NetPortName net = name.address.net;
  ResolvedPort port;
  port.display = name.device;
  // One line of a console server has one TCP port, whatever the name's prefix.
  std::string host = net.host;
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  net.host = host;
  port.key = "net:" + NetEndpointText(net);
  port.address = name.address;
  *out = port;
  return true;
}
