// The download worker: one thread per accepted Start, running the whole
// download procedure with the file controls locked.
#include "app/worker.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/dialog_api.h"
#include "res/resource.h"
#include "platform/trace.h"
#include "config/settings.h"
#include "console/device.h"
#include "console/version.h"
#include "download/download.h"
#include "download/history.h"
#include "platform/paths.h"
#include "platform/shutdown_hold.h"
#include "platform/thread.h"
#include "serial/serial_port.h"

std::atomic<uint32_t> g_bThreadRunning{0};

namespace {

// What the history keeps of who downloads, and where. Set by the front end on
// its own thread before a download starts, read by the worker.
std::mutex g_contextLock;
HistoryContext g_context;

HistoryContext Context() {
  std::lock_guard<std::mutex> hold(g_contextLock);
  return g_context;
}

// The factory-defaults rule on a version: each field on its own, not a
// version order, so 2.01 still needs defaults.
bool DefaultsRule(const FW_VERSION& v) { return !(v.major >= 1 && v.minor >= 2); }

// Factory defaults left due on this port by an earlier download, from the
// history; false without a port identity or a history.
bool DefaultsLeftDue() {
  const HistoryContext context = Context();
  std::string dir;
  if (context.portId.empty() || !HistoryDir(&dir)) return false;
  return FactoryDefaultsPending(ReadHistory(dir, context.portId));
}

void EnableStop(bool enable) {
  if (DialogView* dlg = g_hDlg.load()) dlg->EnableItem(IDC_STOP_DL, enable);
}

// printf-style text into `out`, cut to fit as the status line cuts it.
void Format(char* out, size_t size, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
void Format(char* out, size_t size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vsnprintf(out, size, fmt, args);
  va_end(args);
}

// The status text of a failed download, into `out`, saying what the
// record's advice says about a power cycle.
void FailureText(const DownloadRecord& r, char* out, size_t size) {
  switch (r.cause) {
    case DownloadFailure::kBootloader:
      Format(out, size,
          "Bootloader image download failed, the bootloader was not written. Do not power cycle "
          "the %s! Click the start button to write it again.",
          g_szDeviceName);
      return;
    case DownloadFailure::kNotConfirmed:
      Format(out, size,
          "Firmware download failed, the %s still runs its previous firmware after %d attempts. "
          "Please check the image file, then click the start button to retry the download!",
          g_szDeviceName, static_cast<int>(r.firmwareAttempts));
      return;
    case DownloadFailure::kConsoleSilent:
      Format(out, size,
          "Firmware download failed, the %s did not answer and nothing was written. Check the "
          "cable and the power, then click the start button to try again!",
          g_szDeviceName);
      return;
    case DownloadFailure::kNoVersion:
      Format(out, size,
          "Firmware download failed, the %s did not report its firmware version and nothing was "
          "written. Click the start button to retry the download!",
          g_szDeviceName);
      return;
    case DownloadFailure::kBadImage:
      Format(out, size,
          "Firmware download failed, %s holds no image that can be downloaded and nothing was "
          "written. Choose another file, then click the start button!",
          PathFileNamePart(my_cfg.file));
      return;
    case DownloadFailure::kStoppedBeforeWrite:
      Format(out, size,
          "Download stopped before anything was written, the %s runs as before. Click the start "
          "button to try again.",
          g_szDeviceName);
      return;
    case DownloadFailure::kPortLostBeforeWrite:
      Format(out, size,
          "Firmware download failed, the serial port was lost before anything was written. Check "
          "the cable and the serial adapter, then click the start button to try again!");
      return;
    case DownloadFailure::kNotWritten:
      Format(out, size,
          "Firmware download failed before anything was written (see the trace). Click the start "
          "button to try again!");
      return;
    case DownloadFailure::kPortLostAtEnd:
      if (r.advice != DownloadAdvice::kPowerCycle) {
        Format(out, size,
            "Every image was written and accepted, but the serial port was lost before the "
            "factory defaults were written. Check the cable, then click the start button to "
            "download again and write them.");
        return;
      }
      Format(out, size,
          "Every image was written and accepted, but the serial port was lost as the download "
          "ended. Check the cable and the serial adapter, then power cycle the system for the new "
          "firmware to take effect.");
      return;
    case DownloadFailure::kPortLost:
      Format(out, size,
          "Firmware download failed, the serial port was lost. Check the cable, the serial "
          "adapter and the power, then power cycle the system and click the start button to "
          "retry the download!");
      return;
    case DownloadFailure::kPortLostInBootloader:
      Format(out, size,
          "Bootloader image download failed, the serial port was lost and the bootloader was not "
          "written. Do not power cycle the %s! Check the cable and the serial adapter, then click "
          "the start button to write it again.",
          g_szDeviceName);
      return;
    case DownloadFailure::kNone:
    case DownloadFailure::kFailed:
      break;
  }
  Format(out, size,
      "Firmware download failed, please power cycle the system, then click the start "
      "button to retry the download!");
}

std::atomic<DownloadHoldFn> g_downloadHold{nullptr};
// The advice of the last download shown, for a front end that outlives its
// worker (the worker threads are never joined).
std::atomic<DownloadAdvice> g_lastAdvice{DownloadAdvice::kNone};

// The front end's hold, for the life of the object.
class HoldWhileDownloading {
 public:
  HoldWhileDownloading() : fn_(g_downloadHold.load()) {
    if (fn_) fn_(true);
  }
  ~HoldWhileDownloading() {
    if (fn_) fn_(false);
  }
  HoldWhileDownloading(const HoldWhileDownloading&) = delete;
  HoldWhileDownloading& operator=(const HoldWhileDownloading&) = delete;

 private:
  const DownloadHoldFn fn_;
};

}  // namespace

void SetDownloadHold(DownloadHoldFn fn) { g_downloadHold = fn; }

std::string HostHoldReason(const std::vector<std::string>& ports) {
  std::string list;
  for (const std::string& port : ports) list += (list.empty() ? "" : ", ") + port;
  return std::string("Writing firmware to the ") + g_szDeviceName + (ports.size() > 1 ? "s" : "") +
         " on " + list + ": do not power off";
}

void StartTestThread(uint16_t cmdid) {
  // Only the dialog thread starts workers; the exchange also keeps a second
  // caller out should that ever change.
  if (g_bThreadRunning.exchange(1) != 0) return;
  DbgTrace("StartTestThread called");
  if (!StartDetachedThread(&HandleCmds, cmdid)) {
    // Nothing runs, so nothing would ever clear the flag: clear it here so a
    // later Start can try again. The controls were never locked.
    g_bThreadRunning = 0;
    DbgTrace("StartTestThread: unable to create the worker thread\n");
    SetStatusText("Unable to start the download, please try again!");
  }
}

uint32_t HandleCmds(uint32_t cmdid) {
  DbgTrace("HandleCmds started");
  EnableDlgControls(false);
  EnableStop(true);
  DbgTrace("cmdid=%d", static_cast<int>(cmdid));

  if (cmdid == IDC_START) {
    // For the whole download: neither a shutdown, a logoff nor sleep may cut it.
    HoldWhileDownloading hold;
    DownloadAndShowResult(my_cfg.file);
    g_bStopDl = 0;
  }

  // The flag is cleared before Start is enabled again: a Start pressed the
  // moment it is enabled must find no worker running, or it would show the
  // downloading text and start nothing.
  EnableStop(false);
  g_bThreadRunning = 0;
  EnableDlgControls(true);
  DbgTrace("HandleCmds ended");
  return 1;
}

void SetDownloadPort(const std::string& program, const std::string& port,
                     const std::string& portId) {
  std::lock_guard<std::mutex> hold(g_contextLock);
  g_context.program = program;
  g_context.port = port;
  g_context.portId = portId;
}

DownloadRecord DownloadAndSetDefaults(const char* path) {
  // Read before the download appends its own line: defaults an earlier
  // download on this port left due are written after this one.
  const bool leftDue = DefaultsLeftDue();
  DownloadRecord record = DownloadImageFile(path);
  if (record.ok) {
    DbgTrace("bret true: finished successfully");
    SetStatusText("Firmware download finished successfully.");
    const bool due = FactoryDefaultsDue(g_start_ver, leftDue);
    if (due && !NeedToSetFactoryDefVer()) {
      DbgTrace("factory defaults left due by an earlier download on this port\n");
    }
    bool written = false;
    if (due) {
      SetStatusText("Setting firmware defaults, please wait...");
      SetFirmwareDefaults();
      // The command goes out blind; a port gone meanwhile did not carry it.
      written = is_open() && !IsComLost();
    }
    NoteFactoryDefaults(&record, due, written);
  } else {
    DbgTrace("after start_fmdl_download=false");
    // Defaults that were due stay due in the record: the next download on
    // this port writes them.
    const bool due = record.before.known ? FactoryDefaultsDue(g_start_ver, leftDue) : leftDue;
    NoteFactoryDefaults(&record, record.written != DownloadWritten::kNothing && due, false);
  }
  return record;
}

void ShowDownloadResult(DownloadRecord* record) {
  if (record->ok && record->advice != DownloadAdvice::kPowerCycle) {
    snprintf(record->text, sizeof record->text,
             "Firmware download finished successfully, but the factory defaults were not "
             "written: the serial port was lost. Click the start button to download again and "
             "write them.");
  } else if (record->ok) {
    snprintf(record->text, sizeof record->text,
             "Firmware download finished successfully.\nPlease power cycle the system for the "
             "new firmware to take effect.");
  } else {
    FailureText(*record, record->text, sizeof record->text);
  }
  SetStatusText("%s", record->text);
}

void RecordDownload(const DownloadRecord& record, const char* path, int exitCode) {
  HistoryContext context = Context();
  context.file = path;
  context.exitCode = exitCode;
  AppendHistory(record, context);
}

DownloadRecord DownloadAndShowResult(const char* path) {
  DownloadRecord record = DownloadAndSetDefaults(path);
  ShowDownloadResult(&record);
  RecordDownload(record, path, -1);
  g_lastAdvice = record.advice;
  return record;
}

DownloadAdvice LastWorkerAdvice() { return g_lastAdvice.load(); }

bool FactoryDefaultsDue(const FW_VERSION& running, bool leftDue) {
  return leftDue || DefaultsRule(running);
}

bool NeedToSetFactoryDefVer() {
  if (!DefaultsRule(g_start_ver)) {
    DbgTrace("NeedToSetFactoryDefVer=0");
    return false;
  }
  DbgTrace("NeedToSetFactoryDefVer=1");
  return true;
}
