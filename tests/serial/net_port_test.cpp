// The network port through the facade, against peers on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

#include "config/settings.h"
#include "serial/net_port.h"
#include "serial/serial_port.h"
#include "serial/telnet_link.h"
#include "support/loopback_server.h"
#include "support/trace_capture.h"

namespace {

const std::string kIac = "\xff";

class NetPortTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSerialBackend(nullptr); }
  void TearDown() override {
    CloseCom();
    my_cfg.device[0] = '\0';
  }
  bool Open(const std::string& name) {
    snprintf(my_cfg.device, sizeof my_cfg.device, "%s", name.c_str());
    return startdom(1);
  }
  // What arrives until `n` bytes are in or the line is quiet for `waitMs`.
  std::string ReadN(size_t n, uint32_t waitMs) {
    std::string got;
    while (got.size() < n && WaitComInput(waitMs)) {
      uint8_t buf[256];
      uint32_t n = 0;
      if (!MyReadFile(buf, sizeof buf, &n)) break;
      got.append(reinterpret_cast<char*>(buf), n);
    }
    return got;
  }
  bool Write(const std::string& bytes) {
    uint32_t n = 0;
    return MyWriteFile(reinterpret_cast<const uint8_t*>(bytes.data()),
                       static_cast<uint32_t>(bytes.size()), &n) &&
           n == bytes.size();
  }
  TraceCapture trace_;
};

TEST_F(NetPortTest, NothingListeningFailsAtOnceNamingHostAndPort) {
  const uint16_t port = UnusedLoopbackPort();
  ASSERT_NE(port, 0);
  const std::string at = "127.0.0.1:" + std::to_string(port);
  EXPECT_FALSE(Open("socket://" + at));
  EXPECT_FALSE(is_open());
  EXPECT_NE(ComOpenFailureHint().find(at), std::string::npos) << ComOpenFailureHint();
  EXPECT_NE(ComOpenFailureHint().find("refused"), std::string::npos) << ComOpenFailureHint();
  EXPECT_EQ(ComPortName(1), "socket://" + at);
}

