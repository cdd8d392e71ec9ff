// The whole download of an image file against expander-sim on a real
// pseudo-terminal and the real clock, on both paths: one sequence over every
// image, and firmware, reboot, version check, bootloader.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/dialog_api.h"
#include "app/startup.h"
#include "download/download.h"
#include "integration/sim_process.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

using simproc::HostLine;
using simproc::ReadAll;
using simproc::Report;
using simproc::SimProcess;

// Points the temporary folder at a fresh directory for the test's lifetime.
class TempDirScope {
 public:
  explicit TempDirScope(const std::string& dir) : dir_(dir) {
    const char* old = getenv("TMPDIR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    mkdir(dir.c_str(), 0700);
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TempDirScope() {
    if (had_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  // Names of the files in the folder that begin with "fwd".
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        if (std::string(e->d_name).rfind("fwd", 0) == 0) names.push_back(e->d_name);
      }
      closedir(d);
    }
    return names;
  }

 private:
  std::string dir_;
  std::string old_;
  bool had_ = false;
};

struct PathCase {
  const char* name;
  const char* images;  // fwimage options
  std::vector<size_t> lengths;  // each image with its header, in file order from offset 0
  std::vector<int> parts;
  int sequences;
  int reboots;
};

class DownloadSimTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(DownloadSimTest, EveryImageArrivesWholeAndNoTemporaryFileStays) {
  const PathCase& c = GetParam();
  TraceCapture trace;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--version", "1.02.0000.10", "--new-version", "1.02.0000.11",
                         "--reboot-seconds", "3"}));
  const std::string file = sim.dir() + "/firmware.bin";
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + file + "' " +
                           c.images + " --version 1.02.0000.11 >/dev/null";
  ASSERT_EQ(0, std::system(make.c_str()));
  const std::string bytes = ReadAll(file);

  TempDirScope temp(sim.dir() + "/tmp");
  g_bStopDl = 0;
  bool ok = false;
  {
    HostLine host;
    ASSERT_TRUE(host.Open(sim.path()));
    ok = fmdl_download(file.c_str());
  }
  EXPECT_TRUE(ok);
  EXPECT_TRUE(temp.Leftovers().empty()) << temp.Leftovers()[0];

  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  EXPECT_EQ(c.reboots, report.reboots) << report.raw;
  EXPECT_EQ(c.sequences, report.Count("sequences_terminated"));
  ASSERT_EQ(c.lengths.size(), report.images.size()) << report.raw;
  size_t at = 0;
  for (size_t i = 0; i < c.lengths.size(); ++i) {
    SCOPED_TRACE("image " + std::to_string(i + 1));
    EXPECT_EQ(c.parts[i], report.images[i].part);
    EXPECT_TRUE(report.images[i].terminated);
    ASSERT_FALSE(report.images[i].file.empty());
    EXPECT_TRUE(ReadAll(report.images[i].file) == bytes.substr(at, c.lengths[i]));
    at += c.lengths[i];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DownloadSimTest,
    ::testing::Values(
        PathCase{"Normal", "--image fw:3000 --image 01:1000", {3028, 1028}, {0x06, 0x01}, 1, 0},
        PathCase{"WithRebooting", "--image fw:2K --image boot:1K", {2076, 1052}, {0x06, 0xFF}, 2, 1}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

// Faults of the console around the version check on the path with
// rebooting. The file holds a firmware and a bootloader image and the version
// record 1.02.0000.11; each case failed before the download learnt to tell a
// version it read from one it guessed.
struct SafetyCase {
  const char* name;
  std::vector<std::string> sim;  // options beyond --reboot-seconds 3
  bool ok;
  DownloadFailure failure;
  std::vector<int> parts;        // images the expander received whole, in order
  int reboots;
  const char* images = "--image fw:2K --image boot:1K";
};

class DownloadSafetySimTest : public ::testing::TestWithParam<SafetyCase> {};

TEST_P(DownloadSafetySimTest, OnlyAVersionReadAfterTheQueryConfirms) {
  const SafetyCase& c = GetParam();
  TraceCapture trace;
  SimProcess sim;
  std::vector<std::string> args = {"--reboot-seconds", "3"};
  args.insert(args.end(), c.sim.begin(), c.sim.end());
  ASSERT_TRUE(sim.Start(args));
  const std::string file = sim.dir() + "/firmware.bin";
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + file + "' " +
                           c.images + " --version 1.02.0000.11 >/dev/null";
  ASSERT_EQ(0, std::system(make.c_str()));
  TempDirScope temp(sim.dir() + "/tmp");
  g_bStopDl = 0;
  DownloadRecord record{};
  {
    HostLine host;
    ASSERT_TRUE(host.Open(sim.path()));
    record = DownloadImageFile(file.c_str());
  }
  EXPECT_EQ(c.ok, record.ok);
  EXPECT_EQ(c.failure, record.cause);
  EXPECT_TRUE(temp.Leftovers().empty());
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  EXPECT_EQ(c.reboots, report.reboots) << report.raw;
  std::vector<int> whole;
  for (const auto& image : report.images) {
    if (image.terminated && image.size > 0 && !image.file.empty()) whole.push_back(image.part);
  }
  EXPECT_EQ(c.parts, whole) << report.raw;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DownloadSafetySimTest,
    ::testing::Values(
        // A busy answer before the download is asked again, and never taken
        // for the version before: the first reboot kept the old firmware.
        SafetyCase{"BusyAnswerBeforeIsAskedAgain",
                   {"--version", "1.02.0000.10", "--busy-version", "1", "--stale-reboots", "1"},
                   true, DownloadFailure::kNone, {0x06, 0x06, 0xFF}, 2},
        SafetyCase{"NoVersionBeforeWritesNothing",
                   {"--version", "1.02.0000.10", "--busy-version", "1", "--busy-version", "2",
                    "--busy-version", "3", "--busy-version", "4"},
                   false, DownloadFailure::kNoVersion, {}, 0},
        // The file's own version already runs: one firmware pass, then the bootloader.
        SafetyCase{"FileVersionAlreadyRuns", {"--version", "1.02.0000.11"}, true,
                   DownloadFailure::kNone, {0x06, 0xFF}, 1},
        // Firmware that never takes ends after the attempts, not never.
        SafetyCase{"FirmwareNeverTakes",
                   {"--version", "1.02.0000.10", "--stale-reboots", "100"},
                   false, DownloadFailure::kNotConfirmed, {0x06, 0x06, 0x06}, 3},
        // Boot text with a version of its own, after the prompt and before the
        // query, is not the version: the first reboot kept the old firmware.
        SafetyCase{"LateBootTextIsNotTheVersion",
                   {"--version", "1.02.0000.10", "--late-boot-text", "--stale-reboots", "1"},
                   true, DownloadFailure::kNone, {0x06, 0x06, 0xFF}, 2},
        // Behind a USB adapter with a 16 ms latency timer every reply comes
        // late; the download is slow but exact.
        SafetyCase{"SlowUsbAdapter", {"--version", "1.02.0000.10", "--latency-ms", "16"}, true,
                   DownloadFailure::kNone, {0x06, 0xFF}, 1},
        SafetyCase{"RejectedBootloaderIsItsOwnFailure",
                   {"--version", "1.02.0000.10", "--reject-part", "0xFF"},
                   false, DownloadFailure::kBootloader, {0x06}, 1},
        // Without a firmware image the bootloader goes in the one sequence:
        // its failure is a bootloader failure all the same, never "power cycle".
        SafetyCase{"RejectedBootloaderOnTheNormalPath",
                   {"--version", "1.02.0000.10", "--reject-part", "0xFF"},
                   false, DownloadFailure::kBootloader, {0x01}, 0,
                   "--image 01:2K --image boot:1K"}),
    [](const ::testing::TestParamInfo<SafetyCase>& info) { return std::string(info.param.name); });

// The cable comes out during an image: the simulator closes its side, the
// host sees a hang-up. The download fails with the lost port as its cause
// within moments, leaves no temporary file, and once the simulator is back
// on the same path Start opens it again and the download completes.
struct CableCase {
  const char* name;
  const char* images;
  const char* vanishAfter;  // --vanish-after-packets or --vanish-after-terminators
  int count;                // counted over the run
  DownloadFailure failure;
  size_t lastAt, lastLength;  // the last image of the file
  int cut;                    // images the cable cut off before their terminating header
};

class CableSimTest : public ::testing::TestWithParam<CableCase> {};

// Steady time of the last progress update: each block is credited just
// before it is sent, so the last one is the block the cable cut off.
class ProgressClock : public CoreReport {
 public:
  void ShowProgress(const ProgressReport&) override { last = std::chrono::steady_clock::now(); }
  std::chrono::steady_clock::time_point last;
};

TEST_P(CableSimTest, LostPortFailsFastAndStartWorksOnceItIsBack) {
  const CableCase& c = GetParam();
  TraceCapture trace;
  // The simulator's own folder has no name until it starts, so the link
  // it makes lives in a folder of the test's own.
  TempDir links("tarnwick-cable");
  SimProcess sim;
  const std::string link = links / c.name;
  ASSERT_TRUE(sim.Start({"--reboot-seconds", "3", "--link", link, c.vanishAfter,
                         std::to_string(c.count), "--come-back", "1"}));
  const std::string file = sim.dir() + "/firmware.bin";
  const std::string make = std::string(TARNWICK_FWIMAGE_PATH) + " make '" + file + "' " +
                           c.images + " --version 1.02.0000.11 >/dev/null";
  ASSERT_EQ(0, std::system(make.c_str()));
  TempDirScope temp(sim.dir() + "/tmp");
  ProgressClock progress;
  SetReport(&progress);
  g_bStopDl = 0;
  {
    HostLine host;
    ASSERT_TRUE(host.Open(link, 15));
    const DownloadRecord record = DownloadImageFile(file.c_str());
    EXPECT_FALSE(record.ok);
    const auto failedAfter = std::chrono::steady_clock::now() - progress.last;
    EXPECT_LT(failedAfter, std::chrono::seconds(5));
    EXPECT_EQ(c.failure, record.cause);
    EXPECT_TRUE(temp.Leftovers().empty());
    EXPECT_TRUE(IsComLost());
    std::printf("[ cable    ] %s: failed %lld ms after the last block went out\n", c.name,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(failedAfter).count()));

    // Start: the port is opened again at the same path once it is there.
    struct stat st;
    for (int i = 0; i < 100 && lstat(link.c_str(), &st) != 0; ++i) usleep(50000);
    RecordingView view;
    ASSERT_TRUE(ReopenLostPort(&view));
    EXPECT_TRUE(trace.Contains("open again"));
    EXPECT_TRUE(fmdl_download(file.c_str()));
    EXPECT_TRUE(temp.Leftovers().empty());
  }
  SetReport(nullptr);
  EXPECT_EQ(0, sim.Stop());
  const Report report = sim.ReadReport();
  EXPECT_TRUE(report.violations.empty()) << report.raw;
  EXPECT_EQ(1, report.Count("line_losses"));
  ASSERT_FALSE(report.images.empty());
  int cut = 0;
  for (const auto& image : report.images) cut += image.terminated ? 0 : 1;
  EXPECT_EQ(c.cut, cut);
  EXPECT_TRUE(report.images.back().terminated);
  EXPECT_TRUE(ReadAll(report.images.back().file) == ReadAll(file).substr(c.lastAt, c.lastLength));
}

INSTANTIATE_TEST_SUITE_P(
    Phases, CableSimTest,
    ::testing::Values(
        CableCase{"DuringFirmware", "--image fw:8K", "--vanish-after-packets", 12,
                  DownloadFailure::kPortLost, 0, 8220, 1},
        CableCase{"DuringBootloader", "--image fw:2K --image boot:1K", "--vanish-after-packets",
                  12, DownloadFailure::kPortLostInBootloader, 2076, 1052, 1},
        CableCase{"DuringBootloaderOnTheNormalPath", "--image 01:2K --image boot:1K",
                  "--vanish-after-packets", 12, DownloadFailure::kPortLostInBootloader, 2076,
                  1052, 2},  // one sequence: the image before it is not terminated either
        // Every image accepted: the port goes as download mode is left.
        CableCase{"AtTheLastTerminatingHeader", "--image fw:2K", "--vanish-after-terminators", 1,
                  DownloadFailure::kPortLostAtEnd, 0, 2076, 0}),
    [](const ::testing::TestParamInfo<CableCase>& info) { return std::string(info.param.name); });

}  // namespace
