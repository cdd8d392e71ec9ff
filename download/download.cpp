// The whole download of one image file: console check, parse, then either
// one download sequence over every image, or firmware first, a reboot and a
// confirmed version change, then the bootloader.
#include "download/download.h"

#include <atomic>
#include <cstddef>
#include <cstdio>

#include "config/settings.h"
#include "console/device.h"
#include "console/version.h"
#include "platform/clock.h"
#include "platform/report.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/trace.h"
#include "protocol/single_image.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

namespace {

static_assert(sizeof(DownloadRecord::images) / sizeof(DownloadImage) == kMaxImages,
              "the record holds the whole image table");

// One download as it runs: the record it returns, the cause found so far, and
// what it has done by then for the cause of a failure: whether download mode
// was entered (before it nothing was written), whether any byte of an image
// went out (download mode entered and left again with nothing sent in it, as
// on a full disk, wrote nothing either), and whether a bootloader image was
// the one that failed.
struct Run {
  DownloadRecord record{};
  DownloadFailure found = DownloadFailure::kFailed;
  bool enteredDownloadMode = false;
  bool imageSent = false;
  bool bootloaderFailed = false;
};

// Seconds to wait for the console prompt, at the start and after a reboot.
constexpr uint32_t kConsoleWaitSeconds = 75;
// Seconds the console has to answer a version query.
constexpr uint32_t kVersionWaitSeconds = 4;
// Further version queries when a query gets no usable reply.
constexpr int kExtraVersionQueries = 3;
constexpr uint32_t kPauseBetweenImagesMs = 160;

// A stop request, the port closed under the download (Quit) or a port that
// is gone ends the procedure as failed whatever the last step returned.
bool StopSeen() { return IsDlStopped() || !is_open() || IsComLost(); }

bool Abandoned(const char* where) {
  if (IsDlStopped()) {
    DbgTrace("%s: stop requested\n", where);
    return true;
  }
  if (!is_open()) {
    DbgTrace("%s: port closed\n", where);
    return true;
  }
  if (IsComLost()) {
    DbgTrace("%s: port lost\n", where);
    return true;
  }
  return false;
}

bool FileVersionIs(const FW_VERSION& v) {
  return g_FwHdrInfo.major == v.major && g_FwHdrInfo.minor == v.minor &&
         g_FwHdrInfo.build == v.build && g_FwHdrInfo.revision == v.revision;
}

const FW_IMAGE* FindPart(uint8_t part) {
  for (uint32_t i = 0; i < g_dwNumofImages; ++i) {
    if (g_FwImages[i].part == part) return &g_FwImages[i];
  }
  return nullptr;
}

// Deletes a temporary image file; a delete that fails is tried once more
// (a scanner may have held the file for a moment) before it is given up.
void DeleteTempFile(const char* tmpfile) {
  // A file left behind fails nothing: the error that stands is the one of
  // the step before, if any.
  const uint32_t before = LastFileError();
  if (!Files().Delete(tmpfile) && !Files().Delete(tmpfile)) {
    DbgTrace("fmdl_downloadimages: unable to delete %s (%s)\n", tmpfile,
             LastFileErrorText().c_str());
  }
  SetLastFileError(before);
}

// Ends a download sequence after a failed image: leaves download mode,
// removes the image's temporary file (if one was made) and clears the
// bootloader flag. Always false.
bool AbortSequence(const char* tmpfile) {
  exitdownloadmode();
  if (tmpfile != nullptr && tmpfile[0] != '\0') DeleteTempFile(tmpfile);
  g_bBootLoaderInProgress = 0;
  return false;
}

// The running version, before the download or after a reboot. A query
// without a usable reply is asked anew, up to kExtraVersionQueries more
// times; false if none gave one or a stop came meanwhile. A reply that holds
// no version text at all (the query leaves its record all zero) is no version:
// taken as the version before, it would make any later version look like a
// change; taken as the version after a reboot, it would send the bootloader on
// a guess. `out` is written only with a version actually read.
bool AskAgainUnlessAbandoned(int n, int32_t) {
  if (Abandoned("CheckFirmwareVer")) return false;
  DbgTrace("CheckFirmwareVer: no reply, asking again(#%d)\n", n);
  return true;
}

bool QueryRunningVersion(FW_VERSION* out, const char* when) {
  if (AskRunningVersion(out, kVersionWaitSeconds, kExtraVersionQueries,
                        AskAgainUnlessAbandoned) != -1) {
    return true;
  }
  // A stop, a closed or a lost port stays so: the queries ended on it.
  if (!StopSeen()) DbgTrace("CheckFirmwareVer: no reply %s\n", when);
  return false;
}

DownloadVersion RecordVersion(const FW_VERSION& v) {
  return DownloadVersion{true, v.major, v.minor, v.build, v.revision};
}

bool DownloadImages(Run* run, const FW_IMAGE* first, uint32_t numimages);

// Firmware images, reboot, version check, bootloader. The firmware is sent
// again while the version after the reboot is the one that ran before, at
// most my_cfg.fwattempts times in all.
bool DownloadWithRebooting(Run* run) {
  DbgTrace("fmdl_download: with rebooting");
  const uint32_t firmwareCount = g_dwNumofImages - 1;
  const uint32_t maxAttempts = my_cfg.fwattempts > 0 ? static_cast<uint32_t>(my_cfg.fwattempts) : 1;
  for (uint32_t attempt = 1;; ++attempt) {
    run->record.firmwareAttempts = attempt;
    g_dwBytesSent = 0;
    if (attempt == 1) {
      SetStatusText("Downloading firmware image, please wait...");
    } else {
      SetStatusText("Downloading firmware image(retry #%d), please wait...",
                    static_cast<int>(attempt - 1));
    }
    if (!DownloadImages(run, &g_FwImages[0], firmwareCount)) return false;
    // After a stop the expander is left as it is, not rebooted.
    if (Abandoned("fmdl_download")) return false;

    SetStatusText("Now rebooting %s, this will take a while, please wait...", g_szDeviceName);
    RebootExpander();
    bool up = IsSysUpAndRunning(kConsoleWaitSeconds);
    SetStatusText("%s", "");
    if (!up) {
      DbgTrace("fmdl_download: no answer after reboot\n");
      return false;
    }
    if (Abandoned("fmdl_download")) return false;

    FW_VERSION vernum = {0, 0, 0, 0};
    if (!QueryRunningVersion(&vernum, "after reboot")) return false;
    run->record.after = RecordVersion(vernum);
    // The new firmware runs when the version changed from the one that ran
    // before, or when it is the file's own version: re-running a file whose
    // firmware already runs (or retrying after a failed bootloader) must not
    // write the firmware again and again.
    bool changed = !SameVersion(vernum, g_start_ver);
    if (!changed && !FileVersionIs(vernum)) {
      DbgTrace("CheckFirmwareVer: still previous version");
      if (attempt >= maxAttempts) {
        DbgTrace("fmdl_download: firmware not taken after %d attempts\n", static_cast<int>(attempt));
        run->found = DownloadFailure::kNotConfirmed;
        return false;
      }
      SetStatusText("Retrying firmware download, please wait...");
      continue;
    }
    DbgTrace("CheckFirmwareVer=%d.%d.%d.%d", static_cast<int>(vernum.major),
             static_cast<int>(vernum.minor), static_cast<int>(vernum.build),
             static_cast<int>(vernum.revision));
    if (Abandoned("fmdl_download")) return false;

    SetStatusText("Downloading bootloader image, do not power cycle the %s, please wait...",
                  g_szDeviceName);
    g_bBootLoaderInProgress = 1;
    bool ok = DownloadImages(run, &g_FwImages[g_dwNumofImages - 1], 1);
    g_bBootLoaderInProgress = 0;
    if (!ok) {
      // The firmware is new but the bootloader is not written: the expander
      // must not be power cycled, and the front end says so.
      DbgTrace("fmdl_download: bootloader image download failed\n");
      run->found = DownloadFailure::kBootloader;
    }
    return ok;
  }
}

// What the record keeps of the file just parsed: its digest, its version
// record and its images, none accepted yet.
void NoteParsedFile(DownloadRecord* r) {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  if (FwFileBytes(&data, &size)) {
    snprintf(r->sha256, sizeof r->sha256, "%s", Sha256Hex(data, size).c_str());
  }
  if (g_FwHdrInfo.major != 0 || g_FwHdrInfo.minor != 0 || g_FwHdrInfo.build != 0 ||
      g_FwHdrInfo.revision != 0) {
    r->fileVersion = RecordVersion(
        {g_FwHdrInfo.major, g_FwHdrInfo.minor, g_FwHdrInfo.build, g_FwHdrInfo.revision});
  }
  r->numImages = g_dwNumofImages;
  for (uint32_t i = 0; i < r->numImages; ++i) r->images[i] = {g_FwImages[i].part, false};
}

// The procedure of a download; sets run->found only for the causes it finds
// itself.
bool DownloadFile(Run* run, const char* path) {
  SetStatusText("Checking %s status, please wait...", g_szDeviceName);
  bool up = IsSysUpAndRunning(kConsoleWaitSeconds);
  SetStatusText("%s", "");
  if (!up) {
    run->found = DownloadFailure::kConsoleSilent;
    return false;
  }
  if (Abandoned("fmdl_download")) return false;

  // The version that runs before anything is written: the confirmation after
  // a reboot and the factory-defaults decision afterwards both read it, so a
  // download that cannot read it writes nothing.
  if (!QueryRunningVersion(&g_start_ver, "before download")) {
    run->found = DownloadFailure::kNoVersion;
    return false;
  }
  run->record.before = RecordVersion(g_start_ver);
  ParseFwFile(path);
  NoteParsedFile(&run->record);
  if (g_dwNumofImages == 0) run->found = DownloadFailure::kBadImage;
  DbgTrace("fw header info=v.%d.%d.%d.%d", g_FwHdrInfo.major, g_FwHdrInfo.minor,
           g_FwHdrInfo.build, g_FwHdrInfo.revision);
  DbgTrace("g_start_ver=v.%d.%d.%d.%d", static_cast<int>(g_start_ver.major),
           static_cast<int>(g_start_ver.minor), static_cast<int>(g_start_ver.build),
           static_cast<int>(g_start_ver.revision));
  if (FileVersionIs(g_start_ver)) {
    DbgTrace("Same firmware version detected on %s, no need to download image!",
             g_szDeviceName);
  }

  const FW_IMAGE* firmware = FindPart(kPartFirmware);
  if (firmware != nullptr) DbgTrace("bFirmwareImg = TRUE");
  const FW_IMAGE* bootloader = FindPart(kPartBootloader);
  if (bootloader != nullptr) DbgTrace("bBootLoader = TRUE");

  bool result;
  if (ChooseDownloadPlan(g_FwImages, g_dwNumofImages) == DownloadPlan::kWithRebooting) {
    result = DownloadWithRebooting(run);
  } else {
    DbgTrace("fmdl_download: normal path");
    result = DownloadImages(run, &g_FwImages[0], g_dwNumofImages);
  }
  // A stop request or a closed port never ends in success, even when it came
  // after the last packet was accepted. A port lost then went while download
  // mode was left: every image had been accepted.
  if (result && Abandoned("fmdl_download")) {
    result = false;
    if (IsComLost()) run->found = DownloadFailure::kPortLostAtEnd;
  }

  FreeFwFileBuffer();
  return result;
}

// The cause of a failed download from what the step that failed found and
// what the download had done by then. Before download mode nothing was
// written, whatever stopped it; a bootloader image that failed, on either
// path and for any cause, must not be followed by a power cycle; otherwise
// a port that is gone is the cause, whichever step noticed it.
DownloadFailure FailureCause(const Run& run) {
  const bool lost = IsComLost();
  if (lost) DbgTrace("fmdl_download: the serial port was lost\n");
  if (!run.enteredDownloadMode || !run.imageSent) {
    if (lost) return DownloadFailure::kPortLostBeforeWrite;
    if (IsDlStopped() || !is_open()) return DownloadFailure::kStoppedBeforeWrite;
    return run.found == DownloadFailure::kFailed ? DownloadFailure::kNotWritten : run.found;
  }
  if (run.bootloaderFailed || run.found == DownloadFailure::kBootloader) {
    return lost ? DownloadFailure::kPortLostInBootloader : DownloadFailure::kBootloader;
  }
  if (lost && run.found != DownloadFailure::kPortLostAtEnd) return DownloadFailure::kPortLost;
  return run.found;
}

// Whether the expander is to be power cycled now. A bootloader that is not
// written must not be; new firmware that runs once it is, unless the
// factory defaults are still to be written: the next download writes them
// and ends with this advice itself. Nothing written, or the old firmware
// still running after every attempt, needs none either.
DownloadAdvice Advise(const DownloadRecord& r) {
  const bool defaultsLeft = r.defaultsDue && !r.defaultsWritten;
  if (r.ok) return defaultsLeft ? DownloadAdvice::kNone : DownloadAdvice::kPowerCycle;
  switch (r.cause) {
    case DownloadFailure::kBootloader:
    case DownloadFailure::kPortLostInBootloader:
      return DownloadAdvice::kDoNotPowerCycle;
    case DownloadFailure::kPortLostAtEnd:
      return defaultsLeft ? DownloadAdvice::kNone : DownloadAdvice::kPowerCycle;
    case DownloadFailure::kNone:
    case DownloadFailure::kFailed:
    case DownloadFailure::kPortLost:
      return DownloadAdvice::kPowerCycle;
    case DownloadFailure::kConsoleSilent:
    case DownloadFailure::kNoVersion:
    case DownloadFailure::kBadImage:
    case DownloadFailure::kStoppedBeforeWrite:
    case DownloadFailure::kPortLostBeforeWrite:
    case DownloadFailure::kNotWritten:
    case DownloadFailure::kNotConfirmed:
      return DownloadAdvice::kNone;
  }
  return DownloadAdvice::kPowerCycle;
}

}  // namespace

