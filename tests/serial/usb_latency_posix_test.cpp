// The USB adapter's latency timer: found through a sysfs tree the test makes.
#include "serial/usb_latency.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class UsbLatencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tarnwick_sys_" + std::to_string(getpid()));
    fs::remove_all(root_);
    // A USB adapter, a built-in UART and a pseudo-terminal (no device link).
    Port("ttyUSB0", "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0");
    Port("ttyS0", "devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(root_ / "class/tty/pts0");
  }
  void TearDown() override { fs::remove_all(root_); }
  void Port(const std::string& name, const std::string& device) {
    fs::create_directories(root_ / device);
    fs::create_directories(root_ / "class/tty" / name);
    fs::create_directory_symlink(root_ / device, root_ / "class/tty" / name / "device");
  }
  void Timer(const std::string& text) {
    std::ofstream(root_ / "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer") << text;
  }
  fs::path root_;
};

TEST_F(UsbLatencyTest, TimerFoundOnlyBehindUsbAndReadSafely) {
  struct Case {
    const char* name;
    const char* device;
    const char* timer;  // nullptr: no latency_timer file
    bool usb;
    int ms;
    LatencyVerdict lowerable, stuck;
  } cases[] = {
      {"Default16", "/dev/ttyUSB0", "16\n", true, 16, LatencyVerdict::kLower, LatencyVerdict::kWarn},
      {"AlreadyLow", "/dev/ttyUSB0", "1\n", true, 1, LatencyVerdict::kLeaveAlone,
       LatencyVerdict::kLeaveAlone},
      {"Missing", "/dev/ttyUSB0", nullptr, true, -1, LatencyVerdict::kLeaveAlone,
       LatencyVerdict::kLeaveAlone},
      {"NotANumber", "/dev/ttyUSB0", "fast\n", true, -1, LatencyVerdict::kLeaveAlone,
       LatencyVerdict::kLeaveAlone},
      {"Negative", "/dev/ttyUSB0", "-4\n", true, -1, LatencyVerdict::kLeaveAlone,
       LatencyVerdict::kLeaveAlone},
      {"BuiltInUart", "/dev/ttyS0", nullptr, false, -1, LatencyVerdict::kLeaveAlone,
       LatencyVerdict::kLeaveAlone},
      {"PseudoTerminal", "/dev/pts/0", nullptr, false, -1, LatencyVerdict::kLeaveAlone,
       LatencyVerdict::kLeaveAlone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_ / "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer");
    if (c.timer) Timer(c.timer);
    UsbLatency found = InspectUsbLatency(root_.string(), c.device);
    EXPECT_EQ(found.usb, c.usb);
    EXPECT_EQ(found.timerMs, c.ms);
    EXPECT_EQ(DecideLatency(found, true), c.lowerable);
    EXPECT_EQ(DecideLatency(found, false), c.stuck);
  }
  // A latency_timer that cannot be read as a file.
  fs::create_directories(root_ / "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer");
  EXPECT_EQ(InspectUsbLatency(root_.string(), "/dev/ttyUSB0").timerMs, -1);
}

TEST(UsbLatencyWarningTest, NamesThePortAndTheRemedy) {
  EXPECT_EQ(LatencyWarning("/dev/ttyUSB0", 2, false), "");
  const std::string linux16 = LatencyWarning("/dev/ttyUSB0", 16, false);
  EXPECT_NE(linux16.find("16 ms"), std::string::npos);
  EXPECT_NE(linux16.find("setserial /dev/ttyUSB0 low_latency"), std::string::npos);
  EXPECT_NE(linux16.find("ATTR{latency_timer}=\"1\""), std::string::npos);
  EXPECT_NE(LatencyWarning("COM3", 16, true).find("Device Manager"), std::string::npos);
  EXPECT_LT(LatencyWarning("/dev/serial/by-id/usb-adapter-if00-port0", 255, false, true).size(),
            200u);
}

}  // namespace
