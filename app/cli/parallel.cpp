// download with many ports: one child process of tarnwick-cli per port, each
// with --json on a pipe. The parent checks every name first, starts the
// children, lets them send only once every port is open, shows one line per
// port and ends with a summary table. Its exit code is 0 only if every port
// succeeded, else the most severe of the ports' codes. plan with many ports
// runs the same way, without the wait for every port: each child only asks
// its port's version, and the parent shows one line per port.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/child_process.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_setup.h"
#include "app/cli/console_io.h"
#include "app/cli/exit_codes.h"
#include "app/worker.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/shutdown_hold.h"
#include "platform/trace.h"

namespace {

// Terminal lines are cut here so that none wraps and the redraw stays in place.
constexpr size_t kLineWidth = 79;
constexpr int kBarCells = 20;

// `text` in lines of at most `width` characters, broken at blanks (a word
// longer than a line is cut).
std::vector<std::string> WrapWords(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::string line;
  size_t at = 0;
  while (at < text.size()) {
    const size_t blank = text.find(' ', at);
    std::string word = text.substr(at, blank == std::string::npos ? std::string::npos : blank - at);
    at = blank == std::string::npos ? text.size() : blank + 1;
    if (word.empty()) continue;
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    while (word.size() > width) {
      lines.push_back(word.substr(0, width));
      word.erase(0, width);
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}
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
  // From the child's result: an outcome its exit code does not tell
  // ("already-current"), how much it wrote, the file's version.
  std::string outcome;
  std::string written;
  std::string fileVersion;
  nlohmann::json plan;  // plan: the child's plan event, without event, port and time
  int percent = -1;
  int tenth = -1;
  int exitCode = -1;
  int resultCode = -1;  // the exit code the child's result line gave
  int64_t startMs = 0;
  int64_t endMs = 0;
};

class Parallel {
 public:
  Parallel(const CliOptions& options, OutputStyle style)
      : options_(options), style_(style), plan_(options.command == "plan") {}
  int Run(const std::vector<std::string>& ports);
  // The run refused before any process started: `failed` (an index into
  // `ports`, or -1 for all of them) gets `code` and `message`, every other
  // port is not started. Json: the summary; otherwise one line on standard
  // error. Returns `code`.
  int Refuse(const std::vector<std::string>& ports, int code, const std::string& message,
             int failed);
  // A stop request to the parent, on the watcher thread.
  void OnStop();

 private:
  void Read(PortRun* run);
  void Handle(PortRun* run, const std::string& line);
  void Print(const std::string& text);
  void Draw();
  bool AllReadyOrEnded() const;
  bool AllEnded() const;
  void AddRuns(const std::vector<std::string>& ports);
  int Summary(const std::string& refused = "");

  const CliOptions& options_;
  const OutputStyle style_;
  const bool plan_;
  std::vector<std::unique_ptr<PortRun>> runs_;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  bool stopped_ = false;
  bool dirty_ = false;
  bool drawn_ = false;
};

constexpr char kNotStarted[] =
    "Not started: another port of this run could not be used, nothing was sent.";

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
  const bool lines = style_ == OutputStyle::kPlain && !plan_;
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
  } else if (name == "plan") {
    run->plan = event;
    for (const char* key : {"event", "port", "t"}) run->plan.erase(key);
  } else if (name == "result") {
    run->result = true;
    run->message = event.value("message", "");
    run->outcome = event.value("outcome", "");
    run->resultCode = event.value("exit_code", -1);
    run->written = event.value("written", "");
    run->fileVersion = event.value("file_version", "");
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

void Parallel::AddRuns(const std::vector<std::string>& ports) {
  for (const std::string& port : ports) {
    runs_.emplace_back(new PortRun);
    runs_.back()->port = port;
  }
}

int Parallel::Refuse(const std::vector<std::string>& ports, int code, const std::string& message,
                     int failed) {
  std::lock_guard<std::mutex> lock(mu_);
  if (runs_.empty()) AddRuns(ports);
  for (size_t i = 0; i < runs_.size(); ++i) {
    PortRun* run = runs_[i].get();
    const bool it = failed < 0 || static_cast<size_t>(failed) == i;
    run->result = true;
    run->exitCode = it ? code : kExitStopped;
    run->message = it ? message : kNotStarted;
    run->written = "nothing";
  }
  DbgTrace("tarnwick-cli: %s\n", message.c_str());
  if (style_ != OutputStyle::kJson) {
    fprintf(stderr, "tarnwick-cli: %s\n", message.c_str());
    return code;
  }
  Summary(message);
  return code;
}

int Parallel::Run(const std::vector<std::string>& ports) {
  std::unique_lock<std::mutex> lock(mu_);
  AddRuns(ports);
  std::string error;
  for (size_t i = 0; i < runs_.size(); ++i) {
    PortRun* run = runs_[i].get();
    const std::string log = options_.log.empty() ? "" : options_.log + "." + std::to_string(i + 1);
    if (!run->child.Start(ChildArguments(options_, run->port, log), &error)) {
      // The children started so far end without sending: their input closes.
      for (auto& started : runs_) started->child.CloseInput();
      for (size_t j = 0; j < i; ++j) {
        runs_[j]->child.Wait();
      }
      lock.unlock();
      return Refuse(ports, kExitInternal, error, static_cast<int>(i));
    }
  }
  for (auto& run : runs_) {
    PortRun* p = run.get();
    p->reader = std::thread([this, p] { Read(p); });
  }

  if (!plan_) changed_.wait(lock, [this] { return stopped_ || AllReadyOrEnded(); });
  // Nothing is sent on any port unless every port could be opened.
  bool go = !stopped_ && !plan_;
  for (auto& run : runs_) go = go && run->ready && !run->ended;
  // One hold for every port, from before the first "go" until every child
  // has ended (the children take none of their own).
  std::unique_ptr<ShutdownHold> hold;
  if (go) {
    std::vector<std::string> names;
    for (auto& run : runs_) names.push_back(run->port);
    // The bus may take its time: a stop meanwhile must not wait for it.
    lock.unlock();
    hold.reset(new ShutdownHold(HostHoldReason(names)));
    lock.lock();
    go = !stopped_;
  }
  const int64_t now = GetClock().NowMs();
  for (auto& run : runs_) {
    if (go || plan_) run->startMs = now;
    if (go) {
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

int Parallel::Summary(const std::string& refused) {
  PortResult worst{kExitSuccess, ""};
  nlohmann::json ports = nlohmann::json::array();
  size_t width = 4;
  for (auto& run : runs_) width = std::max(width, run->port.size());
  std::string table;
  std::string plans;  // plan: one line per port instead of the table
  char line[1024];
  snprintf(line, sizeof line, "%-*s  %-18s %4s  %8s\n", static_cast<int>(width), "port",
           "result", "exit", "time");
  table += line;
  bool allCurrent = !runs_.empty();
  for (auto& run : runs_) {
    const int exit = run->exitCode < 0 ? kExitInternal : run->exitCode;
    worst = MoreSevere(worst, PortResult{exit, run->written});
    // The child's outcome stands only beside the exit code it was given with.
    const std::string outcome =
        run->result && exit == run->resultCode ? OutcomeName(exit, run->outcome) : ExitCodeName(exit);
    allCurrent = allCurrent && outcome == "already-current";
    const double seconds = static_cast<double>(run->endMs - run->startMs) / 1000.0;
    const std::string message =
        run->result ? run->message : std::string("the process ended without a result");
    snprintf(line, sizeof line, "%-*s  %-18s %4d  %6.1f s\n", static_cast<int>(width),
             run->port.c_str(), outcome.c_str(), exit, seconds);
    table += line;
    // The message goes under its row, wrapped, so that a row fits 80 columns.
    for (const std::string& part : WrapWords(message, kLineWidth - 4)) table += "    " + part + "\n";
    DbgTrace("tarnwick-cli: %s  %s\n", std::string(line, strlen(line) - 1).c_str(), message.c_str());
    nlohmann::json entry = {{"port", run->port},
                            {"exit_code", exit},
                            {"outcome", outcome},
                            {"seconds", static_cast<int64_t>(seconds * 10) / 10.0},
                            {"message", message}};
    if (!run->version.empty()) entry["version_before"] = run->version;
    if (outcome == "already-current") entry["version_after"] = run->version;
    if (!run->written.empty()) entry["written"] = run->written;
    if (!run->fileVersion.empty()) entry["file_version"] = run->fileVersion;
    if (run->plan.is_object()) entry.update(run->plan);
    ports.push_back(entry);
    if (plan_) {
      plans += run->port + ": " + OneLine(message);
      plans += exit == kExitSuccess ? "\n" : " (exit " + std::to_string(exit) + ")\n";
    }
  }
  const int code = worst.code;
  const std::string outcome = code == kExitSuccess && allCurrent ? "already-current"
                                                                 : ExitCodeName(code);
  if (style_ == OutputStyle::kJson) {
    nlohmann::json summary = {{"event", "summary"},
                              {"ok", code == kExitSuccess},
                              {"exit_code", code},
                              {"outcome", outcome}};
    if (!refused.empty()) summary["message"] = refused;
    summary["ports"] = ports;
    Print(summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  } else {
    fputs((plan_ ? plans : table).c_str(), stdout);
    fflush(stdout);
  }
  DbgTrace("tarnwick-cli: result %s (exit %d)\n", outcome.c_str(), code);
  return code;
}

}  // namespace

int RunParallel(const CliOptions& o) {
  OutputStyle style = StyleFor(o);
  // A plan has no progress to draw.
  if (style == OutputStyle::kTerminal && (o.command == "plan" || !EnableTerminalEscapes())) {
    style = OutputStyle::kPlain;
  }
  // Without --file, the file key of --config, as for one port.
  CliOptions options = o;
  Parallel run(options, style);
  std::string error;
  // The parent's trace holds its own checks and the summary; each port's
  // process writes its own file beside it.
  if (!OpenTrace(o.log, &error) || !LoadCliSettings(o, &error)) {
    return run.Refuse(o.ports, kExitBadInput, error, -1);
  }
  if (!PickImageFile(o, &options.file, &error) || !CheckImageFile(options.file, &error) ||
      !CheckFileDigest(options.file, o.sha256, &error)) {
    return run.Refuse(o.ports, kExitBadInput, error, -1);
  }
  // Every name is checked before any process starts: a bad one, or one
  // device named twice, stops the whole run before anything is sent.
  std::map<std::string, std::string> seen;  // key -> the name that gave it
  for (size_t i = 0; i < o.ports.size(); ++i) {
    const std::string& text = o.ports[i];
    ResolvedPort port;
    int code = kExitSuccess;
    if (!PickPort(o, text, &port, &error, &code)) {
      return run.Refuse(o.ports, code, error, static_cast<int>(i));
    }
    auto it = seen.find(port.key);
    if (it != seen.end()) {
      return run.Refuse(o.ports, kExitBadInput,
                        "the same port is named twice: " + it->second + " and " + text +
                            " are both " + port.key,
                        static_cast<int>(i));
    }
    seen[port.key] = text;
  }
  g_parallel = &run;
  InstallStopHandler(AcceptParentStop, NotifyParentStop);
  const int code = run.Run(options.ports);
  g_parallel = nullptr;
  return code;
}

int RefuseParallel(const CliOptions& o, int code, const std::string& message) {
  Parallel run(o, StyleFor(o));
  return run.Refuse(o.ports, code, message, -1);
}
