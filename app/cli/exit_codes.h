// The exit codes of tarnwick-cli: one for each outcome a script must tell
// apart. They are documented in the README and never renumbered.
#pragma once
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

// The exit code of a download that did not succeed, by its cause. A cause
// this table does not know yet counts as a failed download.
ExitCode ExitCodeForFailure(DownloadFailure why);
// A short name for the code, as the JSON result and the summary show it
// ("success", "bad-input", ..., "bootloader-failed").
const char* ExitCodeName(int code);
// Of two failures of a run over many ports, the one that matters more to
// whoever reads the summary (the bootloader failure above all).
int MoreSevere(int a, int b);
