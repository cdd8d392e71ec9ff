// Each file step of a whole download fails in turn, once and for good: the
// image file's reads, the temporary folder, and every temporary file's
// create, write, read-back and delete, over both sequences of the path with
// rebooting. Each ends with its own cause and the text the user reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/worker.h"
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
  std::string text;  // the dialogs' status text
  std::vector<std::string> calls;
  std::vector<std::string> tempsLeft;
  std::vector<std::string> eventsAfter;  // what the expander got after the failure
  size_t images = 0;
  int packets = 0;  // image packets the expander got
  int enters = 0;
  int terminators = 0;
  uint32_t bootloaderFlag = 0;
};

Outcome Download(int failAt, bool keepFailing = false) {
  snprintf(my_cfg.signature, sizeof my_cfg.signature, "VRQ");
  snprintf(my_cfg.file, sizeof my_cfg.file, "%s", kPath);
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
  files.keepFailing = keepFailing;
  files.onFail = [&] { failed = true; };
  peer.onEvent = [&](const std::string& event, int) {
    if (event == "packet") ++run.packets;
    if (failed) run.eventsAfter.push_back(event);
  };

  DownloadRecord record = DownloadImageFile(kPath);
  run.ok = record.ok;
  run.why = record.cause;
  NoteFactoryDefaults(&record, false, false);
  ShowDownloadResult(&record);
  run.text = record.text;
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

  // The cause of each call's failure: the parse, the firmware sequence's
  // folder and first image (nothing sent yet), its second image, then the
  // bootloader's sequence. A failed delete is no failure.
  using F = DownloadFailure;
  const F kOk = F::kNone;
  const std::vector<F> causes = {
      F::kBadImage,    F::kBadImage,    F::kNotWritten,  F::kNotWritten,  F::kNotWritten,
      F::kNotWritten,  F::kNotWritten,  kOk,             F::kFailed,      F::kFailed,
      F::kFailed,      F::kFailed,      kOk,             F::kBootloader,  F::kBootloader,
      F::kBootloader,  F::kBootloader,  F::kBootloader,  kOk};
  const std::map<F, std::string> texts = {
      {kOk, "Firmware download finished successfully.\nPlease power cycle the system for the new "
            "firmware to take effect."},
      {F::kBadImage, "Firmware download failed, image.bin holds no image that can be downloaded "
                     "and nothing was written. Choose another file, then click the start button!"},
      {F::kNotWritten, "Firmware download failed before anything was written (see the trace). "
                       "Click the start button to try again!"},
      {F::kFailed, "Firmware download failed, please power cycle the system, then click the "
                   "start button to retry the download!"},
      {F::kBootloader, "Bootloader image download failed, the bootloader was not written. Do not "
                       "power cycle the SAS Expander! Click the start button to write it again."}};
  ASSERT_EQ(causes.size(), clean.calls.size());

  for (size_t n = 1; n <= clean.calls.size(); ++n) {
    const std::string step = clean.calls[n - 1];
    for (bool keep : {false, true}) {
      SCOPED_TRACE("call " + std::to_string(n) + " (" + step + ") fails" +
                   (keep ? " and keeps failing" : ""));
      const Outcome run = Download(static_cast<int>(n), keep);
      EXPECT_EQ(run.why, causes[n - 1]);
      ASSERT_EQ(texts.count(run.why), 1u);
      EXPECT_EQ(run.text, texts.at(run.why));
      if (keep && step == "delete") {
        // A file that cannot be deleted stays, this one and every later
        // one: the download goes on and succeeds.
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(run.images, clean.images);
        const auto deletes = std::count(clean.calls.begin() + (n - 1), clean.calls.end(), "delete");
        EXPECT_EQ(run.tempsLeft.size(), static_cast<size_t>(deletes));
      }
    }
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
