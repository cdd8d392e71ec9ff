#include "platform/trace_sink.h"

#include <windows.h>

void TraceSinkWrite(const char* text) { OutputDebugStringA(text); }
