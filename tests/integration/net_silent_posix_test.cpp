// A console server that falls silent mid-image, as one switched off or cut
// off by the network: the download ends as a lost port within the silence
// limit, not after the retries. The test moves into a network namespace of its
// own and drops every packet of the relay's connection on its loopback with an
// nftables rule, so that nothing answers, not even the kernel's
// acknowledgements. Skipped where no namespace can be made or nft is missing.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/download.h"
#include "integration/pty_relay.h"
#include "integration/sim_process.h"
#include "platform/socket.h"
#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLimitMs = 2000;

bool LoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  close(fd);
  return ok;
}

struct SilenceCase {
  const char* name;
  // The status wait, and so how soon the client sends again into the
  // silence (seconds).
  int32_t statusWaitS;
  // Whether everything sent has been acknowledged when the packets stop:
  // then nothing is in flight until the status wait ends, and only the
  // keepalive probes can tell.
  bool acknowledged;
};

class NetSilentTest : public ::testing::TestWithParam<SilenceCase> {
 protected:
  void SetUp() override {
    if (std::system("command -v nft >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "nft is not installed (scripts/install-deps.sh adds nftables)";
    }
    home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (home_ < 0 || unshare(CLONE_NEWNET) != 0) {
      GTEST_SKIP() << "no network namespace of its own: " << strerror(errno);
    }
    ASSERT_TRUE(LoopbackUp());
    ASSERT_EQ(0, std::system("nft add table inet tarnwick_silent && nft add chain inet "
                             "tarnwick_silent out '{ type filter hook output priority 0; }'"));
    SetSocketSilenceLimit(kLimitMs);
  }
  void TearDown() override {
    SetSocketSilenceLimit(0);
    if (home_ >= 0) {
      // Back to the namespace the process came with; the test's goes with
      // the last process in it.
      EXPECT_EQ(0, setns(home_, CLONE_NEWNET));
      close(home_);
    }
  }
  int home_ = -1;
};

TEST_P(NetSilentTest, ASilentServerIsALostPortWithinTheLimit) {
  const SilenceCase& c = GetParam();
  simproc::SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10"}));
  const std::string file = sim.dir() + "/fw.bin";
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + file +
                           "' --image fw:20000 --version 1.02.0000.11 >/dev/null";
  ASSERT_EQ(0, std::system(make.c_str()));

  std::atomic<int64_t> droppedAt{0};
  std::atomic<bool> dropped{false};
  uint16_t port = 0;
  // 4000 bytes are well inside the image's packets.
  PtyRelay relay(sim.path(), 4000, [&](int sock) {
    if (c.acknowledged) {
      // Sends the acknowledgement of what came, if the kernel held it back.
      int on = 1;
      setsockopt(sock, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    const std::string p = std::to_string(port);
    const std::string rule = "nft 'add rule inet tarnwick_silent out tcp sport " + p +
                             " drop; add rule inet tarnwick_silent out tcp dport " + p + " drop'";
    dropped = std::system(rule.c_str()) == 0;
    droppedAt = Clock::now().time_since_epoch().count();
  });
  port = relay.port();

  DownloadRecord record{};
  record.ok = true;
  {
    simproc::HostLine host;
    ASSERT_TRUE(host.Open(relay.Name(), c.statusWaitS)) << ComOpenFailureHint();
    g_bStopDl = 0;
    record = DownloadImageFile(file.c_str());
    EXPECT_TRUE(IsComLost());
  }
  const auto end = Clock::now();
  ASSERT_TRUE(relay.cut());
  ASSERT_TRUE(dropped);
  EXPECT_FALSE(record.ok);
  EXPECT_EQ(DownloadFailure::kPortLost, record.cause);
  const double seconds =
      std::chrono::duration<double>(end - Clock::time_point(Clock::duration(droppedAt.load())))
          .count();
  // The retries alone would take ten status waits.
  double bound = kLimitMs / 1000.0 + 1.5;
  if (!c.acknowledged) bound += c.statusWaitS;
  std::printf("the port was lost %.1f s after the packets stopped\n", seconds);
  EXPECT_LT(seconds, bound);
  // Found before the client would have sent anything again.
  if (c.acknowledged) {
    EXPECT_LT(seconds, c.statusWaitS);
  }
  sim.Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Silences, NetSilentTest,
    ::testing::Values(SilenceCase{"WhileSendingIntoIt", 1, false},
                      SilenceCase{"WhileNothingIsInFlight", 8, true}),
    [](const ::testing::TestParamInfo<SilenceCase>& info) { return std::string(info.param.name); });

}  // namespace
