// Sending one packet: acknowledgements, status replies, time-outs, retries and
// stop requests, judged by what reaches the line and when.
#include "protocol/transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expander_peer.h"
#include "support/recording_view.h"

namespace {

const uint8_t kPayload[4] = {1, 2, 3, 4};
// 28 bytes on the line: 40 characters and 0x7F, sent as pieces of 12, 12, 12, 5.
const uint8_t kPayload20[20] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};

class TransferTest : public ProtocolTest {
 protected:
  // The wait under test starts 300 ms into a calendar second, so that a
  // deadline in whole seconds is seen to end on the second, not after L*1000 ms.
  void StartMidSecond() { port.clock().AdvanceMs(300); }
  int64_t SecondOf(int64_t ms) { return ms / 1000 * 1000; }
};

}  // namespace

TEST_F(TransferTest, StatusReplyForms) {
  struct Case {
    std::vector<std::pair<std::string, int64_t>> arrivals;  // text, delay ms
    bool accepted;
    bool leadMissingTraced;
  };
  const Case cases[] = {
      {{{"@0", 0}}, true, false},
      {{{"@1", 0}}, true, false},
      {{{"@5", 0}}, false, false},
      {{{"1", 0}}, true, true},
      {{{"x@", 0}, {"0", 200}}, true, false},  // noise passed over
      {{{"@", 0}, {"2", 300}}, false, false},  // digit in a later read
      {{{"12", 0}}, false, true},              // the read's last digit counts
      {{{"21", 0}}, true, true},
      {{{"@0", 0}, {"5", 0}}, true, false},    // nothing after the first digit is read
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.arrivals.empty());
    SCOPED_TRACE(c.arrivals[0].first);
    trace.Clear();
    PurgeCom();
    for (const auto& a : c.arrivals) exp().Reply(a.first, a.second);
    EXPECT_EQ(QueryWriteComStatus(5), c.accepted);
    EXPECT_EQ(trace.Has("bLeadFound=0\n"), c.leadMissingTraced);
    EXPECT_EQ(trace.Has("Error: tmpr > 1\n"), !c.accepted);
  }
  EXPECT_EQ(exp().pending(), 1u);
}

TEST_F(TransferTest, StatusTimeoutInWholeSeconds) {
  struct Case {
    uint32_t offset;
    int32_t startDelay;
    int64_t seconds;  // whole seconds after the start second at which the wait gives up
    const char* trace;
  };
  const Case cases[] = {
      {0, 45, 46, "QueryWriteComStatus timeout(45 seconds)\n"},
      {256, 45, 16, "QueryWriteComStatus timeout(15 seconds)\n"},
      {0, -1, 1, "QueryWriteComStatus timeout(0 seconds)\n"},  // never an endless wait
  };
  my_cfg.dlretry = 1;
  peer.status = [](const WireLine&) { return ""; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    my_cfg.dlstartdelay = c.startDelay;
    peer.lines.clear();
    trace.Clear();
    StartMidSecond();
    int64_t start = nowMs();
    EXPECT_FALSE(SendRawDataToComport(kPayload, 4, 0, c.offset));
    ASSERT_EQ(peer.pattern(), "DR");
    EXPECT_EQ(peer.lines[1].startMs, SecondOf(start) + c.seconds * 1000);
    EXPECT_TRUE(trace.Has(c.trace));
    EXPECT_EQ(trace.Has("my_cfg.dlstartdelay=" + std::to_string(c.startDelay) + " seconds"),
              c.offset == 0);
  }
  EXPECT_EQ(g_dwStartRetryCount, 2u);
  EXPECT_EQ(g_dwNormalRetryCount, 1u);
}

TEST_F(TransferTest, TerminatingHeaderGetsOneAttempt) {
  g_bExitingDlMode = 1;
  peer.status = [](const WireLine&) { return ""; };
  StartMidSecond();
  int64_t start = nowMs();
  EXPECT_FALSE(SendRawDataToComport(nullptr, 1, 0, 0));
  ASSERT_EQ(peer.pattern(), "TR");
  EXPECT_EQ(peer.lines[1].startMs, SecondOf(start) + 46000);
  EXPECT_TRUE(stats().empty());
}

TEST_F(TransferTest, AttemptsFollowTheRetrySetting) {
  struct Case {
    int32_t dlretry;
    std::string pattern;
  };
  const Case cases[] = {{0, "DR"}, {1, "DR"}, {-1, "DR"}, {10, "DRDRDRDRDRDRDRDRDRDR"}};
  peer.status = [](const WireLine&) { return "@5"; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dlretry);
    my_cfg.dlretry = c.dlretry;
    peer.lines.clear();
    g_dwNormalRetryCount = 0;
    EXPECT_FALSE(SendRawDataToComport(kPayload, 4, 0, 256));
    EXPECT_EQ(peer.pattern(), c.pattern);
    EXPECT_EQ(g_dwNormalRetryCount, c.pattern.size() / 2);
  }
  ASSERT_FALSE(stats().empty());
  EXPECT_EQ(stats().back(), "Retry Stats: (0, 10, 0)");
  EXPECT_TRUE(trace.Has("SendRawDataToComport: ret=FALSE\n"));
}

