// The console commands against expander-sim on a real pseudo-terminal and
// the real clock: prompt check, reboot, version after the reboot, factory
// defaults, as the simulator saw them on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "console/device.h"
#include "console/version.h"
#include "integration/sim_process.h"
#include "protocol/single_image.h"
#include "support/trace_capture.h"

namespace {

using simproc::HostLine;
using simproc::Report;
using simproc::SimProcess;

FW_VERSION Query() {
  FW_VERSION v = {9, 9, 9, 9};
  EXPECT_EQ(1, CheckFirmwareVer(&v, 4));
  return v;
}

std::string Text(const FW_VERSION& v) {
  char text[64];
  snprintf(text, sizeof text, "%u.%u.%u.%u", v.major, v.minor, v.build, v.revision);
  return text;
}

// Two reboots in one run: the first without a firmware image keeps the old
// version, the second after one brings the new version.
TEST(DeviceSimTest, RebootsVersionsAndDefaultsAsTheConsoleSawThem) {
  TraceCapture trace;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10", "--new-version", "2.03.0004.05",
                         "--reboot-seconds", "3"}));
  std::vector<bool> up;
  std::vector<std::string> versions;
  bool sent = false;
  {
    HostLine host;
    ASSERT_TRUE(host.Open(sim.path()));
    up.push_back(IsSysUpAndRunning(5));
    RebootExpander();
    up.push_back(IsSysUpAndRunning(10));
    versions.push_back(Text(Query()));

    const std::string path = sim.dir() + "/firmware.bin";
    ASSERT_TRUE(simproc::WriteAll(path, simproc::MakeImage(700, 0x06)));
    enterdownloadmode();
    sent = fmdl_downloadEx(path.c_str());
    exitdownloadmode();
    RebootExpander();
    up.push_back(IsSysUpAndRunning(10));
    versions.push_back(Text(Query()));
    SetFirmwareDefaults();
  }
  EXPECT_EQ(std::vector<bool>(3, true), up);
  EXPECT_TRUE(sent);
  EXPECT_EQ((std::vector<std::string>{"1.2.0.10", "2.3.4.5"}), versions);

  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  EXPECT_EQ(2, report.reboots) << report.raw;
  EXPECT_EQ(1, report.Count("defaults_writes"));

  // Each reboot: one " " line, then the command exactly three times, the
  // second and third while the console is down; then, once it is back, the
  // version query.
  const std::vector<std::string> names = report.CommandNames();
  int reboots = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] != "reboot") continue;
    SCOPED_TRACE("reboot command at " + std::to_string(i));
    ++reboots;
    ASSERT_LT(0u, i);
    ASSERT_LT(i + 3, names.size());
    EXPECT_EQ("prompt", names[i - 1]);
    EXPECT_EQ("reboot!", names[i + 1]);
    EXPECT_EQ("reboot!", names[i + 2]);
    EXPECT_NE(names.end(), std::find(names.begin() + i, names.end(), "version query"));
  }
  EXPECT_EQ(2, reboots) << report.raw;
  // Factory defaults last: " " and the product-data write.
  ASSERT_LE(2u, names.size());
  EXPECT_EQ("prompt", names[names.size() - 2]);
  EXPECT_EQ("defaults write", names.back());
}

}  // namespace
