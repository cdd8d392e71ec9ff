// Who else has a serial device open: found through a /proc tree the test
// makes, whose descriptors lead to real devices.
#include "serial/port_holders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string Pids(const std::vector<PortHolder>& holders) {
  std::string out;
  for (const PortHolder& h : holders) out += std::to_string(h.pid) + ":" + h.name + " ";
  return out;
}

class PortHoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    index_ = std::stoi(slave_.substr(slave_.rfind('/') + 1));
    root_ = temp_.path();
    fs::create_directories(root_ / "self");
    fs::create_directories(root_ / "net");
  }
  void TearDown() override {
    close(master_);
  }
  // Process `pid` named `name` with descriptor `fd` leading to `target`;
  // a master side of a pseudo-terminal (`target` /dev/ptmx) says which pair
  // it is in its fdinfo.
  void Fd(int pid, const std::string& name, int fd, const std::string& target, int ttyIndex = -1) {
    const fs::path dir = root_ / std::to_string(pid);
    fs::create_directories(dir / "fd");
    std::ofstream(dir / "comm") << name << "\n";
    fs::create_symlink(target, dir / "fd" / std::to_string(fd));
    if (ttyIndex >= 0) {
      fs::create_directories(dir / "fdinfo");
      std::ofstream(dir / "fdinfo" / std::to_string(fd))
          << "pos:\t0\nflags:\t02\nmnt_id:\t24\nino:\t90\ntty-index:\t" << ttyIndex << "\n";
    }
  }

  int master_ = -1;
  std::string slave_;
  int index_ = 0;
  TempDir temp_{"tarnwick-proc"};
  fs::path root_;
};

TEST_F(PortHoldersTest, FindsEveryOtherOpenerButThePeerAndItself) {
  Fd(101, "cat", 3, slave_);
  Fd(102, "ModemManager", 9, slave_);
  Fd(102, "ModemManager", 10, "/dev/null");
  // The simulator: the master side and the device side of the same pair.
  Fd(103, "expander-sim", 3, "/dev/ptmx", index_);
  Fd(103, "expander-sim", 4, slave_);
  // The master of another pair makes no peer of this one.
  Fd(104, "socat", 5, "/dev/ptmx", index_ + 1);
  Fd(104, "socat", 6, slave_);
  Fd(105, "bash", 0, "/dev/null");
  Fd(105, "bash", 1, "/tmp");
  Fd(getpid(), "tarnwick", 3, slave_);
  // A process whose descriptors cannot be read (another user's).
  fs::create_directories(root_ / "106");
  std::ofstream(root_ / "106" / "comm") << "ModemManager\n";

  const std::string link = (root_ / "by-id-link").string();
  fs::create_symlink(slave_, link);
  for (const std::string& device : {slave_, link}) {
    SCOPED_TRACE(device);
    std::vector<PortHolder> hidden;
    const std::vector<PortHolder> found = FindPortHolders(root_.string(), device, &hidden);
    EXPECT_EQ(Pids(found), "101:cat 102:ModemManager 104:socat ");
    EXPECT_NE(Pids(hidden).find("106:ModemManager"), std::string::npos) << Pids(hidden);
  }
  // Other devices, and what is no device at all.
  EXPECT_EQ(Pids(FindPortHolders(root_.string(), "/dev/null")), "102:ModemManager 105:bash ");
  EXPECT_EQ(Pids(FindPortHolders(root_.string(), "/dev/zero")), "");
  EXPECT_EQ(Pids(FindPortHolders(root_.string(), (root_ / "101" / "comm").string())), "");
  EXPECT_EQ(Pids(FindPortHolders(root_.string(), "/nonexistent/ttyUSB0")), "");
}

TEST(HeldPortHintTest, NamesTheHoldersAndTheRemedy) {
  struct Case {
    const char* name;
    std::vector<PortHolder> holders;
    const char* says;      // the whole text, or a part of it for ModemManager
    const char* saysNot;   // "" for nothing
  } cases[] = {
      {"one", {{1234, "cat"}},
       "The port is in use by another program: cat (process 1234). Close it, then try again.", ""},
      {"two", {{1, "minicom"}, {2, "cat"}},
       "The port is in use by other programs: minicom (process 1), cat (process 2). Close them, "
       "then try again.", ""},
      {"many", {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}},
       "The port is in use by other programs: a (process 1), b (process 2), c (process 3) and 2 "
       "more. Close them, then try again.", ""},
      {"nameless", {{7, ""}},
       "The port is in use by another program: a program (process 7). Close it, then try again.",
       ""},
      {"modem manager", {{812, "ModemManager"}}, "ENV{ID_MM_DEVICE_IGNORE}=\"1\"", "Close it"},
      {"modem manager second", {{40, "cat"}, {812, "ModemManager"}},
       "ModemManager (process 812). ModemManager probes", "Close them"},
      {"look-alike", {{9, "ModemManagerX"}}, "Close it, then try again.", "ID_MM_DEVICE_IGNORE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = HeldPortHint(c.holders);
    if (std::string(c.says).rfind("The port", 0) == 0) {
      EXPECT_EQ(text, c.says);
    } else {
      EXPECT_NE(text.find(c.says), std::string::npos) << text;
    }
    if (*c.saysNot) {
      EXPECT_EQ(text.find(c.saysNot), std::string::npos) << text;
    }
    EXPECT_EQ(text.find('\n'), std::string::npos) << "one line for the command line";
  }
}

}  // namespace
