// session-end-probe.exe PROGRAM.exe shutdown|logoff
// Asks every top-level window of every running PROGRAM.exe (but the system's
// input-method windows), as Windows asks at a shutdown or a logoff, whether
// the session may end, and prints one line per window: its class, its title
// and the answer (0 refuses). Nothing ends: only the question is sent. Exit
// code: 0 if every window refused, 1 if one agreed, 2 if there was no window
// to ask.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <set>

namespace {

std::set<DWORD> g_pids;
LPARAM g_reason = 0;
int g_asked = 0;
int g_agreed = 0;

BOOL CALLBACK Ask(HWND hWnd, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hWnd, &pid);
  if (g_pids.count(pid) == 0) return TRUE;
  char cls[128] = "";
  char title[256] = "";
  GetClassNameA(hWnd, cls, sizeof cls);
  GetWindowTextA(hWnd, title, sizeof title);
  // The system gives every thread with windows an input-method window of
  // its own; it always agrees, and one refusal is what holds the session.
  if (strcmp(cls, "IME") == 0) return TRUE;
  DWORD_PTR answer = 1;
  if (!SendMessageTimeoutA(hWnd, WM_QUERYENDSESSION, 0, g_reason, SMTO_ABORTIFHUNG, 5000,
                           &answer)) {
    printf("%s\t%s\tno answer\n", cls, title);
    ++g_agreed;  // a hung window is ended anyway
  } else {
    printf("%s\t%s\t%d\n", cls, title, static_cast<int>(answer));
    if (answer != 0) ++g_agreed;
  }
  ++g_asked;
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: session-end-probe PROGRAM.exe shutdown|logoff\n");
    return 3;
  }
  g_reason = strcmp(argv[2], "logoff") == 0 ? ENDSESSION_LOGOFF : 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 3;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
    if (_stricmp(entry.szExeFile, argv[1]) == 0) g_pids.insert(entry.th32ProcessID);
  }
  CloseHandle(snap);
  EnumWindows(Ask, 0);
  fflush(stdout);
  if (g_asked == 0) return 2;
  return g_agreed == 0 ? 0 : 1;
}
