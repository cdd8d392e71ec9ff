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
constexpr uint32_t kPktHdrSize = 8;
constexpr uint32_t kMaxPacket = kPktHdrSize + kMaxPayload;
// Bytes behind a header that carries no payload (terminating header, recovery packet).
constexpr uint8_t kPktFiller = 0xCC;
constexpr uint32_t kRecoveryPacketSize = 10;

// XOR of `length` bytes from 0; 0 for an empty range.
uint8_t CalcChksum(const uint8_t* data, uint32_t length);
// Standard padded base64 of `length` bytes into `out`, NUL-terminated; returns
// the characters written without the NUL. `out` holds 4*ceil(length/3)+1.
int32_t Base64Encode(char* out, const uint8_t* in, uint32_t length);

// Builds the packet for `size` payload bytes (size <= kMaxPayload) into `pkt`,
// which holds kMaxPacket bytes. With `pData` the payload follows the header and
// chksum is set; without it the `size` bytes behind the header are filler and
// chksum stays 0 (size 1, type 0, offset 0 is the terminating header).
// Returns the packet's length, size + 8.
uint32_t BuildPacket(uint8_t* pkt, const uint8_t* pData, uint32_t size, uint32_t type,
                     uint32_t dwOffset);
// The recovery packet 00 00 00 00 00 00 00 02 CC CC into `pkt` (10 bytes).
void BuildRecoveryPacket(uint8_t* pkt);
