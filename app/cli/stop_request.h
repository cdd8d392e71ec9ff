// Ctrl+C and SIGTERM as the Stop button.
#pragma once

// The decision for one stop request, safe in a signal handler: refused
// (false) while the bootloader image is being written, as Stop and Quit are
// in the dialog, however often it comes; otherwise sets g_bStopDl and
// returns true.
bool DecideStopRequest();
// True once a stop request was accepted since the program started.
bool StopWasRequested();
// The dialog's text for a refused request.
extern const char kStopRefusedText[];
