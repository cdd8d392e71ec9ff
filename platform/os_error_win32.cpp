#include "platform/os_error.h"

#include <windows.h>

std::string OsErrorText(uint32_t code) {
  char buf[512];
  // No inserts: a message with %1 in it would otherwise read arguments that
  // are not there.
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, sizeof buf, nullptr);
  std::string text(buf, n);
  // System messages end with "\r\n", and some hold line breaks of their own.
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.empty() ? std::string("unknown error") : text;
}

uint32_t LastOsError() { return GetLastError(); }
