#include "app/worker.h"
#include "download/history.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_api.h"
#include "config/settings.h"
#include "console/version.h"
#include "platform/thread.h"
#include "support/download_peer.h"
#include "support/recording_report.h"
#include "support/recording_view.h"
#include "support/scripted_expander.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

const std::string kDone = "Firmware download finished successfully.";
const std::string kDefaults = "Setting firmware defaults, please wait...";
const std::string kPowerCycle =
    "Firmware download finished successfully.\nPlease power cycle the system for the new "
    "firmware to take effect.";
const std::string kFailed =
    "Firmware download failed, please power cycle the system, then click the start button to "
    "retry the download!";
constexpr char kDefaultsCmd[] =
    "tavo1productdatawrite 0x6 0x80 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00";

TEST(FactoryDefaultsRuleTest, EachFieldIsTestedOnItsOwn) {
  TraceCapture trace;
  struct Case {
    FW_VERSION v;
    bool need;
  } cases[] = {
      {{1, 2, 0, 0}, false}, {{1, 10, 0, 0}, false}, {{3, 5, 0, 0}, false},
      {{0, 9, 0, 0}, true},  {{0, 0, 0, 0}, true},   {{1, 0, 0, 0}, true},
      {{1, 1, 9, 9}, true},  {{2, 0, 0, 0}, true},   {{2, 1, 0, 0}, true},
  };
  for (const Case& c : cases) {
    g_start_ver = c.v;
    EXPECT_EQ(NeedToSetFactoryDefVer(), c.need) << c.v.major << "." << c.v.minor;
    const std::vector<std::string> lines = trace.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.need ? "NeedToSetFactoryDefVer=1" : "NeedToSetFactoryDefVer=0");
  }
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
    my_cfg.dlretry = 3;
    g_bStopDl = 0;
    path_ = temp_ / "fw.bin";
    std::string file = MakeImage(0x06, 700, 3) + MakeVersionRecord(1, 2, 0, 0);
    FILE* f = fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(file.data(), 1, file.size(), f);
    fclose(f);
    snprintf(my_cfg.file, sizeof my_cfg.file, "%s", path_.c_str());
    // The controls as the dialog leaves them when it starts a worker.
    view().EnableItem(IDC_STOP_DL, false);
    g_bThreadRunning = 1;
  }
  void TearDown() override {
    SetThreadStarter(nullptr);
    g_bThreadRunning = 0;
    g_bStopDl = 0;
  }
  RecordingView& view() { return view_.view(); }
  void ExpectUnlocked() {
    EXPECT_TRUE(view().enabled(IDC_BROWSE));
    EXPECT_TRUE(view().enabled(IDC_FILENAME));
    EXPECT_TRUE(view().enabled(IDC_START));
    EXPECT_TRUE(view().enabled(ID_QUIT));
    EXPECT_FALSE(view().enabled(IDC_STOP_DL));
    EXPECT_EQ(g_bThreadRunning.load(), 0u);
    EXPECT_EQ(g_bStopDl.load(), 0u);
  }
  std::vector<std::string> statusTail(size_t n) {
    auto h = view().history(IDC_STATUS);
    return std::vector<std::string>(h.end() - std::min(n, h.size()), h.end());
  }

  ScriptedPort port_;
  DownloadPeer peer_{port_.exp()};
  TraceCapture trace_;
  ScopedView view_;
  TempDir temp_{"tarnwick-worker"};
  std::string path_;
};

TEST_F(WorkerTest, ControlsAreLockedWhileTheDownloadRuns) {
  bool checked = false;
  peer_.onEvent = [&](const std::string& event, int) {
    if (event != "enter") return;
    checked = true;
    EXPECT_FALSE(view().enabled(IDC_BROWSE));
    EXPECT_FALSE(view().enabled(IDC_FILENAME));
    EXPECT_FALSE(view().enabled(IDC_START));
    EXPECT_TRUE(view().enabled(IDC_STOP_DL));
    EXPECT_TRUE(view().enabled(ID_QUIT));
  };
  EXPECT_EQ(HandleCmds(IDC_START), 1u);
  EXPECT_TRUE(checked);
  ExpectUnlocked();
  EXPECT_TRUE(trace_.Has("HandleCmds started"));
  EXPECT_TRUE(trace_.Has("cmdid=1008"));
  const std::vector<std::string> lines = trace_.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "HandleCmds ended");
}

