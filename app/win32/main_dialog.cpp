// The main dialog on Win32: a DialogView over the dialog's window, and the
// dialog procedure that hands its events to the portable command handling.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>

// The view's MessageBox member is not the Win32 macro of the same name.
#undef MessageBox

#include "app/dialog_cmds.h"
#include "app/win32/shell.h"
#include "app/worker.h"
#include "platform/paths.h"
#include "platform/trace.h"

namespace {

// EnableItem from any thread: served by the dialog thread, which owns the
// keyboard focus (GetFocus on the worker would not see it).
constexpr UINT kEnableItemMsg = WM_APP + 1;

// Enables or disables control `id` on the dialog thread. A control that
// loses the focus by being disabled (Start, as a download begins) hands it to
// the progress bar: Enter there is the ignored default command and Space does
// nothing, so a stray key cannot press Stop, and no greyed button keeps the
// focus frame.
void EnableOnDialogThread(HWND hDlg, int id, bool enable) {
  HWND item = GetDlgItem(hDlg, id);
  if (item == nullptr) return;
  bool hadFocus = GetFocus() == item;
  EnableWindow(item, enable ? TRUE : FALSE);
  if (!enable && hadFocus) {
    HWND rest = GetDlgItem(hDlg, IDC_PROGRESS);
    if (rest != nullptr) SendMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(rest), TRUE);
  }
}

// Every control is looked up through the dialog's handle on each call. The
// worker thread calls these too: SetDlgItemTextA and the other control
// messages are sent synchronously and served by the dialog thread's modal
// loop. Once the dialog has ended its handle is dead, the look-ups fail and
// the update is dropped.
class Win32DialogView : public DialogView {
 public:
  void Attach(HWND hDlg) { hDlg_.store(hDlg); }

  void SetTitle(const char* text) override { SetWindowTextA(hDlg_.load(), text); }

  void SetItemText(int id, const char* text) override {
    SetDlgItemTextA(hDlg_.load(), id, text);
  }

  void GetItemText(int id, char* buf, size_t size) override {
    if (size == 0) return;
    buf[0] = '\0';
    GetDlgItemTextA(hDlg_.load(), id, buf, static_cast<int>(size));
  }

  void SetProgressPos(int pos) override {
    SendDlgItemMessageA(hDlg_.load(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
  }

  void EnableItem(int id, bool enable) override {
    SendMessageA(hDlg_.load(), kEnableItemMsg, static_cast<WPARAM>(id), enable ? 1 : 0);
  }

  int MessageBox(const char* text, const char* caption, unsigned type) override {
    UINT style = IsYesNoBox(type) ? MB_YESNO : MB_OK;
    if (type & kMbDefButton2) style |= MB_DEFBUTTON2;
    return ::MessageBoxA(hDlg_.load(), text, caption, style);
  }

  bool ChooseFile(char* path, size_t size) override {
    return ChooseImageFile(hDlg_.load(), path, size);
  }

  void EndDialog(int result) override { ::EndDialog(hDlg_.load(), result); }

  void BroadcastQuit() override {
    if (g_uQuitMsg == 0) return;
    // The main message loop waits for this message; should the broadcast
    // fail, the main window still gets it directly so the program can end.
    if (!PostMessageA(HWND_BROADCAST, g_uQuitMsg, 0, 0)) {
      PostMessageA(g_hMainWnd, g_uQuitMsg, 0, 0);
    }
  }

 private:
  std::atomic<HWND> hDlg_{nullptr};
};

// Lives for the whole process: the worker may still reach it through g_hDlg
// after the dialog has ended.
Win32DialogView g_view;

}  // namespace

bool ChooseImageFile(HWND owner, char* path, size_t size) {
  // Larger than MAX_PATH: a chosen path too long for a download comes back
  // whole, to be refused with its own text, instead of failing the dialog.
  char file[4096] = "";
  // The folder of the file in the box when there is one; else the program's
  // folder for a copied program, the user's Documents for an installed one.
  char initialDir[MAX_PATH] = "";
  char box[MAX_PATH] = "";
  GetDlgItemTextA(owner, IDC_FILENAME, box, sizeof box);
  PathRemoveFileSpecA(box);
  const DWORD attr = box[0] != '\0' ? GetFileAttributesA(box) : INVALID_FILE_ATTRIBUTES;
  if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) {
    snprintf(initialDir, sizeof initialDir, "%s", box);
  } else if (!GetChooserStartDir(initialDir, sizeof initialDir)) {
    GetExeDir(initialDir, sizeof initialDir);
  }

  OPENFILENAMEA ofn;
  memset(&ofn, 0, sizeof ofn);
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = "All (*.*)\0*.*\0Firmware Image (*.bin)\0*.bin\0\0";
  ofn.nFilterIndex = 2;
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrInitialDir = initialDir;
  ofn.lpstrTitle = "Choose a firmware image";
  // Read-only opening means nothing for an image that is only read.
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&ofn)) return false;
  snprintf(path, size, "%s", file);
  return true;
}

bool SessionMayEnd(LPARAM lParam) {
  // The download's own hold (ShutdownHold) carries the reason Windows shows;
  // the program's windows refuse beside it, so that none of them answers yes.
  if (g_bThreadRunning.load() == 0) return true;
  DbgTrace("WM_QUERYENDSESSION(%s) refused: a download runs\n",
           (lParam & ENDSESSION_LOGOFF) ? "logoff" : "shutdown");
  return false;
}

INT_PTR CALLBACK MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      g_view.Attach(hDlg);
      DlgOnInit(&g_view);
      // No initial focus is set.
      return FALSE;
    case WM_COMMAND:
      return DlgOnCommand(LOWORD(wParam)) ? TRUE : FALSE;
    case WM_CLOSE:
      return DlgOnClose() ? TRUE : FALSE;
    case kEnableItemMsg:
      EnableOnDialogThread(hDlg, static_cast<int>(wParam), lParam != 0);
      return TRUE;
    case WM_QUERYENDSESSION:
      // A dialog procedure answers through DWLP_MSGRESULT.
      SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, SessionMayEnd(lParam) ? TRUE : FALSE);
      return TRUE;
    default:
      return FALSE;
  }
}
