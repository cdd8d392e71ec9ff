// What tarnwick-cli changes on a USB adapter (its event character and its
// latency timer, in a sysfs tree the test builds around expander-sim's
// pseudo-terminal) is put back when a signal comes while the port is open:
// every command that opens a port ends through its own close.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "integration/cli_process.h"
#include "integration/sim_process.h"

namespace {

using cliproc::CliProcess;
using simproc::ReadAll;
using simproc::SimProcess;
using simproc::WriteAll;

// Waits until `path` reads `text`; false after `seconds`.
bool WaitForText(const std::string& path, const std::string& text, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (ReadAll(path) == text) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(CliAdapterSimTest, SignalWhileThePortIsOpenPutsTheAdapterBack) {
  struct Case {
    const char* command;
    int sig;
  } cases[] = {
      {"probe", SIGINT},
      {"verify", SIGTERM},
      {"doctor", SIGHUP},
      {"download", SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + strsignal(c.sig));
    // A console that says nothing: the version check keeps the port open
    // for seconds, long enough to be interrupted.
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--silent-seconds", "120"}));
    const std::string sys = sim.dir() + "/sys", empty = sim.dir() + "/none";
    const std::string tty = sim.path().substr(sim.path().rfind('/') + 1);
    const std::string adapter = sys + "/devices/usb1/1-1/1-1:1.0/port";
    ASSERT_EQ(0, std::system(("mkdir -p " + adapter + " " + sys + "/class/tty/" + tty + " " +
                              empty)
                                 .c_str()));
    ASSERT_EQ(0, symlink(adapter.c_str(), (sys + "/class/tty/" + tty + "/device").c_str()));
    WriteAll(adapter + "/latency_timer", "16");
    WriteAll(adapter + "/event_char", "0");
    const std::string file = sim.dir() + "/fw.bin";
    ASSERT_EQ(0, std::system((std::string(TARNWICK_FWIMAGE_PATH) + " make '" + file +
                              "' --image fw:1K --version 1.02.0000.11 >/dev/null")
                                 .c_str()));
    const std::string config = sim.dir() + "/fwdl.ini";
    WriteAll(config, "[settings]\neventchar=1\n");

    const std::string log = sim.dir() + "/trace.log";
    std::vector<std::string> args = {c.command, "--port", sim.path(), "--config", config,
                                     "--sys-root", sys, "--json", "--log", log};
    if (std::string(c.command) == "verify" || std::string(c.command) == "download") {
      args.insert(args.end(), {"--file", file});
    }
    if (std::string(c.command) == "doctor") {
      args.insert(args.end(), {"--proc-root", empty, "--udev-root", empty + "/"});
    }
    CliProcess cli;
    ASSERT_TRUE(cli.Start(args));
    // The open has asked for '*' and a 1 ms timer.
    ASSERT_TRUE(WaitForText(adapter + "/event_char", "298", 30)) << ReadAll(adapter + "/event_char");
    ASSERT_TRUE(WaitForText(adapter + "/latency_timer", "1", 30))
        << ReadAll(adapter + "/latency_timer");
    cli.Signal(c.sig);
    // Stopped at once, before the version query's first time-out, and the
    // close has put back what the open changed.
    EXPECT_EQ(7, cli.Wait()) << cli.out() << cli.err();
    EXPECT_EQ(std::string::npos, ReadAll(log).find("CheckFirmwareVer timeout")) << ReadAll(log);
    EXPECT_EQ("0", ReadAll(adapter + "/event_char"));
    EXPECT_EQ("16", ReadAll(adapter + "/latency_timer"));
  }
}

}  // namespace
