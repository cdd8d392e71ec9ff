// The whole download of one image file.
#pragma once
#include <cstdint>

#include "image/fw_image.h"
#include "platform/report.h"

// Why the last fmdl_download returned false: DownloadFailure, defined with
// the report's DownloadRecord in platform/report.h.
// True for the failures that wrote nothing (the first group above).
bool NothingWritten(DownloadFailure why);
// Set by fmdl_download on the worker thread before it returns.
DownloadFailure LastDownloadFailure();
// The firmware attempts the last download made on the path with rebooting.
uint32_t LastFirmwareAttempts();
// The last download's record for the report, its text left empty: the
// outcome and cause, how much was written, the attempts, and the versions
// read before and after (after: on the path with rebooting, once read).
DownloadRecord LastDownloadRecord();

// The factory defaults of the download that just ended, for its record:
// whether they were due and whether they were written. Called by the front
// end's download step after fmdl_download.
void NoteFactoryDefaults(bool due, bool written);

// Puts back what a download leaves in the process-wide state: the bootloader
// and terminating-header flags, the retry counters, the progress count and the
// last result (LastDownloadFailure, LastFirmwareAttempts). The stop request is
// the front end's and stays as it is: a stop asked for before a download began
// must still stop it. Called at the start of every fmdl_download, and by tests.
void ResetDownloadState();

// True when the file was downloaded (and, on the path with rebooting, the
// bootloader too once the new firmware was confirmed). Runs on the download
// worker, reports through the dialog API (status, progress, retry
// statistics) and returns false after a stop request. Ends within moments
// once the port is lost (IsComLost), sending nothing more.
bool fmdl_download(const char* path);
// One download sequence over `numimages` consecutive entries from `first`:
// clears the retry statistics, enters download mode, sends each image through
// a temporary file, then the terminating header. True when every image was
// accepted (the terminating header's outcome does not count); false for no
// images, a stop request or the first failed image.
bool fmdl_downloadimages(const FW_IMAGE* first, uint32_t numimages);
