// tarnwick-cli as a separate process for the integration tests: started with
// its standard output (and error) on pipes, or its standard output on a
// pseudo-terminal, read line by line, signalled, its output closed under it,
// waited for. Header-only, Linux.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cliproc {

class CliProcess {
 public:
  CliProcess() = default;
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;
  ~CliProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  // `env`: "NAME=value" set for the program only. `onTerminal`: standard
  // output on a pseudo-terminal (not the controlling one) instead of a pipe.
  bool Start(std::vector<std::string> args, std::vector<std::string> env = {},
             bool onTerminal = false) {
    args.insert(args.begin(), TARNWICK_CLI_PATH);
    int out[2], err[2];
    if (pipe2(err, O_CLOEXEC) != 0) return false;
    if (onTerminal) {
      out[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (out[0] < 0 || grantpt(out[0]) != 0 || unlockpt(out[0]) != 0) return false;
      out[1] = open(ptsname(out[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (out[1] < 0) return false;
    } else if (pipe2(out, O_CLOEXEC) != 0) {
      return false;
    }
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      for (std::string& e : env) putenv(&e[0]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    return true;
  }

  // Closes our end of its standard output: a pipe then gives EPIPE on its
  // next write, a pseudo-terminal hangs up and gives EIO, as a closed
  // terminal window does. Nothing more is read.
  void CloseOutput() {
    if (out_ >= 0) close(out_);
    out_ = -1;
  }

  // The next line of standard output; false at its end or after `seconds`.
  bool ReadLine(std::string* line, int seconds = 120) {
    if (out_ < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        *line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        out_text_ += *line + "\n";
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      // A terminal turns each line end into CR LF.
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\r') pending_ += buf[i];
      }
    }
  }

  // The next JSON event whose "event" is `name` (others are kept in events()).
  bool WaitEvent(const std::string& name, nlohmann::json* event, int seconds = 120) {
    std::string line;
    while (ReadLine(&line, seconds)) {
      nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (!j.is_object()) continue;
      events_.push_back(j);
      if (j.value("event", "") == name) {
        *event = j;
        return true;
      }
    }
    return false;
  }

  void Signal(int sig) { kill(pid_, sig); }

  // Reads the rest of the output, then the exit code (-1 if killed).
  int Wait() {
    std::string line;
    while (ReadLine(&line)) {
      nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (j.is_object()) events_.push_back(j);
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(err_, buf, sizeof buf)) > 0) err_text_.append(buf, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Every JSON event read so far.
  const std::vector<nlohmann::json>& events() const { return events_; }
  // The "text" of every event named `name`, in order.
  std::vector<std::string> Texts(const std::string& name) const {
    std::vector<std::string> texts;
    for (const auto& e : events_) {
      if (e.value("event", "") == name) texts.push_back(e.value("text", ""));
    }
    return texts;
  }
  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string pending_;
  std::string out_text_;
  std::string err_text_;
  std::vector<nlohmann::json> events_;
};

// Runs tarnwick-cli to its end; its exit code, output and error text.
struct Run {
  int code = -1;
  std::string out;
  std::string err;
  std::vector<nlohmann::json> events;
};

inline Run RunCli(const std::vector<std::string>& args) {
  CliProcess p;
  Run r;
  if (!p.Start(args)) return r;
  r.code = p.Wait();
  r.out = p.out();
  r.err = p.err();
  r.events = p.events();
  return r;
}

}  // namespace cliproc
