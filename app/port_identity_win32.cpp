#include "app/port_identity.h"

#include <cctype>

std::string LocalPortIdentity(const std::string& name, const std::string&) {
  // COM ports keep their number across reboots; \\.\COM3, com3 and the
  // dialogs' "COM 3" are all COM3.
  const std::string bare = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
  std::string id;
  for (char c : bare) {
    if (c != ' ') id += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  }
  return id;
}
