// TCP connections on Linux: non-blocking BSD sockets, waits through poll.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/socket_resolve.h"
#include "platform/trace.h"

namespace {

void TuneConnection(int fd) {
  int on = 1;
  // Every piece of a packet is a small write that waits for its answer:
  // Nagle would hold each one back for the previous acknowledgement.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // A console server that vanishes without a word (power, cable) while
  // nothing of ours is in flight is noticed by the probes within the silence
  // limit.
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  const SocketKeepalive k = SocketKeepaliveFor(SocketSilenceLimit());
  int idle = static_cast<int>(k.idleS), interval = static_cast<int>(k.intervalS),
      count = static_cast<int>(k.count);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

// On the connected socket only, so that the connect keeps its own bound.
// Keepalive stops probing while data is unacknowledged, which is most of a
// download (a piece waits for its "*"): without this the kernel retransmits
// to a dead server for a quarter of an hour. With it the next call fails with
// ETIMEDOUT; with keepalive it also ends the connection once a probe goes
// unanswered past the limit.
void LimitSilence(int fd) {
  unsigned int ms = SocketSilenceLimit();
  if (setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms) != 0) {
    DbgTrace("SocketConnect: TCP_USER_TIMEOUT not taken (%s): a silent server is found by "
             "keepalive only\n",
             strerror(errno));
  }
}

// One address: kConnected with *fd set, else the result and errno's text.
ConnectResult ConnectOne(const addrinfo* ai, int64_t deadline, int* fd, std::string* detail) {
  int s = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
  if (s < 0) {
    *detail = strerror(errno);
    return ConnectResult::kFailed;
  }
  TuneConnection(s);
  int err = 0;
  if (connect(s, ai->ai_addr, ai->ai_addrlen) != 0) {
    err = errno;
    if (err == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      int r;
      do {
        r = poll(&p, 1, SystemMsUntil(deadline));
      } while (r < 0 && errno == EINTR);
      if (r == 0) {
        close(s);
        *detail = "no answer";
        return ConnectResult::kTimedOut;
      }
      socklen_t len = sizeof err;
      if (r < 0) {
        err = errno;
      } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        err = errno;
      }
    }
  }
  if (err != 0) {
    close(s);
    *detail = strerror(err);
    return err == ECONNREFUSED ? ConnectResult::kRefused
           : err == ETIMEDOUT  ? ConnectResult::kTimedOut
                               : ConnectResult::kFailed;
  }
  LimitSilence(s);
  *fd = s;
  return ConnectResult::kConnected;
}

int Fd(SocketHandle s) { return static_cast<int>(s); }

// Errors after which the connection will carry nothing again.
bool Transient(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

}  // namespace

ConnectResult SocketConnect(const std::string& host, uint16_t port, uint32_t timeoutMs,
                            SocketHandle* out, std::string* detail) {
  *out = kNoSocket;
  detail->clear();
  const int64_t deadline = SystemSteadyMs() + timeoutMs;
  addrinfo* list = nullptr;
  int rc = ResolveWithin(host, port, static_cast<uint32_t>(SystemMsUntil(deadline)),
                         {EAI_MEMORY, EAI_AGAIN}, &list);
  if (rc != 0) {
    *detail = rc == EAI_SYSTEM ? strerror(errno) : gai_strerror(rc);
    if (rc == EAI_AGAIN && SystemMsUntil(deadline) == 0) return ConnectResult::kTimedOut;
    return ConnectResult::kUnresolved;
  }
  return ConnectFirstAddress(
      list,
      [deadline](const addrinfo* ai, SocketHandle* s, std::string* why) {
        int fd = -1;
        const ConnectResult r = ConnectOne(ai, deadline, &fd, why);
        if (r == ConnectResult::kConnected) *s = fd;
        return r;
      },
      [deadline] { return SystemMsUntil(deadline) == 0; }, out, detail);
}

SocketIo SocketReceive(SocketHandle s, uint8_t* buf, size_t count, size_t* done,
                       std::string* detail) {
  *done = 0;
  ssize_t n;
  do {
    n = recv(Fd(s), buf, count, 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    *done = static_cast<size_t>(n);
    return SocketIo::kOk;
  }
  if (n == 0) {
    if (count == 0) return SocketIo::kOk;
    *detail = "closed by the other end";
    return SocketIo::kClosed;
  }
  if (Transient(errno)) return SocketIo::kOk;
  *detail = strerror(errno);
  return SocketIo::kClosed;
}

SocketIo SocketSend(SocketHandle s, const uint8_t* buf, size_t count, size_t* done,
                    std::string* detail) {
  *done = 0;
  ssize_t n;
  do {
    // MSG_NOSIGNAL: a peer that has gone gives EPIPE here, not a signal that
    // would end a program which does not ignore it.
    n = send(Fd(s), buf, count, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n >= 0) {
    *done = static_cast<size_t>(n);
    return SocketIo::kOk;
  }
  if (Transient(errno)) return SocketIo::kOk;
  *detail = strerror(errno);
  return SocketIo::kClosed;
}

SocketReady SocketWait(SocketHandle s, bool forWrite, uint32_t ms) {
  const int64_t deadline = SystemSteadyMs() + ms;
  pollfd p{Fd(s), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  int r;
  do {
    r = poll(&p, 1, SystemMsUntil(deadline));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return SocketReady::kFailed;
  if (r == 0) return SocketReady::kTimedOut;
  if (p.revents & POLLNVAL) return SocketReady::kFailed;
  return SocketReady::kReady;
}

void SocketClose(SocketHandle s) {
  if (s != kNoSocket) close(Fd(s));
}

SocketHandle SocketListenLoopback(uint16_t port, uint16_t* bound) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return kNoSocket;
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(s);
    return kNoSocket;
  }
  *bound = ntohs(a.sin_port);
  return s;
}

SocketHandle SocketAccept(SocketHandle listener, uint32_t ms) {
  if (SocketWait(listener, false, ms) != SocketReady::kReady) return kNoSocket;
  int s = accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) return kNoSocket;
  TuneConnection(s);
  return s;
}
