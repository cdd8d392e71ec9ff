// tarnwick-cli doctor against expander-sim, with the sysfs, process and udev
// trees it reads built by the test.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "integration/cli_process.h"
#include "integration/sim_process.h"

namespace {

using cliproc::RunCli;
using simproc::SimProcess;

// The findings of the one port as check -> finding.
std::map<std::string, nlohmann::json> Findings(const cliproc::Run& run) {
  std::map<std::string, nlohmann::json> by;
  const nlohmann::json all = nlohmann::json::parse(run.out);
  for (const auto& f : all["ports"][0]["findings"]) by[f["check"]] = f;
  return by;
}

// The console's version decides; the simulator holds the master side of its
// pseudo-terminal and does not count as a holder.
TEST(CliDoctorSimTest, ConsoleVersionDecidesTheExitCode) {
  struct Case {
    const char* version;
    int code;
    const char* level;
  } cases[] = {{"1.02.0000.10", 0, "ok"}, {"0.01.0000.04", 5, "fail"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--version", c.version}));
    const cliproc::Run run = RunCli({"doctor", "--port", sim.path(), "--json"});
    EXPECT_EQ(c.code, run.code) << run.out << run.err;
    auto f = Findings(run);
    EXPECT_EQ("ok", f["holders"]["level"]);
    EXPECT_EQ(c.level, f["console"]["level"]);
    EXPECT_NE(std::string::npos, f["console"]["text"].get<std::string>().find(c.version));
  }
}

// Another reader of the port blocks it, is named, and the console is not
// asked: nothing reaches the line.
TEST(CliDoctorSimTest, AHolderBlocksThePortBeforeAnythingIsSent) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({}));
  const int holder = open(sim.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  const cliproc::Run run = RunCli({"doctor", "--port", sim.path()});
  close(holder);
  EXPECT_EQ(3, run.code) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("(process " + std::to_string(getpid()) + ")"))
      << run.out;
  EXPECT_NE(std::string::npos, run.out.find("exit 3, cannot-open-port")) << run.out;
  EXPECT_EQ(std::string::npos, run.out.find("console")) << run.out;
  EXPECT_EQ(0, sim.Stop());
  EXPECT_TRUE(sim.ReadReport().commands.empty());
}

// A console server that refuses the connection is one finding, under the
// port, with the refusal's text; the console is not a finding of its own.
TEST(CliDoctorSimTest, ARefusedConsoleServerIsOnePortFinding) {
  // A loopback port that was bound and let go: nothing listens there.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  ASSERT_EQ(0, getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len));
  close(s);
  const std::string name = "socket://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  const cliproc::Run run = RunCli({"doctor", "--port", name, "--json"});
  EXPECT_EQ(3, run.code) << run.out << run.err;
  const nlohmann::json all = nlohmann::json::parse(run.out);
  const nlohmann::json& findings = all["ports"][0]["findings"];
  ASSERT_EQ(1u, findings.size()) << run.out;
  EXPECT_EQ("port", findings[0].value("check", ""));
  EXPECT_EQ("fail", findings[0].value("level", ""));
  EXPECT_NE(std::string::npos, findings[0].value("text", "").find("connection refused")) << run.out;
}

// The pseudo-terminal dressed as a USB adapter in a sysfs tree of the test's,
// with ModemManager in a process tree of its own, once told by udev to leave
// the adapter alone and once not.
TEST(CliDoctorSimTest, UsbAdapterAndModemManagerFromBuiltTrees) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({}));
  const std::string root = sim.dir();
  const std::string sys = root + "/sys", proc = root + "/proc", udev = root + "/udev";
  const std::string tty = sim.path().substr(sim.path().rfind('/') + 1);
  const std::string usb = sys + "/devices/usb1/1-1";
  ASSERT_EQ(0, std::system(("mkdir -p " + usb + "/1-1:1.0/port " + sys + "/class/tty/" + tty +
                            " " + proc + "/812 " + udev)
                               .c_str()));
  simproc::WriteAll(usb + "/idVendor", "0403\n");
  simproc::WriteAll(usb + "/idProduct", "6001\n");
  simproc::WriteAll(usb + "/manufacturer", "Maker\n");
  simproc::WriteAll(usb + "/product", "Serial Cable\n");
  simproc::WriteAll(usb + "/1-1:1.0/port/latency_timer", "16\n");
  simproc::WriteAll(usb + "/1-1:1.0/port/event_char", "");
  simproc::WriteAll(proc + "/812/comm", "ModemManager\n");
  ASSERT_EQ(0, symlink((usb + "/1-1:1.0/port").c_str(),
                       (sys + "/class/tty/" + tty + "/device").c_str()));
  struct stat st;
  ASSERT_EQ(0, stat(sim.path().c_str(), &st));
  const std::string udevFile = udev + "/c" + std::to_string(major(st.st_rdev)) + ":" +
                               std::to_string(minor(st.st_rdev));
  const std::vector<std::string> args = {"doctor",      "--port",      sim.path(), "--json",
                                         "--sys-root",  sys,           "--proc-root", proc,
                                         "--udev-root", udev};
  struct Case {
    bool told;
    const char* level;
  } cases[] = {{false, "warn"}, {true, "ok"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.told ? "told" : "not told");
    simproc::WriteAll(udevFile, c.told ? "E:ID_MM_DEVICE_IGNORE=1\n" : "E:ID_VENDOR=Maker\n");
    const cliproc::Run run = RunCli(args);
    EXPECT_EQ(0, run.code) << run.out << run.err;
    auto f = Findings(run);
    EXPECT_EQ(c.level, f["modemmanager"]["level"]);
    if (!c.told) {
      EXPECT_NE(std::string::npos,
                f["modemmanager"]["remedy"].get<std::string>().find(
                    "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\""));
    }
    const std::string adapter = f["adapter"]["text"];
    EXPECT_NE(std::string::npos, adapter.find("Maker Serial Cable (0403:6001)")) << adapter;
    EXPECT_NE(std::string::npos, adapter.find("latency timer 16 ms")) << adapter;
    EXPECT_NE(std::string::npos, adapter.find("event character")) << adapter;
    EXPECT_EQ("ok", f["console"]["level"]);
  }
}

}  // namespace
