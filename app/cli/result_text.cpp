#include "app/cli/result_text.h"

#include "app/dialog_api.h"
#include "platform/os_error.h"

namespace {

std::string OutcomeText(const DownloadRecord& record, bool stopped) {
  const std::string dev = g_szDeviceName;
  if (record.ok && record.advice != DownloadAdvice::kPowerCycle) {
    return "Every image was written and accepted, but the serial port was lost while the factory "
           "defaults were written. Check the cable and the adapter, then run the download again "
           "on this port: it writes them.";
  }
  if (record.ok) {
    return "Done: every image was written and accepted. Power cycle the system for the new "
           "firmware to take effect.";
  }
  switch (record.cause) {
    case DownloadFailure::kConsoleSilent:
      return "The " + dev + " did not answer; nothing was written. Check the cable and the power, "
             "then run the download again.";
    case DownloadFailure::kNoVersion:
      return "The " + dev + " did not report its firmware version; nothing was written. Run the "
             "download again.";
    case DownloadFailure::kBadImage:
      return "The file holds no image that can be downloaded; nothing was written.";
    case DownloadFailure::kStoppedBeforeWrite:
      return "Stopped before anything was written; the " + dev + " runs as before.";
    case DownloadFailure::kPortLostBeforeWrite:
      return "The serial port was lost before anything was written. Check the cable and the "
             "adapter, then run the download again.";
    case DownloadFailure::kNotWritten:
      return "The download failed before anything was written (the trace says why). Run it "
             "again.";
    case DownloadFailure::kNotConfirmed:
      return "The " + dev + " still runs its previous firmware after " +
             std::to_string(record.firmwareAttempts) +
             " attempts. Check that the image file is meant for it, then run the download again.";
    case DownloadFailure::kBootloader:
      return "The bootloader image was not written. Do not power cycle the " + dev +
             "! Run the download again to write it.";
    case DownloadFailure::kPortLostInBootloader:
      return "The serial port was lost while the bootloader was written; it is not written. Do "
             "not power cycle the " + dev + "! Reconnect, then run the download again.";
    case DownloadFailure::kPortLost:
      return "The serial port was lost during the download. Check the cable, the adapter and the "
             "power, then power cycle the system and run the download again.";
    case DownloadFailure::kPortLostAtEnd:
      if (record.advice != DownloadAdvice::kPowerCycle) {
        return "Every image was written and accepted, but the serial port was lost before the "
               "factory defaults were written. Check the cable and the adapter, then run the "
               "download again on this port: it writes them.";
      }
      return "Every image was written and accepted, but the serial port was lost as the download "
             "ended. Check the cable and the adapter, then power cycle the system for the new "
             "firmware to take effect.";
    case DownloadFailure::kNone:
    case DownloadFailure::kFailed:
      break;
  }
  if (stopped) {
    return "Stopped during the download: power cycle the system before the next try.";
  }
  return "The download failed: power cycle the system, then run the download again.";
}

}  // namespace

std::string DownloadResultText(const DownloadRecord& record, bool stopped) {
  std::string text = OutcomeText(record, stopped);
  if (!record.ok && record.fileError != 0) {
    text += " A file step failed: " + OsErrorText(record.fileError) + ".";
  }
  if (!record.ok && record.defaultsDue && !record.defaultsWritten) {
    text += " The factory defaults that were due are not written yet: the next download on this "
            "port writes them.";
  }
  return text;
}