TEST_F(NetPortTest, RawBytesPassUnchangedPurgeDropsWhatCameAndAClosedPeerIsALostPort) {
  std::atomic<bool> closeNow{false};
  LoopbackServer server([&](LoopbackConnection& c) {
    if (closeNow.exchange(true)) return;  // the second connection: nothing to do
    if (c.Read(3, 3000) != "a\xff\n") return;
    c.Send("hello\xff");
    // Something the purge must drop, then the peer goes away on request.
    c.ReadUntil("go", 3000);
    c.Send("stale");
    c.ReadUntil("close", 3000);
    c.Close();
  });
  ASSERT_TRUE(server.listening());
  ASSERT_TRUE(Open(server.Name("tcp://"))) << ComOpenFailureHint();
  ASSERT_TRUE(Write("a\xff\n"));
  EXPECT_EQ(ReadN(6, 3000), "hello\xff");
  ASSERT_TRUE(Write("go"));
  ASSERT_TRUE(WaitComInput(3000));
  PurgeCom();
  uint8_t buf[16];
  uint32_t n = 99;
  EXPECT_TRUE(MyReadFile(buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(IsComLost());

  ASSERT_TRUE(Write("close"));
  EXPECT_FALSE(WaitComInput(3000));
  EXPECT_TRUE(IsComLost());
  EXPECT_TRUE(is_open());
  EXPECT_FALSE(MyReadFile(buf, sizeof buf, &n));
  EXPECT_TRUE(trace_.Contains("the port is gone"));
  // Start opens it again, as for a re-plugged adapter.
  CloseCom();
  EXPECT_TRUE(Open(server.Name("socket://")));
  EXPECT_FALSE(IsComLost());
  CloseCom();
}

// A console server with the COM port option, answering as `answer` says.
struct Rfc2217Case {
  const char* name;
  bool refuseOption;
  uint32_t baudAnswer;
  bool opens;
  const char* hintPart;
};

class Rfc2217PortTest : public NetPortTest, public ::testing::WithParamInterface<Rfc2217Case> {};

std::string Answer(const ComSetting& s, uint32_t value) {
  std::string out = kIac + "\xfa\x2c" + static_cast<char>(s.code + 100);
  if (s.code == telnet::kSetBaudRate) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
  } else {
    out += static_cast<char>(value);
  }
  return out + kIac + "\xf0";
}

TEST_P(Rfc2217PortTest, NegotiatesTheLineAndEscapesBothWays) {
  const Rfc2217Case& t = GetParam();
  std::string requests, data;
  LoopbackServer server([&](LoopbackConnection& c) {
    // The client's opening: binary, go-ahead suppressed, its COM port option.
    if (c.ReadUntil(kIac + "\xfb\x2c", 3000).empty()) return;
    // A request of our own first, which the client must answer and not echo.
    c.Send(kIac + "\xfd\x18");  // DO TERMINAL-TYPE
    c.Send(kIac + (t.refuseOption ? "\xfe" : "\xfd") + "\x2c");
    if (t.refuseOption) {
      c.ReadQuiet(300);
      return;
    }
    // Seven requests: the baud rate's is 10 bytes, the others 7 each; any
    // negotiation answers come before them.
    std::string got = c.ReadUntil(std::string(kIac + "\xfa\x2c\x05\x01" + kIac + "\xf0"), 3000);
    requests = got;
    for (const ComSetting& s : LineSettings()) {
      // Like a server whose line has no modem lines: DTR and RTS unanswered.
      if (!s.mustConfirm) continue;
      c.Send(Answer(s, s.code == telnet::kSetBaudRate ? t.baudAnswer : s.value));
    }
    if (!t.opens) {
      c.ReadQuiet(300);
      return;
    }
    data = c.ReadUntil("end", 3000);
    // Data with an escaped 0xFF, a NOP, a modem state notification.
    c.Send("x" + kIac + kIac + "y" + kIac + "\xf1" + kIac + "\xfa\x2c\x6b\x30" + kIac + "\xf0z");
    c.ReadQuiet(3000);
  });
  ASSERT_TRUE(server.listening());
  const bool opened = Open(server.Name("rfc2217://"));
  EXPECT_EQ(opened, t.opens) << ComOpenFailureHint();
  if (!t.opens) {
    EXPECT_FALSE(is_open());
    EXPECT_NE(ComOpenFailureHint().find(t.hintPart), std::string::npos) << ComOpenFailureHint();
    return;
  }
  EXPECT_NE(requests.find(kIac + "\xfc\x18"), std::string::npos) << "WONT TERMINAL-TYPE";
  std::vector<uint8_t> wire;
  for (const ComSetting& s : LineSettings()) TelnetLink::Request(s, &wire);
  const std::string want(wire.begin(), wire.end());
  ASSERT_GE(requests.size(), want.size());
  EXPECT_EQ(requests.substr(requests.size() - want.size()), want);
  EXPECT_TRUE(trace_.Has("startdom: DTR on not confirmed by the server\n"));

  ASSERT_TRUE(Write("\xff\x01" "end"));
  EXPECT_EQ(ReadN(4, 3000), "x\xffyz");
  EXPECT_EQ(data, "\xff\xff\x01" "end");
  CloseCom();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, Rfc2217PortTest,
    ::testing::Values(Rfc2217Case{"Agrees", false, 115200, true, ""},
                      Rfc2217Case{"RefusesTheOption", true, 115200, false,
                                  "refuses the COM port option"},
                      Rfc2217Case{"AnswersAnotherBaudRate", false, 9600, false,
                                  "cannot set the baud rate 115200 (it answered 9600)"}),
    [](const ::testing::TestParamInfo<Rfc2217Case>& info) {
      return std::string(info.param.name);
    });

// Servers that take the COM port option and then send what no server should:
// subnegotiations without end, or a flood of them. Each ends in a clear
// failure within the answer time, with nothing kept on the way.
struct FloodCase {
  const char* name;
  bool confirmFirst;    // the line's settings confirmed, the port opened
  std::string opening;  // sent once the option is taken, before the flood
  std::string flood;    // then sent again and again
  const char* hintPart;  // of the failed open; "" when it opens
};

class Rfc2217FloodTest : public NetPortTest, public ::testing::WithParamInterface<FloodCase> {};

TEST_P(Rfc2217FloodTest, FailsWithinTheAnswerTimeHoldingNothing) {
  const FloodCase& t = GetParam();
  std::atomic<bool> done{false};
  LoopbackServer server([&](LoopbackConnection& c) {
    if (c.ReadUntil(kIac + "\xfb\x2c", 3000).empty()) return;
    c.Send(kIac + "\xfd\x2c");
    if (t.confirmFirst) {
      c.ReadUntil(std::string(kIac + "\xfa\x2c\x05\x01" + kIac + "\xf0"), 3000);
      for (const ComSetting& s : LineSettings()) {
        if (s.mustConfirm) c.Send(Answer(s, s.value));
      }
      c.ReadUntil("go", 3000);
    }
    c.Send(t.opening);
    // Until the client goes, or for as long as the test may take.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!done && std::chrono::steady_clock::now() < end && c.Send(t.flood)) {
    }
  });
  ASSERT_TRUE(server.listening());
  const auto start = std::chrono::steady_clock::now();
  const bool opened = Open(server.Name("rfc2217://"));
  if (t.confirmFirst) {
    ASSERT_TRUE(opened) << ComOpenFailureHint();
    ASSERT_TRUE(Write("go"));
    EXPECT_FALSE(WaitComInput(kNetAnswerTimeoutMs));
    EXPECT_TRUE(IsComLost());
    EXPECT_TRUE(trace_.Contains("a telnet subnegotiation that does not end"));
  } else {
    EXPECT_FALSE(opened);
    EXPECT_NE(ComOpenFailureHint().find(t.hintPart), std::string::npos) << ComOpenFailureHint();
  }
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, kNetAnswerTimeoutMs / 1000.0 + 2);
  done = true;
  CloseCom();
}

std::string Notification(char code) { return kIac + "\xfa\x2c" + code + "\x30" + kIac + "\xf0"; }

INSTANTIATE_TEST_SUITE_P(
    Servers, Rfc2217FloodTest,
    ::testing::Values(
        // Modem state notifications, answers to the DTR setting only, and
        // the line's data, in chunks of some 4 KiB.
        FloodCase{"FloodsNotificationsAndData", false, "",
                  [] {
                    std::string chunk;
                    while (chunk.size() < 4000) {
                      chunk += Notification('\x6b') + "data" + kIac + kIac +
                               kIac + "\xfa\x2c\x69\x08" + kIac + "\xf0";
                    }
                    return chunk;
                  }(),
                  "does not confirm the baud rate 115200 within 3 seconds"},
        FloodCase{"NeverEndsASubnegotiation", false, kIac + "\xfa\x2c\x6b",
                  std::string(4096, '\x30'), "sent a telnet subnegotiation that does not end"},
        FloodCase{"NeverEndsOneOnceTheLineIsSet", true, kIac + "\xfa\x2c\x6b",
                  std::string(4096, '\x30') + kIac + kIac, ""}),
    [](const ::testing::TestParamInfo<FloodCase>& info) { return std::string(info.param.name); });

}  // namespace
