// download with many ports: one child process of tarnwick-cli per port, each
// with --json on a pipe. The parent checks every name first, starts the
// children, lets them send only once every port is open, shows one line per
// port and ends with a summary table. Its exit code is 0 only if every port
// succeeded, else the most severe of the ports' codes.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/child_process.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_setup.h"
#include "app/cli/console_io.h"
#include "app/cli/exit_codes.h"
#include "config/settings.h"
#include "platform/clock.h"

namespace {

// Terminal lines are cut here so that none wraps and the redraw stays in place.
constexpr size_t kLineWidth = 79;
constexpr int kBarCells = 20;
// How often the terminal's lines are redrawn without news (elapsed time), ms.
constexpr int kRedrawMs = 500;

struct PortRun {
  std::string port;  // as given; the children label their events with it
  ChildProcess child;
  std::thread reader;
  // Written by the reader thread, under Parallel::mu_.
  bool ready = false;
  bool ended = false;  // its output has ended
  bool result = false;
  std::string status;
  std::string message;
  std::string version;
  int percent = -1;
  int tenth = -1;
  int exitCode = -1;
  int64_t startMs = 0;
  int64_t endMs = 0;
};

class Parallel {
 public:
  Parallel(const CliOptions& options, OutputStyle style) : options_(options), style_(style) {}
  int Run(const std::vector<std::string>& ports);
  // Ctrl+C or SIGTERM of the parent, on the watcher thread.
  void OnStop();

 private:
  void Read(PortRun* run);
  void Handle(PortRun* run, const std::string& line);
  void Print(const std::string& text);
  void Draw();
  bool AllReadyOrEnded() const;
  bool AllEnded() const;
  int Summary();

