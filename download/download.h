// The whole download of one image file.
#pragma once
#include <cstdint>

#include "image/fw_image.h"
#include "platform/report.h"

// True for the failures that wrote nothing (the first group of
// DownloadFailure, platform/report.h).
bool NothingWritten(DownloadFailure why);

// Runs the whole download of the image file at `path` on the download worker
// and returns how it ended: the outcome and cause, how much was written, the
// attempts, the file's digest, version record and images, the versions read
// before and after (after: on the path with rebooting, once read) and the
// advice on a power cycle. The text is left empty and the factory defaults not
// due: the front end's step after the download notes them (NoteFactoryDefaults).
// Reports through the dialog API (status, progress, retry statistics); fails
// after a stop request; ends within moments once the port is lost (IsComLost),
// sending nothing more.
DownloadRecord DownloadImageFile(const char* path);

// The factory defaults of the download that just ended, into its record:
// whether they were due and whether they were written; the advice follows.
void NoteFactoryDefaults(DownloadRecord* record, bool due, bool written);

// Puts back what a download leaves in the process-wide state: the bootloader
// and terminating-header flags, the retry counters and the progress count.
// The stop request is the front end's and stays as it is: a stop asked for
// before a download began must still stop it. Called at the start of every
// download, and by tests.
void ResetDownloadState();

// True when the file was downloaded (and, on the path with rebooting, the
// bootloader too once the new firmware was confirmed): DownloadImageFile's ok.
bool fmdl_download(const char* path);
// One download sequence over `numimages` consecutive entries from `first`:
// clears the retry statistics, enters download mode, sends each image through
// a temporary file, then the terminating header. True when every image was
// accepted (the terminating header's outcome does not count); false for no
// images, a stop request or the first failed image.
bool fmdl_downloadimages(const FW_IMAGE* first, uint32_t numimages);
