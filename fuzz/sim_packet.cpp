// The simulator sorts every packet line a host sends. Properties of the
// classification, on raw bytes and on their base64 line:
// - a data packet is exactly header and payload: magic 0xA5, type 0, the
//   size byte matching 1 to 256 payload bytes, XOR zero; rebuilding it from
//   the offset and payload gives the bytes back;
// - the terminator and the recovery packet are recognised only as their
//   exact bytes; everything else is bad and says why;
// - the line and the bytes it encodes are sorted alike; text that is no
//   canonical base64 is a bad packet.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/sim/host_encoding.h"
#include "fuzz_support.h"
#include "sim/base64.h"
#include "sim/packet.h"

namespace {

const std::vector<uint8_t> kTerminator = {0xA5, 0, 0, 0, 0, 0, 0, 0x01, 0xCC};
const std::vector<uint8_t> kRecovery = {0, 0, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xCC};

bool SamePacket(const sim::Packet& a, const sim::Packet& b) {
  return a.kind == b.kind && a.offset == b.offset && a.payload == b.payload && a.error == b.error;
}

void CheckClassified(const std::vector<uint8_t>& bytes, const sim::Packet& p) {
  switch (p.kind) {
    case sim::PacketKind::kData: {
      FUZZ_CHECK(p.payload.size() >= 1 && p.payload.size() <= sim::kMaxPayload);
      FUZZ_CHECK(bytes.size() == sim::kHeaderBytes + p.payload.size());
      std::vector<uint8_t> rebuilt = {sim::kMagic, 0,
                                      uint8_t(p.offset), uint8_t(p.offset >> 8),
                                      uint8_t(p.offset >> 16), uint8_t(p.offset >> 24),
                                      0, uint8_t(p.payload.size())};
      rebuilt.insert(rebuilt.end(), p.payload.begin(), p.payload.end());
      uint8_t x = 0;
      for (uint8_t b : rebuilt) x ^= b;
      rebuilt[6] = x;
      FUZZ_CHECK(rebuilt == bytes);
      FUZZ_CHECK(p.error.empty());
      break;
    }
    case sim::PacketKind::kTerminator: FUZZ_CHECK(bytes == kTerminator); break;
    case sim::PacketKind::kRecovery: FUZZ_CHECK(bytes == kRecovery); break;
    case sim::PacketKind::kBad:
      FUZZ_CHECK(!p.error.empty());
      FUZZ_CHECK(bytes != kTerminator && bytes != kRecovery);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  const sim::Packet p = sim::ClassifyPacket(data, size);
  CheckClassified(bytes, p);

  const std::string line = HostBase64(bytes);
  const sim::Packet from_line = sim::DecodePacketLine(line.data(), line.size());
  if (size > 0) FUZZ_CHECK(SamePacket(from_line, p));

  // The input itself as a line: sorted like what it decodes to, if anything.
  const sim::Packet as_text = sim::DecodePacketLine(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> decoded;
  if (sim::Base64Decode(reinterpret_cast<const char*>(data), size, &decoded) == sim::Base64Error::kOk) {
    FUZZ_CHECK(SamePacket(as_text, sim::ClassifyPacket(decoded.data(), decoded.size())));
  } else {
    FUZZ_CHECK(as_text.kind == sim::PacketKind::kBad && !as_text.error.empty());
  }
  return 0;
}
