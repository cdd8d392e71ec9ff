// The exit codes of tarnwick-cli: one for each outcome a script must tell
// apart. They are documented in the README and never renumbered.
#pragma once
#include <string>

#include "app/startup.h"
#include "download/download.h"

enum ExitCode : int {
  kExitSuccess = 0,
  kExitInternal = 1,       // the program itself failed (no process could be started)
  kExitBadInput = 2,       // bad arguments, a file that cannot be read or holds no image
  kExitCannotOpen = 3,     // the port does not exist, is busy or is not a serial port
  kExitNotFound = 4,       // the console did not answer (or gave no version)
  kExitTooOld = 5,         // the running firmware is older than this utility supports
  kExitDownloadFailed = 6, // the download failed; power cycle, then retry
  kExitStopped = 7,        // a stop request (Ctrl+C, SIGTERM, SIGHUP, ...) ended the download
  kExitBootloader = 8,     // new firmware runs, its bootloader is not written: do not power cycle
  kExitPortLost = 9,       // the serial port went away (cable, adapter, power) during the download
  kExitVersionDiffers = 10, // verify: the running version is not the file's
  kExitNotCurrent = 11,     // verify: the file's version runs, but its bootloader or the factory
                            // defaults are not known to be written on this port
};

// The exit code of a download that did not succeed, by its cause. A value
// that is no cause counts as a failed download.
ExitCode ExitCodeForFailure(DownloadFailure why);
// The exit code of a download that ran, from its record; `stopped`: a stop
// request was accepted during the run. A bootloader not written comes first,
// then success, then the stop, then the cause.
ExitCode DownloadExitCode(const DownloadRecord& record, bool stopped);
// A short name for the code, as the JSON result and the summary show it
// ("success", "bad-input", ..., "bootloader-failed").
const char* ExitCodeName(int code);
// The exit code of the start-up check's result: 0, 3, 4 or 5.
int ExitCodeForCheck(DeviceCheck check);
// One port's result as the summary of a many-ports run weighs it: the exit
// code and how much of the file reached the expander ("nothing", "partly",
// "all", or "" when the port did not say).
struct PortResult {
  int code;
  std::string written;
};
// How much a port's result matters to whoever reads the summary; higher is
// more severe. In this order: a failed bootloader (8: do not power cycle);
// then every port that must be power cycled, a failed download (6) before
// a port lost (9) or stopped (7) after it had written part of the file; then
// the codes that left the expander as it was. A code this table does not
// know ranks just below those that ask for a power cycle, above every other
// failure; give a new code its place here.
int Severity(const PortResult& port);
// Of two ports' results, the one whose code the summary gives (the first
// when they weigh the same).
const PortResult& MoreSevere(const PortResult& a, const PortResult& b);