bool NothingWritten(DownloadFailure why) {
  switch (why) {
    case DownloadFailure::kConsoleSilent:
    case DownloadFailure::kNoVersion:
    case DownloadFailure::kBadImage:
    case DownloadFailure::kStoppedBeforeWrite:
    case DownloadFailure::kPortLostBeforeWrite:
    case DownloadFailure::kNotWritten:
      return true;
    case DownloadFailure::kNone:
    case DownloadFailure::kFailed:
    case DownloadFailure::kNotConfirmed:
    case DownloadFailure::kBootloader:
    case DownloadFailure::kPortLost:
    case DownloadFailure::kPortLostInBootloader:
    case DownloadFailure::kPortLostAtEnd:
      return false;
  }
  return false;
}

void ResetDownloadState() {
  g_bBootLoaderInProgress = 0;
  g_bExitingDlMode = 0;
  g_dwStartRetryCount = 0;
  g_dwNormalRetryCount = 0;
  g_dwSubpacketTimeoutCount = 0;
  g_dwBytesSent = 0;
}

void NoteFactoryDefaults(DownloadRecord* record, bool due, bool written) {
  record->defaultsDue = due;
  record->defaultsWritten = due && written;
  record->advice = Advise(*record);
}

DownloadRecord DownloadImageFile(const char* path) {
  ResetDownloadState();
  Run run;
  DownloadRecord& r = run.record;
  SetLastFileError(0);
  r.ok = DownloadFile(&run, path);
  r.cause = r.ok ? DownloadFailure::kNone : FailureCause(run);
  r.fileError = r.ok ? 0 : LastFileError();
  if (r.fileError != 0) {
    DbgTrace("fmdl_download: a file step failed: %s (error %u)\n", LastFileErrorText().c_str(),
             static_cast<unsigned>(r.fileError));
  }
  if (!r.ok && NothingWritten(r.cause)) DbgTrace("fmdl_download: nothing was written\n");
  r.written = r.ok || r.cause == DownloadFailure::kPortLostAtEnd ? DownloadWritten::kAll
              : NothingWritten(r.cause)                          ? DownloadWritten::kNothing
                                                                 : DownloadWritten::kPartly;
  r.advice = Advise(r);
  return r;
}

