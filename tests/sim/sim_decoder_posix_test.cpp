// Known vectors for the simulator's own decoders: base64, packet headers,
// SHA-256 and version texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/base64.h"
#include "sim/packet.h"
#include "sim/sha256.h"
#include "sim/types.h"

namespace {

using sim::Base64Error;
using sim::PacketKind;

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(SimBase64, DecodesTheStandardVectors) {
  const struct {
    const char* text;
    const char* plain;
  } kCases[] = {{"Zg==", "f"},         {"Zm8=", "fo"},         {"Zm9v", "foo"},
                {"Zm9vYg==", "foob"},  {"Zm9vYmE=", "fooba"},  {"Zm9vYmFy", "foobar"},
                {"+/+/", "\xfb\xff\xbf"}};
  for (const auto& c : kCases) {
    std::vector<uint8_t> out;
    EXPECT_EQ(Base64Error::kOk, sim::Base64Decode(c.text, std::string(c.text).size(), &out)) << c.text;
    EXPECT_EQ(Bytes(c.plain), out) << c.text;
  }
}

TEST(SimBase64, RefusesAnythingNonCanonical) {
  const struct {
    const char* text;
    Base64Error error;
  } kCases[] = {
      {"", Base64Error::kEmpty},          {"Zg=", Base64Error::kLength},
      {"Zm9vY", Base64Error::kLength},    {"Zm9v\nZg==", Base64Error::kLength},
      {"Zm-v", Base64Error::kAlphabet},   {"Zm9\x7f", Base64Error::kAlphabet},
      {"Z===", Base64Error::kPadding},    {"Zg==Zm9v", Base64Error::kPadding},
      {"Zh==", Base64Error::kTrailingBits}, {"Zm9=", Base64Error::kTrailingBits},
  };
  for (const auto& c : kCases) {
    std::vector<uint8_t> out{1, 2, 3};
    EXPECT_EQ(c.error, sim::Base64Decode(c.text, std::string(c.text).size(), &out)) << c.text;
    EXPECT_TRUE(out.empty()) << c.text;
  }
}

TEST(SimPacket, OneBytePacketAtOffsetZero) {
  const uint8_t bytes[] = {0xA5, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE5, 0x01, 0x41};
  const sim::Packet p = sim::ClassifyPacket(bytes, sizeof bytes);
  ASSERT_EQ(PacketKind::kData, p.kind) << p.error;
  EXPECT_EQ(0u, p.offset);
  EXPECT_EQ(std::vector<uint8_t>{0x41}, p.payload);

  // The same packet as the 12 characters a host puts on the line.
  const sim::Packet line = sim::DecodePacketLine("pQAAAAAA5QFB", 12);
  ASSERT_EQ(PacketKind::kData, line.kind) << line.error;
  EXPECT_EQ(std::vector<uint8_t>{0x41}, line.payload);
}

TEST(SimPacket, TerminatorAndRecoveryAreRecognisedOnlyExactly) {
  EXPECT_EQ(PacketKind::kTerminator, sim::DecodePacketLine("pQAAAAAAAAHM", 12).kind);
  EXPECT_EQ(PacketKind::kRecovery, sim::DecodePacketLine("AAAAAAAAAALMzA==", 16).kind);

  // One filler byte different: neither kind, and not a data packet either.
  const uint8_t near_terminator[] = {0xA5, 0, 0, 0, 0, 0, 0, 0x01, 0xCD};
  EXPECT_EQ(PacketKind::kBad, sim::ClassifyPacket(near_terminator, sizeof near_terminator).kind);
  const uint8_t near_recovery[] = {0, 0, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xCB};
  EXPECT_EQ(PacketKind::kBad, sim::ClassifyPacket(near_recovery, sizeof near_recovery).kind);
}

std::vector<uint8_t> FullPacket(uint32_t offset) {
  std::vector<uint8_t> p = {0xA5, 0x00, uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16),
                            uint8_t(offset >> 24), 0x00, 0x00};
  for (int i = 0; i < 256; ++i) p.push_back(static_cast<uint8_t>(i * 37 + 11));
  uint8_t x = 0;
  for (uint8_t b : p) x ^= b;
  p[6] = x;
  return p;
}

TEST(SimPacket, FullPacketCarries256Bytes) {
  const std::vector<uint8_t> bytes = FullPacket(512);
  const sim::Packet p = sim::ClassifyPacket(bytes.data(), bytes.size());
  ASSERT_EQ(PacketKind::kData, p.kind) << p.error;
  EXPECT_EQ(512u, p.offset);
  ASSERT_EQ(256u, p.payload.size());
  EXPECT_EQ(bytes[8], p.payload[0]);
  EXPECT_EQ(bytes[263], p.payload[255]);
}

TEST(SimPacket, HeaderFaultsMakeABadPacket) {
  const struct {
    const char* name;
    size_t index;
    uint8_t flip;
    bool keep_xor;  // re-balance the checksum so that the rule under test trips
  } kFaults[] = {
      {"checksum", 6, 0x10, false}, {"payload byte", 100, 0x01, false}, {"magic", 0, 0x01, true},
      {"type", 1, 0x01, true},      {"size byte", 7, 0xFF, true},
  };
  for (const auto& f : kFaults) {
    std::vector<uint8_t> bytes = FullPacket(256);
    bytes[f.index] ^= f.flip;
    if (f.keep_xor) bytes[6] ^= f.flip;
    const sim::Packet p = sim::ClassifyPacket(bytes.data(), bytes.size());
    EXPECT_EQ(PacketKind::kBad, p.kind) << f.name;
    EXPECT_FALSE(p.error.empty()) << f.name;
  }
  const uint8_t too_short[] = {0xA5, 0, 0, 0, 0, 0, 0xA5, 0x00};
  EXPECT_EQ(PacketKind::kBad, sim::ClassifyPacket(too_short, sizeof too_short).kind);
  EXPECT_EQ(PacketKind::kBad, sim::DecodePacketLine("pQAAAAAA5QF", 11).kind);
}

TEST(SimSha256, KnownDigests) {
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            sim::Sha256Hex(reinterpret_cast<const uint8_t*>("abc"), 3));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
            sim::Sha256Hex(nullptr, 0));
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            sim::Sha256Hex(reinterpret_cast<const uint8_t*>(two_blocks.data()), two_blocks.size()));
}

TEST(SimSha256, PiecewiseUpdatesMatchOneShot) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  sim::Sha256 hash;
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step % 70 + 7) {
    hash.Update(data.data() + at, std::min(step, data.size() - at));
  }
  uint8_t digest[32];
  hash.Final(digest);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) text += {kHex[b >> 4], kHex[b & 15]};
  EXPECT_EQ(sim::Sha256Hex(data.data(), data.size()), text);
}

TEST(SimVersion, ParseAndFormat) {
  sim::Version v;
  ASSERT_TRUE(sim::ParseVersion("0.01.0000.05", &v));
  EXPECT_EQ((sim::Version{0, 1, 0, 5}), v);
  EXPECT_EQ("0.01.0000.05", sim::FormatVersion(v));
  EXPECT_EQ("1.02.0003.10", sim::FormatVersion({1, 2, 3, 10}));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.4 ", "a.2.3.4", "1.2.3.99999999999"}) {
    EXPECT_FALSE(sim::ParseVersion(bad, &v)) << bad;
  }
}

}  // namespace
