// ser2net as a separate process for the integration tests: a console server
// of our own on the loopback, in the foreground, with a configuration written
// into a temporary folder (never the system's service or its /etc file).
// Each line gets a free port on 127.0.0.1; the process is started, waited for
// until every port listens, and stopped or killed at the end. Header-only,
// Linux.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace ser2netproc {

// The installed program; "" if there is none.
inline std::string Program() {
  for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

// A TCP port on 127.0.0.1 that nothing listens on: bound, read back and
// released (another program may take it before we do; Start retries). 0 if
// none could be had.
inline int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

// True if a socket listens on 127.0.0.1:port (from /proc/net/tcp, so that
// asking does not open a connection, which ser2net would answer by opening
// the serial device).
inline bool Listening(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", port);
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    if (!(fields >> slot >> local >> remote >> state)) continue;
    if (local == want && state == "0A") return true;
  }
  return false;
}

// One serial line of the server.
struct Line {
  std::string device;    // the serial device (expander-sim's pseudo-terminal)
  bool rfc2217 = false;  // telnet with the COM-PORT-OPTION, else raw TCP
  long baud = 115200;    // what the server sets the line to when a client connects
  std::string options;   // more of the connection's options, YAML lines "name: value"
  std::string tcp = "tcp";  // the accepter's TCP layer: "tcp", or "tcp(nodelay)"
};

class Ser2netProcess {
 public:
  Ser2netProcess() = default;
  Ser2netProcess(const Ser2netProcess&) = delete;
  Ser2netProcess& operator=(const Ser2netProcess&) = delete;
  ~Ser2netProcess() {
    Kill();
    if (temp_ && getenv("TARNWICK_KEEP_SIM_DIR") != nullptr) temp_->Keep();
  }

  // Starts the server with the lines, each on a free loopback port, and
  // returns once all of them listen (within a few seconds); false with
  // error() set otherwise. A port another program took meanwhile is no
  // failure: the server is started again on new ones.
  bool Start(const std::vector<Line>& lines) {
    const std::string program = Program();
    if (program.empty()) return Fail("ser2net is not installed");
    if (!temp_) {
      temp_.emplace("tarnwick-ser2net");
      dir_ = temp_->path();
    }
    if (dir_.empty()) return Fail("cannot make a temporary folder");
    for (int attempt = 0; attempt < 5; ++attempt) {
      ports_.clear();
      for (size_t i = 0; i < lines.size(); ++i) {
        const int port = FreeLoopbackPort();
        if (port == 0) return Fail("no free port on 127.0.0.1");
        ports_.push_back(port);
      }
      lines_ = lines;
      if (!WriteConfig()) return Fail("cannot write " + config());
      if (!Spawn(program)) return Fail("cannot start " + program);
      switch (AwaitListening()) {
        case Outcome::kListening:
          return true;
        case Outcome::kPortTaken:
          Kill();
          continue;
        case Outcome::kFailed:
          Kill();
          return Fail("ser2net did not come up: " + log());
      }
    }
    return Fail("ser2net found no free ports in five attempts: " + log());
  }

  // SIGTERM, then its exit status once it ended (ser2net says 1 for a
  // signal; -1 if it did not end by itself within a few seconds and was
  // killed).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 300; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
    return -1;
  }

  // SIGKILL, as a console server that dies or loses its power: the kernel
  // closes its sockets under the clients.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  int port(size_t i) const { return i < ports_.size() ? ports_[i] : 0; }
  // The port name a client gives for line i: socket:// or rfc2217://.
  std::string Url(size_t i) const {
    if (i >= lines_.size()) return "";
    return std::string(lines_[i].rfc2217 ? "rfc2217" : "socket") + "://127.0.0.1:" +
           std::to_string(ports_[i]);
  }
  std::string config() const { return dir_ + "/ser2net.yaml"; }
  std::string log() const {
    std::ifstream in(dir_ + "/ser2net.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  const std::string& error() const { return error_; }

 private:
  enum class Outcome { kListening, kPortTaken, kFailed };

  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }

  bool WriteConfig() const {
    std::ofstream out(config());
    out << "%YAML 1.1\n---\n";
    for (size_t i = 0; i < lines_.size(); ++i) {
      const Line& l = lines_[i];
      out << "connection: &line" << i << "\n"
          << "  accepter: " << (l.rfc2217 ? "telnet(rfc2217)," : "") << l.tcp << ",127.0.0.1,"
          << ports_[i] << "\n"
          << "  connector: serialdev," << l.device << "," << l.baud << "n81,local\n";
      if (!l.options.empty()) {
        out << "  options:\n";
        std::istringstream options(l.options);
        std::string option;
        while (std::getline(options, option)) out << "    " << option << "\n";
      }
    }
    return static_cast<bool>(out.flush());
  }

  bool Spawn(const std::string& program) {
    const std::string logPath = dir_ + "/ser2net.log";
    const std::string cfg = config();
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (logFd >= 0) {
        dup2(logFd, 1);
        dup2(logFd, 2);
      }
      const int null = open("/dev/null", O_RDONLY);
      if (null >= 0) dup2(null, 0);
      // -d: in the foreground, its messages to standard output; -u: no UUCP
      // lock files (the lock folder may not be ours to write).
      execl(program.c_str(), program.c_str(), "-d", "-u", "-c", cfg.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return true;
  }

  // Looks every 10 ms, for at most 5 s, whether all ports listen, whether the
  // server said a port was taken, or whether it ended.
  Outcome AwaitListening() {
    for (int i = 0; i < 500; ++i) {
      bool all = true;
      for (int port : ports_) all = all && Listening(port);
      if (all) return Outcome::kListening;
      if (log().find("Address already in use") != std::string::npos) return Outcome::kPortTaken;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return Outcome::kFailed;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Outcome::kFailed;
  }

  pid_t pid_ = -1;
  std::optional<TempDir> temp_;
  std::string dir_;
  std::string error_;
  std::vector<Line> lines_;
  std::vector<int> ports_;
};

}  // namespace ser2netproc