TEST_F(WorkerTest, OldFirmwareGetsFactoryDefaultsAfterSuccess) {
  peer_.versions = {"2.01.0000.00"};  // minor below 2: defaults needed
  EXPECT_EQ(HandleCmds(IDC_START), 1u);
  EXPECT_EQ(statusTail(3), (std::vector<std::string>{kDone, kDefaults, kPowerCycle}));
  EXPECT_EQ(peer_.console().CountLine(kDefaultsCmd), 1);
  EXPECT_TRUE(trace_.Has("bret true: finished successfully"));
  ExpectUnlocked();
}

TEST_F(WorkerTest, RecentFirmwareNeedsNoDefaults) {
  peer_.versions = {"1.02.0000.00"};
  EXPECT_EQ(HandleCmds(IDC_START), 1u);
  EXPECT_EQ(statusTail(2), (std::vector<std::string>{kDone, kPowerCycle}));
  EXPECT_EQ(peer_.console().CountLine(kDefaultsCmd), 0);
  ExpectUnlocked();
}

// Defaults an earlier download on this port could not write (the port went
// as the last image was accepted) are written by the next one, though the
// version that now runs needs none; then they are no longer due.
TEST_F(WorkerTest, DefaultsLeftDueAreWrittenByTheNextDownloadOnThatPort) {
  const std::string id = "worker-test:" + path_;
  SetDownloadPort("tarnwick", "/dev/ttyS0", id);
  std::string dir;
  ASSERT_TRUE(HistoryDir(&dir));
  DownloadRecord lost{};
  lost.cause = DownloadFailure::kPortLostAtEnd;
  lost.written = DownloadWritten::kAll;
  lost.defaultsDue = true;
  ASSERT_TRUE(AppendHistory(lost, {"tarnwick", "/dev/ttyS0", id, path_, -1}, dir));
  peer_.versions = {"1.02.0000.00"};
  EXPECT_EQ(HandleCmds(IDC_START), 1u);
  EXPECT_EQ(peer_.console().CountLine(kDefaultsCmd), 1);
  const std::vector<HistoryEntry> after = ReadHistory(dir, id);
  SetDownloadPort("", "", "");
  ASSERT_EQ(after.size(), 2u);
  EXPECT_TRUE(after.back().record.ok);
  EXPECT_TRUE(after.back().record.defaultsWritten);
  EXPECT_FALSE(FactoryDefaultsPending(after));
}

TEST_F(WorkerTest, FailureLeavesTheFailureTextAndClearsTheStop) {
  peer_.onEvent = [](const std::string& event, int) {
    if (event == "packet") g_bStopDl = 1;
  };
  EXPECT_EQ(HandleCmds(IDC_START), 1u);
  EXPECT_EQ(view().text(IDC_STATUS), kFailed);
  EXPECT_TRUE(trace_.Has("after start_fmdl_download=false"));
  EXPECT_EQ(peer_.console().CountLine(kDefaultsCmd), 0);
  ExpectUnlocked();
}

// The front end's hold: "take" (held from the first packet on) and "release"
// with the status line as it was then.
std::vector<std::string> g_holdCalls;
RecordingView* g_holdView = nullptr;
void RecordHold(bool downloading) {
  g_holdCalls.push_back(downloading ? "take"
                                    : "release: " + g_holdView->text(IDC_STATUS));
}

