#include "app/cli/exit_codes.h"

ExitCode ExitCodeForFailure(DownloadFailure why) {
  switch (why) {
    case DownloadFailure::kNone:
      return kExitSuccess;
    case DownloadFailure::kBootloader:
    case DownloadFailure::kPortLostInBootloader:
      // The new firmware runs and its bootloader is not written: whatever
      // cut it off, the one thing to tell is not to power cycle.
      return kExitBootloader;
    case DownloadFailure::kPortLost:
    case DownloadFailure::kPortLostBeforeWrite:
    case DownloadFailure::kPortLostAtEnd:
      // The message says how far the download came.
      return kExitPortLost;
    case DownloadFailure::kConsoleSilent:
    case DownloadFailure::kNoVersion:
      // Nothing was written: the console gave no answer, or no version.
      return kExitNotFound;
    case DownloadFailure::kBadImage:
      return kExitBadInput;
    case DownloadFailure::kStoppedBeforeWrite:
      return kExitStopped;
    case DownloadFailure::kNotWritten:
      return kExitInternal;
    case DownloadFailure::kNotConfirmed:
    case DownloadFailure::kFailed:
      return kExitDownloadFailed;
  }
  return kExitDownloadFailed;  // not a cause: a record damaged or from a later version
}

ExitCode DownloadExitCode(const DownloadRecord& record, bool stopped) {
  // Whatever else happened, this one must be told: do not power cycle.
  if (record.advice == DownloadAdvice::kDoNotPowerCycle) return kExitBootloader;
  if (record.ok) {
    // The firmware is in, the defaults that were due are not: the port
    // went while they were written.
    return record.defaultsDue && !record.defaultsWritten ? kExitPortLost : kExitSuccess;
  }
  return stopped ? kExitStopped : ExitCodeForFailure(record.cause);
}

const char* ExitCodeName(int code) {
  switch (code) {
    case kExitSuccess: return "success";
    case kExitInternal: return "internal-error";
    case kExitBadInput: return "bad-input";
    case kExitCannotOpen: return "cannot-open-port";
    case kExitNotFound: return "device-not-found";
    case kExitTooOld: return "firmware-too-old";
    case kExitDownloadFailed: return "download-failed";
    case kExitStopped: return "stopped";
    case kExitBootloader: return "bootloader-failed";
    case kExitPortLost: return "port-lost";
    case kExitVersionDiffers: return "version-differs";
    case kExitNotCurrent: return "not-current";
    default: return "failed";
  }
}

int Severity(const PortResult& port) {
  // A stopped or lost port that does not say how far it came may have been
  // cut off in the middle of an image: counted as written partly, so the
  // power cycle it may need is never hidden.
  const bool partly =
      port.written == "partly" ||
      (port.written.empty() && (port.code == kExitStopped || port.code == kExitPortLost));
  switch (port.code) {
    case kExitSuccess: return 0;
    case kExitBootloader: return 300;
    case kExitDownloadFailed: return 230;
    default: break;
  }
  if (partly) {
    if (port.code == kExitPortLost) return 220;
    if (port.code == kExitStopped) return 210;
    return 200;  // any other code of a half-written expander
  }
  switch (port.code) {
    case kExitPortLost: return 110;  // before any image, or after the last
    case kExitInternal: return 90;
    case kExitTooOld: return 80;
    case kExitNotFound: return 70;
    case kExitCannotOpen: return 60;
    case kExitBadInput: return 50;
    case kExitVersionDiffers: return 40;
    case kExitNotCurrent: return 40;
    case kExitStopped: return 30;
    default: return 120;  // a code added later, not placed yet
  }
}

const PortResult& MoreSevere(const PortResult& a, const PortResult& b) {
  return Severity(b) > Severity(a) ? b : a;
}

int ExitCodeForCheck(DeviceCheck check) {
  switch (check) {
    case DeviceCheck::kFound: return kExitSuccess;
    case DeviceCheck::kCannotOpen: return kExitCannotOpen;
    case DeviceCheck::kNotFound: return kExitNotFound;
    case DeviceCheck::kTooOld: return kExitTooOld;
  }
  return kExitInternal;
}
