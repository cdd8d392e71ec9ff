#include "sim/packet.h"

#include <cstdio>
#include <cstring>

#include "sim/base64.h"

namespace sim {
namespace {

const uint8_t kTerminatorBytes[] = {0xA5, 0, 0, 0, 0, 0, 0, 0x01, 0xCC};
const uint8_t kRecoveryBytes[] = {0, 0, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xCC};

Packet Bad(const char* format, unsigned a = 0, unsigned b = 0) {
  Packet p;
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  p.error = text;
  return p;
}

}  // namespace

Packet ClassifyPacket(const uint8_t* bytes, size_t n) {
  if (n == sizeof kTerminatorBytes && std::memcmp(bytes, kTerminatorBytes, n) == 0) {
    Packet p;
    p.kind = PacketKind::kTerminator;
    return p;
  }
  if (n == sizeof kRecoveryBytes && std::memcmp(bytes, kRecoveryBytes, n) == 0) {
    Packet p;
    p.kind = PacketKind::kRecovery;
    return p;
  }
  if (n < kHeaderBytes + 1) return Bad("packet of %u bytes is shorter than a header and one byte", unsigned(n));
  if (bytes[0] != kMagic) return Bad("magic 0x%02x instead of 0xa5", bytes[0]);
  if (bytes[1] != 0) return Bad("packet type %u instead of 0", bytes[1]);
  const size_t size = bytes[7] == 0 ? kMaxPayload : bytes[7];
  if (n != kHeaderBytes + size) {
    return Bad("size byte announces %u payload bytes but %u arrived", unsigned(size),
               unsigned(n - kHeaderBytes));
  }
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= bytes[i];
  if (x != 0) return Bad("checksum 0x%02x does not make the packet XOR to zero (off by 0x%02x)", bytes[6], x);

  Packet p;
  p.kind = PacketKind::kData;
  p.offset = uint32_t(bytes[2]) | (uint32_t(bytes[3]) << 8) | (uint32_t(bytes[4]) << 16) |
             (uint32_t(bytes[5]) << 24);
  p.payload.assign(bytes + kHeaderBytes, bytes + n);
  return p;
}

Packet DecodePacketLine(const char* text, size_t n) {
  std::vector<uint8_t> bytes;
  const Base64Error error = Base64Decode(text, n, &bytes);
  if (error != Base64Error::kOk) {
    Packet p;
    p.error = Base64ErrorText(error);
    return p;
  }
  return ClassifyPacket(bytes.data(), bytes.size());
}

}  // namespace sim
