#include "app/term/term_app.h"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/dialog_cmds.h"
#include "app/term/layout.h"
#include "app/term/term_draw.h"
#include "app/worker.h"
#include "platform/paths.h"
#include "platform/trace.h"

namespace {

// How long a lone ESC waits for the rest of a sequence before it counts as
// the Escape key (ms). Terminals send a key's sequence in one write.
constexpr int kEscapeWaitMs = 100;
// After a hang-up or SIGTERM the loop only watches for the download to end (ms).
constexpr int kGoneCheckMs = 500;

// Signals reach the loop through this pipe, one byte each: 'W' resize,
// 'I' interrupt, 'H' hang-up, 'T' terminate (SIGTERM, SIGQUIT).
int g_signalPipe[2] = {-1, -1};

// Async-signal-safe: one write to a non-blocking pipe.
void OnSignal(int sig) {
  int saved = errno;
  char code = sig == SIGWINCH ? 'W' : sig == SIGINT ? 'I' : sig == SIGHUP ? 'H' : 'T';
  if (g_signalPipe[1] >= 0) {
    ssize_t n = write(g_signalPipe[1], &code, 1);
    (void)n;
  }
  errno = saved;
}

}  // namespace

bool TermApp::CatchSignals() {
  if (g_signalPipe[0] >= 0) return true;
  if (pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  // Installed before ncurses starts, so it keeps these and adds none of its own.
  sigaction(SIGWINCH, &sa, nullptr);
  // SIGTERM comes from kill, a service manager or a shutdown, SIGQUIT from
  // kill -QUIT (Ctrl+\ is a key in raw mode): neither may end the process
  // before the port is closed and the adapter's settings are put back, nor
  // cut a bootloader short.
  for (int sig : {SIGINT, SIGHUP, SIGTERM, SIGQUIT}) sigaction(sig, &sa, nullptr);
  return true;
}

namespace {

void WriteRaw(const char* text) {
  ssize_t n = write(STDOUT_FILENO, text, strlen(text));
  (void)n;
}

}  // namespace

TermApp::TermApp(TermView* view) : view_(view) { view_->SetHost(this); }

TermApp::~TermApp() { Stop(); }

bool TermApp::Start() {
  if (started_) return true;
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) || !CatchSignals()) return false;
  utf8_ = strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  // newterm, unlike initscr, reports an unknown terminal instead of exiting.
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (!screen) return false;
  set_term(screen);
  // A terminal that cannot place the cursor (TERM=dumb) would show nothing
  // while the dialog took the keys: refuse it.
  const char* cup = tigetstr(const_cast<char*>("cup"));
  if (cup == nullptr || cup == reinterpret_cast<char*>(-1)) {
    endwin();
    delscreen(screen);
    return false;
  }
  // Raw mode: Ctrl+C arrives as a key (the close box), not as SIGINT.
  raw();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, FALSE);
  curs_set(0);
  // Bracketed paste: a pasted path arrives as one piece, not as keys.
  WriteRaw("\x1b[?2004h");
  started_ = true;
  dirty_ = true;
  return true;
}

void TermApp::Stop() {
  if (!started_) return;
  started_ = false;
  curs_set(1);
  endwin();
  if (!gone_) WriteRaw("\x1b[?2004l");
}

void TermApp::HandleSignals() {
  char codes[64];
  ssize_t n;
  while ((n = read(g_signalPipe[0], codes, sizeof codes)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (codes[i] == 'W') {
        struct winsize ws;
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0)
          resizeterm(ws.ws_row, ws.ws_col);
        dirty_ = true;
      } else if (codes[i] == 'I') {
        keys_.push_back(Key::Ctrl('c'));
      } else if (codes[i] == 'T') {
        if (!ending_) DbgTrace("tarnwick: SIGTERM or SIGQUIT: ending once no download runs\n");
        ending_ = true;
      } else {
        gone_ = true;
      }
    }
  }
}

void TermApp::WaitEvents() {
  if (dirty_) Redraw();
  pollfd fds[3];
  fds[0] = {g_signalPipe[0], POLLIN, 0};
  fds[1] = {view_->wakeFd(), POLLIN, 0};
  // Ending, keys are left unread: nothing the user types may start anything.
  fds[2] = {gone_ || ending_ ? -1 : STDIN_FILENO, POLLIN, 0};
  int timeout = gone_ || ending_ ? kGoneCheckMs : decoder_.Pending() ? kEscapeWaitMs : -1;
  int n = poll(fds, 3, timeout);
  if (n < 0) return;  // EINTR: the signal pipe has the news
  if (n == 0) {
    decoder_.Flush(&keys_);
    return;
  }
  if (fds[0].revents) HandleSignals();
  if (fds[1].revents) {
    view_->DrainWake();
    dirty_ = true;
  }
  if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
    char buf[512];
    ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
    if (got > 0)
      decoder_.Feed(buf, static_cast<size_t>(got), &keys_);
    else if (got == 0 || (errno != EINTR && errno != EAGAIN))
      gone_ = true;
  }
  // Boxes the worker asked for run here, over whatever is showing.
  if (fds[1].revents) view_->ServeBoxRequests();
}

