// expander-sim as a program: spawned, driven over its pseudo-terminal with
// the pacing a real host uses, and judged by its exit status and report.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "integration/sim_process.h"
#include "host_encoding.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using simproc::ReadAll;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class SimProcess {
 public:
  ~SimProcess() {
    if (fd_ >= 0) close(fd_);
  }

  // Starts the simulator with a report and an output folder in a fresh
  // temporary directory, and opens its pseudo-terminal raw.
  void Start(std::vector<std::string> args) {
    ASSERT_TRUE(proc_.Start(std::move(args))) << proc_.path();
    path_ = proc_.path();
    dir_ = proc_.dir();
    Open();
  }

  void Open() {
    fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd_, 0);
    termios t;
    ASSERT_EQ(0, tcgetattr(fd_, &t));
    cfmakeraw(&t);
    ASSERT_EQ(0, tcsetattr(fd_, TCSANOW, &t));
  }

  void Reopen() {
    close(fd_);
    Open();
  }

  // Sets the line's rate as a host (or a console server) would.
  void SetRate(speed_t rate) {
    termios t;
    ASSERT_EQ(0, tcgetattr(fd_, &t));
    cfsetispeed(&t, rate);
    cfsetospeed(&t, rate);
    ASSERT_EQ(0, tcsetattr(fd_, TCSANOW, &t));
  }

  void Write(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd_, bytes.data(), bytes.size()));
  }

  // Reads until the text holds `until` or limit_ms passes; returns all read.
  std::string ReadUntil(const std::string& until, int limit_ms) {
    std::string got;
    const int64_t end = NowMs() + limit_ms;
    while (got.find(until) == std::string::npos) {
      const int64_t left = end - NowMs();
      if (left <= 0) break;
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[512];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  // A console command as a host writes it: a byte per 10 ms, three line
  // feeds in one write; returns the reply up to the prompt.
  std::string Command(const std::string& text, const std::string& until = ">", int limit_ms = 1500) {
    for (char c : text) {
      Write(std::string(1, c));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Write("\n\n\n");
    return ReadUntil(until, limit_ms);
  }

  // A packet line in pieces, each after the '*' of the one before; the
  // answer to the last piece includes the status.
  std::string SendLine(const std::string& line, size_t piece = 12) {
    std::string replies;
    for (size_t at = 0; at < line.size(); at += piece) {
      Write(line.substr(at, piece));
      replies += ReadUntil("*", 1000);
    }
    return replies + ReadUntil("@", 200) + ReadUntil("0", 100);
  }

  // Waits for the simulator to end (SIGTERM first if `stop`); its exit status.
  int Finish(bool stop) { return stop ? proc_.Stop() : proc_.Wait(); }

  std::string Report() const { return ReadAll(dir_ + "/report.json"); }
  const std::string& dir() const { return dir_; }

 private:
  simproc::SimProcess proc_;
  int fd_ = -1;
  std::string path_;
  std::string dir_;
};

// Base64 lines of packets for a small image: header (part 0x06, body length
// at byte 16) and a patterned body, in blocks of 256.
std::string Base64(const std::vector<uint8_t>& in) { return HostBase64(in) + '\x7f'; }

std::vector<uint8_t> TestImage() {
  std::vector<uint8_t> im(28 + 300);
  im[0] = 'V', im[1] = 'R', im[2] = 'Q', im[10] = 0x06, im[18] = 300 >> 8, im[19] = 300 & 0xFF;
  for (size_t i = 28; i < im.size(); ++i) im[i] = static_cast<uint8_t>(i * 31);
  return im;
}

std::vector<std::string> PacketLines(const std::vector<uint8_t>& image) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < image.size(); at += 256) {
    const size_t n = std::min<size_t>(256, image.size() - at);
    std::vector<uint8_t> p(8 + n);
    p[0] = 0xA5;
    for (int i = 0; i < 4; ++i) p[2 + i] = static_cast<uint8_t>(at >> (8 * i));
    p[7] = static_cast<uint8_t>(n);
    std::copy(image.begin() + at, image.begin() + at + n, p.begin() + 8);
    uint8_t x = 0;
    for (uint8_t b : p) x ^= b;
    p[6] = x;
    lines.push_back(Base64(p));
  }
  return lines;
}

const std::string kTerminatorLine = "pQAAAAAAAAHM\x7f";

void EnterDownloadMode(SimProcess* sim) {
  sim->Command("wm32 -m 0xa8200094 -v 0x5b7d2e94");
  EXPECT_NE(std::string::npos, sim->Command("donz 0x06 17 1", "download mode\r\n").find("download mode"));
}

