#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/trace.h"
#include "serial/serial_port.h"
#include "support/scripted_expander.h"
#include "support/trace_capture.h"

namespace {

class SerialFacadeTest : public ::testing::Test {
 protected:
  ScriptedExpander& exp() { return port_.exp(); }
  int64_t now() { return port_.clock().NowMs(); }

  ScriptedPort port_;
  TraceCapture trace_;
};

struct LineCase {
  const char* text;
  const char* name;
};

class WriteComLineTest : public SerialFacadeTest,
                         public ::testing::WithParamInterface<LineCase> {};

// Every byte alone, 10 ms apart, then three line feeds in one write, then 500 ms.
TEST_P(WriteComLineTest, PacesBytesThenThreeLineFeeds) {
  const std::string text = GetParam().text;
  const int64_t start = now();
  WriteCom(text.c_str());

  auto writes = exp().writes();
  ASSERT_EQ(writes.size(), text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(writes[i].bytes, std::string(1, text[i])) << "byte " << i;
    EXPECT_EQ(writes[i].ms, start + 10 * static_cast<int64_t>(i)) << "byte " << i;
  }
  EXPECT_EQ(writes.back().bytes, "\n\n\n");
  EXPECT_EQ(writes.back().ms, start + 10 * static_cast<int64_t>(text.size()));
  EXPECT_EQ(now(), start + 10 * static_cast<int64_t>(text.size()) + 500);
  EXPECT_TRUE(trace_.Has("WriteCom V1.4(" + text + ")"));
}

INSTANTIATE_TEST_SUITE_P(Lines, WriteComLineTest,
                         ::testing::Values(LineCase{"donz 0x06 0x88", "VersionQuery"},
                                           LineCase{"", "Empty"}, LineCase{" ", "Space"},
                                           LineCase{"\n\r ", "OwnLineEnds"}),
                         [](const ::testing::TestParamInfo<LineCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(SerialFacadeTest, WriteComOnClosedPortSendsNothingAndDoesNotPause) {
  CloseCom();
  const int64_t start = now();
  WriteCom("donz 0x06 0x88");
  EXPECT_TRUE(exp().writes().empty());
  EXPECT_EQ(now(), start);
  EXPECT_TRUE(trace_.Has("WriteCom (!is_open)"));
}

TEST_F(SerialFacadeTest, SendAndProcessCmdZeroesTheWholeReadBuffer) {
  exp().Reply("*");
  uint8_t buf[8];
  memset(buf, 0xAA, sizeof buf);
  const uint8_t out[] = {'Q', 'U', 'J'};
  ASSERT_TRUE(SendAndProcessCmd(buf, sizeof buf, out, sizeof out));
  EXPECT_EQ(exp().written(), "QUJ");
  EXPECT_EQ(buf[0], '*');
  for (size_t i = 1; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0) << "byte " << i;
  EXPECT_EQ(dwcomtestpoint.load(), 5u);
}

TEST_F(SerialFacadeTest, SendAndProcessCmdOnClosedPortFailsSilently) {
  CloseCom();
  trace_.Clear();
  uint8_t buf[4] = {1, 2, 3, 4};
  const uint8_t out[] = {'x'};
  EXPECT_FALSE(SendAndProcessCmd(buf, sizeof buf, out, sizeof out));
  EXPECT_TRUE(trace_.lines().empty());
  EXPECT_TRUE(exp().writes().empty());
  EXPECT_EQ(buf[0], 1);
}

TEST_F(SerialFacadeTest, SendAndProcessCmdWithBothHalvesSkippedDoesNoIo) {
  exp().Reply("zz");
  uint8_t buf[4] = {7, 7, 7, 7};
  const uint8_t out[] = {'x'};
  EXPECT_TRUE(SendAndProcessCmd(nullptr, 4, nullptr, 1));
  EXPECT_TRUE(SendAndProcessCmd(buf, 0, out, 0));
  EXPECT_TRUE(exp().writes().empty());
  EXPECT_EQ(exp().pending(), 2u);
  EXPECT_EQ(buf[0], 7);
}

TEST_F(SerialFacadeTest, SendAndProcessCmdReportsTheFailingHalf) {
  uint8_t buf[4];
  const uint8_t out[] = {'x'};
  exp().SetWriteFails(true);
  EXPECT_FALSE(SendAndProcessCmd(buf, sizeof buf, out, sizeof out));
  EXPECT_TRUE(trace_.Has("MyWriteFile return false"));
  EXPECT_EQ(dwcomtestpoint.load(), 2u);

  exp().SetWriteFails(false);
  exp().SetReadFails(true);
  EXPECT_FALSE(SendAndProcessCmd(buf, sizeof buf, out, sizeof out));
  EXPECT_TRUE(trace_.Has("MyReadFile return false"));
  EXPECT_EQ(dwcomtestpoint.load(), 5u);
}

TEST_F(SerialFacadeTest, StartdomKeepsAnOpenPortAndReopensAClosedOne) {
  EXPECT_TRUE(startdom(7));
  EXPECT_EQ(exp().opens(), 1);
  EXPECT_EQ(exp().lastPort(), 1);

  CloseCom();
  CloseCom();
  EXPECT_FALSE(is_open());
  EXPECT_EQ(trace_.Count("CloseCom called"), 2);
  EXPECT_TRUE(startdom(3));
  EXPECT_TRUE(is_open());
  EXPECT_EQ(exp().opens(), 2);
  EXPECT_EQ(exp().lastPort(), 3);
}

TEST_F(SerialFacadeTest, WaitComInputOnClosedPortLetsTheBoundPass) {
  exp().Reply("x", 10);
  CloseCom();
  const int64_t start = now();
  EXPECT_FALSE(WaitComInput(50));
  EXPECT_EQ(now(), start + 50);
}

// A backend that notices a Close running while another operation is under way.
class OverlapProbe : public SerialBackend {
 public:
  bool Open(const PortAddress&, bool) override { return open_ = true; }
  bool IsOpen() override { return open_; }
  bool Read(uint8_t*, uint32_t, uint32_t*) override { return Busy(); }
  bool Write(const uint8_t*, uint32_t, uint32_t*) override { return Busy(); }
  void Purge() override {}
  bool WaitInput(uint32_t) override { return Busy(); }
  void Close() override {
    if (busy_) ++overlaps_;
    open_ = false;
  }
  bool IsLost() override { return false; }
  std::string OpenFailureHint() override { return std::string(); }
  std::string LatencyWarning(bool) override { return std::string(); }
  std::atomic<int> overlaps_{0};

 private:
  bool Busy() {
    busy_ = true;
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    busy_ = false;
    return open_;
  }
  std::atomic<bool> open_{false};
  std::atomic<bool> busy_{false};
};

TEST(SerialFacadeThreads, CloseComNeverOverlapsAnOperation) {
  OverlapProbe probe;
  SetSerialBackend(&probe);
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(startdom(1));
    std::atomic<bool> stop{false};
    std::thread worker([&] {
      uint8_t b[4];
      uint32_t n;
      while (!stop) {
        MyReadFile(b, sizeof b, &n);
        MyWriteFile(b, sizeof b, &n);
        WaitComInput(1);
      }
    });
    std::this_thread::yield();
    CloseCom();
    stop = true;
    worker.join();
  }
  SetSerialBackend(nullptr);
  EXPECT_EQ(probe.overlaps_.load(), 0);
}

}  // namespace
