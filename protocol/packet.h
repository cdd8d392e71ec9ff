// Download packets: the 8-byte header, the XOR checksum and the base64 line.
#pragma once
#include <cstdint>

#pragma pack(push, 1)
struct FWDL_PKT_HDR {
  uint8_t magic;      // 0xA5; 0x00 in the recovery packet
  uint8_t type;       // 0
  uint8_t dwOffset[4];  // little-endian offset of the payload within the image
  uint8_t chksum;     // XOR of the whole packet taken with chksum 0
  uint8_t size;       // payload length modulo 256 (256 is sent as 0)
};
#pragma pack(pop)
static_assert(sizeof(FWDL_PKT_HDR) == 8, "packet header is 8 bytes");

constexpr uint32_t kMaxPayload = 256;
constexpr uint32_t kSubpacketChars = 12;
constexpr uint8_t kLineEnd = 0x7F;

// XOR of `length` bytes from 0; 0 for an empty range.
uint8_t CalcChksum(const uint8_t* data, uint32_t length);
// Standard padded base64 of `length` bytes into `out`, NUL-terminated; returns
// the characters written without the NUL. `out` holds 4*ceil(length/3)+1.
int32_t Base64Encode(char* out, const uint8_t* in, uint32_t length);
