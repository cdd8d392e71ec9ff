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
#include <ostream>
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

// An image file made by fwimage that takes the path with rebooting
// (firmware and bootloader), its images' lengths in file order.
const std::vector<size_t> kRebootLengths = {8192 + 28, 2048 + 28};

std::string MakeRebootFile(const std::string& path) {
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + path +
                           "' --image fw:8192 --image boot:2048 --version 1.02.0000.11 >/dev/null";
  EXPECT_EQ(0, std::system(make.c_str()));
  return simproc::ReadAll(path);
}

double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

struct KindCase {
  const char* name;
  bool rfc2217;
  long serverBaud;  // the line as the server sets it when a client connects
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class Ser2netDownloadTest : public testing::TestWithParam<KindCase> {};

// The whole path with rebooting through the server. The simulator takes
// bytes only while its line is set to 115200, so behind the RFC 2217
// accepter (which opens the line at 9600) it succeeds only if tarnwick set
// the rate itself.
TEST_P(Ser2netDownloadTest, RebootPathArrivesWhole) {
  SKIP_WITHOUT_SER2NET();
  const KindCase& c = GetParam();
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10", "--reboot-seconds", "3", "--require-baud", "115200"}));
  Ser2netProcess server;
  ASSERT_TRUE(server.Start({{sim.path(), c.rfc2217, c.serverBaud, ""}})) << server.error();
  const std::string file = sim.dir() + "/fwboot.bin";
  const std::string bytes = MakeRebootFile(file);

  const cliproc::Run run = cliproc::RunCli({"download", "--port", server.Url(0), "--file", file, "--json"});
  EXPECT_EQ(0, run.code) << run.out << run.err << server.log();
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(server.Url(0), run.events.back().value("port", ""));  // named as given

  server.Stop();
  EXPECT_EQ(0, sim.Stop());
  const simproc::Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  EXPECT_EQ(1, report.reboots);
  ASSERT_EQ(kRebootLengths.size(), report.images.size()) << report.raw;
  size_t at = 0;
  for (size_t i = 0; i < kRebootLengths.size(); ++i) {
    EXPECT_TRUE(report.images[i].terminated) << "image " << i;
    EXPECT_TRUE(simproc::ReadAll(report.images[i].file) == bytes.substr(at, kRebootLengths[i]))
        << "image " << i;
    at += kRebootLengths[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Ser2netDownloadTest,
                         testing::Values(KindCase{"Raw", false, 115200},
                                         KindCase{"Rfc2217From9600", true, 9600}),
                         [](const testing::TestParamInfo<KindCase>& info) { return info.param.name; });

// The server dies in the middle of an image: its sockets close under
// tarnwick, which is a lost port (exit 9; 8 while the bootloader is written),
// found at once rather than after the download's own waits.
TEST(Ser2netSimTest, KilledServerIsALostPort) {
  SKIP_WITHOUT_SER2NET();
  struct Case {
    const char* name;
    const char* images;
    int killAtPercent;
    int code;
    const char* outcome;
  } cases[] = {
      {"during the firmware", "--image fw:64K", 10, 9, "port-lost"},
      // The firmware is the file's first 4 %.
      {"during the bootloader", "--image fw:2K --image boot:48K", 60, 8, "bootloader-failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10", "--reboot-seconds", "1"}));
    Ser2netProcess server;
    ASSERT_TRUE(server.Start({{sim.path(), false, 115200, "chardelay: false"}})) << server.error();
    const std::string file = sim.dir() + "/fw.bin";
    const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + file + "' " +
                             c.images + " --version 1.02.0000.11 >/dev/null";
    ASSERT_EQ(0, std::system(make.c_str()));

    cliproc::CliProcess cli;
    ASSERT_TRUE(cli.Start({"download", "--port", server.Url(0), "--file", file, "--json"}));
    nlohmann::json progress;
    do {
      ASSERT_TRUE(cli.WaitEvent("progress", &progress)) << cli.out() << server.log();
    } while (progress.value("percent", 0) < c.killAtPercent);
    const auto killed = std::chrono::steady_clock::now();
    server.Kill();
    const int code = cli.Wait();
    const double seconds = SecondsSince(killed);
    std::printf("ser2net killed %s at %d%%: tarnwick-cli ended %.3f s later\n", c.name,
                progress.value("percent", 0), seconds);
    EXPECT_EQ(c.code, code) << cli.out() << cli.err();
    // The download's shortest wait for an answer is whole seconds; a lost
    // connection must not wait for it.
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(c.outcome, cli.events().empty() ? "" : cli.events().back().value("outcome", ""));
  }
}

// doctor times how the server passes the console's answer on: ser2net's
// defaults gather it (chardelay) and draw a warning that names both
// settings; with them the answer comes as the line carries it.
TEST(Ser2netSimTest, DoctorNamesAServerThatHoldsDataBack) {
  SKIP_WITHOUT_SER2NET();
  struct Case {
    const char* name;
    const char* tcp;
    const char* options;
    const char* level;
  } cases[] = {
      {"defaults", "tcp", "", "warn"},
      {"recommended", "tcp(nodelay)", "chardelay: false", "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim;
    // The answer at the line's pace, as a real console sends it.
    ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10", "--baud", "115200"}));
    Ser2netProcess server;
    ASSERT_TRUE(server.Start({{sim.path(), false, 115200, c.options, c.tcp}})) << server.error();
    const cliproc::Run run = cliproc::RunCli({"doctor", "--port", server.Url(0), "--json"});
    EXPECT_EQ(0, run.code) << run.out << run.err;  // a warning is no failure
    const nlohmann::json all = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(all.is_object()) << run.out;
    nlohmann::json found;
    for (const auto& f : all["ports"][0]["findings"]) {
      if (f.value("check", "") == "server") {
        found = f;
        continue;
      }
      EXPECT_EQ("ok", f.value("level", "")) << f.dump();
    }
    ASSERT_TRUE(found.is_object()) << run.out;
    std::printf("%s: %s\n", c.name, found.value("text", "").c_str());
    EXPECT_EQ(c.level, found.value("level", "")) << run.out;
    const std::string remedy = found.value("remedy", "");
    if (std::string(c.level) == "warn") {
      EXPECT_NE(std::string::npos, remedy.find("chardelay: false")) << remedy;
      EXPECT_NE(std::string::npos, remedy.find("tcp(nodelay)")) << remedy;
    } else {
      EXPECT_EQ("", remedy);
    }
    server.Stop();
    EXPECT_EQ(0, sim.Stop());
    const simproc::Report report = sim.ReadReport();
    EXPECT_TRUE(report.violations.empty()) << report.raw;
  }
}

// Nothing listens on the port: the port cannot be opened (exit 3), at once,
// and the text names the host and port.
TEST(Ser2netSimTest, NothingListeningIsAnOpenFailure) {
  SimProcess sim;  // only for its folder
  ASSERT_TRUE(sim.Start({}));
  const std::string file = sim.dir() + "/fwboot.bin";
  MakeRebootFile(file);
  const int port = ser2netproc::FreeLoopbackPort();
  ASSERT_NE(0, port);
  const std::string where = "127.0.0.1:" + std::to_string(port);
  for (const std::string scheme : {"socket://", "tcp://", "rfc2217://"}) {
    SCOPED_TRACE(scheme);
    const auto started = std::chrono::steady_clock::now();
    const cliproc::Run run = cliproc::RunCli({"download", "--port", scheme + where, "--file", file});
    const double seconds = SecondsSince(started);
    std::printf("%s%s refused: tarnwick-cli ended after %.3f s\n", scheme.c_str(), where.c_str(), seconds);
    EXPECT_EQ(3, run.code) << run.out << run.err;
    EXPECT_NE(std::string::npos, (run.out + run.err).find(where)) << run.out << run.err;
    EXPECT_LT(seconds, 5.0);
  }
  EXPECT_EQ(0, sim.Stop());
  EXPECT_EQ(0, sim.ReadReport().Count("bytes_received"));
}

}  // namespace
