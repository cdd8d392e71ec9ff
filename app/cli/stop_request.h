// Ctrl+C and SIGTERM as the Stop button.
#pragma once

#include "app/cli/console_io.h"

// The decision for one stop request, safe in a signal handler: refused
// (false) while the bootloader image is being written, as Stop and Quit are
// in the dialog, however often it comes; otherwise sets g_bStopDl and
// returns true.
bool DecideStopRequest();
// True once a stop request was accepted since the program started.
bool StopWasRequested();
// The dialog's text for a refused request.
extern const char kStopRefusedText[];

// For every command that opens a port: from here on Ctrl+C, SIGTERM, SIGHUP
// and SIGQUIT (on Windows Ctrl+C, Ctrl+Break and a closed console) are stop
// requests decided by DecideStopRequest, never the end of the process, so
// the command always ends through its own close of the port, which puts the
// adapter's settings back. `notify` is told of each decision as
// InstallStopHandler says. Installs once; later calls do nothing.
void CatchStopRequests(StopNotify notify);
// The result text of a command other than download that a stop request cut
// short: nothing was written to the expander's flash.
extern const char kStoppedCheckText[];
