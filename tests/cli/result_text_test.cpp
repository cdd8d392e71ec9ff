// What every way a download ends tells the user: the dialogs' status text
// (the Windows and the terminal dialog show the same), tarnwick-cli's words
// and its exit code, and that each of them says about a power cycle what the
// record's advice says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "app/cli/exit_codes.h"
#include "app/cli/result_text.h"
#include "app/worker.h"
#include "config/settings.h"
#include "download/download.h"

namespace {

// What a text says about the power, read from its words.
DownloadAdvice AdviceIn(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (text.find("do not power cycle") != std::string::npos) return DownloadAdvice::kDoNotPowerCycle;
  if (text.find("power cycle") != std::string::npos) return DownloadAdvice::kPowerCycle;
  return DownloadAdvice::kNone;
}

TEST(ResultTextTest, EveryCauseSaysWhatHappenedAndWhatToDo) {
  snprintf(my_cfg.file, sizeof my_cfg.file, "%s", "/images/fw.bin");
  using F = DownloadFailure;
  struct Case {
    const char* name;
    DownloadFailure cause;  // kNone: the download succeeded
    bool defaultsLeft;      // due and not written
    bool stopped;
    DownloadAdvice advice;
    const char* dialog;
    const char* cli;
    int code;
  } cases[] = {
      {"done", F::kNone, false, false, DownloadAdvice::kPowerCycle,
       "Firmware download finished successfully.\nPlease power cycle the system for the new "
       "firmware to take effect.",
       "Done: every image was written and accepted. Power cycle the system for the new firmware "
       "to take effect.",
       kExitSuccess},
      {"done, defaults not written", F::kNone, true, false, DownloadAdvice::kNone,
       "Firmware download finished successfully, but the factory defaults were not written: the "
       "serial port was lost. Click the start button to download again and write them.",
       "Every image was written and accepted, but the serial port was lost while the factory "
       "defaults were written. Check the cable and the adapter, then run the download again on "
       "this port: it writes them.",
       kExitPortLost},
      {"console silent", F::kConsoleSilent, false, false, DownloadAdvice::kNone,
       "Firmware download failed, the SAS Expander did not answer and nothing was written. Check "
       "the cable and the power, then click the start button to try again!",
       "The SAS Expander did not answer; nothing was written. Check the cable and the power, then "
       "run the download again.",
       kExitNotFound},
      {"no version", F::kNoVersion, false, false, DownloadAdvice::kNone,
       "Firmware download failed, the SAS Expander did not report its firmware version and "
       "nothing was written. Click the start button to retry the download!",
       "The SAS Expander did not report its firmware version; nothing was written. Run the "
       "download again.",
       kExitNotFound},
      {"bad image", F::kBadImage, false, false, DownloadAdvice::kNone,
       "Firmware download failed, fw.bin holds no image that can be downloaded and nothing was "
       "written. Choose another file, then click the start button!",
       "The file holds no image that can be downloaded; nothing was written.", kExitBadInput},
      {"stopped before writing", F::kStoppedBeforeWrite, false, true, DownloadAdvice::kNone,
       "Download stopped before anything was written, the SAS Expander runs as before. Click the "
       "start button to try again.",
       "Stopped before anything was written; the SAS Expander runs as before.", kExitStopped},
      {"port lost before writing", F::kPortLostBeforeWrite, false, false, DownloadAdvice::kNone,
       "Firmware download failed, the serial port was lost before anything was written. Check the "
       "cable and the serial adapter, then click the start button to try again!",
       "The serial port was lost before anything was written. Check the cable and the adapter, "
       "then run the download again.",
       kExitPortLost},
      {"not written", F::kNotWritten, false, false, DownloadAdvice::kNone,
       "Firmware download failed before anything was written (see the trace). Click the start "
       "button to try again!",
       "The download failed before anything was written (the trace says why). Run it again.",
       kExitInternal},
      {"failed", F::kFailed, true, false, DownloadAdvice::kPowerCycle,
       "Firmware download failed, please power cycle the system, then click the start button to "
       "retry the download!",
       "The download failed: power cycle the system, then run the download again. The factory "
       "defaults that were due are not written yet: the next download on this port writes them.",
       kExitDownloadFailed},
      {"stopped while writing", F::kFailed, false, true, DownloadAdvice::kPowerCycle,
       "Firmware download failed, please power cycle the system, then click the start button to "
       "retry the download!",
       "Stopped during the download: power cycle the system before the next try.", kExitStopped},
      {"not confirmed", F::kNotConfirmed, false, false, DownloadAdvice::kNone,
       "Firmware download failed, the SAS Expander still runs its previous firmware after 3 "
       "attempts. Please check the image file, then click the start button to retry the "
       "download!",
       "The SAS Expander still runs its previous firmware after 3 attempts. Check that the image "
       "file is meant for it, then run the download again.",
       kExitDownloadFailed},
      {"bootloader, stopped", F::kBootloader, false, true, DownloadAdvice::kDoNotPowerCycle,
       "Bootloader image download failed, the bootloader was not written. Do not power cycle the "
       "SAS Expander! Click the start button to write it again.",
       "The bootloader image was not written. Do not power cycle the SAS Expander! Run the "
       "download again to write it.",
       kExitBootloader},
      {"port lost", F::kPortLost, false, false, DownloadAdvice::kPowerCycle,
       "Firmware download failed, the serial port was lost. Check the cable, the serial adapter "
       "and the power, then power cycle the system and click the start button to retry the "
       "download!",
       "The serial port was lost during the download. Check the cable, the adapter and the power, "
       "then power cycle the system and run the download again.",
       kExitPortLost},
      {"port lost in bootloader", F::kPortLostInBootloader, false, false,
       DownloadAdvice::kDoNotPowerCycle,
       "Bootloader image download failed, the serial port was lost and the bootloader was not "
       "written. Do not power cycle the SAS Expander! Check the cable and the serial adapter, "
       "then click the start button to write it again.",
       "The serial port was lost while the bootloader was written; it is not written. Do not "
       "power cycle the SAS Expander! Reconnect, then run the download again.",
       kExitBootloader},
      {"port lost at the end", F::kPortLostAtEnd, false, false, DownloadAdvice::kPowerCycle,
       "Every image was written and accepted, but the serial port was lost as the download ended. "
       "Check the cable and the serial adapter, then power cycle the system for the new firmware "
       "to take effect.",
       "Every image was written and accepted, but the serial port was lost as the download ended. "
       "Check the cable and the adapter, then power cycle the system for the new firmware to take "
       "effect.",
       kExitPortLost},
      {"port lost before the defaults", F::kPortLostAtEnd, true, false, DownloadAdvice::kNone,
       "Every image was written and accepted, but the serial port was lost before the factory "
       "defaults were written. Check the cable, then click the start button to download again "
       "and write them.",
       "Every image was written and accepted, but the serial port was lost before the factory "
       "defaults were written. Check the cable and the adapter, then run the download again on "
       "this port: it writes them. The factory defaults that were due are not written yet: the "
       "next download on this port writes them.",
       kExitPortLost},
  };
  bool seen[static_cast<int>(F::kPortLostAtEnd) + 1] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    seen[static_cast<int>(c.cause)] = true;
    DownloadRecord r{};
    r.ok = c.cause == F::kNone;
    r.cause = c.cause;
    r.written = r.ok ? DownloadWritten::kAll
                : NothingWritten(c.cause) ? DownloadWritten::kNothing : DownloadWritten::kPartly;
    r.firmwareAttempts = 3;
    NoteFactoryDefaults(&r, c.defaultsLeft, false);
    EXPECT_EQ(r.advice, c.advice);
    ShowDownloadResult(&r);
    const std::string cli = DownloadResultText(r, c.stopped);
    EXPECT_EQ(r.text, std::string(c.dialog));
    EXPECT_EQ(cli, c.cli);
    EXPECT_EQ(DownloadExitCode(r, c.stopped), c.code);
    EXPECT_EQ(AdviceIn(r.text), r.advice) << r.text;
    EXPECT_EQ(AdviceIn(cli), r.advice) << cli;
  }
  for (bool s : seen) EXPECT_TRUE(s);  // a new cause needs its row
}

}  // namespace
