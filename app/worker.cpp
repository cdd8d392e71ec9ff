// The download worker: one thread per accepted Start, running the whole
// download procedure with the file controls locked.
#include "app/worker.h"

#include <cstdarg>
#include <cstdio>

#include "app/dialog_api.h"
#include "res/resource.h"
#include "platform/trace.h"
#include "config/settings.h"
#include "console/device.h"
#include "console/version.h"
#include "download/download.h"
#include "platform/paths.h"
#include "platform/shutdown_hold.h"
#include "platform/thread.h"
#include "serial/serial_port.h"

std::atomic<uint32_t> g_bThreadRunning{0};

namespace {

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

// The status text of a failed download, into `out`. Only a download that may have left
// a half-written firmware asks for a power cycle; after a failed bootloader a
// power cycle is exactly what must not happen.
void FailureText(DownloadFailure why, char* out, size_t size) {
  switch (why) {
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
          g_szDeviceName, static_cast<int>(LastFirmwareAttempts()));
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

}  // namespace

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
    char port[260];
    ComPortName(my_cfg.comport, port, sizeof port);
    // For the whole download: neither a shutdown, a logoff nor sleep may cut it.
    ShutdownHold hold(DownloadHoldReason(port));
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

bool DownloadAndSetDefaults(const char* path) {
  bool bret = fmdl_download(path);
  if (bret) {
    DbgTrace("bret true: finished successfully");
    SetStatusText("Firmware download finished successfully.");
    if (NeedToSetFactoryDefVer()) {
      SetStatusText("Setting firmware defaults, please wait...");
      SetFirmwareDefaults();
    }
  } else {
    DbgTrace("after start_fmdl_download=false");
  }
  return bret;
}

void ShowDownloadResult(bool ok) {
  DownloadRecord record = LastDownloadRecord();
  if (ok) {
    snprintf(record.text, sizeof record.text,
             "Firmware download finished successfully.\nPlease power cycle the system for the "
             "new firmware to take effect.");
  } else {
    FailureText(record.cause, record.text, sizeof record.text);
  }
  SetStatusText("%s", record.text);
  GetReport().DownloadFinished(record);
}

bool DownloadAndShowResult(const char* path) {
  const bool ok = DownloadAndSetDefaults(path);
  ShowDownloadResult(ok);
  return ok;
}

std::string DownloadHoldReason(const std::string& ports) {
  return std::string("Writing firmware to the ") + g_szDeviceName + " on " + ports +
         ": do not power off";
}

bool NeedToSetFactoryDefVer() {
  // Each field on its own, not a version order: 2.01 still needs defaults.
  if (g_start_ver.major >= 1 && g_start_ver.minor >= 2) {
    DbgTrace("NeedToSetFactoryDefVer=0");
    return false;
  }
  DbgTrace("NeedToSetFactoryDefVer=1");
  return true;
}
