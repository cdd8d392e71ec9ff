// A private message bus with tests/support/fake_logind.py on it, for the
// shutdown-hold tests: our programs reach it as the system bus through
// DBUS_SYSTEM_BUS_ADDRESS (env()). What the fake saw is read back as JSON
// lines: each Inhibit call and each lock released. Header-only, Linux.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace logind {

class FakeLogind {
 public:
  FakeLogind() = default;
  FakeLogind(const FakeLogind&) = delete;
  FakeLogind& operator=(const FakeLogind&) = delete;
  ~FakeLogind() {
    for (pid_t pid : {fake_, daemon_}) {
      if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
      }
    }
    if (out_ >= 0) close(out_);
    if (!dir_.empty()) {
      const std::string rm = "rm -rf '" + dir_ + "'";
      if (std::system(rm.c_str()) != 0) {
        // Left behind in the temporary folder; harmless.
      }
    }
  }

  // False when the bus or the fake did not come up.
  bool Start() {
    char pattern[] = "/tmp/tarnwick-logind.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    dir_ = pattern;
    std::ofstream(dir_ + "/bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n"
           "  <listen>unix:path=" << dir_ << "/bus</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\"/>\n    <allow receive_sender=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n</busconfig>\n";
    int daemonOut = -1;
    daemon_ = Spawn({"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--print-address",
                     "--nofork"},
                    dir_ + "/daemon.err", &daemonOut);
    if (daemon_ < 0) return false;
    const bool gotAddress = ReadLineFrom(daemonOut, &address_, 10);
    close(daemonOut);
    if (!gotAddress || address_.rfind("unix:", 0) != 0) return false;
    fake_ = Spawn({TARNWICK_DBUS_PYTHON, TARNWICK_FAKE_LOGIND, address_}, dir_ + "/fake.err", &out_);
    std::string line;
    return fake_ > 0 && ReadLine(&line, In(10000)) && line == "ready";
  }

  // "DBUS_SYSTEM_BUS_ADDRESS=..." for a program under test.
  std::string env() const { return "DBUS_SYSTEM_BUS_ADDRESS=" + address_; }
  const std::string& address() const { return address_; }
  // What the bus and the fake wrote on their standard error.
  std::string errors() const {
    std::string text;
    for (const char* name : {"/daemon.err", "/fake.err"}) {
      std::ifstream in(dir_ + name);
      text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
  }

  // Every fact the fake has printed within `ms`, in order (ms 0: only what
  // is there already).
  std::vector<nlohmann::json> Facts(int ms = 0) {
    const Deadline deadline = In(ms);
    std::string line;
    while (ReadLine(&line, deadline)) Take(line);
    return facts_;
  }
  // Waits up to `seconds` for the fact `event` about lock `id`.
  bool WaitFor(const std::string& event, int id, int seconds = 10) {
    for (;;) {
      for (const auto& f : facts_) {
        if (f.value("event", "") == event && f.value("id", 0) == id) return true;
      }
      std::string line;
      if (!ReadLine(&line, In(seconds * 1000))) return false;
      Take(line);
    }
  }
  // The facts named `event`.
  std::vector<nlohmann::json> Named(const std::string& event) const {
    std::vector<nlohmann::json> named;
    for (const auto& f : facts_) {
      if (f.value("event", "") == event) named.push_back(f);
    }
    return named;
  }

 private:
  // Standard error goes to `err` (dbus-daemon complains about its fd limit;
  // the fake's failures are worth reading).
  static pid_t Spawn(std::vector<std::string> args, const std::string& err, int* out) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      dup2(p[1], 1);
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 2);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(p[1]);
    *out = p[0];
    return pid;
  }

  // One line from `fd`, byte by byte (what follows stays in the pipe).
  static bool ReadLineFrom(int fd, std::string* line, int seconds) {
    line->clear();
    char c;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, seconds * 1000) > 0 && read(fd, &c, 1) == 1) {
      if (c == '\n') return true;
      *line += c;
    }
    return false;
  }

  using Deadline = std::chrono::steady_clock::time_point;
  static Deadline In(int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); }

  // The fake's next line; false at its end or at `deadline`.
  bool ReadLine(std::string* line, Deadline deadline) {
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        *line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (out_ < 0 || poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) <= 0) {
        return false;
      }
      char buf[1024];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

  void Take(const std::string& line) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_object()) facts_.push_back(j);
  }

  pid_t daemon_ = -1;
  pid_t fake_ = -1;
  int out_ = -1;
  std::string dir_;
  std::string address_;
  std::string pending_;
  std::vector<nlohmann::json> facts_;
};

}  // namespace logind
