// The whole download of one image file.
#pragma once
#include <cstdint>

#include "image/fw_image.h"

// True when the file was downloaded (and, on the path with rebooting, the
// bootloader too once the new firmware was confirmed). Runs on the download
// worker, reports through the dialog API (status, progress, retry
// statistics) and returns false after a stop request.
bool fmdl_download(const char* path);
// One download sequence over `numimages` consecutive entries from `first`:
// clears the retry statistics, enters download mode, sends each image through
// a temporary file, then the terminating header. True when every image was
// accepted (the terminating header's outcome does not count); false for no
// images, a stop request or the first failed image.
bool fmdl_downloadimages(const FW_IMAGE* first, uint32_t numimages);
