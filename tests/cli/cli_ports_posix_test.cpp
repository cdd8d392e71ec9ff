// The port list and port checks on Linux, against a sysfs and /dev tree the
// test makes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/cli/ports.h"
#include "support/temp_dir.h"

namespace {

class CliPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    sys_ = root_ + "/sys";
    dev_ = root_ + "/dev";
    Mkdir(dev_ + "/serial/by-id");
  }

  static void Mkdir(const std::string& path) {
    ASSERT_EQ(0, std::system(("mkdir -p '" + path + "'").c_str()));
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text << "\n";
  }
  // A tty in the class folder and its device file; `device` is where its
  // device link points ("" for none).
  void Tty(const std::string& name, const std::string& device) {
    Mkdir(sys_ + "/class/tty/" + name);
    Write(dev_ + "/" + name, "");
    if (!device.empty()) {
      Mkdir(device);
      ASSERT_EQ(0, symlink(device.c_str(), (sys_ + "/class/tty/" + name + "/device").c_str()));
    }
  }
  void Usb(const std::string& dir, const char* vid, const char* pid, const char* serial) {
    Mkdir(dir);
    Write(dir + "/idVendor", vid);
    Write(dir + "/idProduct", pid);
    if (serial) Write(dir + "/serial", serial);
    Write(dir + "/product", "USB Serial");
  }

  TempDir temp_{"tarnwick-ports"};
  std::string root_, sys_, dev_;
};

TEST_F(CliPortsTest, ListsUartsAndUsbPortsWithWhatIsKnown) {
  Tty("ttyS0", sys_ + "/devices/platform/serial8250/tty/ttyS0");
  Write(sys_ + "/class/tty/ttyS0/type", "4");
  Tty("ttyS1", sys_ + "/devices/platform/serial8250/tty/ttyS1");
  Write(sys_ + "/class/tty/ttyS1/type", "0");  // no UART behind it
  Tty("ttyS10", sys_ + "/devices/platform/serial8250/tty/ttyS10");
  Write(sys_ + "/class/tty/ttyS10/type", "4");
  Usb(sys_ + "/devices/usb1/1-2", "0403", "6001", "A9X1");
  Tty("ttyUSB0", sys_ + "/devices/usb1/1-2/1-2:1.0/ttyUSB0");
  Usb(sys_ + "/devices/usb1/1-3", "2341", "0043", nullptr);
  Tty("ttyACM0", sys_ + "/devices/usb1/1-3/1-3:1.0");
  Tty("tty1", "");      // a virtual console: not a serial port
  Tty("ttyUSB1", "");   // unplugged: sysfs entry without a device file
  unlink((dev_ + "/ttyUSB1").c_str());
  ASSERT_EQ(0, symlink("../../ttyUSB0", (dev_ + "/serial/by-id/usb-FTDI_A9X1-if00-port0").c_str()));

  const std::vector<PortInfo> ports = ListSerialPorts(sys_, dev_);
  std::vector<std::string> names;
  for (const PortInfo& p : ports) names.push_back(p.name.substr(dev_.size() + 1));
  ASSERT_EQ((std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS10", "ttyUSB0"}), names);
  const PortInfo& usb = ports[3];
  EXPECT_EQ("0403", usb.vendorId);
  EXPECT_EQ("6001", usb.productId);
  EXPECT_EQ("A9X1", usb.serial);
  EXPECT_EQ(dev_ + "/serial/by-id/usb-FTDI_A9X1-if00-port0", usb.byId);
  EXPECT_EQ("2341", ports[0].vendorId);
  EXPECT_EQ("", ports[0].serial);
  EXPECT_EQ("", ports[1].vendorId);
  EXPECT_EQ(dev_ + "/ttyUSB0  usb 0403:6001 serial=A9X1 \"USB Serial\"  by-id=" + usb.byId,
            PortLine(usb));
}

TEST_F(CliPortsTest, ResolvesOneDeviceToOneKeyAndRefusesWhatIsNoPort) {
  PortName name;
  std::string problem;
  ResolvedPort a, b;
  // A pseudo-terminal is a serial device as far as opening goes.
  name.device = "/dev/ptmx";
  ASSERT_TRUE(ResolvePort(name, &a, &problem)) << problem;
  ASSERT_EQ(0, symlink("/dev/ptmx", (root_ + "/link").c_str()));
  name.device = root_ + "/link";
  ASSERT_TRUE(ResolvePort(name, &b, &problem)) << problem;
  EXPECT_EQ(a.key, b.key);
  EXPECT_EQ(root_ + "/link", b.address.device);

  name.device = root_ + "/none";
  EXPECT_FALSE(ResolvePort(name, &a, &problem));
  EXPECT_EQ("there is no serial port " + root_ + "/none", problem);
  name.device = root_;
  EXPECT_FALSE(ResolvePort(name, &a, &problem));
  EXPECT_EQ(root_ + " is not a serial port", problem);
  // A number means what comport= means: COM1 is /dev/ttyS0.
  name.device = "";
  name.comport = 250;
  EXPECT_FALSE(ResolvePort(name, &a, &problem));
  EXPECT_EQ("there is no serial port /dev/ttyS249", problem);
}

TEST_F(CliPortsTest, ABareNameIsLookedForHereFirstThenInDev) {
  Write(root_ + "/notes.txt", "not a port");
  char* here = getcwd(nullptr, 0);
  ASSERT_EQ(0, chdir(root_.c_str()));
  struct Case {
    const char* text;
    bool ok;
    const char* result;  // the display when ok, else the problem
  } cases[] = {
      {"notes.txt", false, "./notes.txt is not a serial port"},
      {"ptmx", true, "/dev/ptmx"},
      {"ttyNONE9", false, "there is no serial port ttyNONE9 (tried ./ttyNONE9 and /dev/ttyNONE9)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PortName name;
    ResolvedPort port;
    std::string problem;
    ASSERT_TRUE(ParsePortName(c.text, true, &name, &problem)) << problem;
    ASSERT_EQ(c.ok, ResolvePort(name, &port, &problem)) << problem;
    EXPECT_EQ(c.result, c.ok ? port.display : problem);
    if (c.ok) {
      EXPECT_EQ(c.result, port.address.device);
    }
  }
  ASSERT_EQ(0, chdir(here));
  free(here);
}

}  // namespace
