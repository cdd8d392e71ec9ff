// tarnwick on Linux: the start-up steps, the dialog in the terminal, and the
// shutdown steps. No arguments but --version and --help; the settings file
// fwdl.ini says which serial device to use.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "app/dialog_api.h"
#include "app/dialog_cmds.h"
#include "app/startup.h"
#include "app/worker.h"
#include "app/term/message_box.h"
#include "app/term/term_args.h"
#include "app/download_hold.h"
#include "app/term/term_app.h"
#include "app/term/term_view.h"
#include "config/settings.h"
#include "serial/serial_port.h"

namespace {

// Both live until the process ends: a download worker that is still
// running when the dialog ends keeps writing into the view (its updates are
// dropped, but the object must exist).
TermView* g_view = nullptr;
TermApp* g_app = nullptr;

// Without a terminal the boxes become lines on standard error.
int PlainMessageBox(const char* text, const char* caption, unsigned type) {
  fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  return MessageBoxModel::DefaultAnswer(type);
}

int TermMessageBox(const char* text, const char* caption, unsigned type) {
  return g_view->RequestMessageBox(text, caption, type);
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything is opened: a port wired to something else must
  // not get a version query nobody asked for.
  switch (ParseTermArgs(argc, argv)) {
    case TermArgs::kVersion:
      printf("%s\n", TermVersionLine());
      return 0;
    case TermArgs::kHelp:
      fputs(TermUsage(), stdout);
      return 0;
    case TermArgs::kBadArgument:
      fprintf(stderr, "tarnwick: unknown argument: %s\n%s", argv[1], TermUsage());
      return 2;
    case TermArgs::kRunDialog:
      break;
  }
  setlocale(LC_ALL, "");
  const bool onTerminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
  g_view = new TermView();
  SetReport(&DialogReport());
  // Shutdown and sleep wait while the expander is written.
  SetDownloadHold(HoldHostWhileDownloading);
  if (onTerminal && g_view->ok()) {
    g_app = new TermApp(g_view);
    SetAppMessageBox(TermMessageBox);
  } else {
    SetAppMessageBox(PlainMessageBox);
  }

  // From before the port opens: a signal then ends the program through its
  // own close of the port (see TermApp::RunDialog).
  TermApp::CatchSignals();
  StartupLoadSettings();
  if (onTerminal) {
    // The check waits up to several seconds for a silent device; the screen
    // says what it waits for. The dialog or a box then draws over it.
    const std::string name = ComPortName(static_cast<int32_t>(my_cfg.comport));
    printf("tarnwick: opening %s and asking the %s for its firmware version, please wait...\n",
           name.c_str(), g_szDeviceName);
    fflush(stdout);
  }
  if (!StartupOpenDevice()) {
    if (g_app) g_app->Stop();
    return 0;
  }
  if (!g_app) {
    fprintf(stderr,
            "tarnwick: the dialog needs a terminal: run tarnwick with its input and output on a "
            "terminal\n");
    ShutdownSaveAndClose();
    return 1;
  }
  if (!g_app->Start()) {
    const char* term = getenv("TERM");
    fprintf(stderr,
            "tarnwick: the terminal type \"%s\" cannot show the dialog; set TERM to your "
            "terminal's type (for example xterm-256color, screen or vt100)\n",
            term ? term : "");
    ShutdownSaveAndClose();
    return 1;
  }
  g_app->RunDialog();
  g_app->Stop();
  ShutdownSaveAndClose();
  // A worker that has not ended yet left no record: then the advice is the
  // safe one for a download cut off half-way.
  const bool stillRunning = g_bThreadRunning.load() != 0;
  if (DlgQuitStoppedDownload() &&
      (stillRunning || LastWorkerAdvice() == DownloadAdvice::kPowerCycle)) {
    printf("tarnwick: the download was stopped; power cycle the %s before the next try.\n",
           g_szDeviceName);
  }
  return 0;
}
