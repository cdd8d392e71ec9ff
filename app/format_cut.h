// Bounded formatting for the fixed text buffers of the dialog and the boxes.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdio>

// printf-style into `buf` of `size` bytes; what does not fit is cut off
// (the text is always terminated). A wrapper rather than snprintf itself,
// whose truncation warnings would flag every deliberate cut.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
inline void FormatCut(char* buf, size_t size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, size, fmt, args);
  va_end(args);
}
