// tarnwick-cli through a socket:// port: a TCP relay on 127.0.0.1 carries the
// line to expander-sim's pseudo-terminal, as a raw console server would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>

#include "integration/cli_process.h"
#include "integration/sim_process.h"
#include "support/loopback_server.h"

namespace {

using cliproc::RunCli;
using simproc::ReadAll;
using simproc::SimProcess;

// Relays each connection to the pseudo-terminal `pty` until either side
// ends, or cuts the connection once `cutAfter` bytes went towards the line.
class PtyRelay {
 public:
  PtyRelay(const std::string& pty, long cutAfter = -1)
      : pty_(pty), cutAfter_(cutAfter), server_([this](LoopbackConnection& c) { Relay(c); }) {}
  std::string Name() const { return server_.Name("socket://"); }
  bool cut() const { return cut_.load(); }

 private:
  void Relay(LoopbackConnection& c) {
    int tty = open(pty_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (tty < 0) return;
    termios tio;
    if (tcgetattr(tty, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(tty, TCSANOW, &tio);
    }
    const int sock = static_cast<int>(c.handle());
    long toLine = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p[2] = {{sock, POLLIN, 0}, {tty, POLLIN, 0}};
      if (poll(p, 2, 1000) < 0) break;
      char buf[4096];
      if (p[0].revents) {
        const ssize_t n = read(sock, buf, sizeof buf);
        if (n <= 0) break;
        if (write(tty, buf, static_cast<size_t>(n)) != n) break;
        toLine += n;
        if (cutAfter_ >= 0 && toLine >= cutAfter_) {
          cut_ = true;
          break;
        }
      }
      if (p[1].revents) {
        const ssize_t n = read(tty, buf, sizeof buf);
        if (n <= 0) break;
        if (!c.Send(std::string(buf, static_cast<size_t>(n)))) break;
      }
    }
    close(tty);
  }

  std::string pty_;
  long cutAfter_;
  std::atomic<bool> cut_{false};
  LoopbackServer server_;
};

std::string MakeFile(const std::string& path, const std::string& images) {
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + path + "' " + images +
                           " --version 1.02.0000.11 >/dev/null";
  EXPECT_EQ(0, std::system(make.c_str()));
  return ReadAll(path);
}

TEST(NetSimTest, DownloadThroughASocketPortArrivesWhole) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10", "--reboot-seconds", "1"}));
  const std::string file = sim.dir() + "/fw.bin";
  const std::string bytes = MakeFile(file, "--image fw:3000");
  PtyRelay relay(sim.path());
  const cliproc::Run run = RunCli({"download", "--port", relay.Name(), "--file", file, "--json"});
  ASSERT_EQ(0, run.code) << run.out << run.err;
  for (const auto& e : run.events) EXPECT_EQ(relay.Name(), e.value("port", ""));
  EXPECT_EQ(0, sim.Stop());
  const simproc::Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  ASSERT_EQ(1u, report.images.size()) << report.raw;
  EXPECT_TRUE(report.images[0].terminated);
  EXPECT_TRUE(ReadAll(report.images[0].file) == bytes.substr(0, 3000 + 28));
}

TEST(NetSimTest, ANetworkPortAndALocalPortTakeOneFileAtOnce) {
  SimProcess remote, local;
  ASSERT_TRUE(remote.Start({"--version", "1.02.0000.10", "--reboot-seconds", "1"}));
  ASSERT_TRUE(local.Start({"--version", "1.02.0000.10", "--reboot-seconds", "1"}));
  const std::string file = remote.dir() + "/fw.bin";
  MakeFile(file, "--image fw:2000");
  PtyRelay relay(remote.path());
  const cliproc::Run run = RunCli(
      {"download", "--port", relay.Name(), "--port", local.path(), "--file", file, "--json"});
  ASSERT_EQ(0, run.code) << run.out << run.err;
  for (SimProcess* sim : {&remote, &local}) {
    EXPECT_EQ(0, sim->Stop());
    const simproc::Report report = sim->ReadReport();
    ASSERT_EQ(1u, report.images.size()) << report.raw;
    EXPECT_TRUE(report.images[0].terminated);
  }
  const nlohmann::json summary = nlohmann::json::parse(run.out.substr(run.out.rfind("\n{") + 1));
  ASSERT_EQ(2u, summary["ports"].size()) << run.out;
  EXPECT_EQ(relay.Name(), summary["ports"][0].value("port", ""));
}

TEST(NetSimTest, AConnectionCutMidImageIsALostPort) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10"}));
  const std::string file = sim.dir() + "/fw.bin";
  MakeFile(file, "--image fw:20000");
  // The console's commands are a few dozen bytes; 4000 are well inside the
  // image's packets.
  PtyRelay relay(sim.path(), 4000);
  const cliproc::Run run = RunCli({"download", "--port", relay.Name(), "--file", file, "--json"});
  EXPECT_TRUE(relay.cut());
  EXPECT_EQ(9, run.code) << run.out << run.err;
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ("port-lost", run.events.back().value("outcome", "")) << run.out;
}

}  // namespace
