// The termios backend against a real pseudo-terminal: the test holds the
// master side, the port opens the slave through the settings' device key.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "config/settings.h"
#include "platform/trace.h"
#include "serial/port_holders.h"
#include "serial/serial_port.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    snprintf(my_cfg.device, sizeof my_cfg.device, "%s", slave_.c_str());
  }
  void TearDown() override {
    CloseCom();
    my_cfg.device[0] = '\0';
    close(master_);
  }

  // Feeds bytes to the port as the expander would.
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the port has put on the line, collected until `want` bytes or 2 s.
  std::string Receive(size_t want) {
    std::string got;
    while (got.size() < want) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) break;
      char buf[512];
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  // Reads from the port until `want` bytes, waiting for input in between.
  std::string ReadPort(size_t want) {
    std::string got;
    for (int turn = 0; turn < 40 && got.size() < want; ++turn) {
      uint8_t buf[512];
      uint32_t n = 0;
      if (!MyReadFile(buf, static_cast<uint32_t>(want - got.size()), &n)) break;
      got.append(reinterpret_cast<char*>(buf), n);
      if (got.size() < want) WaitComInput(50);
    }
    return got;
  }

  int master_ = -1;
  std::string slave_;
  TraceCapture trace_;
};

TEST_F(PtyPortTest, OpensRaw8N1At115200) {
  // A descriptor opened before the port, to look at the line settings.
  int observer = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(observer, 0);
  ASSERT_TRUE(startdom(1));
  EXPECT_TRUE(trace_.Has("strComPort=" + slave_));
  EXPECT_TRUE(trace_.Has("startdom v2.3--OK"));

  termios tio;
  ASSERT_EQ(tcgetattr(observer, &tio), 0);
  close(observer);
  EXPECT_EQ(cfgetispeed(&tio), B115200);
  EXPECT_EQ(cfgetospeed(&tio), B115200);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(PtyPortTest, EveryByteValuePassesBothWays) {
  ASSERT_TRUE(startdom(1));
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));

  Send(all);
  EXPECT_EQ(ReadPort(all.size()), all);

  uint32_t written = 0;
  ASSERT_TRUE(MyWriteFile(reinterpret_cast<const uint8_t*>(all.data()), 256, &written));
  EXPECT_EQ(written, 256u);
  EXPECT_EQ(Receive(all.size()), all);
}

TEST_F(PtyPortTest, ReadsReturnAtOnceWithWhatHasArrived) {
  ASSERT_TRUE(startdom(1));
  uint8_t buf[8];
  uint32_t n = 99;
  EXPECT_TRUE(MyReadFile(buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);

  Send("12345");
  ASSERT_TRUE(WaitComInput(2000));
  ASSERT_TRUE(MyReadFile(buf, 2, &n));
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "12");
  EXPECT_EQ(ReadPort(3), "345");
}

TEST_F(PtyPortTest, WriteThatCannotFinishFails) {
  ASSERT_TRUE(startdom(1));
  // Nobody reads the master: the pseudo-terminal's buffer fills and stays full.
  std::string big(1 << 20, 'x');
  uint32_t written = 0;
  EXPECT_FALSE(MyWriteFile(reinterpret_cast<const uint8_t*>(big.data()),
                           static_cast<uint32_t>(big.size()), &written));
  EXPECT_LT(written, big.size());
  EXPECT_TRUE(trace_.Has("Error in communicatons--write 2\n"));
  EXPECT_EQ(dwcomtestpoint.load(), 217u);
}

TEST_F(PtyPortTest, PortIsNotShared) {
  ASSERT_TRUE(startdom(1));
  // Without privileges the open itself is refused; with them, the lock is.
  int other = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other < 0) {
    EXPECT_EQ(errno, EBUSY);
  } else {
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
  }
  CloseCom();

  other = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(startdom(1));
  EXPECT_FALSE(is_open());
  EXPECT_TRUE(trace_.Has("hComm == INVALID_HANDLE_VALUE"));
  EXPECT_NE(ComOpenFailureHint().find("in use by another program"), std::string::npos);
  close(other);
  EXPECT_TRUE(startdom(1));
}