bool fmdl_download(const char* path) { return DownloadImageFile(path).ok; }

bool fmdl_downloadimages(const FW_IMAGE* first, uint32_t numimages) {
  Run run;
  return DownloadImages(&run, first, numimages);
}

namespace {

bool DownloadImages(Run* run, const FW_IMAGE* first, uint32_t numimages) {
  g_dwStartRetryCount = 0;
  g_dwNormalRetryCount = 0;
  g_dwSubpacketTimeoutCount = 0;
  ShowRetryStats("");

  if (numimages == 0) {
    DbgTrace("numimages == 0");
    return false;
  }
  // Download mode is not entered at all once a stop was requested: nothing
  // would be sent in it, and no terminating header would take it out again.
  if (Abandoned("fmdl_downloadimages")) return false;

  char tmppath[260];
  if (!Files().TempDir(tmppath, sizeof tmppath)) {
    DbgTrace("fmdl_downloadimages: no temporary folder\n");
    return false;
  }

  run->enteredDownloadMode = true;
  enterdownloadmode();
  for (uint32_t i = 0; i < numimages; ++i) {
    const FW_IMAGE& image = first[i];
    char tmpfile[260] = "";
    // Whatever ends this image, a bootloader that failed is told apart.
    run->bootloaderFailed = image.part == kPartBootloader;
    if (!Files().CreateTemp(tmppath, "fwdl", tmpfile, sizeof tmpfile)) {
      DbgTrace("fmdl_downloadimages: unable to create a temporary file in %s\n", tmppath);
      return AbortSequence(nullptr);
    }
    // A short temporary file would be sent as if it were the whole image.
    if (!WriteFileBytes(tmpfile, image.data, image.length)) {
      DbgTrace("fmdl_downloadimages: unable to write %d bytes to %s\n",
               static_cast<int>(image.length), tmpfile);
      return AbortSequence(tmpfile);
    }
    DbgTrace("tmpfile=%s", tmpfile);
    g_bBootLoaderInProgress = (image.part == kPartBootloader) ? 1 : 0;
    // A block is credited to the progress just before it is sent: a credit
    // means that bytes of the image went out (a failed read-back sends none).
    const uint32_t creditedBefore = g_dwBytesSent.load();
    const bool accepted = fmdl_downloadEx(tmpfile);
    if (g_dwBytesSent.load() != creditedBefore) run->imageSent = true;
    const ptrdiff_t entry = &image - g_FwImages;
    if (entry >= 0 && static_cast<uint32_t>(entry) < run->record.numImages) {
      run->record.images[entry].accepted = accepted;
    }
    if (!accepted) {
      DbgTrace("fmdl_downloadimages: image #%d (part=0x%x, offset=%d) failed\n",
               static_cast<int>(i), image.part, static_cast<int>(image.offset));
      return AbortSequence(tmpfile);
    }
    run->bootloaderFailed = false;
    DeleteTempFile(tmpfile);
    PauseMs(kPauseBetweenImagesMs);
  }
  exitdownloadmode();
  DbgTrace("fmdl_download finished");
  g_bBootLoaderInProgress = 0;
  return true;
}

}  // namespace
