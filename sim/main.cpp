// expander-sim: a simulated expander console for rehearsing firmware
// downloads without hardware, and the judge of every end-to-end test.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/expander.h"
#include "sim/options.h"
#include "sim/port.h"
#include "sim/report.h"
#include "tarnwick_version.h"

namespace {

int g_stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  const ssize_t ignored = write(g_stop_pipe[1], &byte, 1);
  (void)ignored;
}

bool InstallSignals(std::string* error) {
  if (pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

const char* ReasonName(sim::ExitReason reason) {
  switch (reason) {
    case sim::ExitReason::kSignal: return "signal";
    case sim::ExitReason::kDownload: return "download";
    case sim::ExitReason::kTimeout: return "timeout";
    case sim::ExitReason::kLineError: return "line error";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  // Alone, --version is the program's version; with a value it is the
  // expander's firmware version.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("expander-sim %s\n", TARNWICK_VERSION_TEXT);
    return 0;
  }
  sim::Options options;
  std::string error;
  if (!sim::ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "expander-sim: %s\n\n%s", error.c_str(), sim::UsageText().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(sim::UsageText().c_str(), stdout);
    return 0;
  }
  if (!options.engine.out_dir.empty() && mkdir(options.engine.out_dir.c_str(), 0777) != 0 &&
      errno != EEXIST) {
    std::fprintf(stderr, "expander-sim: %s: %s\n", options.engine.out_dir.c_str(), std::strerror(errno));
    return 2;
  }
  if (!InstallSignals(&error)) {
    std::fprintf(stderr, "expander-sim: %s\n", error.c_str());
    return 2;
  }

  sim::Port port;
  const bool opened = options.device.empty() ? sim::OpenPseudoTerminal(&port, &error)
                                             : sim::OpenDevice(options.device, &port, &error);
  if (!opened) {
    std::fprintf(stderr, "expander-sim: %s\n", error.c_str());
    return 2;
  }
  if (!options.link.empty() && !sim::MakeLink(options.link, port.path, &error)) {
    std::fprintf(stderr, "expander-sim: %s\n", error.c_str());
    sim::ClosePort(&port);
    return 2;
  }
  std::printf("%s\n", port.path.c_str());
  std::fflush(stdout);

  const sim::Micros start = sim::MonotonicNow();
  sim::Expander::Log log;
  if (options.verbose) {
    log = [start](const std::string& text) {
      const double t = static_cast<double>(sim::MonotonicNow() - start) / sim::kMicrosPerSecond;
      std::fprintf(stderr, "[%9.3f] %s\n", t, text.c_str());
    };
  }
  sim::Expander engine(options.engine, start, log);
  const sim::ExitReason reason = sim::Serve(&engine, &port, options, g_stop_pipe[0]);

  int status = 0;
  if (!options.report.empty()) {
    const std::string json = sim::ReportJson(engine.record(), engine.images(), ReasonName(reason));
    if (!sim::WriteFileAtomically(options.report, json, &error)) {
      std::fprintf(stderr, "expander-sim: report: %s\n", error.c_str());
      status = 2;
    }
  }
  if (!options.link.empty()) sim::RemoveLink(options.link, port.path);
  sim::ClosePort(&port);

  if (status != 0) return status;
  if (reason == sim::ExitReason::kLineError) return 2;
  if (!engine.record().violations.empty()) return 1;
  if (reason == sim::ExitReason::kTimeout && options.exit_after_downloads > 0) return 3;
  return 0;
}
