// The USB adapter's latency timer: found through a sysfs tree the test makes.
#include "serial/usb_latency.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace fs = std::filesystem;

namespace {

class UsbLatencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    // A USB adapter, a built-in UART and a pseudo-terminal (no device link).
    Port("ttyUSB0", "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0");
    Port("ttyS0", "devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(root_ / "class/tty/pts0");
  }
  void Port(const std::string& name, const std::string& device) {
    fs::create_directories(root_ / device);
    fs::create_directories(root_ / "class/tty" / name);
    fs::create_directory_symlink(root_ / device, root_ / "class/tty" / name / "device");
  }
  void Timer(const std::string& text) {
    std::ofstream(root_ / "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer") << text;
  }
  TempDir temp_{"tarnwick-sys"};
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

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// eventchar=1 writes "*" with its enable bit into event_char and turns it off
// on close; without the setting, or without a writable attribute, nothing is
// written. No descriptor: the low-latency request simply fails.
TEST_F(UsbLatencyTest, EventCharacterSetOnOpenAndTurnedOffOnClose) {
  const fs::path attr = root_ / "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/event_char";
  enum class Attr { kFile, kMissing, kUnwritable };
  struct Case {
    const char* name;
    bool setting;
    Attr attr;
    const char* afterOpen;   // the attribute's text (nullptr: no such file)
    const char* afterClose;
    const char* trace;       // a trace text the open must give ("" none)
  } cases[] = {
      {"On", true, Attr::kFile, "298", "0", "event character set to '*'"},
      {"Off", false, Attr::kFile, "untouched", "untouched", ""},
      {"NoAttribute", true, Attr::kMissing, nullptr, nullptr, "no event_char attribute"},
      {"CannotWrite", true, Attr::kUnwritable, nullptr, nullptr, "event character not set"},
  };
  Timer("1\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(attr);
    if (c.attr == Attr::kFile) std::ofstream(attr) << "untouched";
    if (c.attr == Attr::kUnwritable) fs::create_directory(attr);  // no write reaches it
    TraceCapture trace;
    LatencyTuner tuner;
    EXPECT_EQ(tuner.OnOpen(-1, root_.string(), "/dev/ttyUSB0", c.setting), "");
    if (c.trace[0]) {
      EXPECT_TRUE(trace.Contains(c.trace));
    }
    if (!c.setting) {
      EXPECT_FALSE(trace.Contains("event character"));
    }
    const bool file = c.attr == Attr::kFile;
    ASSERT_EQ(fs::is_regular_file(attr), file);
    if (file) {
      EXPECT_EQ(ReadAll(attr), c.afterOpen);
    }
    tuner.OnClose(-1);
    if (file) {
      EXPECT_EQ(ReadAll(attr), c.afterClose);
    }
    EXPECT_EQ(trace.Contains("event character off again"), c.afterClose && c.afterClose[0] == '0');
  }
  EXPECT_EQ(EventCharValue('*'), "298");
}

TEST(UsbLatencyWarningTest, NamesThePortAndTheRemedy) {
  EXPECT_EQ(LatencyWarning("/dev/ttyUSB0", 2, false), "");
  const std::string linux16 = LatencyWarning("/dev/ttyUSB0", 16, false);
  EXPECT_NE(linux16.find("16 ms"), std::string::npos);
  EXPECT_NE(linux16.find("setserial /dev/ttyUSB0 low_latency"), std::string::npos);
  EXPECT_NE(linux16.find("ATTR{latency_timer}=\"1\""), std::string::npos);
  EXPECT_NE(LatencyWarning("COM3", 16, true).find("Device Manager"), std::string::npos);
  // The remedy that needs no rights is offered until it is in use.
  for (bool onWindows : {false, true}) {
    for (bool brief : {false, true}) {
      SCOPED_TRACE(std::string(onWindows ? "Windows" : "Linux") + (brief ? " brief" : ""));
      EXPECT_NE(LatencyWarning("COM3", 16, onWindows, brief, false).find("eventchar=1"),
                std::string::npos);
      const std::string on = LatencyWarning("COM3", 16, onWindows, brief, true);
      EXPECT_EQ(on.find("or eventchar=1"), std::string::npos);
      EXPECT_EQ(on.find("Without administrator rights"), std::string::npos);
    }
  }
  EXPECT_LT(LatencyWarning("/dev/serial/by-id/usb-adapter-if00-port0", 255, false, true).size(),
            200u);
}

}  // namespace
