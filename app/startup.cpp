#include "app/startup.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "app/dialog_api.h"
#include "app/format_cut.h"
#include "app/worker.h"
#include "config/settings.h"
#include "console/version.h"
#include "platform/clock.h"
#include "platform/trace.h"
#include "serial/serial_port.h"

namespace {

const char kErrorCaption[] = "Error";

// Seconds the start-up version query waits for the console's answer.
constexpr uint32_t kVersionTimeoutSec = 4;
// How long shutdown waits for a stopped download worker to end, and how
// often it looks (ms).
constexpr uint32_t kWorkerEndWaitMs = 5000;
constexpr uint32_t kWorkerPollMs = 50;

// The port box's text. The standard text is cut to 259 characters (a long
// settings path loses its end); a backend hint, when there is one, follows
// after an empty line and has room of its own.
std::string PortBoxText(int port) {
  char ini[260];
  GetSettingsPath(ini, sizeof ini);
  char text[260];
  FormatCut(text, sizeof text,
           "Unable to open COM %d!\n\nCheck if another application is using COM %d\nOr\n"
           "Modify the file %s, to specify another COM port.",
           port, port, ini);
  std::string hint = ComOpenFailureHint();
  if (hint.empty()) return text;
  char withHint[1024];
  FormatCut(withHint, sizeof withHint, "%s\n\n%s", text, hint.c_str());
  return withHint;
}

void ShowPortBox(int port) { AppMessageBox(PortBoxText(port).c_str(), kErrorCaption, kMbOk); }

}  // namespace

void StartupLoadSettings() {
  LoadSettings(&my_cfg);
  // Written back at once, so the file exists after the first run and holds
  // the corrected port number.
  SaveSettings(&my_cfg);
  DbgTrace("tarnwick: v2.8");
}

bool StartupOpenDevice() {
  int port = static_cast<int>(my_cfg.comport);
  if (!startdom(port)) {
    ShowPortBox(port);
    return false;
  }
  char text[260];
  switch (CheckFirmwareVer(&g_start_ver, kVersionTimeoutSec)) {
    case -1:
      FormatCut(text, sizeof text,
               "Device not found!\n\nCheck if the SAS Expander device is properly attached to "
               "COM %d and powered up.",
               port);
      break;
    case 0:
      FormatCut(text, sizeof text, "%s%s", "Version mismatch!\n\n",
               "This utility can only be used for firmware v0.01.0000.05 or later.");
      break;
    default:
      return true;
  }
  AppMessageBox(text, kErrorCaption, kMbOk);
  CloseCom();
  return false;
}

bool ReopenLostPort(DialogView* dlg) {
  if (is_open() && !IsComLost()) return true;
  int port = static_cast<int>(my_cfg.comport);
  DbgTrace("Start: the serial port was lost, opening COM %d again\n", port);
  // A lost port is closed first, a half-configured one from an earlier
  // failed attempt too; startdom then opens the device from scratch.
  CloseCom();
  if (startdom(port)) {
    DbgTrace("Start: COM %d open again\n", port);
    return true;
  }
  DbgTrace("Start: COM %d cannot be opened\n", port);
  const std::string text = PortBoxText(port);
  CloseCom();
  SetStatusText("Unable to open COM %d!", port);
  dlg->MessageBox(text.c_str(), kErrorCaption, kMbOk);
  return false;
}

void ShutdownSaveAndClose() {
  // A download stopped by Quit removes its temporary file and leaves the
  // line alone once it sees the request; it gets a few seconds for that
  // before the process exit ends it.
  for (uint32_t waited = 0; g_bThreadRunning.load() != 0 && waited < kWorkerEndWaitMs;
       waited += kWorkerPollMs) {
    PauseMs(kWorkerPollMs);
  }
  if (g_bThreadRunning.load() != 0) DbgTrace("tarnwick: exiting while the download worker runs\n");
  DbgTrace("tarnwick: exiting, saving settings\n");
  SaveSettings(&my_cfg);
  CloseCom();
}
