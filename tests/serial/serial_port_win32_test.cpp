// The Windows backend against a real port with an echoing peer on the far
// end. Runs only when TARNWICK_TEST_COM names the port number; see
// tests/e2e/helpers/serial_wine_check.sh, which provides such a port under
// Wine through a pseudo-terminal.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/settings.h"
#include "serial/line_settings_win32.h"
#include "serial/serial_port.h"
#include "support/trace_capture.h"

namespace {

class EchoPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = getenv("TARNWICK_TEST_COM");
    if (port == nullptr || atoi(port) <= 0) GTEST_SKIP() << "TARNWICK_TEST_COM not set";
    port_ = atoi(port);
    ASSERT_TRUE(startdom(port_));
    PurgeCom();
  }
  void TearDown() override { CloseCom(); }

  void Write(const std::string& bytes) {
    uint32_t n = 0;
    ASSERT_TRUE(MyWriteFile(reinterpret_cast<const uint8_t*>(bytes.data()),
                            static_cast<uint32_t>(bytes.size()), &n));
    EXPECT_EQ(n, bytes.size());
  }
  // Reads until `want` bytes have come back or the peer stays silent for 2 s.
  std::string ReadBack(size_t want) {
    std::string got;
    while (got.size() < want) {
      uint8_t buf[512];
      uint32_t n = 0;
      if (!MyReadFile(buf, static_cast<uint32_t>(want - got.size()), &n)) break;
      got.append(reinterpret_cast<char*>(buf), n);
      if (n == 0 && !WaitComInput(2000)) break;
    }
    return got;
  }

  int port_ = 0;
  TraceCapture trace_;
};

TEST_F(EchoPortTest, OpensAndConfigures) {
  EXPECT_TRUE(trace_.Has("strComPort=COM" + std::to_string(port_)));
  EXPECT_TRUE(is_open());
  uint8_t buf[8];
  uint32_t n = 99;
  EXPECT_TRUE(MyReadFile(buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
}

TEST_F(EchoPortTest, EveryByteValueComesBack) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  Write(all);
  EXPECT_EQ(ReadBack(all.size()), all);
}

TEST_F(EchoPortTest, ShortReadLeavesTheRestQueued) {
  Write("12345");
  ASSERT_TRUE(WaitComInput(2000));
  Sleep(100);  // let the whole echo arrive
  uint8_t buf[2];
  uint32_t n = 0;
  ASSERT_TRUE(MyReadFile(buf, 2, &n));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "12");
  EXPECT_EQ(ReadBack(3), "345");
}

ULONGLONG ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  return (k.QuadPart + u.QuadPart) / 10000;
}

TEST_F(EchoPortTest, WaitComInputSleepsUntilInput) {
  // Waits that end early or spin show up as CPU time of this thread.
  const ULONGLONG cpu = ThreadCpuMs();
  const ULONGLONG end = GetTickCount64() + 300;
  while (GetTickCount64() < end) EXPECT_FALSE(WaitComInput(50));
  EXPECT_LT(ThreadCpuMs() - cpu, 150u);

  Write("k");
  // Far longer bound than the echo needs: true can only mean the byte came.
  EXPECT_TRUE(WaitComInput(20000));
  EXPECT_EQ(ReadBack(1), "k");
}

// With the event character the port takes the line settings and still
// passes every byte value, "*" included, both ways.
TEST_F(EchoPortTest, EventCharacterLeavesEveryByteAlone) {
  CloseCom();
  const uint32_t saved = my_cfg.eventchar;
  my_cfg.eventchar = 1;
  trace_.Clear();
  const bool opened = startdom(port_);
  my_cfg.eventchar = saved;
  ASSERT_TRUE(opened);
  EXPECT_TRUE(trace_.Has("startdom: event character '*'\n"));
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  Write(all);
  EXPECT_EQ(ReadBack(all.size()), all);
}

// The event characters the port was set to, in order, through the seam.
std::vector<char> g_evtChars;
BOOL WINAPI RecordCommState(HANDLE port, DCB* dcb) {
  g_evtChars.push_back(dcb->EvtChar);
  return SetCommState(port, dcb);
}

// The driver keeps the line settings once the handle is closed: a port
// opened with the event character has it cleared by the close, so the next
// program to open the port does not inherit '*'. Without it, the close
// leaves the settings alone.
TEST_F(EchoPortTest, CloseClearsTheEventCharacter) {
  struct Case {
    uint32_t eventchar;
    std::vector<char> applied;  // open, then close
  } cases[] = {{0, {0}}, {1, {'*', 0}}};
  const uint32_t saved = my_cfg.eventchar;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.eventchar ? "eventchar=1" : "eventchar=0");
    CloseCom();
    my_cfg.eventchar = c.eventchar;
    g_evtChars.clear();
    SetCommStateSetter(RecordCommState);
    const bool opened = startdom(port_);
    CloseCom();
    SetCommStateSetter(nullptr);
    EXPECT_TRUE(opened);
    EXPECT_EQ(g_evtChars, c.applied);
  }
  my_cfg.eventchar = saved;
  ASSERT_TRUE(startdom(port_));
}

TEST_F(EchoPortTest, CloseComTwiceThenOpenAgain) {
  CloseCom();
  CloseCom();
  EXPECT_FALSE(is_open());
  uint8_t buf[4];
  uint32_t n = 0;
  EXPECT_FALSE(MyReadFile(buf, sizeof buf, &n));
  EXPECT_TRUE(trace_.Has("Error in communicatons--read 1\n"));
  EXPECT_TRUE(startdom(port_));
  Write("again");
  EXPECT_EQ(ReadBack(5), "again");
}

// On Windows a COM port has one owner at a time: held by another opener, it
// is refused with a hint that says so, and opens again once that one lets go.
TEST_F(EchoPortTest, PortHeldElsewhereSaysSo) {
  CloseCom();
  const std::string name = "COM" + std::to_string(port_);
  const std::string device = "\\\\.\\" + name;
  HANDLE other = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  trace_.Clear();
  if (startdom(port_)) {
    CloseHandle(other);
    // Wine lets any number of handles share a serial device.
    GTEST_SKIP() << "this system shares " << name << " between openers";
  }
  EXPECT_FALSE(is_open());
  EXPECT_EQ(ComOpenFailureHint().rfind(name + " is in use by another program", 0), 0u)
      << ComOpenFailureHint();
  EXPECT_TRUE(trace_.Contains(name + " is in use by another program"));
  CloseHandle(other);
  EXPECT_TRUE(startdom(port_));
  EXPECT_EQ(ComOpenFailureHint(), "");
}

// No port needed: a port that does not exist must say why in words, with
// what to do about it, not only as a number.
TEST(Win32PortOpenTest, MissingPortTracesSystemTextAndRemedy) {
  TraceCapture trace;
  EXPECT_FALSE(startdom(250));
  std::string failure;
  for (const std::string& line : trace.lines()) {
    if (line.rfind("CreateFileA(\\\\.\\COM250): error ", 0) == 0) failure = line;
  }
  ASSERT_FALSE(failure.empty());
  EXPECT_NE(failure.find(" ("), std::string::npos) << failure;
  EXPECT_EQ(failure.substr(failure.size() - 2), ")\n") << failure;
  EXPECT_EQ(failure.find("()"), std::string::npos) << failure;
  EXPECT_TRUE(trace.Contains("COM250 no such port on this computer")) << failure;
  EXPECT_TRUE(trace.Has("hComm == INVALID_HANDLE_VALUE"));
  // The port box says all there is to say about a missing port.
  EXPECT_EQ(ComOpenFailureHint(), "");
}

}  // namespace
