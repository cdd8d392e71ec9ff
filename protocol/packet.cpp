// Packet bytes, their checksum and their base64 text.
#include "protocol/packet.h"

#include <cstddef>
#include <cstring>

namespace {

const char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

uint8_t CalcChksum(const uint8_t* data, uint32_t length) {
  uint8_t sum = 0;
  if (data == nullptr) return 0;
  for (uint32_t i = 0; i < length; ++i) sum ^= data[i];
  return sum;
}

int32_t Base64Encode(char* out, const uint8_t* in, uint32_t length) {
  int32_t n = 0;
  uint32_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t group = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out[n++] = kBase64Alphabet[(group >> 18) & 0x3F];
    out[n++] = kBase64Alphabet[(group >> 12) & 0x3F];
    out[n++] = kBase64Alphabet[(group >> 6) & 0x3F];
    out[n++] = kBase64Alphabet[group & 0x3F];
  }
  uint32_t rest = length - i;
  if (rest > 0) {
    uint32_t group = uint32_t{in[i]} << 16;
    if (rest == 2) group |= uint32_t{in[i + 1]} << 8;
    out[n++] = kBase64Alphabet[(group >> 18) & 0x3F];
    out[n++] = kBase64Alphabet[(group >> 12) & 0x3F];
    out[n++] = rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
    out[n++] = '=';
  }
  out[n] = '\0';
  return n;
}

uint32_t BuildPacket(uint8_t* pkt, const uint8_t* pData, uint32_t size, uint32_t type,
                     uint32_t dwOffset) {
  // Fields are written in a fixed order so that a payload-less header comes out
  // byte for byte as the expander expects it.
  FWDL_PKT_HDR hdr;
  memset(&hdr, 0, sizeof hdr);
  hdr.type = static_cast<uint8_t>(type & 0xFF);
  hdr.size = static_cast<uint8_t>(size & 0xFF);
  hdr.magic = 0xA5;
  for (int i = 0; i < 4; ++i) hdr.dwOffset[i] = static_cast<uint8_t>(dwOffset >> (8 * i));
  memcpy(pkt, &hdr, kPktHdrSize);
  if (pData != nullptr) {
    memcpy(pkt + kPktHdrSize, pData, size);
    pkt[offsetof(FWDL_PKT_HDR, chksum)] = CalcChksum(pkt, size + kPktHdrSize);
  } else {
    memset(pkt + kPktHdrSize, kPktFiller, size);
  }
  return size + kPktHdrSize;
}

void BuildRecoveryPacket(uint8_t* pkt) {
  FWDL_PKT_HDR hdr;
  memset(&hdr, 0, sizeof hdr);
  hdr.size = 2;
  memcpy(pkt, &hdr, kPktHdrSize);
  pkt[kPktHdrSize] = kPktFiller;
  pkt[kPktHdrSize + 1] = kPktFiller;
}
