// Packet bytes, base64 text and the cut of a line into sub-packets.
#include "protocol/packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expander_peer.h"
#include "protocol/transfer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Encode(const std::string& in) {
  std::vector<char> out(4 * ((in.size() + 2) / 3) + 1, 'x');
  int32_t n = Base64Encode(out.data(), reinterpret_cast<const uint8_t*>(in.data()),
                           static_cast<uint32_t>(in.size()));
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

Bytes Build(const uint8_t* data, uint32_t size, uint32_t type, uint32_t offset) {
  Bytes pkt(kMaxPacket, 0x55);
  pkt.resize(BuildPacket(pkt.data(), data, size, type, offset));
  return pkt;
}

}  // namespace

TEST(Base64, StandardVectors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& c : cases) EXPECT_EQ(Encode(c.first), c.second) << c.first;
}

TEST(PacketBytes, EachKindAndItsChecksum) {
  const uint8_t a = 0x41;
  EXPECT_EQ(CalcChksum(nullptr, 0), 0);
  EXPECT_EQ(CalcChksum(&a, 0), 0);
  EXPECT_EQ(Build(&a, 1, 0, 0), (Bytes{0xA5, 0, 0, 0, 0, 0, 0xE5, 0x01, 0x41}));
  EXPECT_EQ(Build(nullptr, 1, 0, 0), (Bytes{0xA5, 0, 0, 0, 0, 0, 0, 0x01, 0xCC}));
  Bytes rec(kRecoveryPacketSize);
  BuildRecoveryPacket(rec.data());
  EXPECT_EQ(rec, (Bytes{0, 0, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xCC}));
  EXPECT_EQ(CalcChksum(Build(nullptr, 1, 0, 0).data(), 9), 0x68);
  EXPECT_EQ(CalcChksum(rec.data(), 10), 0x02);

  // Offset little-endian, the type's low byte only.
  const uint8_t two[] = {1, 2};
  Bytes p = Build(two, 2, 0x1FE, 0x12345678);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 6), (Bytes{0xA5, 0xFE, 0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(CalcChksum(p.data(), 10), 0);
}

// What goes on the line for each kind of packet: the text, and the length of
// every write (one sub-packet each).
class PacketLineTest : public ProtocolTest {};

TEST_F(PacketLineTest, LinesAndSubpackets) {
  const uint8_t one = 0x41;
  const uint8_t two[] = {0x41, 0x42};
  Bytes full(256, 0x3C);
  struct Case {
    const char* name;
    std::function<void()> send;
    std::string text;  // expected line without 0x7F; "" = only its length is checked
    size_t textLen;
    std::vector<size_t> pieces;
  };
  std::vector<size_t> fullPieces(29, 12);
  fullPieces.push_back(5);
  const Case cases[] = {
      {"one byte", [&] { SendRawDataToComport(&one, 1, 0, 0); }, "pQAAAAAA5QFB", 12, {12, 1}},
      {"two bytes", [&] { SendRawDataToComport(two, 2, 0, 16); }, "pQAQAAAAtAJBQg==", 16, {12, 5}},
      {"full", [&] { SendRawDataToComport(full.data(), 256, 0, 512); }, "", 352, fullPieces},
      {"terminating", [&] { SendRawDataToComport(nullptr, 1, 0, 0); }, "pQAAAAAAAAHM", 12, {12, 1}},
      {"recovery", [&] { sendrecoverypacket(); }, "AAAAAAAAAALMzA==", 16, {12, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exp().ClearWrites();
    c.send();
    std::vector<size_t> sizes;
    std::string line;
    for (const auto& w : exp().writes()) {
      sizes.push_back(w.bytes.size());
      line += w.bytes;
    }
    EXPECT_EQ(sizes, c.pieces);
    ASSERT_EQ(line.size(), c.textLen + 1);
    EXPECT_EQ(line.back(), '\x7f');
    if (!c.text.empty()) {
      EXPECT_EQ(line.substr(0, c.textLen), c.text);
    }
  }
  // The full packet decodes to its header and payload; data packets XOR to 0.
  ASSERT_GT(peer.lines.size(), 2u);
  WireLine fullLine = peer.lines[2];
  EXPECT_EQ(Bytes(fullLine.bytes.begin(), fullLine.bytes.begin() + 8),
            (Bytes{0xA5, 0, 0, 0x02, 0, 0, 0xA5 ^ 0x02, 0}));
  EXPECT_EQ(Bytes(fullLine.bytes.begin() + 8, fullLine.bytes.end()), full);
  EXPECT_EQ(CalcChksum(peer.lines[1].bytes.data(), 10), 0);
}
