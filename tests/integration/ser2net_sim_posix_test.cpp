// Downloads through a console server: the real ser2net on the loopback,
// bridging TCP (raw, or telnet with the COM-PORT-OPTION) to expander-sim's
// pseudo-terminal, and tarnwick-cli at the other end. The simulator's report
// is the judge of what reached the line. Skipped only where ser2net is not
// installed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "integration/cli_process.h"
#include "integration/ser2net_process.h"
#include "integration/sim_process.h"

namespace {

using ser2netproc::Line;
using ser2netproc::Ser2netProcess;
using simproc::SimProcess;

#define SKIP_WITHOUT_SER2NET()                                                      \
  do {                                                                              \
    if (ser2netproc::Program().empty()) {                                           \
      GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh adds it)"; \
    }                                                                               \
  } while (0)

// A plain TCP client of 127.0.0.1:port; -1 if it cannot connect.
int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// Reads from fd until the text holds `until` or 5 s pass; all that was read.
std::string ReadUntil(int fd, const std::string& until) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.find(until) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

// The rate the pseudo-terminal is set to, waited for (up to 5 s) to become
// `want`: the server sets the line when a client connects, a moment later.
speed_t AwaitRate(const std::string& pty, speed_t want) {
  speed_t rate = 0;
  for (int i = 0; i < 500; ++i) {
    const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t;
    if (fd >= 0 && tcgetattr(fd, &t) == 0) rate = cfgetispeed(&t);
    if (fd >= 0) close(fd);
    if (rate == want) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return rate;
}

// The rig itself: both kinds of accepter reach the console, and the RFC 2217
// one really starts its serial side at 9600 until a client sets it.
TEST(Ser2netSimTest, BothAcceptersReachTheConsole) {
  SKIP_WITHOUT_SER2NET();
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10"}));
  Ser2netProcess server;
  ASSERT_TRUE(server.Start({{sim.path(), false, 115200, ""}, {sim.path(), true, 9600, ""}}))
      << server.error();

  const int raw = Connect(server.port(0));
  ASSERT_GE(raw, 0);
  // As a host types a console line: a byte per 10 ms, then three line feeds.
  for (char c : std::string("donz 0x06 0x88")) {
    ASSERT_EQ(1, write(raw, &c, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(3, write(raw, "\n\n\n", 3));
  const std::string answer = ReadUntil(raw, "exp> ");
  EXPECT_NE(std::string::npos, answer.find("1.02.0000.10")) << answer;
  close(raw);

  const int telnet = Connect(server.port(1));
  ASSERT_GE(telnet, 0);
  EXPECT_EQ(B9600, AwaitRate(sim.path(), B9600));
  const std::string offers = ReadUntil(telnet, "\xff\xfd,");  // DO COM-PORT-OPTION
  EXPECT_NE(std::string::npos, offers.find("\xff\xfd,")) << offers.size();
  close(telnet);
  EXPECT_EQ(0, sim.Stop()) << sim.ReadReport().raw;
}

}  // namespace
