// Where finished trace lines go. Windows: the debugger output. Linux: standard
// error when it is not a terminal, else fwdl.log beside the executable; there
// each text becomes one line.
#pragma once

// Hands one finished trace text to the platform's sink, unchanged.
void TraceSinkWrite(const char* text);
