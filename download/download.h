// The whole download of one image file.
#pragma once
#include <cstdint>

#include "image/fw_image.h"

// True when the file was downloaded (and, on the path with rebooting, the
// bootloader too once the new firmware was confirmed).
bool fmdl_download(const char* path);
// One download sequence over `numimages` consecutive entries from `first`.
bool fmdl_downloadimages(const FW_IMAGE* first, uint32_t numimages);
