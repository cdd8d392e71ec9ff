#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <initializer_list>
#include <thread>

#include "app/cli/console_io.h"

namespace {

int g_pipe[2] = {-1, -1};
StopDecision g_decide = nullptr;
StopNotify g_notify = nullptr;

// Async-signal-safe: the decision touches atomics only, then one byte tells
// the watcher thread what was decided.
void OnStopSignal(int) {
  const int saved = errno;
  const char c = g_decide() ? 'S' : 'R';
  ssize_t n = write(g_pipe[1], &c, 1);
  (void)n;  // a full pipe only loses a notice, never the decision
  errno = saved;
}

void WatchStops() {
  char c;
  for (;;) {
    ssize_t n = read(g_pipe[0], &c, 1);
    if (n == 1) {
      g_notify(c == 'S');
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

}  // namespace

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

bool EnableTerminalEscapes() { return true; }

void InstallStopHandler(StopDecision decide, StopNotify notify) {
  g_decide = decide;
  g_notify = notify;
  if (pipe2(g_pipe, O_CLOEXEC) != 0) return;
  fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
  std::thread(WatchStops).detach();
  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  // Interrupted system calls resume: the serial layer's poll and sleep loops
  // would otherwise see EINTR in places that do not expect it.
  sa.sa_flags = SA_RESTART;
  // SIGHUP comes when the terminal or the ssh session goes away, SIGQUIT
  // from Ctrl+\: neither may cut a download short, least of all a bootloader.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &sa, nullptr);
}

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }
