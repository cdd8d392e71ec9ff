// A private message bus with tests/support/fake_logind.py on it, for the
// shutdown-hold tests: our programs reach it as the system bus through
// DBUS_SYSTEM_BUS_ADDRESS (env()). What the fake saw comes back as facts:
// each Inhibit call and each lock released. Header-only, Linux.
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

using Deadline = std::chrono::steady_clock::time_point;
inline Deadline In(int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); }

// Lines from a child's standard output.
struct LineReader {
  int fd = -1;
  std::string pending;
  // The next line; false at the output's end or at `deadline`.
  bool Read(std::string* line, Deadline deadline) {
    for (size_t end; (end = pending.find('\n')) == std::string::npos;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      char buf[1024];
      ssize_t n = 0;
      if (fd < 0 || poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) <= 0 ||
          (n = read(fd, buf, sizeof buf)) <= 0) {
        return false;
      }
      pending.append(buf, static_cast<size_t>(n));
    }
    const size_t end = pending.find('\n');
    *line = pending.substr(0, end);
    pending.erase(0, end + 1);
    return true;
  }
};

class FakeLogind {
 public:
  FakeLogind() = default;
  FakeLogind(const FakeLogind&) = delete;
  FakeLogind& operator=(const FakeLogind&) = delete;
  ~FakeLogind() {
    for (pid_t pid : {fake_, daemon_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    for (int fd : {bus_.fd, out_.fd}) {
      if (fd >= 0) close(fd);
    }
    if (!dir_.empty() && std::system(("rm -rf '" + dir_ + "'").c_str()) != 0) {
      // Left behind in the temporary folder; harmless.
    }
  }

  // False when the bus or the fake did not come up (errors() says why).
  bool Start() {
    char pattern[] = "/tmp/tarnwick-logind.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    dir_ = pattern;
    std::ofstream(dir_ + "/bus.conf")
        << "<busconfig><type>session</type><listen>unix:path=" << dir_ << "/bus</listen>"
        << "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
        << "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
    daemon_ = Spawn({"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--print-address",
                     "--nofork"},
                    "/daemon.err", &bus_.fd);
    if (!bus_.Read(&address_, In(10000)) || address_.rfind("unix:", 0) != 0) return false;
    fake_ = Spawn({TARNWICK_DBUS_PYTHON, TARNWICK_FAKE_LOGIND, address_}, "/fake.err", &out_.fd);
    std::string line;
    return out_.Read(&line, In(10000)) && line == "ready";
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

  // Every fact the fake has printed by `ms` from now, in order.
  std::vector<nlohmann::json> Facts(int ms = 0) {
    const Deadline deadline = In(ms);
    std::string line;
    while (out_.Read(&line, deadline)) Take(line);
    return facts_;
  }
  // The facts named `event` (inhibit, released).
  std::vector<nlohmann::json> Named(const std::string& event) const {
    std::vector<nlohmann::json> named;
    for (const auto& f : facts_) {
      if (f.value("event", "") == event) named.push_back(f);
    }
    return named;
  }
  // Waits up to `seconds` for lock `id` to be released.
  bool WaitReleased(int id, int seconds = 10) {
    const Deadline deadline = In(seconds * 1000);
    for (std::string line;;) {
      for (const auto& f : Named("released")) {
        if (f.value("id", 0) == id) return true;
      }
      if (!out_.Read(&line, deadline)) return false;
      Take(line);
    }
  }

 private:
  pid_t Spawn(std::vector<std::string> args, const char* err, int* out) const {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(p[1], 1);
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(open((dir_ + err).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 2);
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
  void Take(const std::string& line) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_object()) facts_.push_back(j);
  }

  pid_t daemon_ = -1;
  pid_t fake_ = -1;
  LineReader bus_;
  LineReader out_;
  std::string dir_;
  std::string address_;
  std::vector<nlohmann::json> facts_;
};

}  // namespace logind
