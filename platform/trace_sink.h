// Where finished trace texts go besides the trace file. Windows: the debugger
// output. Linux: standard error when it is not a terminal (a pipe or a file
// the user redirected), one line per text; on a terminal, nowhere, so that
// the terminal dialog is never drawn over.
#pragma once

// Hands one finished trace text to the platform's sink, unchanged.
void TraceSinkWrite(const char* text);