// The host is held from before the first packet until the result is shown,
// whether the download succeeds or fails.
TEST_F(WorkerTest, TheFrontEndsHoldSpansTheWholeDownload) {
  struct Case {
    const char* name;
    bool stop;
    std::string result;
  } cases[] = {{"success", false, kPowerCycle}, {"stopped", true, kFailed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_holdCalls.clear();
    g_holdView = &view();
    SetDownloadHold(&RecordHold);
    std::vector<std::string> atFirstPacket;
    peer_.onEvent = [&](const std::string& event, int) {
      if (event != "packet") return;
      if (atFirstPacket.empty()) atFirstPacket = g_holdCalls;
      if (c.stop) g_bStopDl = 1;
    };
    EXPECT_EQ(HandleCmds(IDC_START), 1u);
    SetDownloadHold(nullptr);
    EXPECT_EQ(atFirstPacket, std::vector<std::string>{"take"});
    EXPECT_EQ(g_holdCalls, (std::vector<std::string>{"take", "release: " + c.result}));
    ExpectUnlocked();
    peer_.onEvent = nullptr;
    view().EnableItem(IDC_STOP_DL, false);
    g_bThreadRunning = 1;
  }
}

// A failure after which a power cycle would do harm, or that has a known
// cause, gets its own text.
TEST_F(WorkerTest, FailureTextSaysWhatHappened) {
  std::string file =
      MakeImage(0x06, 700, 3) + MakeImage(0xFF, 300, 4) + MakeVersionRecord(1, 2, 0, 0);
  FILE* f = fopen(path_.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(file.data(), 1, file.size(), f);
  fclose(f);
  my_cfg.fwattempts = 2;
  struct Case {
    const char* name;
    std::vector<std::string> versions;
    char bootloaderStatus;
    std::string text;
    int vanishAtImage = -1;  // the cable comes out at the first packet of this image
  } cases[] = {
      {"BootloaderFails", {"1.01.0000.07", "1.02.0000.00"}, '7',
       "Bootloader image download failed, the bootloader was not written. Do not power cycle the "
       "SAS Expander! Click the start button to write it again."},
      {"FirmwareNeverTakes", {"1.01.0000.07"}, '0',
       "Firmware download failed, the SAS Expander still runs its previous firmware after 2 "
       "attempts. Please check the image file, then click the start button to retry the "
       "download!"},
      {"NoVersionBefore", {"(console busy, try again later)"}, '0',
       "Firmware download failed, the SAS Expander did not report its firmware version and "
       "nothing was written. Click the start button to retry the download!"},
      {"PortLostInFirmware", {"1.01.0000.07", "1.02.0000.00"}, '0',
       "Firmware download failed, the serial port was lost. Check the cable, the serial adapter "
       "and the power, then power cycle the system and click the start button to retry the "
       "download!",
       0},
      {"PortLostInBootloader", {"1.01.0000.07", "1.02.0000.00"}, '0',
       "Bootloader image download failed, the serial port was lost and the bootloader was not "
       "written. Do not power cycle the SAS Expander! Check the cable and the serial adapter, "
       "then click the start button to write it again.",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    DownloadPeer peer(port.exp());
    peer.versions = c.versions;
    peer.statusFor = [&](int index) { return index >= 1 ? c.bootloaderStatus : '0'; };
    peer.onEvent = [&](const std::string& event, int index) {
      if (event == "packet" && index == c.vanishAtImage) port.exp().Vanish();
    };
    g_bThreadRunning = 1;
    EXPECT_EQ(HandleCmds(IDC_START), 1u);
    EXPECT_EQ(view().text(IDC_STATUS), c.text);
    ExpectUnlocked();
  }
}

// Start must find no worker the moment it is enabled again.
class StartWatch : public RecordingView {
 public:
  void EnableItem(int id, bool enable) override {
    if (id == IDC_START && enable) runningWhenEnabled = g_bThreadRunning.load();
    RecordingView::EnableItem(id, enable);
  }
  uint32_t runningWhenEnabled = 99;
};

TEST_F(WorkerTest, StartIsEnabledOnlyOnceNoWorkerRuns) {
  StartWatch watch;
  g_hDlg.store(&watch);
  HandleCmds(IDC_START);
  g_hDlg.store(&view());
  EXPECT_EQ(watch.runningWhenEnabled, 0u);
}

// Thread creation as a test controls it.
std::vector<uint32_t> g_started;
bool FailingStarter(ThreadRoutine, uint32_t) { return false; }
bool RecordingStarter(ThreadRoutine routine, uint32_t param) {
  g_started.push_back(param);
  return routine == &HandleCmds;
}

TEST_F(WorkerTest, ThreadThatCannotStartLeavesStartUsable) {
  g_bThreadRunning = 0;
  g_started.clear();
  SetThreadStarter(&FailingStarter);
  StartTestThread(IDC_START);
  EXPECT_EQ(g_bThreadRunning.load(), 0u);
  EXPECT_EQ(view().text(IDC_STATUS), "Unable to start the download, please try again!");
  EXPECT_TRUE(trace_.Has("StartTestThread: unable to create the worker thread\n"));
  EXPECT_TRUE(view().enabled(IDC_START));

  // The next Start is accepted.
  SetThreadStarter(&RecordingStarter);
  StartTestThread(IDC_START);
  EXPECT_EQ(g_started, (std::vector<uint32_t>{IDC_START}));
  EXPECT_EQ(g_bThreadRunning.load(), 1u);
  // A second Start while that worker runs starts nothing.
  StartTestThread(IDC_START);
  EXPECT_EQ(g_started.size(), 1u);
}

TEST_F(WorkerTest, WorkerRunsOnItsOwnThreadAndEnds) {
  g_bThreadRunning = 0;
  peer_.silentFromBoot = 0;  // fails after the console wait, in virtual time
  StartTestThread(IDC_START);
  for (int i = 0; i < 5000 && !trace_.Has("HandleCmds ended"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(trace_.Has("HandleCmds ended"));
  EXPECT_TRUE(trace_.Has("cmdid=1008"));
  // Nothing was written: no power-cycle advice.
  EXPECT_EQ(view().text(IDC_STATUS),
            "Firmware download failed, the SAS Expander did not answer and nothing was written. "
            "Check the cable and the power, then click the start button to try again!");
  ExpectUnlocked();
}

// The download returns its record, with the text the status line shows, the
// outcome and the versions read on the way.
TEST_F(WorkerTest, TheReportGetsTheDownloadsRecord) {
  std::string file =
      MakeImage(0x06, 700, 3) + MakeImage(0xFF, 300, 4) + MakeVersionRecord(1, 2, 0, 0);
  FILE* f = fopen(path_.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(file.data(), 1, file.size(), f);
  fclose(f);
  my_cfg.fwattempts = 2;
  const DownloadVersion v107{true, 1, 1, 0, 7}, v120{true, 1, 2, 0, 0}, none{false, 0, 0, 0, 0};
  struct Case {
    const char* name;
    std::vector<std::string> versions;
    bool ok;
    DownloadFailure cause;
    DownloadWritten written;
    uint32_t attempts;
    DownloadVersion before, after;
  } cases[] = {
      {"Done", {"1.01.0000.07", "1.02.0000.00"}, true, DownloadFailure::kNone,
       DownloadWritten::kAll, 1, v107, v120},
      {"FirmwareNeverTakes", {"1.01.0000.07"}, false, DownloadFailure::kNotConfirmed,
       DownloadWritten::kPartly, 2, v107, v107},
      {"NoVersionBefore", {"(console busy, try again later)"}, false, DownloadFailure::kNoVersion,
       DownloadWritten::kNothing, 0, none, none},
  };
  auto same = [](const DownloadVersion& a, const DownloadVersion& b) {
    return a.known == b.known && a.major == b.major && a.minor == b.minor && a.build == b.build &&
           a.revision == b.revision;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    DownloadPeer peer(port.exp());
    peer.versions = c.versions;
    RecordingReport report;
    const DownloadRecord r = DownloadAndShowResult(my_cfg.file);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.cause, c.cause);
    EXPECT_EQ(r.written, c.written);
    EXPECT_EQ(r.firmwareAttempts, c.attempts);
    EXPECT_TRUE(same(r.before, c.before));
    EXPECT_TRUE(same(r.after, c.after));
    ASSERT_FALSE(report.statuses().empty());
    EXPECT_EQ(r.text, report.statuses().back());
  }
}

}  // namespace
