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
    default:
      return kExitDownloadFailed;
  }
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

namespace {
// Higher is more severe. A failed bootloader needs the most care (the
// enclosure must not be power cycled); then a failed download (it must be);
// then what left the expander as it was.
int Severity(int code) {
  switch (code) {
    case kExitSuccess: return 0;
    case kExitStopped: return 1;
    case kExitVersionDiffers: return 2;
    case kExitNotCurrent: return 2;
    case kExitBadInput: return 3;
    case kExitCannotOpen: return 4;
    case kExitNotFound: return 5;
    case kExitTooOld: return 6;
    case kExitInternal: return 7;
    case kExitDownloadFailed: return 8;
    case kExitPortLost: return 9;
    case kExitBootloader: return 10;
    default: return 8;
  }
}
}  // namespace

int MoreSevere(int a, int b) { return Severity(b) > Severity(a) ? b : a; }
