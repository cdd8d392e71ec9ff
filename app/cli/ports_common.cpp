#include <string>

#include "app/cli/ports.h"

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
