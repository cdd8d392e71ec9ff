#include "app/port_identity.h"

#include <cctype>

std::string LocalPortIdentity(const std::string& name, const std::string&) {
  // COM ports keep their number across reboots; \\.\COM3 and com3 are COM3.
  std::string id = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
  for (char& c : id) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return id;
}