  const CliOptions& options_;
  const OutputStyle style_;
  std::vector<std::unique_ptr<PortRun>> runs_;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  bool stopped_ = false;
  bool dirty_ = false;
  bool drawn_ = false;
};

// The run in progress, for the stop watcher's thread.
std::atomic<Parallel*> g_parallel{nullptr};

bool AcceptParentStop() { return true; }
void NotifyParentStop(bool) {
  if (Parallel* run = g_parallel.load()) run->OnStop();
}

std::string Cut(const std::string& text, size_t width) {
  return text.size() <= width ? text : text.substr(0, width - 3) + "...";
}

void Parallel::OnStop() {
  std::lock_guard<std::mutex> lock(mu_);
  stopped_ = true;
  for (auto& run : runs_) run->child.Stop();
  changed_.notify_all();
}

void Parallel::Print(const std::string& text) {
  fprintf(stdout, "%s\n", text.c_str());
  fflush(stdout);
}

void Parallel::Handle(PortRun* run, const std::string& line) {
  if (style_ == OutputStyle::kJson) Print(line);  // the child's event, port and all
  const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
  if (!event.is_object() || !event.contains("event")) return;
  const std::string name = event.value("event", "");
  const std::string text = OneLine(event.value("text", ""));
  const bool lines = style_ == OutputStyle::kPlain;
  if (name == "ready") {
    run->ready = true;
  } else if (name == "status" || name == "retry_stats" || name == "message") {
    run->status = text;
    if (lines) Print(run->port + ": " + text);
  } else if (name == "stop_requested" || name == "stop_refused") {
    run->status = text;
    // Shown even when quiet: someone pressed Ctrl+C and waits for the answer.
    if (lines || style_ == OutputStyle::kQuiet) Print(run->port + ": " + text);
  } else if (name == "version") {
    run->version = event.value("version", "");
  } else if (name == "progress") {
    run->percent = event.value("percent", -1);
    const int tenth = run->percent / 10;
    if (lines && run->percent >= 0 && tenth != run->tenth) {
      run->tenth = tenth;
      Print(run->port + ": progress " + std::to_string(tenth * 10) + "%");
    }
  } else if (name == "result") {
    run->result = true;
    run->message = event.value("message", "");
  }
  dirty_ = true;
}

void Parallel::Read(PortRun* run) {
  std::string line;
  while (run->child.ReadLine(&line)) {
    std::lock_guard<std::mutex> lock(mu_);
    Handle(run, line);
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mu_);
  run->ended = true;
  run->endMs = GetClock().NowMs();
  changed_.notify_all();
}

void Parallel::Draw() {
  if (style_ != OutputStyle::kTerminal) return;
  size_t width = 0;
  for (auto& run : runs_) width = std::max(width, run->port.size());
  std::string out;
  if (drawn_) out += "\x1b[" + std::to_string(runs_.size()) + "A";
  for (auto& run : runs_) {
    const int percent = run->percent < 0 ? 0 : run->percent;
    std::string bar(static_cast<size_t>(percent * kBarCells / 100), '#');
    bar.append(static_cast<size_t>(kBarCells) - bar.size(), '-');
    char head[128];
    snprintf(head, sizeof head, "%-*s [%s] %3d%%  ", static_cast<int>(width), run->port.c_str(),
             bar.c_str(), percent);
    const std::string text = run->result ? run->message : run->status;
    out += "\r\x1b[K" + Cut(head + text, kLineWidth) + "\n";
  }
  fputs(out.c_str(), stdout);
  fflush(stdout);
  drawn_ = true;
  dirty_ = false;
}

bool Parallel::AllReadyOrEnded() const {
  for (auto& run : runs_) {
    if (!run->ready && !run->ended) return false;
  }
  return true;
}

bool Parallel::AllEnded() const {
  for (auto& run : runs_) {
    if (!run->ended) return false;
  }
  return true;
}

int Parallel::Run(const std::vector<std::string>& ports) {
  std::unique_lock<std::mutex> lock(mu_);
  for (const std::string& port : ports) {
    runs_.emplace_back(new PortRun);
    runs_.back()->port = port;
  }
  std::string error;
  for (size_t i = 0; i < runs_.size(); ++i) {
    PortRun* run = runs_[i].get();
    const std::string log = options_.log.empty() ? "" : options_.log + "." + std::to_string(i + 1);
    if (!run->child.Start(ChildArguments(options_, run->port, log), &error)) {
      fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
      // The children started so far end without sending: their input closes.
      for (auto& started : runs_) started->child.CloseInput();
      for (size_t j = 0; j < i; ++j) {
        runs_[j]->child.Wait();
      }
      return kExitInternal;
    }
  }
  for (auto& run : runs_) {
    PortRun* p = run.get();
    p->reader = std::thread([this, p] { Read(p); });
  }

  changed_.wait(lock, [this] { return stopped_ || AllReadyOrEnded(); });
  // Nothing is sent on any port unless every port could be opened.
  bool go = !stopped_;
  for (auto& run : runs_) go = go && run->ready && !run->ended;
  const int64_t now = GetClock().NowMs();
  for (auto& run : runs_) {
    if (go) {
      run->startMs = now;
      run->child.Write("go\n");
    }
    run->child.CloseInput();
  }
  Draw();
  while (!AllEnded()) {
    changed_.wait_for(lock, std::chrono::milliseconds(kRedrawMs));
    Draw();
  }
  lock.unlock();
  for (auto& run : runs_) {
    run->reader.join();
    run->exitCode = run->child.Wait();
    if (run->startMs == 0) run->startMs = run->endMs;
  }
  return Summary();
}

int Parallel::Summary() {
  int code = kExitSuccess;
  nlohmann::json ports = nlohmann::json::array();
  size_t width = 4;
  for (auto& run : runs_) width = std::max(width, run->port.size());
  std::string table;
  char line[1024];
  snprintf(line, sizeof line, "%-*s  %-18s %4s  %8s  %s\n", static_cast<int>(width), "port",
           "result", "exit", "time", "message");
  table += line;
  for (auto& run : runs_) {
    const int exit = run->exitCode < 0 ? kExitInternal : run->exitCode;
    if (exit != kExitSuccess) code = code == kExitSuccess ? exit : MoreSevere(code, exit);
    const double seconds = static_cast<double>(run->endMs - run->startMs) / 1000.0;
    const std::string message =
        run->result ? run->message : std::string("the process ended without a result");
    snprintf(line, sizeof line, "%-*s  %-18s %4d  %6.1f s  %s\n", static_cast<int>(width),
             run->port.c_str(), ExitCodeName(exit), exit, seconds, message.c_str());
    table += line;
    nlohmann::json entry = {{"port", run->port},
                            {"exit_code", exit},
                            {"outcome", ExitCodeName(exit)},
                            {"seconds", static_cast<int64_t>(seconds * 10) / 10.0},
                            {"message", message}};
    if (!run->version.empty()) entry["version_before"] = run->version;
    ports.push_back(entry);
  }
  if (style_ == OutputStyle::kJson) {
    const nlohmann::json summary = {{"event", "summary"},
                                    {"ok", code == kExitSuccess},
                                    {"exit_code", code},
                                    {"outcome", ExitCodeName(code)},
                                    {"ports", ports}};
    Print(summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  } else {
    fputs(table.c_str(), stdout);
    fflush(stdout);
  }
  return code;
}

}  // namespace

int RunParallel(const CliOptions& o) {
  std::string error;
  if (!LoadCliSettings(o, &error)) {
    fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitBadInput;
  }
  // Without --file, the file key of --config, as for one port.
  CliOptions options = o;
  if (options.file.empty()) options.file = my_cfg.file;
  if (!CheckImageFile(options.file, &error)) {
    fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
    return kExitBadInput;
  }
  // Every name is checked before any process starts: a bad one, or one
  // device named twice, stops the whole run before anything is sent.
  std::map<std::string, std::string> seen;  // key -> the name that gave it
  for (const std::string& text : o.ports) {
    ResolvedPort port;
    int code = kExitSuccess;
    if (!PickPort(o, text, &port, &error, &code)) {
      fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
      return code;
    }
    auto it = seen.find(port.key);
    if (it != seen.end()) {
      fprintf(stderr, "tarnwick-cli: the same port is named twice: %s and %s are both %s\n",
              it->second.c_str(), text.c_str(), port.key.c_str());
      return kExitBadInput;
    }
    seen[port.key] = text;
  }
  OutputStyle style = StyleFor(o);
  if (style == OutputStyle::kTerminal && !EnableTerminalEscapes()) style = OutputStyle::kPlain;
  Parallel run(options, style);
  g_parallel = &run;
  IgnoreBrokenPipe();
  InstallStopHandler(AcceptParentStop, NotifyParentStop);
  const int code = run.Run(options.ports);
  g_parallel = nullptr;
  return code;
}
