// The image table of the last parse.
#include "image/fw_image.h"

FW_IMAGE g_FwImages[kMaxImages];
uint32_t g_dwNumofImages = 0;
FW_HDR_INFO g_FwHdrInfo = {0, 0, 0, 0, 0};
std::atomic<uint32_t> g_bBootLoaderInProgress{0};
