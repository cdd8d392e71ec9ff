// The whole download of one image file.
#pragma once
#include <cstdint>

#include "image/fw_image.h"

// Why the last fmdl_download returned false, for the front end's result text.
// The first group ends a download before download mode was entered: nothing
// was written, the expander runs as before and needs no power cycle.
enum class DownloadFailure {
  kNone,            // the last download succeeded (or none ran)
  kConsoleSilent,   // the console did not answer the status check
  kNoVersion,       // the running version could not be read
  kBadImage,        // the parse found no image to send in the file (or refused it)
  kStoppedBeforeWrite,    // a stop request (or Quit) before download mode
  kPortLostBeforeWrite,   // the serial port went away before download mode
  kNotWritten,      // any other failure before download mode (no temporary folder)
  // Download mode was entered.
  kFailed,          // any other failure: an image failed, a stop request, no answer after a reboot
  kNotConfirmed,    // every firmware attempt rebooted into the version that ran before
  kBootloader,      // a bootloader image failed (the firmware before it may be new)
  kPortLost,        // the serial port went away (cable, adapter) before the bootloader
  kPortLostInBootloader,  // the serial port went away while a bootloader image was written
  kPortLostAtEnd,   // every image was accepted; the port went while download mode was left
};
// True for the failures that wrote nothing (the first group above).
bool NothingWritten(DownloadFailure why);
// Set by fmdl_download on the worker thread before it returns.
DownloadFailure LastDownloadFailure();
// The firmware attempts the last download made on the path with rebooting.
uint32_t LastFirmwareAttempts();

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
