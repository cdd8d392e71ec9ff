// What the command-line front end asks of the console it runs in: whether
// its output is a terminal, and Ctrl+C turned into a stop request (SIGINT,
// SIGTERM, SIGHUP, SIGQUIT; on Windows Ctrl+C, Ctrl+Break, and a closed
// console, a logoff or a shutdown, for which the handler holds the process
// until the run has ended; see console_hold.h).
// console_io_posix.cpp and console_io_win32.cpp keep this contract.
#pragma once

// True if standard output is a terminal (a console window on Windows).
bool StdoutIsTerminal();
// Lets the terminal move the cursor by escape sequences; false where it
// cannot (an old Windows console), and the caller draws without them.
bool EnableTerminalEscapes();

// Decides what one stop signal or console event does; called in the signal
// handler, so it may only touch lock-free atomics. Returns false if the
// request was refused.
using StopDecision = bool (*)();
// Told of each decision afterwards, on an ordinary thread (not in the
// handler), so it may print and lock.
using StopNotify = void (*)(bool accepted);
// Installs the handlers. The program is never ended by these signals: the
// decision says what happens. Install once.
void InstallStopHandler(StopDecision decide, StopNotify notify);
// A broken pipe is an error on the write, not the end of the process: a
// download goes on when whoever read its output has gone. (No-op on Windows.)
void IgnoreBrokenPipe();
