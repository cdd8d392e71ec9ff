// The line settings the Windows port applies; Windows code only.
#pragma once
#include <windows.h>

// The device control block for the expander's line: 115200 baud, 8N1, binary,
// DTR and RTS raised, every other field zero (the port's current settings are
// not read first). With `eventChar` its EvtChar is '*', the expander's
// acknowledgement: a USB adapter whose driver passes the event character on
// sends what it holds as soon as one arrives, instead of at the end of its
// latency timer. Nothing else differs.
DCB PortLineSettings(bool eventChar);

// Every SetCommState of the port goes through the setter; tests put a
// recorder in place of the system's (nullptr puts the system's back).
using CommStateSetter = BOOL(WINAPI*)(HANDLE port, DCB* dcb);
void SetCommStateSetter(CommStateSetter setter);
