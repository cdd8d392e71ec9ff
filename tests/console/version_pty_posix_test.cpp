// The version query against a small peer on a real pseudo-terminal, through
// the platform's serial backend and the real clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "config/settings.h"
#include "console/version.h"
#include "serial/serial_port.h"
#include "support/trace_capture.h"

namespace {

// Answers the version query on the master side once its line has arrived;
// drains everything else until told to stop.
void RunPeer(int master, std::atomic<bool>* done, std::string* seen) {
  bool answered = false;
  while (!done->load()) {
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buf[256];
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) {
      usleep(5000);  // no slave open at the moment
      continue;
    }
    seen->append(buf, static_cast<size_t>(n));
    if (!answered && seen->find("donz 0x06 0x88\n") != std::string::npos) {
      static const char kAnswer[] =
          "\r\nexp> donz 0x06 0x88\r\nFirmware Version: 0.01.0000.05\r\nexp> ";
      ssize_t w = write(master, kAnswer, sizeof kAnswer - 1);
      answered = w == static_cast<ssize_t>(sizeof kAnswer - 1);
    }
  }
}

TEST(VersionPtyTest, QueryOverAPseudoTerminal) {
  TraceCapture trace;
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const char* slave = ptsname(master);
  ASSERT_NE(slave, nullptr);

  char savedDevice[sizeof my_cfg.device];
  snprintf(savedDevice, sizeof savedDevice, "%s", my_cfg.device);
  snprintf(my_cfg.device, sizeof my_cfg.device, "%s", slave);
  SetSerialBackend(nullptr);
  CloseCom();
  bool opened = startdom(1);

  std::atomic<bool> done{false};
  std::string seen;
  std::thread peer(RunPeer, master, &done, &seen);
  FW_VERSION v = {9, 9, 9, 9};
  int32_t result = opened ? CheckFirmwareVer(&v, 4) : -2;
  CloseCom();
  done = true;
  peer.join();
  close(master);
  snprintf(my_cfg.device, sizeof my_cfg.device, "%s", savedDevice);

  ASSERT_TRUE(opened) << "could not open " << slave;
  EXPECT_EQ(result, 1);
  EXPECT_EQ(v.major, 0u);
  EXPECT_EQ(v.minor, 1u);
  EXPECT_EQ(v.build, 0u);
  EXPECT_EQ(v.revision, 5u);
  // The peer saw the opening line and exactly one query.
  EXPECT_EQ(seen.find("\n\r\n\n\n"), 0u);
  EXPECT_EQ(seen.find("donz 0x06 0x88\n\n\n"), seen.rfind("donz 0x06 0x88\n\n\n"));
}

}  // namespace
