#include "app/dialog_cmds.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/format_cut.h"
#include "app/image_refusal.h"
#include "app/startup.h"
#include "platform/trace.h"
#include "app/worker.h"
#include "config/settings.h"
#include "console/version.h"
#include "image/fw_image.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "serial/serial_port.h"

namespace {

const char kBootloaderBusy[] = "Unable to quit, bootloader image download is in progress!";
const char kQuitQuestion[] = "Are you sure you want to quit?";
const char kQuitDownloadQuestion[] =
    "A download is running: quitting stops it, and the expander will have to be power "
    "cycled before the next try.\n\nAre you sure you want to quit?";
const char kStopQuestion[] =
    "Stop the download? The expander will have to be power cycled before the next try.";
const char kWarning[] = "Warning";
// A question whose Yes cuts a download short: No is the default, so a stray
// Enter or Space cannot end it.
constexpr unsigned kMbYesNoDefaultNo = kMbYesNo | kMbDefButton2;

// Set once a confirmed Quit or close box has ended a running download.
bool g_quitStoppedDownload = false;

// Time for a running transfer loop to see the stop request before the port
// is closed under it (ms).
constexpr uint32_t kQuitGraceMs = 350;

// Refuses to end the dialog while the bootloader is written: an expander
// whose bootloader is cut off half-way may no longer start.
bool RefuseWhileBootloader(DialogView* dlg) {
  if (g_bBootLoaderInProgress.load() == 0) return false;
  dlg->MessageBox(kBootloaderBusy, kWarning, kMbOk);
  return true;
}

// The Yes/No question of Quit and the close box. The question is modal and
// the worker goes on meanwhile, so the bootloader guard is asked again after
// a Yes: a bootloader that started while the box was open is not cut off.
bool ConfirmQuit(DialogView* dlg) {
  bool downloading = g_bThreadRunning.load() != 0;
  int answer = downloading ? dlg->MessageBox(kQuitDownloadQuestion, kWarning, kMbYesNoDefaultNo)
                           : dlg->MessageBox(kQuitQuestion, kWarning, kMbYesNo);
  if (answer != kIdYes || RefuseWhileBootloader(dlg)) return false;
  g_quitStoppedDownload = g_bThreadRunning.load() != 0;
  return true;
}

void ResetPercent(DialogView* dlg) {
  dlg->SetProgressPos(0);
  dlg->SetItemText(IDC_PERCENT, "");
}

// True if `path` names an image file that can be downloaded whole: the same
// check as the command line's, so a file refused there is refused here before
// the port is touched. Otherwise the status line says why, with only the
// file-name part of the path, and the progress bar and percentage are reset;
// the elapsed text is left alone.
bool AcceptImageFile(DialogView* dlg, const char* path) {
  const IMAGE_FILE_CHECK check = CheckImageFileForDownload(path);
  if (check.problem == ImageFileProblem::kNone) return true;
  // The trace names the whole path and the reason, for whoever reads it later.
  const std::string text = ImageRefusalText(check, path);
  DbgTrace("Image file refused: %s: %s\n", path, text.c_str());
  SetStatusText("%s", text.c_str());
  ResetPercent(dlg);
  return false;
}

// A path as long as a file box or a chooser can give, so that one too long
// for my_cfg.file is seen whole and refused, never cut to another file's name.
constexpr size_t kBoxPathSize = 4096;

void OnBrowse(DialogView* dlg) {
  std::string path(kBoxPathSize, '\0');
  if (!dlg->ChooseFile(&path[0], path.size())) return;
  path.resize(strlen(path.c_str()));
  dlg->SetItemText(IDC_FILENAME, path.c_str());
  // A path too long is shown and refused; my_cfg.file keeps the last one that fitted.
  if (path.size() < sizeof my_cfg.file) {
    FormatCut(my_cfg.file, sizeof my_cfg.file, "%s", path.c_str());
  }
  if (AcceptImageFile(dlg, path.c_str())) {
    dlg->SetItemText(IDC_STATUS, "");
    ResetPercent(dlg);
  }
}

void OnStart(DialogView* dlg) {
  std::string box(kBoxPathSize, '\0');
  dlg->GetItemText(IDC_FILENAME, &box[0], box.size());
  box.resize(strlen(box.c_str()));
  // A path too long is refused whole; my_cfg.file keeps the last one that fitted.
  if (box.size() < sizeof my_cfg.file) FormatCut(my_cfg.file, sizeof my_cfg.file, "%s", box.c_str());
  if (!AcceptImageFile(dlg, box.c_str())) return;
  DbgTrace("Image file for the download: %s\n", my_cfg.file);
  // After the cable came out the port is opened anew, as at start-up.
  if (g_bThreadRunning.load() == 0 && !ReopenLostPort(dlg)) return;
  g_dlStartTime = NowSeconds();
  SetStatusText("Downloading from file %s, please wait...", my_cfg.file);
  ResetPercent(dlg);
  dlg->SetItemText(IDC_ELAPSED, "");
  g_bStopDl = 0;
  // Does nothing while a worker runs; the steps above still happen.
  StartTestThread(IDC_START);
}

// After a confirmed Quit or close box: a running download is stopped and
// given time to see it (it then removes its temporary file and sends nothing
// more), the dialog ends, the port closes and the program is told to quit.
void EndConfirmed(DialogView* dlg) {
  g_bStopDl = 1;
  PauseMs(kQuitGraceMs);
  dlg->EndDialog(1);
  CloseCom();
  dlg->BroadcastQuit();
}

bool OnQuit(DialogView* dlg) {
  if (RefuseWhileBootloader(dlg)) return false;
  DbgTrace("ID_QUIT: v1.1");
  TraceTestPoints();
  if (!ConfirmQuit(dlg)) return false;
  EndConfirmed(dlg);
  return true;
}

void OnStop(DialogView* dlg) {
  // A stop request would end the bootloader image half-way, like Quit.
  if (RefuseWhileBootloader(dlg)) return;
  if (dlg->MessageBox(kStopQuestion, kWarning, kMbYesNoDefaultNo) != kIdYes) return;
  // The download went on while the question was open: its bootloader may
  // have started, or it may have ended and left nothing to stop.
  if (RefuseWhileBootloader(dlg) || g_bThreadRunning.load() == 0) return;
  DbgTrace("IDC_STOP_DL clicked");
  TraceTestPoints();
  g_bStopDl = 1;
  dlg->EnableItem(IDC_STOP_DL, false);
}

}  // namespace

