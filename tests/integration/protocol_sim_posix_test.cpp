// Download mode and single images against expander-sim on a real
// pseudo-terminal and the real clock: every image must arrive byte for byte,
// and every injected fault must be recovered without a protocol violation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration/sim_process.h"
#include "protocol/single_image.h"
#include "support/trace_capture.h"

namespace {

using simproc::HostLine;
using simproc::MakeImage;
using simproc::ReadAll;
using simproc::Report;
using simproc::SimProcess;

// Sends each image with fmdl_downloadEx inside one download sequence; the
// results in order.
std::vector<bool> DownloadSequence(const SimProcess& sim, const std::vector<std::string>& images) {
  std::vector<bool> results;
  enterdownloadmode();
  for (size_t i = 0; i < images.size(); ++i) {
    const std::string path = sim.dir() + "/sent-" + std::to_string(i) + ".bin";
    EXPECT_TRUE(simproc::WriteAll(path, images[i]));
    results.push_back(fmdl_downloadEx(path.c_str()));
  }
  exitdownloadmode();
  return results;
}

// Every non-empty image was received whole, in order, in a terminated
// sequence; the saved copies match what was sent.
void ExpectReceived(const Report& report, const std::vector<std::string>& images) {
  std::vector<std::string> sent;
  for (const std::string& im : images) {
    if (!im.empty()) sent.push_back(im);
  }
  ASSERT_EQ(sent.size(), report.images.size()) << report.raw;
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE("image " + std::to_string(i + 1));
    EXPECT_EQ(sent[i].size(), report.images[i].size);
    EXPECT_TRUE(report.images[i].terminated);
    ASSERT_FALSE(report.images[i].file.empty());
    EXPECT_TRUE(ReadAll(report.images[i].file) == sent[i]);
  }
}

TEST(ProtocolSimTest, ImagesOfEveryBlockBoundaryArriveWhole) {
  TraceCapture trace;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({}));
  const std::vector<std::string> images = {
      "", MakeImage(1, 0), MakeImage(256, 0x01, 2), MakeImage(257, 0x02, 3),
      MakeImage(600, 0x03, 4), MakeImage(64 * 1024, 0x04, 5)};
  std::vector<bool> results;
  {
    HostLine host;
    ASSERT_TRUE(host.Open(sim.path()));
    results = DownloadSequence(sim, images);
  }
  EXPECT_EQ(std::vector<bool>(images.size(), true), results);
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  ExpectReceived(report, images);
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  EXPECT_EQ(1, report.Count("sequences_terminated"));
  EXPECT_EQ(0, report.Count("retries"));
  EXPECT_EQ(0, report.Count("recovery_packets"));
  // Blocks of 256: 1 + 1 + 2 + 3 + 256 data packets.
  EXPECT_EQ(263, report.Count("data_packets"));
}

// Four faults in one run, each on its own packet: a rejected packet, a
// status never sent, a withheld "*" and a status digit without its '@'.
TEST(ProtocolSimTest, RecoveryPrecedesEveryRetryAndTheImageStillArrives) {
  TraceCapture trace;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--reject", "2", "--no-status", "4", "--withhold-star", "150",
                         "--bare-status", "7"}));
  const std::vector<std::string> images = {MakeImage(2048, 0x01, 9)};  // eight data packets
  std::vector<bool> results;
  {
    HostLine host;
    ASSERT_TRUE(host.Open(sim.path(), 1));
    results = DownloadSequence(sim, images);
  }
  EXPECT_EQ(std::vector<bool>{true}, results);
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  ExpectReceived(report, images);
  // The simulator counts a packet after a failed one without a recovery
  // packet between them as a violation.
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  EXPECT_EQ(1, report.Count("rejected"));
  EXPECT_EQ(1, report.Count("statuses_withheld"));
  EXPECT_EQ(1, report.Count("stars_withheld"));
  // One retry for each of the first three, each after its recovery packet;
  // the bare digit still decides its packet.
  EXPECT_EQ(3, report.Count("retries")) << report.raw;
  EXPECT_EQ(3, report.Count("recovery_packets")) << report.raw;
  EXPECT_TRUE(trace.Has("bLeadFound=0\n"));
  EXPECT_EQ(1, report.Count("sequences_terminated"));
}

}  // namespace
