// The Win32 shell around the portable core: the hidden main window that
// carries the taskbar entry, the main dialog's window procedure and the
// open-file chooser.
#pragma once
#include <windows.h>

extern HINSTANCE g_hInst;
// The hidden main window; owner of the main dialog.
extern HWND g_hMainWnd;
// Id of the registered "FWDLQUITMSG" message; 0 until registered.
extern UINT g_uQuitMsg;
extern char g_szTitle[100];
extern char g_szWindowClass[100];

ATOM RegisterMainWindowClass(HINSTANCE hInstance);
// Creates, shows and centres the hidden main window and registers the quit
// message. False if the window could not be created.
BOOL CreateMainWindow(HINSTANCE hInstance, int nCmdShow);
LRESULT CALLBACK MainWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// The answer of the program's windows to WM_QUERYENDSESSION (its lParam):
// no while a download runs, whatever the user asked for (a restart, a
// logoff); yes otherwise.
bool SessionMayEnd(LPARAM lParam);
// Dialog procedure of the main dialog (template IDD_MAIN).
INT_PTR CALLBACK MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
// The system's open-file dialog owned by `owner`, starting in the
// executable's folder with the "*.bin" filter selected. On OK the full path
// is copied into `path` (cut to `size`).
bool ChooseImageFile(HWND owner, char* path, size_t size);
