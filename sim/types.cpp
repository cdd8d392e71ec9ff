#include "sim/types.h"

#include <cstdio>

namespace sim {

bool operator==(const Version& a, const Version& b) {
  return a.major == b.major && a.minor == b.minor && a.build == b.build &&
         a.revision == b.revision;
}

std::string FormatVersion(const Version& v) {
  char text[64];
  std::snprintf(text, sizeof text, "%u.%02u.%04u.%02u", v.major, v.minor, v.build, v.revision);
  return text;
}

bool ParseVersion(const std::string& text, Version* out) {
  uint32_t parts[4] = {0, 0, 0, 0};
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    size_t digits = 0;
    uint64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
      if (value > 0xFFFFFFFFu) return false;
      ++pos;
      ++digits;
    }
    if (digits == 0) return false;
    parts[i] = static_cast<uint32_t>(value);
  }
  if (pos != text.size()) return false;
  out->major = parts[0];
  out->minor = parts[1];
  out->build = parts[2];
  out->revision = parts[3];
  return true;
}

}  // namespace sim
