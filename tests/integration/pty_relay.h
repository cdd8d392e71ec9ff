// A raw console server for the integration tests: a TCP relay on 127.0.0.1
// that carries each connection to a pseudo-terminal (expander-sim's line).
// Once `cutAfter` bytes went towards the line it cuts the connection, or,
// given `atCut`, calls it with the connection's socket and then falls
// silent: it neither reads nor sends again until it is destroyed. Header-only,
// for the Linux tests.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "support/loopback_server.h"

class PtyRelay {
 public:
  using AtCut = std::function<void(int sock)>;
  explicit PtyRelay(const std::string& pty, long cutAfter = -1, AtCut atCut = nullptr)
      : pty_(pty),
        cutAfter_(cutAfter),
        atCut_(std::move(atCut)),
        server_([this](LoopbackConnection& c) { Relay(c); }) {}
  ~PtyRelay() {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    wake_.notify_all();
  }
  std::string Name() const { return server_.Name("socket://"); }
  uint16_t port() const { return server_.port(); }
  bool cut() const { return cut_.load(); }

 private:
  void Relay(LoopbackConnection& c) {
    int tty = open(pty_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (tty < 0) return;
    termios tio;
    if (tcgetattr(tty, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(tty, TCSANOW, &tio);
    }
    const int sock = static_cast<int>(c.handle());
    long toLine = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p[2] = {{sock, POLLIN, 0}, {tty, POLLIN, 0}};
      if (poll(p, 2, 1000) < 0) break;
      char buf[4096];
      if (p[0].revents) {
        const ssize_t n = read(sock, buf, sizeof buf);
        if (n <= 0) break;
        if (write(tty, buf, static_cast<size_t>(n)) != n) break;
        toLine += n;
        if (cutAfter_ >= 0 && toLine >= cutAfter_) {
          cut_ = true;
          if (atCut_) FallSilent(sock);
          break;
        }
      }
      if (p[1].revents) {
        const ssize_t n = read(tty, buf, sizeof buf);
        if (n <= 0) break;
        if (!c.Send(std::string(buf, static_cast<size_t>(n)))) break;
      }
    }
    close(tty);
  }

  void FallSilent(int sock) {
    atCut_(sock);
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::minutes(2), [this] { return ending_; });
  }

  std::string pty_;
  long cutAfter_;
  AtCut atCut_;
  std::atomic<bool> cut_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  LoopbackServer server_;
};
