// The records of an image file and the rules read off them alone: what the
// scan (fw_scan.h) finds and the table (fw_image.h) holds.
#pragma once
#include <cstdint>
#include <string>

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

// A part for people: "firmware", "bootloader" or "other".
const char* PartName(uint8_t part);
// A version's four numbers as every program writes them: "1.02.0000.11".
std::string VersionNumbersText(uint32_t major, uint32_t minor, uint32_t build, uint32_t revision);

// True if the 4 bytes at `p` are the version record's magic 34 12 CD AB.
bool IsVersionRecord(const uint8_t* p);

// How a download sends a file's images.
enum class DownloadPlan {
  kNone,           // no image to send
  kNormal,         // every image in one download sequence, a bootloader last
  kWithRebooting,  // every image but the bootloader, a reboot, a version check, the bootloader
};
// The plan for `count` images in table order (bootloader last): with
// rebooting when they hold a firmware image (part 0x06) and a bootloader
// image (part 0xFF), two different entries; else the normal path.
DownloadPlan ChooseDownloadPlan(const FW_IMAGE* images, uint32_t count);
