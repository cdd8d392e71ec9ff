// Firmware image files: recognition, the scan into the image table, and the
// whole-file operations the download uses.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/report.h"

constexpr uint32_t kMaxImages = 16;
constexpr uint32_t kFwFileHdrSize = 28;
constexpr uint8_t kPartFirmware = 0x06;
constexpr uint8_t kPartBootloader = 0xFF;
constexpr uint32_t kVersionRecordMagic = 0xABCD1234;

#pragma pack(push, 1)
// Version record: magic 34 12 CD AB, then major, minor, build, revision.
struct FW_HDR_INFO {
  uint32_t magic;
  uint8_t major;
  uint8_t minor;
  uint8_t build;
  uint8_t revision;
};
#pragma pack(pop)
static_assert(sizeof(FW_HDR_INFO) == 8, "version record is 8 bytes");

struct FW_IMAGE {
  uint32_t offset;  // file offset of the image header
  uint32_t length;  // header + body
  uint8_t part;     // dstpart
  const uint8_t* data;  // first byte of the image inside the file buffer
};

extern FW_IMAGE g_FwImages[kMaxImages];
extern uint32_t g_dwNumofImages;
extern FW_HDR_INFO g_FwHdrInfo;
// Set while a bootloader image is being written; Quit is refused meanwhile.
extern std::atomic<uint32_t> g_bBootLoaderInProgress;

// True if the file at `path` begins with the signature (any letter case).
bool IsImageFile(const char* path);
// Reads the whole file and fills the image table (bootloader last).
void ParseFwFile(const char* path);
// Releases the file buffer of the last parse; the table's data pointers die with it.
void FreeFwFileBuffer();
bool IsImageHeader(const uint8_t* p);
bool IsVersionRecord(const uint8_t* p);
uint32_t GetFileLength(const char* path);
bool ReadFileBytes(const char* path, uint8_t* buf, uint32_t count);
bool WriteFileBytes(const char* path, const uint8_t* buf, uint32_t count);
// New buffer (release with delete[]) holding the file, or nullptr; the size through `size`.
uint8_t* ReadWholeFile(const char* path, uint32_t* size);
