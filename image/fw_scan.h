// The scan of an image file's bytes into its images and version record,
// shared by ParseFwFile and the fwimage tool so both see the same table.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/fw_format.h"

// Longest signature: header detection compares at most 8 bytes.
constexpr size_t kMaxSignatureLen = 8;

// True if `signature` can mark an image header: 1 to 8 characters. An empty
// one would match everywhere and a longer one cannot fit the comparison, so
// neither accepts a file or finds a header.
bool IsUsableSignature(const char* signature);

// True if the bytes at `p` (of which `avail` may be read) begin with
// `signature`, ignoring ASCII letter case. Always false for an unusable
// signature; a 0x00 byte never matches.
bool MatchSignature(const uint8_t* p, size_t avail, const char* signature);

// What one scan found.
struct FW_SCAN {
  FW_IMAGE images[kMaxImages];  // file order; data points into the scanned buffer
  uint32_t numImages;           // entries in use, 0 to 16
  uint32_t numHeaders;          // image headers seen, those past the 16th included
  FW_HDR_INFO hdrInfo;          // the last version record; all zero if none
  bool hasVersion;
  uint32_t versionOffset;  // offset of the last version record
  // An image whose length runs past the end of the file. Such a file is
  // refused as a whole: the scan stops there and the table is emptied.
  bool truncated;
  uint32_t truncatedOffset;
  uint32_t truncatedFwLen;
};

// Scans the `size` bytes at `buf` from offset 0: an image header (with its
// body) is stepped over whole, a version record by its 8 bytes, anything else
// by one byte. Reads nothing at or past buf + size; header fields beyond the
// end read as zero. Writes the ParseFwFile trace lines unless `traced` is
// false. Does not reorder.
void ScanFwBuffer(const uint8_t* buf, uint32_t size, const char* signature, FW_SCAN* out,
                  bool traced = true);

// Exchanges the first bootloader entry (part 0xFF) with the last entry in use,
// so the bootloader is sent last; the entries between keep their places.
void PutBootLoaderLast(FW_IMAGE* images, uint32_t count);
