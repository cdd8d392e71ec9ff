// Shutdown and sleep held off during a download: tarnwick-cli and the
// terminal dialog's hold against a fake logind on a private bus, reached as
// the system bus, and the download without any bus at all.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/download_hold.h"
#include "config/settings.h"
#include "integration/cli_process.h"
#include "integration/fake_logind.h"
#include "integration/sim_process.h"
#include "support/trace_capture.h"

namespace {

using cliproc::CliProcess;
using logind::FakeLogind;
using simproc::SimProcess;

std::string MakeFile(const std::string& path, const std::string& images) {
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + path + "' " + images +
                           " --version 1.02.0000.11 >/dev/null";
  EXPECT_EQ(0, std::system(make.c_str()));
  return path;
}

// The lines of `text` that hold `part`.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find(part) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

void ExpectBlockLock(const nlohmann::json& call) {
  EXPECT_EQ("tarnwick", call.value("who", ""));
  EXPECT_EQ("block", call.value("mode", ""));
  const std::string what = call.value("what", "");
  EXPECT_NE(std::string::npos, what.find("shutdown")) << what;
  EXPECT_NE(std::string::npos, what.find("sleep")) << what;
}

// One port: the lock is taken before the first packet, kept while the image
// goes out and let go when the program ends, also after a failure. Without a
// bus the download is the same, with one trace line about it.
TEST(ShutdownHoldSimTest, OneDownloadHoldsTheHostUntilItEnds) {
  struct Case {
    const char* name;
    bool bus;
    std::vector<std::string> sim;
    int code;
  } cases[] = {
      {"written", true, {}, 0},
      {"rejected", true, {"--reject-part", "0x06"}, 6},
      {"no bus", false, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLogind logind;
    ASSERT_TRUE(logind.Start()) << logind.errors();
    SimProcess sim;
    std::vector<std::string> simArgs = {"--version", "1.02.0000.10", "--reboot-seconds", "3",
                                        "--baud", "115200"};
    simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
    ASSERT_TRUE(sim.Start(simArgs));
    const std::string file = MakeFile(sim.dir() + "/fw.bin", "--image fw:8K");
    const std::string log = sim.dir() + "/trace.log";
    // No bus: an address where nothing listens.
    const std::string env = c.bus ? logind.env()
                                  : "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + sim.dir() + "/no-bus";
    CliProcess cli;
    ASSERT_TRUE(cli.Start({"download", "--port", sim.path(), "--file", file, "--json", "--log", log,
                           "--dlretry", "2"},
                          {env}));
    nlohmann::json e;
    ASSERT_TRUE(cli.WaitEvent("progress", &e)) << cli.err();
    if (c.bus) {
      const std::vector<nlohmann::json> during = logind.Facts();
      ASSERT_EQ(1u, during.size()) << "the image is under way";
      EXPECT_EQ("inhibit", during[0].value("event", ""));
      ExpectBlockLock(during[0]);
      EXPECT_EQ("Writing firmware to the SAS Expander on " + sim.path() + ": do not power off",
                during[0].value("why", ""));
    }
    EXPECT_EQ(c.code, cli.Wait()) << cli.err();
    const std::vector<std::string> traced = LinesWith(simproc::ReadAll(log), "ShutdownHold:");
    ASSERT_EQ(1u, traced.size()) << simproc::ReadAll(log);
    if (c.bus) {
      EXPECT_TRUE(logind.WaitReleased(1));
      EXPECT_NE(std::string::npos, traced[0].find("logind holds off")) << traced[0];
    } else {
      EXPECT_NE(std::string::npos, traced[0].find("not held off")) << traced[0];
      EXPECT_TRUE(logind.Facts().empty());
    }
  }
}

// Many ports: the parent takes one lock that names them all, and lets it go
// once every port has ended.
TEST(ShutdownHoldSimTest, ManyPortsTakeOneHold) {
  FakeLogind logind;
  ASSERT_TRUE(logind.Start()) << logind.errors();
  SimProcess a, b;
  ASSERT_TRUE(a.Start({"--version", "1.02.0000.10", "--reboot-seconds", "3"}));
  ASSERT_TRUE(b.Start({"--version", "1.02.0000.10", "--reboot-seconds", "3"}));
  const std::string file = MakeFile(a.dir() + "/fw.bin", "--image fw:2K");
  CliProcess cli;
  ASSERT_TRUE(cli.Start({"download", "--port", a.path(), "--port", b.path(), "--file", file,
                         "--json"},
                        {logind.env()}));
  EXPECT_EQ(0, cli.Wait()) << cli.err();
  ASSERT_TRUE(logind.WaitReleased(1));
  const std::vector<nlohmann::json> calls = logind.Named("inhibit");
  ASSERT_EQ(1u, calls.size());
  ExpectBlockLock(calls[0]);
  EXPECT_EQ("Writing firmware to the SAS Expanders on " + a.path() + ", " + b.path() +
                ": do not power off",
            calls[0].value("why", ""));
}

// The terminal dialog's hold, as its worker takes and drops it around a
// download: the settings' port in the reason, the lock gone when dropped.
TEST(ShutdownHoldSimTest, TerminalDialogHoldsForTheSettingsPort) {
  FakeLogind logind;
  ASSERT_TRUE(logind.Start()) << logind.errors();
  ASSERT_EQ(0, setenv("DBUS_SYSTEM_BUS_ADDRESS", logind.address().c_str(), 1));
  TraceCapture trace;
  const FWDL_CFG saved = my_cfg;
  snprintf(my_cfg.device, sizeof my_cfg.device, "%s", "/dev/ttyUSB3");
  HoldHostWhileDownloading(true);
  EXPECT_TRUE(HostHeldForDownload());
  const std::vector<nlohmann::json> calls = logind.Facts(100);
  ASSERT_EQ(1u, calls.size());
  ExpectBlockLock(calls[0]);
  EXPECT_EQ("Writing firmware to the SAS Expander on /dev/ttyUSB3: do not power off",
            calls[0].value("why", ""));
  HoldHostWhileDownloading(false);
  EXPECT_FALSE(HostHeldForDownload());
  EXPECT_TRUE(logind.WaitReleased(1));
  my_cfg = saved;
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