// `sleep` with `path` open as its standard input, as a forgotten terminal
// program holds a port. It holds nothing else of ours: the master side would
// make it the line's far end.
pid_t SpawnHolder(const std::string& path, int master) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, master);
  posix_spawn_file_actions_addopen(&actions, 0, path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
  char arg0[] = "sleep";
  char arg1[] = "600";
  char* argv[] = {arg0, arg1, nullptr};
  pid_t pid = -1;
  // Returns once the child runs sleep, its file actions done.
  if (posix_spawnp(&pid, "sleep", &actions, nullptr, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void EndHolder(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// A program that had the device open before us would read half of every
// reply, and neither lock nor exclusive mode keeps it out: the port is
// refused, by the device's real name or a link to it, without a byte
// written, and the hint names the program.
TEST_F(PtyPortTest, DeviceHeldByAnotherProgramIsRefused) {
  // A stand-in for /dev/serial/by-id.
  TempDir byId("tarnwick-by-id");
  const std::string link = byId / "usb-adapter-if00-port0";
  ASSERT_EQ(symlink(slave_.c_str(), link.c_str()), 0);
  for (const std::string& device : {slave_, link}) {
    SCOPED_TRACE(device);
    snprintf(my_cfg.device, sizeof my_cfg.device, "%s", device.c_str());
    const pid_t holder = SpawnHolder(slave_, master_);
    ASSERT_GT(holder, 0);
    trace_.Clear();
    EXPECT_FALSE(startdom(1));
    EXPECT_FALSE(is_open());
    const std::string who = "sleep (process " + std::to_string(holder) + ")";
    EXPECT_EQ(ComOpenFailureHint(),
              "The port is in use by another program: " + who + ". Close it, then try again.");
    EXPECT_TRUE(trace_.Has("startdom: " + device + " is in use by " + who + "\n"));
    EXPECT_TRUE(trace_.Has("hComm == INVALID_HANDLE_VALUE"));
    EXPECT_FALSE(trace_.Has("startdom--2"));
    pollfd p{master_, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0) << "bytes reached the line";
    EndHolder(holder);
    // Once it has gone the port opens, and the hint is gone with the failure.
    EXPECT_TRUE(startdom(1));
    EXPECT_EQ(ComOpenFailureHint(), "");
    CloseCom();
  }
}

TEST_F(PtyPortTest, MissingDeviceLeavesPortClosed) {
  snprintf(my_cfg.device, sizeof my_cfg.device, "/nonexistent/ttyX");
  EXPECT_FALSE(startdom(1));
  EXPECT_FALSE(is_open());
  EXPECT_TRUE(trace_.Has("open(/nonexistent/ttyX): No such file or directory\n"));
  EXPECT_TRUE(trace_.Has("hComm == INVALID_HANDLE_VALUE"));

  my_cfg.device[0] = '\0';
  EXPECT_FALSE(startdom(200));
  EXPECT_TRUE(trace_.Has("strComPort=/dev/ttyS199"));
}

TEST_F(PtyPortTest, PermissionDeniedSuggestsDialoutGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens any device";
  ASSERT_EQ(chmod(slave_.c_str(), 0), 0);
  EXPECT_FALSE(startdom(1));
  std::string hint = ComOpenFailureHint();
  EXPECT_NE(hint.find(slave_), std::string::npos);
  EXPECT_NE(hint.find("usermod -aG dialout"), std::string::npos);
  EXPECT_TRUE(trace_.Contains("Permission denied"));
}

int64_t ThreadCpuMs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

TEST_F(PtyPortTest, WaitComInputSleepsUntilInput) {
  ASSERT_TRUE(startdom(1));
  // Waits that end early or spin show up as CPU time of this thread.
  const int64_t cpu = ThreadCpuMs();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < end) EXPECT_FALSE(WaitComInput(50));
  EXPECT_LT(ThreadCpuMs() - cpu, 100);

  // Far longer bound than the byte needs: a true result can only be the byte.
  std::thread peer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Send("k");
  });
  EXPECT_TRUE(WaitComInput(20000));
  peer.join();
  EXPECT_EQ(ReadPort(1), "k");
}

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The far end hangs up, as when an adapter is pulled: that is a lost port,
// found by whichever call comes first, never a silence to wait out. Once
// lost, nothing is read or written and no wait spins; after CloseCom the
// port opens afresh on a new device.
TEST_F(PtyPortTest, HangUpIsALostPortNotSilence) {
  for (bool byRead : {false, true}) {
    SCOPED_TRACE(byRead ? "found by a read" : "found by a wait");
    ASSERT_TRUE(startdom(1));
    trace_.Clear();
    EXPECT_FALSE(WaitComInput(30));
    EXPECT_FALSE(IsComLost());  // silent but present
    close(master_);
    uint8_t buf[8];
    uint32_t n = 99;
    int64_t t0 = SteadyMs();
    if (byRead) {
      EXPECT_FALSE(MyReadFile(buf, sizeof buf, &n));
    } else {
      EXPECT_FALSE(WaitComInput(5000));
    }
    EXPECT_LT(SteadyMs() - t0, 1000);
    EXPECT_TRUE(IsComLost());
    EXPECT_TRUE(trace_.Contains("the port is gone"));
    EXPECT_FALSE(MyWriteFile(reinterpret_cast<const uint8_t*>("x"), 1, &n));
    EXPECT_FALSE(MyReadFile(buf, sizeof buf, &n));
    EXPECT_EQ(n, 0u);
    t0 = SteadyMs();
    WriteCom("donz");  // nothing sent, no pauses
    EXPECT_LT(SteadyMs() - t0, 40);
    EXPECT_TRUE(trace_.Has("WriteCom (port lost)"));
    const int64_t cpu = ThreadCpuMs();
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(WaitComInput(50));
    EXPECT_LT(ThreadCpuMs() - cpu, 100);
    int traced = 0;
    for (const std::string& line : trace_.lines()) traced += line.find("the port is gone") != std::string::npos;
    EXPECT_EQ(traced, 1);
    CloseCom();
    EXPECT_FALSE(IsComLost());
    // The adapter comes back as a new device.
    SetUp();
  }
  ASSERT_TRUE(startdom(1));
  Send("ok");
  EXPECT_EQ(ReadPort(2), "ok");
}

TEST_F(PtyPortTest, CloseComWhileAnotherThreadDoesIo) {
  ASSERT_TRUE(startdom(1));
  std::atomic<bool> stop{false};
  std::atomic<int> turns{0};
  std::thread worker([&] {
    uint8_t buf[16];
    uint32_t n;
    while (!stop) {
      MyWriteFile(reinterpret_cast<const uint8_t*>("ping"), 4, &n);
      MyReadFile(buf, sizeof buf, &n);
      WaitComInput(1);
      ++turns;
    }
  });
  Send("data");
  while (turns < 20) std::this_thread::yield();
  CloseCom();
  EXPECT_FALSE(is_open());
  // The closed descriptor's number is now free and likely handed out again; a
  // worker still holding it would read and write this pipe.
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  ASSERT_EQ(write(pipefd[1], "Z", 1), 1);
  const int after = turns;
  while (turns < after + 20) std::this_thread::yield();
  stop = true;
  worker.join();
  char c = 0;
  fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
  EXPECT_EQ(read(pipefd[0], &c, 1), 1);
  EXPECT_EQ(c, 'Z');
  close(pipefd[0]);
  close(pipefd[1]);
}

}  // namespace
