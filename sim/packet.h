// The expander's view of one download packet: the bytes of one packet line,
// after base64 decoding, checked against the header rules and sorted into
// the three kinds a host may send.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class PacketKind {
  kData,        // A5 00 <offset LE32> <xor> <size> <payload>
  kTerminator,  // exactly A5 00 00 00 00 00 00 01 CC: leaves download mode
  kRecovery,    // exactly 00 00 00 00 00 00 00 02 CC CC: resynchronises after a failure
  kBad,         // anything else; `error` says why
};

struct Packet {
  PacketKind kind = PacketKind::kBad;
  uint32_t offset = 0;          // data packets: the payload's place in its image
  std::vector<uint8_t> payload; // data packets: 1 to 256 bytes
  std::string error;            // bad packets: the first rule broken
};

constexpr size_t kHeaderBytes = 8;
constexpr size_t kMaxPayload = 256;
constexpr uint8_t kMagic = 0xA5;

// Sorts n decoded bytes. A data packet must carry magic 0xA5 and type 0, a
// size byte that matches the payload (0 meaning 256), and bytes that XOR to
// zero over the whole packet.
Packet ClassifyPacket(const uint8_t* bytes, size_t n);

// Decodes the base64 text of a packet line (without its closing 0x7F) and
// classifies it; undecodable text gives a bad packet.
Packet DecodePacketLine(const char* text, size_t n);

}  // namespace sim
