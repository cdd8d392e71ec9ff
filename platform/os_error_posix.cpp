#include "platform/os_error.h"

#include <cstring>

std::string OsErrorText(uint32_t code) {
  const char* text = strerror(static_cast<int>(code));
  return text && *text ? std::string(text) : std::string("unknown error");
}