void DlgOnInit(DialogView* dlg) {
  g_hDlg.store(dlg);
  char title[260];
  // The first field is a product prefix; this build has none.
  FormatCut(title, sizeof title, "%s %s Firmware Download Utility v%s", "", g_szDeviceName,
           g_szUtilVersion);
  dlg->SetTitle(title);
  dlg->SetItemText(IDC_FILENAME, my_cfg.file);
  // A file key too long for a path left the box empty; the status line says
  // why, before the user looks for the file there. A slow USB adapter is
  // named once, where the user looks before Start; the download's own texts
  // replace both.
  std::string notes;
  if (my_cfg.fileTooLong && my_cfg.file[0] == '\0') notes += " " + LongSettingsFileText();
  const std::string slow = ComLatencyWarning(true);
  if (!slow.empty()) notes += " " + slow;
  SetStatusText("Firmware %s detected!%s", VersionText(g_start_ver).c_str(), notes.c_str());
  dlg->EnableItem(IDC_STOP_DL, false);
}

bool DlgOnCommand(int id) {
  DialogView* dlg = g_hDlg.load();
  if (dlg == nullptr) return false;
  switch (id) {
    case IDC_BROWSE:
      OnBrowse(dlg);
      return false;
    case IDC_START:
      OnStart(dlg);
      return false;
    case ID_QUIT:
      return OnQuit(dlg);
    case IDC_STOP_DL:
      OnStop(dlg);
      return false;
    default:
      // Among them 1 (Enter) and 2 (Escape): neither key ends the dialog.
      return false;
  }
}

bool DlgOnClose() {
  DialogView* dlg = g_hDlg.load();
  if (dlg == nullptr) return true;
  if (RefuseWhileBootloader(dlg)) return true;
  // Ends a running download exactly as Quit does: without the stop request
  // the worker would go on writing firmware after the dialog has gone.
  if (!ConfirmQuit(dlg)) return true;
  EndConfirmed(dlg);
  return true;
}

bool DlgQuitStoppedDownload() { return g_quitStoppedDownload; }

void DlgOnLostUser() {
  // Set once a bootloader was found under way: the download is then let run
  // to its end. Asked again after the bootloader, a stop would land on the
  // steps after it (leaving download mode, the factory defaults) and call a
  // finished download stopped.
  static bool letFinish = false;
  if (g_bThreadRunning.load() == 0) {
    letFinish = false;
    return;
  }
  if (g_bStopDl.load() != 0 || letFinish) return;
  // A bootloader cut off half-way may leave an expander that no longer
  // starts: it is let finish, as Quit would refuse to stop it.
  if (g_bBootLoaderInProgress.load() != 0) {
    DbgTrace("DlgOnLostUser: the bootloader is being written, the download is let finish\n");
    letFinish = true;
    return;
  }
  DbgTrace("DlgOnLostUser: stopping the download\n");
  g_quitStoppedDownload = true;
  g_bStopDl = 1;
}
