#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

std::string OsErrorText(uint32_t code) {
  const char* text = strerror(static_cast<int>(code));
  return text && *text ? std::string(text) : std::string("unknown error");
}

uint32_t LastOsError() { return static_cast<uint32_t>(errno); }
