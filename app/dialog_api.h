// The dialog as the rest of the program sees it: the status line, the
// progress display, the control locking and the stop request. Callable from
// the dialog thread and the download worker.
//
// The front end (Win32 dialog, terminal dialog, or a test's recording fake)
// implements DialogView; the functions here do the formatting and arithmetic
// once for all of them.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "res/resource.h"

// Message box styles and answers, with the values Windows gives them.
enum : unsigned { kMbOk = 0x0, kMbYesNo = 0x4 };
enum : int { kIdOk = 1, kIdYes = 6, kIdNo = 7 };

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

// Stop request: set by Quit or Stop, cleared by Start and when a download ends.
extern std::atomic<uint32_t> g_bStopDl;
// Bytes credited to the progress display so far.
extern std::atomic<uint32_t> g_dwBytesSent;
// Origin of the elapsed-seconds display (calendar seconds).
extern std::atomic<int64_t> g_dlStartTime;
// "SAS Expander".
extern const char g_szDeviceName[260];
// "1.02.0001.78".
extern const char g_szUtilVersion[16];

// printf-style text into the status line (control 1013), cut to 259 characters.
void SetStatusText(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Credits `bytes` to the progress display and redraws percentage, bar and
// elapsed seconds; 0 bytes refreshes only the elapsed seconds.
void UpdateProgress(uint32_t bytes);
// Enables or disables Browse, the file box and Start, in that order.
void EnableDlgControls(bool enable);
// The stop request.
uint32_t IsDlStopped();

// A message box that no dialog owns (start-up failures, out of memory).
// Front ends install theirs; without one the text only goes to the trace.
using AppMessageBoxFn = int (*)(const char* text, const char* caption, unsigned type);
void SetAppMessageBox(AppMessageBoxFn fn);
int AppMessageBox(const char* text, const char* caption, unsigned type);
