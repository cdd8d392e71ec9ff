#include "bench/ideal_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using bench::ImageEntry;

// Appends an image header (signature, part, big-endian body length) and `body` bytes.
void AddImage(std::vector<uint8_t>& f, const char* sig, uint8_t part, uint32_t body,
              uint8_t fill = 0x11) {
  std::vector<uint8_t> h(28, 0);
  std::memcpy(h.data(), sig, std::strlen(sig));
  h[10] = part;
  h[16] = static_cast<uint8_t>(body >> 24);
  h[17] = static_cast<uint8_t>(body >> 16);
  h[18] = static_cast<uint8_t>(body >> 8);
  h[19] = static_cast<uint8_t>(body);
  f.insert(f.end(), h.begin(), h.end());
  f.insert(f.end(), body, fill);
}

void AddVersionRecord(std::vector<uint8_t>& f) {
  const uint8_t rec[8] = {0x34, 0x12, 0xCD, 0xAB, 1, 2, 3, 4};
  f.insert(f.end(), rec, rec + 8);
}

std::vector<uint8_t> Parts(const std::vector<ImageEntry>& e) {
  std::vector<uint8_t> p;
  for (const ImageEntry& x : e) p.push_back(x.part);
  return p;
}

TEST(IdealModelLine, PacketGeometry) {
  struct Case {
    uint32_t packetBytes, chars, pieces;
  } cases[] = {
      {9, 13, 2},     // terminating header: 12 characters, then 0x7F alone
      {10, 17, 2},    // recovery packet: 16 characters with padding, 0x7F
      {96, 129, 11},  // 88-byte tail block
      {264, 353, 30}, // full block: 29 pieces of 12 and one of 5
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bench::PacketLineChars(c.packetBytes), c.chars) << c.packetBytes;
    EXPECT_EQ(bench::SubpacketCount(c.chars), c.pieces) << c.packetBytes;
  }
}

TEST(IdealModelScan, FirmwareVersionRecordBootloader) {
  std::vector<uint8_t> f;
  AddImage(f, "VRQ", 0x06, 1000);
  AddVersionRecord(f);
  AddImage(f, "vrq", 0xFF, 500);
  std::vector<ImageEntry> e = bench::ScanImageFile(f, "VRQ");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].offset, 0u);
  EXPECT_EQ(e[0].length, 1028u);
  EXPECT_EQ(e[1].offset, 1036u);
  EXPECT_EQ(e[1].length, 528u);

  bench::DownloadPlan plan = bench::PlanDownload(e, 2);
  EXPECT_TRUE(plan.reboot);
  EXPECT_EQ(plan.reboots, 2u);
  ASSERT_EQ(plan.sequences.size(), 3u);
  EXPECT_EQ(plan.sequences[0], std::vector<uint32_t>{1028});
  EXPECT_EQ(plan.sequences[1], std::vector<uint32_t>{1028});
  EXPECT_EQ(plan.sequences[2], std::vector<uint32_t>{528});
}

TEST(IdealModelScan, OrderingAndOddLayouts) {
  std::vector<uint8_t> f;
  AddImage(f, "VRQ", 0xFF, 40);
  f.push_back(0x00);  // a stray byte between images
  AddImage(f, "VRQ", 0x06, 40, 'V');
  std::memcpy(&f[f.size() - 10], "VRQ", 3);  // the signature inside a body
  AddImage(f, "VRQ", 0x01, 40);
  EXPECT_EQ(Parts(bench::ScanImageFile(f, "VRQ")), (std::vector<uint8_t>{0x01, 0x06, 0xFF}));

  std::vector<uint8_t> only;
  AddImage(only, "VRQ", 0xFF, 300);
  bench::DownloadPlan plan = bench::PlanDownload(bench::ScanImageFile(only, "VRQ"), 1);
  EXPECT_FALSE(plan.reboot);
  ASSERT_EQ(plan.sequences.size(), 1u);

  std::vector<uint8_t> cut;
  AddImage(cut, "VRQ", 0x06, 1000);
  cut.resize(600);
  std::vector<ImageEntry> e = bench::ScanImageFile(cut, "VRQ");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].length, 600u);
}

TEST(IdealModelTime, NormalPathByHand) {
  bench::DownloadPlan plan;
  plan.sequences = {{600}};
  bench::ModelInput in;
  bench::Model m = bench::IdealTime(plan, in);
  EXPECT_EQ(m.packets, 3u);
  EXPECT_EQ(m.subpackets, 71u);
  EXPECT_EQ(m.payload, 600u);
  // Console: two spaces, line break and query, two mode commands; packets
  // 353 + 353 + 129; terminating header 13. Back: 71 "*", 3 status replies,
  // 2 "*" and a status reply for the terminating header.
  EXPECT_EQ(m.bytesOut, 8u + 22u + 52u + 835u + 13u);
  EXPECT_EQ(m.bytesIn, 71u + 6u + 4u);
  // Prompt wait 1020, version query 1460, entering download mode 1760,
  // 200 + 160 after the image.
  EXPECT_DOUBLE_EQ(m.pauseMs, 4600);
  EXPECT_NEAR(m.TotalMs(), 4600 + 1011 * 10 * 1000.0 / 115200, 1e-9);

  in.baud = 0;
  EXPECT_DOUBLE_EQ(bench::IdealTime(plan, in).TotalMs(), 4600);
}

TEST(IdealModelTime, RebootPathAddsRebootWaitAndSecondSequence) {
  bench::DownloadPlan normal;
  normal.sequences = {{600, 300}};
  bench::DownloadPlan reboot;
  reboot.reboot = true;
  reboot.reboots = 1;
  reboot.sequences = {{600}, {300}};
  bench::ModelInput in;
  in.baud = 0;
  in.rebootWaitMs = bench::RebootWaitMs(5.7);
  EXPECT_DOUBLE_EQ(in.rebootWaitMs, 3000);
  // Reboot 3710, prompt wait 1020 + 3000, version query 1460, a second
  // entering of download mode 1760; the terminating header's line is free here.
  EXPECT_DOUBLE_EQ(bench::IdealTime(reboot, in).TotalMs() - bench::IdealTime(normal, in).TotalMs(),
                   3710 + 4020 + 1460 + 1760);
}

TEST(IdealModelTime, RebootWaitRoundsUpToTheNextLook) {
  EXPECT_DOUBLE_EQ(bench::RebootWaitMs(0), 0);
  EXPECT_DOUBLE_EQ(bench::RebootWaitMs(3.62), 0);
  EXPECT_DOUBLE_EQ(bench::RebootWaitMs(3.7), 1000);
  EXPECT_DOUBLE_EQ(bench::RebootWaitMs(4.62), 1000);
}

}  // namespace
