// Each file step of a whole download fails in turn, once and for good: the
// image file's reads, the temporary folder, and every temporary file's
// create, write, read-back and delete, over both sequences of the path with
// rebooting. Each ends with its own cause, the text the user reads and the
// system's error of the step. Then the files the front ends read and write
// besides the download's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/cli_setup.h"
#include "app/cli/result_text.h"
#include "app/worker.h"
#include "config/settings.h"
#include "console/version.h"
#include "download/download.h"
#include "download/history.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "support/download_peer.h"
#include "support/fake_files.h"
#include "support/recording_view.h"
#include "support/scripted_expander.h"
#include "support/trace_capture.h"

namespace {

const char kPath[] = "mem/image.bin";

bool OnWindows() { return PathSeparator() == '\\'; }

struct Outcome {
  bool ok = false;
  DownloadFailure why = DownloadFailure::kNone;
  uint32_t fileError = 0;
  std::string text;     // the dialogs' status text
  std::string cliText;  // tarnwick-cli's
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
  run.fileError = record.fileError;
  run.cliText = DownloadResultText(record, false);
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
    // The system's words for the step reach tarnwick-cli's result.
    EXPECT_EQ(run.fileError, FakeFiles::ErrorFor(step));
    EXPECT_NE(run.cliText.find(OsErrorText(FakeFiles::ErrorFor(step))), std::string::npos)
        << run.cliText;
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

// The files of the front ends: the settings written back, tarnwick-cli's
// --config file and the download history read. Each step fails for good;
// what the user is told names the system's error, and what was there stays.
TEST(FileFailureTest, FrontEndFileStepsSayTheSystemsError) {
  struct Row {
    const char* what;
    const char* step;
    std::function<std::string(FakeFiles&)> run;  // what the user reads
  };
  const std::string ini = "mem/fwdl.ini";
  const std::vector<Row> rows = {
      {"settings written back", "replace",
       [&](FakeFiles& files) {
         SetSettingsPathOverride(ini.c_str());
         FWDL_CFG cfg{};
         cfg.comport = 3;
         const bool saved = SaveSettings(&cfg);
         SetSettingsPathOverride(nullptr);
         EXPECT_FALSE(saved);
         EXPECT_EQ(files.Get(ini), "[settings]\ncomport=1\n");
         return LastFileErrorText();
       }},
      {"tarnwick-cli --config", "size",
       [&](FakeFiles&) {
         CliOptions o;
         o.config = ini;
         std::string error;
         EXPECT_FALSE(LoadCliSettings(o, &error));
         EXPECT_EQ(error.rfind("cannot read the settings file mem/fwdl.ini: ", 0), 0u) << error;
         return error;
       }},
      {"download history", "read",
       [&](FakeFiles&) {
         std::string error;
         EXPECT_TRUE(ReadHistory("mem/", "", &error).empty());
         EXPECT_NE(error.find("mem/history.jsonl"), std::string::npos) << error;
         return error;
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // The settings are read from the real (empty) folder on Windows, where
    // the system's profile functions write them, not this backend.
    if (OnWindows() && std::string(row.step) == "replace") continue;
    FakeFiles files;
    files.Put(ini, "[settings]\ncomport=1\n");
    files.Put("mem/history.jsonl", "{}\n");
    files.failStep = row.step;
    const std::string said = row.run(files);
    EXPECT_NE(said.find(OsErrorText(FakeFiles::ErrorFor(row.step))), std::string::npos) << said;
  }
}

}  // namespace
