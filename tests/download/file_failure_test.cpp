// Each file step of a whole download fails once, in turn: the image file's
// reads, the temporary folder, and every temporary file's create, write,
// read-back and delete, over both sequences of the path with rebooting.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/version.h"
#include "download/download.h"
#include "download/history.h"
#include "support/download_peer.h"
#include "support/fake_files.h"
#include "support/recording_view.h"
#include "support/scripted_expander.h"
#include "support/trace_capture.h"

namespace {

const char kPath[] = "mem/image.bin";

struct Outcome {
  bool ok = false;
  DownloadFailure why = DownloadFailure::kNone;
  std::vector<std::string> calls;
  std::vector<std::string> tempsLeft;
  std::vector<std::string> eventsAfter;  // what the expander got after the failure
  size_t images = 0;
  int packets = 0;  // image packets the expander got
  int enters = 0;
  int terminators = 0;
  uint32_t bootloaderFlag = 0;
};

Outcome Download(int failAt) {
  snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
  my_cfg.dlstartdelay = 45;
  my_cfg.dlnormaldelay = 15;
  my_cfg.dlretry = 3;
  my_cfg.fwattempts = 3;
  ResetDownloadState();
  g_bStopDl = 0;

  ScriptedPort port;
  DownloadPeer peer(port.exp());
  peer.versions = {"0.01.0000.05", "0.02.0000.01"};
  TraceCapture trace;
  ScopedView view;
  FakeFiles files;
  files.Put(kPath, MakeImage(0x06, 600, 1) + MakeImage(0x01, 430, 2) +
                       MakeImage(0xFF, 260, 3) + MakeVersionRecord(0, 2, 0, 1));
  Outcome run;
  bool failed = false;
  files.failAt = failAt;
  files.onFail = [&] { failed = true; };
  peer.onEvent = [&](const std::string& event, int) {
    if (event == "packet") ++run.packets;
    if (failed) run.eventsAfter.push_back(event);
  };

  const DownloadRecord record = DownloadImageFile(kPath);
  run.ok = record.ok;
  run.why = record.cause;
  run.calls = files.calls();
  run.tempsLeft = files.tempFiles();
  run.images = peer.images().size();
  run.enters = peer.enters();
  run.terminators = peer.terminators();
  run.bootloaderFlag = g_bBootLoaderInProgress.load();
  return run;
}

TEST(FileFailureTest, EveryFileStepFailingOnceEndsCleanly) {
  const Outcome clean = Download(0);
  ASSERT_TRUE(clean.ok);
  ASSERT_EQ(clean.images, 3u);
  // Parse (size, read), then per sequence the folder and per image create,
  // write, size, read and delete: 2 + (1 + 2 * 5) + (1 + 5).
  ASSERT_EQ(clean.calls.size(), 19u);

  for (size_t n = 1; n <= clean.calls.size(); ++n) {
    const std::string step = clean.calls[n - 1];
    SCOPED_TRACE("call " + std::to_string(n) + " (" + step + ") fails");
    const Outcome run = Download(static_cast<int>(n));
    EXPECT_TRUE(run.tempsLeft.empty());
    EXPECT_EQ(run.bootloaderFlag, 0u);
    // Download mode is left whenever it was entered.
    EXPECT_EQ(run.enters, run.terminators);
    if (step == "delete") {
      // Tried once more: the file goes, and the download is as without the failure.
      EXPECT_TRUE(run.ok);
      EXPECT_EQ(run.images, clean.images);
      EXPECT_EQ(run.calls.size(), clean.calls.size() + 1);
      continue;
    }
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.why, DownloadFailure::kNone);
    // A local failure before the first packet wrote nothing, and says so:
    // the full disk is not a half-written expander.
    EXPECT_EQ(NothingWritten(run.why), run.packets == 0) << DownloadFailureName(run.why);
    // Nothing goes out after the failure but the header that leaves download mode.
    EXPECT_LE(run.eventsAfter.size(), 1u);
    for (const std::string& event : run.eventsAfter) EXPECT_EQ(event, "terminator");
    // No temporary file is made or written after the failure.
    ASSERT_GE(run.calls.size(), n);
    for (size_t i = n; i < run.calls.size(); ++i) {
      EXPECT_NE(run.calls[i], "create");
      EXPECT_NE(run.calls[i], "write");
    }
  }
}

}  // namespace