TEST_F(TransferTest, RecoveryThenRetryAccepted) {
  int n = 0;
  peer.status = [&](const WireLine&) { return n++ == 0 ? "@3" : "@1"; };
  EXPECT_TRUE(SendRawDataToComport(kPayload, 4, 0, 0));
  // A fault that leaves out a line must fail here, not crash on the index below.
  ASSERT_EQ(peer.pattern(), "DRD");
  EXPECT_EQ(peer.lines[0].bytes, peer.lines[2].bytes);
  EXPECT_EQ(stats(), (std::vector<std::string>{"Retry Stats: (1, 0, 0)", "Retry Stats: (1, 0, 0)"}));
  EXPECT_TRUE(trace.Has("SendRawDataToComport(retry=1)--1"));
  EXPECT_TRUE(trace.Has("sendrecoverypacket called"));
}

TEST_F(TransferTest, SubpacketTimeoutThenAcceptedStatus) {
  peer.status = [](const WireLine&) { return ""; };
  peer.ack = [](ScriptedExpander& e, size_t k) {
    if (k != 1) return true;
    e.Reply("ab");
    e.Reply("@0", 20000);  // after the "*" wait has given up
    return false;
  };
  int64_t start = nowMs();
  EXPECT_TRUE(SendRawDataToComport(kPayload20, 20, 0, 256));
  EXPECT_EQ(exp().writes().size(), 2u);  // the rest of the line was dropped
  EXPECT_EQ(nowMs() - start, 20000);
  EXPECT_EQ(g_dwSubpacketTimeoutCount, 1u);
  EXPECT_TRUE(trace.Has("QueryWriteSubpacketStatus timeout\n"));
  EXPECT_TRUE(trace.Has("dwlogcount =2\n"));
  EXPECT_TRUE(trace.Has("(61,62,0,0)\n"));
  EXPECT_TRUE(trace.Has("fwdl_WriteCom= FALSE\n"));
  EXPECT_EQ(stats(), (std::vector<std::string>{"Retry Stats: (0, 0, 1)"}));
}

// A "*" left over on the port must not acknowledge a piece the expander never took.
TEST_F(TransferTest, StaleInputIsPurgedBeforeEachPiece) {
  my_cfg.dlretry = 1;
  exp().Reply("*");
  peer.ack = [](ScriptedExpander&, size_t k) { return k != 0; };
  peer.status = [](const WireLine&) { return ""; };
  EXPECT_FALSE(SendRawDataToComport(kPayload, 4, 0, 256));
  EXPECT_EQ(g_dwSubpacketTimeoutCount, 1u);
  ASSERT_GE(exp().writes().size(), 2u);
  EXPECT_EQ(exp().writes().front().bytes.size(), 12u);
  EXPECT_EQ(exp().writes()[1].bytes, "AAAAAAAAAALM");  // the recovery packet came next
}

TEST_F(TransferTest, RefusedBeforeAnythingIsSent) {
  uint8_t big[257] = {};
  EXPECT_FALSE(SendRawDataToComport(big, 257, 0, 0));
  EXPECT_TRUE(trace.lines().empty());
  g_bStopDl = 1;
  EXPECT_FALSE(SendRawDataToComport(kPayload, 4, 0, 0));
  EXPECT_TRUE(exp().writes().empty());
  EXPECT_TRUE(trace.Has("SendRawDataToComport: ret=FALSE\n"));
}

// A stop request releases either wait at once, and the packet is not reported
// as accepted; no recovery packet follows.
TEST_F(TransferTest, StopDuringTheStatusWaitFailsPromptly) {
  peer.status = [&](const WireLine&) {
    g_bStopDl = 1;
    return "";
  };
  int64_t start = nowMs();
  EXPECT_FALSE(SendRawDataToComport(kPayload20, 20, 0, 256));
  EXPECT_LT(nowMs() - start, 50);
  ASSERT_EQ(peer.pattern(), "D");
  EXPECT_EQ(peer.lines[0].pieces.size(), 4u);
}

// A stop in the "*" wait sends no further piece: the expander would take it
// without having acknowledged the one before.
TEST_F(TransferTest, StopDuringAnAcknowledgementWaitSendsNoFurtherPiece) {
  peer.ack = [&](ScriptedExpander&, size_t k) {
    if (k != 1) return true;
    g_bStopDl = 1;
    return false;
  };
  int64_t start = nowMs();
  EXPECT_FALSE(SendRawDataToComport(kPayload20, 20, 0, 256));
  EXPECT_LT(nowMs() - start, 50);
  ASSERT_EQ(exp().writes().size(), 2u);
  EXPECT_EQ(exp().written().find('\x7f'), std::string::npos);
}

TEST_F(TransferTest, FailingReadsDoNotSpin) {
  exp().Reply("@0");
  exp().SetReadFails(true);
  int64_t start = nowMs();
  EXPECT_FALSE(QueryWriteComStatus(2));
  EXPECT_EQ(nowMs() - start, 3000);
}

TEST_F(TransferTest, RetryStatsDefaultDisplay) {
  ScopedView view;
  EXPECT_TRUE(SendRawDataToComport(kPayload, 4, 0, 256));
  EXPECT_TRUE(view.view().history(IDC_RETRY_STATS).empty());
  int n = 0;
  peer.status = [&](const WireLine&) { return n++ == 0 ? "" : "@0"; };
  EXPECT_TRUE(SendRawDataToComport(kPayload, 4, 0, 256));
  EXPECT_EQ(view.view().text(IDC_RETRY_STATS), "Retry Stats: (0, 1, 0)");
  ShowRetryStats("");
  EXPECT_EQ(view.view().text(IDC_RETRY_STATS), "");
}