TEST(SimPty, AnswersPromptAndVersion) {
  SimProcess sim;
  ASSERT_NO_FATAL_FAILURE(sim.Start({"--version", "0.01.0000.05"}));
  EXPECT_NE(std::string::npos, sim.Command(" ").find('>'));
  const std::string reply = sim.Command("donz 0x06 0x88");
  EXPECT_GT(reply.size(), 20u);
  EXPECT_NE(std::string::npos, reply.find("0.01.0000.05")) << reply;
  EXPECT_EQ(0, sim.Finish(true));
  EXPECT_NE(std::string::npos, sim.Report().find("\"command\": \"version query\""));
}

TEST(SimPty, DownloadArrivesByteForByteAcrossAReopen) {
  SimProcess sim;
  ASSERT_NO_FATAL_FAILURE(sim.Start({"--exit-after-download", "--linger", "0.3", "--timeout", "20"}));
  // A host that closes the line and comes back finds the console still there.
  sim.Reopen();
  EnterDownloadMode(&sim);
  const std::vector<uint8_t> image = TestImage();
  for (const std::string& line : PacketLines(image)) {
    const std::string reply = sim.SendLine(line);
    EXPECT_EQ(std::string((line.size() + 11) / 12, '*') + "@0", reply);
  }
  EXPECT_EQ("**@0", sim.SendLine(kTerminatorLine));
  EXPECT_EQ(0, sim.Finish(false));  // leaves by itself once the line is quiet

  const std::string saved = ReadAll(sim.dir() + "/out/image-1-part-06.bin");
  EXPECT_EQ(std::string(image.begin(), image.end()), saved);
  const std::string report = sim.Report();
  EXPECT_NE(std::string::npos, report.find("\"exit_reason\": \"download\""));
  EXPECT_NE(std::string::npos, report.find("\"size\": 328"));
  EXPECT_NE(std::string::npos, report.find("\"violations\": []")) << report;
}

TEST(SimPty, OverlongSubPacketIsAViolation) {
  SimProcess sim;
  ASSERT_NO_FATAL_FAILURE(sim.Start({}));
  EnterDownloadMode(&sim);
  const std::vector<std::string> lines = PacketLines(TestImage());
  sim.SendLine(lines[0], 13);
  EXPECT_EQ(1, sim.Finish(true));
  EXPECT_NE(std::string::npos, sim.Report().find("more than 12 characters")) << sim.Report();
}

TEST(SimPty, RebootRunsTheNewFirmware) {
  SimProcess sim;
  ASSERT_NO_FATAL_FAILURE(sim.Start({"--reboot-seconds", "1", "--version", "1.02.0000.10"}));
  EnterDownloadMode(&sim);
  for (const std::string& line : PacketLines(TestImage())) sim.SendLine(line);
  sim.SendLine(kTerminatorLine);
  // Silent while it reboots, then back with a banner and a prompt.
  const std::string banner = sim.Command("enclosure -a mod -s \"reboot=1\"", "ready\r\nexp> ", 3000);
  EXPECT_NE(std::string::npos, banner.find("ready\r\nexp> ")) << banner;
  EXPECT_NE(std::string::npos, sim.Command("donz 0x06 0x88").find("1.02.0000.11"));
  EXPECT_EQ(0, sim.Finish(true));
  EXPECT_NE(std::string::npos, sim.Report().find("\"after\": \"1.02.0000.11\""));
}

// A host that leaves the line at another rate is heard as garbage: the
// console never sees the bytes, and the report says so.
TEST(SimPty, BytesAtAnotherRateAreGarbled) {
  SimProcess sim;
  ASSERT_NO_FATAL_FAILURE(sim.Start({"--require-baud", "115200", "--timeout", "0.5"}));
  EXPECT_NE(std::string::npos, sim.Command(" ").find('>'));
  ASSERT_NO_FATAL_FAILURE(sim.SetRate(B9600));
  sim.Write("donz 0x06 0x88\n\n\n");
  EXPECT_EQ(1, sim.Finish(false));
  const simproc::Report report = simproc::ParseReport(sim.Report());
  EXPECT_EQ((std::vector<std::string>{"prompt"}), report.CommandNames());
  EXPECT_EQ(17, report.Count("bytes_garbled"));
  ASSERT_EQ(1u, report.violations.size()) << report.raw;
  EXPECT_NE(std::string::npos, report.violations[0].find("set to 9600 baud instead of 115200"))
      << report.violations[0];
}

TEST(SimPty, TimeoutBeforeTheAwaitedDownloadFails) {
  SimProcess sim;
  ASSERT_NO_FATAL_FAILURE(sim.Start({"--exit-after-download", "--timeout", "0.3"}));
  EXPECT_EQ(3, sim.Finish(false));
  EXPECT_NE(std::string::npos, sim.Report().find("\"exit_reason\": \"timeout\""));
}

}  // namespace
