// The dialog as the front ends share it: the view each of them implements,
// the dialog in use (g_hDlg), and the CoreReport that shows the core's updates
// in it. The dialog API itself (SetStatusText, UpdateProgress,
// EnableDlgControls, IsDlStopped, g_bStopDl) is the core's, in
// platform/report.h; this header brings it along.
//
// The front end (Win32 dialog, terminal dialog, or a test's recording fake)
// implements DialogView and installs DialogReport() with SetReport().
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/report.h"
#include "res/resource.h"

class DialogView {
 public:
  virtual ~DialogView() = default;
  // The dialog's caption.
  virtual void SetTitle(const char* text) = 0;
  // Sets the text of control `id`. Dropped once the dialog has ended.
  virtual void SetItemText(int id, const char* text) = 0;
  // Reads the text of control `id` into `buf` (at most size-1 characters).
  virtual void GetItemText(int id, char* buf, size_t size) = 0;
  // Progress bar position, 0 to 100.
  virtual void SetProgressPos(int pos) = 0;
  virtual void EnableItem(int id, bool enable) = 0;
  // A message box owned by the dialog: kMbOk or kMbYesNo; returns kIdOk,
  // kIdYes or kIdNo. Only called on the dialog thread.
  virtual int MessageBox(const char* text, const char* caption, unsigned type) = 0;
  // The open-file chooser; on OK the full path is copied into `path`.
  virtual bool ChooseFile(char* path, size_t size) = 0;
  // Ends the modal dialog with `result`.
  virtual void EndDialog(int result) = 0;
  // Posts the registered quit message to all top-level windows.
  virtual void BroadcastQuit() = 0;
};

// The dialog through which every control is reached; set when the dialog
// starts, never cleared. Null before the dialog exists: updates are dropped.
extern std::atomic<DialogView*> g_hDlg;
// "1.02.0001.78".
extern const char g_szUtilVersion[16];

// The CoreReport of both dialogs: the status line (control 1013), percentage,
// bar and elapsed seconds, the retry statistics (1015) and Browse, the file
// box and Start, all on g_hDlg (dropped while it is null); message boxes
// through the function given to SetAppMessageBox. Lives as long as the program.
CoreReport& DialogReport();

// A message box that no dialog owns (start-up failures, out of memory).
// Front ends install theirs; without one the text only goes to the trace.
using AppMessageBoxFn = int (*)(const char* text, const char* caption, unsigned type);
void SetAppMessageBox(AppMessageBoxFn fn);
