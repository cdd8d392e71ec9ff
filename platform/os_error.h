// The operating system's own words for an error number, for trace lines:
// "CreateFileA(\\.\COM3): error 5 (Access is denied.)".
#pragma once
#include <cstdint>
#include <string>

// The system's message for `code` (Windows: a GetLastError() value; elsewhere
// an errno value), on one line without a line end. "unknown error" when the
// system has none. Any thread; never fails.
std::string OsErrorText(uint32_t code);

// The calling thread's last error of the system's calls: errno, or
// GetLastError() on Windows. Read it before any other call can change it.
uint32_t LastOsError();
