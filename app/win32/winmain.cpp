// Process entry of tarnwick.exe: start-up, the hidden main window, the modal
// main dialog, the closing message loop and shutdown.
#include <windows.h>
#include <commctrl.h>

#include "app/download_hold.h"
#include "app/worker.h"
#include "app/dialog_api.h"
#include "app/startup.h"
#include "app/win32/shell.h"
#include "platform/trace.h"
#include "res/resource.h"

HINSTANCE g_hInst = nullptr;
HWND g_hMainWnd = nullptr;
UINT g_uQuitMsg = 0;
char g_szTitle[100];
char g_szWindowClass[100];

namespace {

// The dialog ends itself with this result, in the same step as it posts the
// quit message.
constexpr INT_PTR kDialogQuitResult = 1;

// Start-up failures: no owner, no icon, a single OK button.
int StartupMessageBox(const char* text, const char* caption, unsigned type) {
  return MessageBoxA(nullptr, text, caption, IsYesNoBox(type) ? MB_YESNO : MB_OK);
}

void CentreOnDesktop(HWND hWnd) {
  RECT desk;
  RECT win;
  GetWindowRect(GetDesktopWindow(), &desk);
  GetWindowRect(hWnd, &win);
  int width = win.right - win.left;
  int height = win.bottom - win.top;
  int x = ((desk.right - desk.left) - width) / 2;
  int y = ((desk.bottom - desk.top) - height) / 2;
  MoveWindow(hWnd, x, y, width, height, TRUE);
}

// Runs until the dialog's quit message arrives; that message is not
// dispatched but destroys the main window, whose procedure then posts the
// quit state. Returns the quit state's code.
int RunQuitLoop() {
  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 0;
    if (msg.message == g_uQuitMsg) {
      DestroyWindow(g_hMainWnd);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

ATOM RegisterMainWindowClass(HINSTANCE hInstance) {
  WNDCLASSEXA wcex;
  wcex.cbSize = sizeof wcex;
  wcex.style = 0;
  wcex.lpfnWndProc = MainWndProc;
  wcex.cbClsExtra = 0;
  wcex.cbWndExtra = 0;
  wcex.hInstance = hInstance;
  wcex.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_TARNWICK));
  wcex.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wcex.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wcex.lpszMenuName = nullptr;
  wcex.lpszClassName = g_szWindowClass;
  wcex.hIconSm = LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_SMALL));
  return RegisterClassExA(&wcex);
}

BOOL CreateMainWindow(HINSTANCE hInstance, int) {
  g_hInst = hInstance;
  // No caption and no height: the window exists only to own the dialog and
  // to carry the taskbar entry.
  HWND hWnd = CreateWindowExA(0, g_szWindowClass, g_szTitle, WS_POPUP, 2, 0, 2, 0, nullptr,
                              nullptr, hInstance, nullptr);
  if (hWnd == nullptr) return FALSE;
  g_hMainWnd = hWnd;
  ShowWindow(hWnd, SW_SHOW);
  UpdateWindow(hWnd);
  CentreOnDesktop(hWnd);
  g_uQuitMsg = RegisterWindowMessageA("FWDLQUITMSG");
  return TRUE;
}

LRESULT CALLBACK MainWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hWnd, &ps);
      EndPaint(hWnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_QUERYENDSESSION:
      return SessionMayEnd(lParam) ? TRUE : FALSE;
    default:
      return DefWindowProcA(hWnd, message, wParam, lParam);
  }
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
  INITCOMMONCONTROLSEX icc;
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&icc);
  SetReport(&DialogReport());
  SetAppMessageBox(StartupMessageBox);

  SetDownloadHold(HoldHostWhileDownloading);
  StartupLoadSettings("tarnwick.exe");
  LoadStringA(hInstance, IDS_APP_TITLE, g_szTitle, sizeof g_szTitle);
  LoadStringA(hInstance, IDC_TARNWICK, g_szWindowClass, sizeof g_szWindowClass);
  // A failed registration makes the window creation fail.
  RegisterMainWindowClass(hInstance);
  if (!CreateMainWindow(hInstance, nCmdShow)) return 0;

  if (!StartupOpenDevice()) return 0;

  INT_PTR result =
      DialogBoxParamA(g_hInst, MAKEINTRESOURCEA(IDD_MAIN), g_hMainWnd, MainDlgProc, 0);
  DbgTrace("GetLastError()=%d", static_cast<int>(GetLastError()));

  int code = 0;
  if (result == kDialogQuitResult && g_uQuitMsg != 0) {
    code = RunQuitLoop();
  } else {
    // The dialog never ran, or ended without posting the quit message: the
    // loop would wait for ever.
    DbgTrace("DialogBoxParamA=%d, g_uQuitMsg=%u: no quit message to wait for\n",
             static_cast<int>(result), g_uQuitMsg);
    DestroyWindow(g_hMainWnd);
  }

  ShutdownSaveAndClose();
  return code;
}
