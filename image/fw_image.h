// Firmware image files: recognition, the scan into the image table, and the
// whole-file operations the download uses.
#pragma once
#include <atomic>
#include <cstdint>

#include "image/fw_format.h"
#include "platform/report.h"  // g_dwTotalFileSize

// The image table of the last ParseFwFile: entries in use, bootloader last.
// Written by ParseFwFile on the download worker (or a tool's main thread),
// read by the download procedure on the same thread.
extern FW_IMAGE g_FwImages[kMaxImages];
extern uint32_t g_dwNumofImages;
// The last version record of that file; all zero if it has none.
extern FW_HDR_INFO g_FwHdrInfo;
// The file's size is g_dwTotalFileSize, kept with the progress display
// (platform/report.h).
//
// Set while a bootloader image is being written; Quit, Stop and the close box
// are refused meanwhile. Written by the worker, read by the dialog thread.
extern std::atomic<uint32_t> g_bBootLoaderInProgress;

// True if the file at `path` begins with my_cfg.signature (any letter case).
// False for a file that cannot be read or is shorter, and for an unusable
// signature (traced). Reads only the first bytes; called on the dialog thread.
bool IsImageFile(const char* path);
// Reads the whole file and fills the image table (bootloader last), the
// version record and g_dwTotalFileSize; starts a new progress count. A file
// that cannot be read, or holds more images than the table, leaves the
// table empty; one too large to hold raises
// the out-of-memory box (AppMessageBox) and leaves it empty. The table points
// into a buffer kept until FreeFwFileBuffer or the next parse.
void ParseFwFile(const char* path);
// The bytes the last ParseFwFile read, the whole file: false (nothing set)
// when it read none or the buffer was released since.
bool FwFileBytes(const uint8_t** data, uint32_t* size);
// Releases the file buffer of the last parse; the table's data pointers die with it.
void FreeFwFileBuffer();
// True if the 8 bytes at `p` begin with my_cfg.signature (any letter case).
bool IsImageHeader(const uint8_t* p);
// The file's size cut to 32 bits; 0 if it cannot be opened.
uint32_t GetFileLength(const char* path);
// Reads the first `count` bytes of the file. True only if all of them were read.
bool ReadFileBytes(const char* path, uint8_t* buf, uint32_t count);
// Writes `count` bytes at the start of the file, creating it if needed (an
// existing file is not shortened). True only if all of them were written.
bool WriteFileBytes(const char* path, const uint8_t* buf, uint32_t count);
// New buffer (release with delete[]) holding the file followed by 2048 bytes
// of slack, or nullptr when it cannot be read or held (traced, no box). The
// file's size goes through `size`; 0 when the file cannot be opened.
uint8_t* ReadWholeFile(const char* path, uint32_t* size);
