#include "app/startup.h"

#include "app/port_identity.h"
#include "app/worker.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "app/dialog_api.h"
#include "app/format_cut.h"
#include "app/port_identity.h"
#include "app/worker.h"
#include "config/settings.h"
#include "platform/files.h"
#include "console/version.h"
#include "platform/clock.h"
#include "platform/paths.h"
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
  const std::string portName = ComPortName(port);
  const char* name = portName.c_str();
  char text[260];
  FormatCut(text, sizeof text,
           "Unable to open %s!\n\nCheck if another application is using %s\nOr\n"
           "Modify the file %s, to specify another COM port.",
           name, name, ini);
  std::string hint = ComOpenFailureHint();
  if (hint.empty()) return text;
  char withHint[1024];
  FormatCut(withHint, sizeof withHint, "%s\n\n%s", text, hint.c_str());
  return withHint;
}

// Starts the trace file fwdl.log, with a marker line that tells this run
// apart: beside the program and its settings when it may write there, else
// in the user's folder for such files (on Windows the settings' folder too,
// on Linux the state folder).
void StartTraceFile(const char* program) {
  char ini[kMaxPathText];
  GetSettingsPath(ini, sizeof ini);
  char dir[kMaxPathText];
  std::string log = GetAppFileDir(AppFileKind::kLog, dir, sizeof dir)
                        ? std::string(dir)
                        : std::string(ini, static_cast<size_t>(PathFileNamePart(ini) - ini));
  log += "fwdl.log";
  const std::string port = ComPortName(static_cast<int32_t>(my_cfg.comport));
  char now[40];
  TraceTimeText(now, sizeof now);
  char marker[1024];
  FormatCut(marker, sizeof marker, "==== %s v%s started %s, port %s, settings %s ====", program,
            g_szUtilVersion, now, port.c_str(), ini);
  TraceStartFile(log.c_str(), marker);
}

// A settings file that could not be written is said, with the system's
// words: the next start would otherwise find the old settings unexplained.
void TraceSettingsNotSaved(const std::string& why) {
  char ini[260];
  GetSettingsPath(ini, sizeof ini);
  DbgTrace("tarnwick: the settings could not be saved to %s: %s\n", ini, why.c_str());
}

void ShowPortBox(int port) { AppMessageBox(PortBoxText(port).c_str(), kErrorCaption, kMbOk); }

// The program's name as StartupLoadSettings was given it, for the history.
std::string g_programName = "tarnwick";

}  // namespace

void StartupLoadSettings(const char* program) {
  LoadSettings(&my_cfg);
  // Written back at once, so the file exists after the first run and holds
  // the corrected port number.
  const bool saved = SaveSettings(&my_cfg);
  const std::string saveError = LastFileErrorText();
  StartTraceFile(program);
  if (!saved) TraceSettingsNotSaved(saveError);
  g_programName = program;
  DbgTrace("tarnwick: v2.8");
}

bool StartupOpenDevice() {
  int port = static_cast<int>(my_cfg.comport);
  if (!startdom(port)) {
    ShowPortBox(port);
    return false;
  }
  const std::string portName = ComPortName(port);
  const char* name = portName.c_str();
  SetDownloadPort(g_programName, name, PortIdentity(name));
  std::string box;
  switch (CheckFirmwareVer(&g_start_ver, kVersionTimeoutSec)) {
    case -1: {
      // A first run opens COM 1, which may be anything: the box says where
      // the port is chosen, as the box for a port that cannot be opened does.
      char ini[260];
      GetSettingsPath(ini, sizeof ini);
      box = DeviceCheckText(DeviceCheck::kNotFound, name) +
            "\n\nThe port is chosen in the settings file " + ini + ": " + ComPortSettingKeys() +
            ".";
      break;
    }
    case 0:
      box = DeviceCheckText(DeviceCheck::kTooOld, name);
      break;
    default:
      return true;
  }
  AppMessageBox(box.c_str(), kErrorCaption, kMbOk);
  CloseCom();
  return false;
}

bool ReopenLostPort(DialogView* dlg) {
  if (is_open() && !IsComLost()) return true;
  int port = static_cast<int>(my_cfg.comport);
  const std::string portName = ComPortName(port);
  const char* name = portName.c_str();
  DbgTrace("Start: the serial port was lost, opening %s again\n", name);
  // A lost port is closed first, a half-configured one from an earlier
  // failed attempt too; startdom then opens the device from scratch.
  CloseCom();
  if (startdom(port)) {
    DbgTrace("Start: %s open again\n", name);
    return true;
  }
  DbgTrace("Start: %s cannot be opened\n", name);
  const std::string text = PortBoxText(port);
  CloseCom();
  SetStatusText("Unable to open %s!", name);
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
  if (!SaveSettings(&my_cfg)) TraceSettingsNotSaved(LastFileErrorText());
  CloseCom();
}

std::string DeviceCheckText(DeviceCheck check, const char* portName) {
  char text[260] = "";
  if (check == DeviceCheck::kNotFound) {
    FormatCut(text, sizeof text,
             "Device not found!\n\nCheck if the %s device is properly attached to %s and powered "
             "up.",
             g_szDeviceName, portName);
  } else if (check == DeviceCheck::kTooOld) {
    FormatCut(text, sizeof text, "%s%s%s%s", "Version mismatch!\n\n",
              "This utility can only be used for firmware ",
              VersionText(kOldestUsableVersion).c_str(), " or later.");
  }
  return text;
}

DeviceCheck CheckDeviceAtStartup(int32_t port) { return CheckDeviceAtStartup(PortFromSettings(port)); }

DeviceCheck CheckDeviceAtStartup(const PortAddress& where) {
  if (!OpenPort(where)) {
    CloseCom();
    return DeviceCheck::kCannotOpen;
  }
  // A reply without any version text (a busy console) is no version: it is
  // asked again, as the download asks, and never taken for old firmware. A
  // console that gave no usable answer at all is not asked again here: the
  // query already waited and repeated itself.
  constexpr int kExtraQueries = 3;
  const int32_t result = AskRunningVersion(
      &g_start_ver, kVersionTimeoutSec, kExtraQueries, [](int n, int32_t last) {
        if (last == -1) return false;
        DbgTrace("CheckDeviceAtStartup: no version in the reply, asking again(#%d)\n", n);
        return true;
      });
  if (result == 1) return DeviceCheck::kFound;
  CloseCom();
  return result == 0 ? DeviceCheck::kTooOld : DeviceCheck::kNotFound;
}