template <class Done, class OnKey>
void TermApp::Loop(Done done, OnKey onKey) {
  while (!done()) {
    if (!keys_.empty()) {
      Key key = keys_.front();
      keys_.erase(keys_.begin());
      dirty_ = true;
      // Ctrl+L repaints the whole screen, under a box or the chooser too.
      if (key.IsCtrl('l')) clearok(curscr, TRUE);
      onKey(key);
      continue;
    }
    WaitEvents();
  }
}

void TermApp::Redraw() {
  dirty_ = false;
  if (!started_ || gone_) return;
  int rows = LINES, cols = COLS;
  erase();
  CursorSpot cursor;
  if (dialogShown_) {
    DialogLayout l = LayoutDialog(rows, cols);
    if (!l.fits) {
      DrawTooSmall(rows, cols);
    } else {
      std::string fileView;
      int fileCursor = 0;
      DialogState snap;
      view_->Edit([&](DialogState& s) {
        FixFocus(&s);
        fileView = s.file.View(l.fileBox.w - 2, &fileCursor);
        snap = s;
      });
      cursor = DrawDialog(l, snap, fileView, fileCursor, overlays_.empty(), utf8_);
    }
  }
  for (Overlay& o : overlays_) {
    if (o.box) cursor = DrawMessageBox(*o.box, rows, cols, utf8_);
    if (o.chooser) cursor = DrawChooser(*o.chooser, rows, cols, utf8_);
  }
  curs_set(cursor.visible ? 1 : 0);
  move(cursor.y, cursor.x);
  refresh();
}

void TermApp::RunDialog() {
  if (!Start()) return;
  dialogShown_ = true;
  dirty_ = true;
  view_->SetServing(true);
  DlgOnInit(view_);
  Loop(
      [&] {
        if (gone_ || ending_) DlgOnLostUser();
        return view_->ended() || ((gone_ || ending_) && g_bThreadRunning.load() == 0);
      },
       [&](const Key& key) {
         // While only the notice to enlarge the window shows, no key may act
         // on a dialog the user cannot see; the close box (Ctrl+C) still asks.
         if (!LayoutDialog(LINES, COLS).fits && !key.IsCtrl('c')) return;
         DialogAction action;
         view_->Edit([&](DialogState& s) { action = HandleDialogKey(&s, key); });
         if (action.kind == DialogAction::kCommand)
           DlgOnCommand(action.id);
         else if (action.kind == DialogAction::kClose)
           DlgOnClose();
       });
  view_->SetServing(false);
}

int TermApp::RunMessageBox(const char* text, const char* caption, unsigned type) {
  if (!Start() || gone_) {
    fprintf(stderr, "%s: %s\n", caption, text);
    return MessageBoxModel::DefaultAnswer(type);
  }
  // Ending, nobody is asked any more: the box takes its default answer (No
  // for every question that would cut a download short).
  if (ending_) {
    DbgTrace("%s: %s\n", caption, text);
    return MessageBoxModel::DefaultAnswer(type);
  }
  MessageBoxModel box(text, caption, type);
  overlays_.push_back(Overlay{&box, nullptr});
  int answer = 0;
  Loop([&] { return answer != 0 || gone_ || ending_; },
       [&](const Key& key) { answer = box.HandleKey(key); });
  overlays_.pop_back();
  dirty_ = true;
  return answer ? answer : MessageBoxModel::DefaultAnswer(type);
}

bool TermApp::RunChooser(char* path, size_t size) {
  if (!path || size < 2 || !Start() || gone_ || ending_) return false;
  ChooserModel chooser(size - 1);
  // The file box's folder first; an installed program's own folder (/usr/bin)
  // holds no image files.
  char startDir[kMaxPathText] = "/";
  if (!GetChooserStartDir(startDir, sizeof startDir)) snprintf(startDir, sizeof startDir, "/");
  chooser.OpenNear(view_->Snapshot().file.text(), startDir);
  overlays_.push_back(Overlay{nullptr, &chooser});
  ChooserModel::Result result = ChooserModel::Result::kOpen;
  Loop([&] { return result != ChooserModel::Result::kOpen || gone_ || ending_; },
       [&](const Key& key) { result = chooser.HandleKey(key); });
  overlays_.pop_back();
  dirty_ = true;
  if (result != ChooserModel::Result::kChosen) return false;
  snprintf(path, size, "%s", chooser.chosen().c_str());
  return true;
}
