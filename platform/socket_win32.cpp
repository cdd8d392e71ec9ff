// TCP connections on Windows: non-blocking Winsock sockets, waits through
// select (WSAPoll does not report a refused connect on every version).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/os_error.h"
#include "platform/socket.h"
#include "platform/socket_resolve.h"
#include "platform/trace.h"

// Options of Windows 10's Winsock that mingw-w64's headers lack; the values
// are the system's.
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif

namespace {

// Winsock is started once, on first use, and left running until the
// process ends.
bool StartWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

std::string ErrorText(int err) {
  return OsErrorText(static_cast<unsigned long>(err));
}

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

void TuneConnection(SOCKET s) {
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  BOOL on = TRUE;
  // Every piece of a packet is a small write that waits for its answer:
  // Nagle would hold each one back for the previous acknowledgement.
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  // A console server that vanishes without a word while nothing of ours is
  // in flight is noticed by the probes within the silence limit. Before
  // Windows 10 the count cannot be set and stays at ten probes.
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
  const SocketKeepalive k = SocketKeepaliveFor(SocketSilenceLimit());
  tcp_keepalive ka{};
  ka.onoff = 1;
  ka.keepalivetime = k.idleS * 1000;
  ka.keepaliveinterval = k.intervalS * 1000;
  DWORD bytes = 0;
  WSAIoctl(s, SIO_KEEPALIVE_VALS, &ka, sizeof ka, nullptr, 0, &bytes, nullptr, nullptr);
  DWORD count = k.count;
  setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&count), sizeof count);
}

// On the connected socket only, so that the connect keeps its own bound.
// Keepalive does not probe while data is unacknowledged, which is most of a
// download: without this Windows retransmits to a dead server for minutes.
// With it the next call fails with WSAETIMEDOUT. Whole seconds.
void LimitSilence(SOCKET s) {
  DWORD seconds = (SocketSilenceLimit() + 999) / 1000;
  if (setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&seconds),
                 sizeof seconds) != 0) {
    DbgTrace("SocketConnect: TCP_MAXRT not taken (%s): a silent server is found by keepalive only\n",
             ErrorText(WSAGetLastError()).c_str());
  }
}

// select on one socket for up to `ms`: 1 ready, 0 timed out, -1 failed.
// `failed` receives whether the except set fired (a refused connect).
int SelectOne(SOCKET s, bool forWrite, uint32_t ms, bool* failed) {
  fd_set set, except;
  FD_ZERO(&set);
  FD_ZERO(&except);
  FD_SET(s, &set);
  FD_SET(s, &except);
  timeval tv;
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>(ms % 1000) * 1000;
  int r = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &except, &tv);
  if (failed) *failed = r > 0 && FD_ISSET(s, &except);
  return r < 0 ? -1 : r;
}

ConnectResult ConnectOne(const addrinfo* ai, int64_t deadline, SOCKET* out, std::string* detail) {
  SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
  if (s == INVALID_SOCKET) {
    *detail = ErrorText(WSAGetLastError());
    return ConnectResult::kFailed;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  TuneConnection(s);
  int err = 0;
  if (connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
    err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
      bool failed = false;
      int r = SelectOne(s, true, SystemMsUntil(deadline), &failed);
      if (r == 0) {
        closesocket(s);
        *detail = "no answer";
        return ConnectResult::kTimedOut;
      }
      err = 0;
      int len = sizeof err;
      if (r < 0) {
        err = WSAGetLastError();
      } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) {
        err = WSAGetLastError();
      } else if (failed && err == 0) {
        err = WSAECONNREFUSED;
      }
    }
  }
  if (err != 0) {
    closesocket(s);
    *detail = ErrorText(err);
    return err == WSAECONNREFUSED ? ConnectResult::kRefused
           : err == WSAETIMEDOUT  ? ConnectResult::kTimedOut
                                  : ConnectResult::kFailed;
  }
  LimitSilence(s);
  *out = s;
  return ConnectResult::kConnected;
}

bool Transient(int err) { return err == WSAEWOULDBLOCK || err == WSAEINTR; }

}  // namespace

ConnectResult SocketConnect(const std::string& host, uint16_t port, uint32_t timeoutMs,
                            SocketHandle* out, std::string* detail) {
  *out = kNoSocket;
  detail->clear();
  if (!StartWinsock()) {
    *detail = "Winsock cannot be started";
    return ConnectResult::kFailed;
  }
  const int64_t deadline = SystemSteadyMs() + timeoutMs;
  addrinfo* list = nullptr;
  int rc =
      ResolveWithin(host, port, SystemMsUntil(deadline), {WSA_NOT_ENOUGH_MEMORY, WSAETIMEDOUT}, &list);
  if (rc != 0) {
    *detail = ErrorText(rc);
    if (rc == WSAETIMEDOUT) return ConnectResult::kTimedOut;
    return ConnectResult::kUnresolved;
  }
  return ConnectFirstAddress(
      list,
      [deadline](const addrinfo* ai, SocketHandle* s, std::string* why) {
        SOCKET one = INVALID_SOCKET;
        const ConnectResult r = ConnectOne(ai, deadline, &one, why);
        if (r == ConnectResult::kConnected) *s = static_cast<SocketHandle>(one);
        return r;
      },
      [deadline] { return SystemMsUntil(deadline) == 0; }, out, detail);
}

SocketIo SocketReceive(SocketHandle s, uint8_t* buf, size_t count, size_t* done,
                       std::string* detail) {
  *done = 0;
  const int want = count > 65536 ? 65536 : static_cast<int>(count);
  int n = recv(Sock(s), reinterpret_cast<char*>(buf), want, 0);
  if (n > 0) {
    *done = static_cast<size_t>(n);
    return SocketIo::kOk;
  }
  if (n == 0) {
    if (count == 0) return SocketIo::kOk;
    *detail = "closed by the other end";
    return SocketIo::kClosed;
  }
  const int err = WSAGetLastError();
  if (Transient(err)) return SocketIo::kOk;
  *detail = ErrorText(err);
  return SocketIo::kClosed;
}

SocketIo SocketSend(SocketHandle s, const uint8_t* buf, size_t count, size_t* done,
                    std::string* detail) {
  *done = 0;
  const int want = count > 65536 ? 65536 : static_cast<int>(count);
  int n = send(Sock(s), reinterpret_cast<const char*>(buf), want, 0);
  if (n >= 0) {
    *done = static_cast<size_t>(n);
    return SocketIo::kOk;
  }
  const int err = WSAGetLastError();
  if (Transient(err)) return SocketIo::kOk;
  *detail = ErrorText(err);
  return SocketIo::kClosed;
}

SocketReady SocketWait(SocketHandle s, bool forWrite, uint32_t ms) {
  // An error on the socket shows in the except set; the next receive or
  // send reports it, so it counts as ready.
  int r = SelectOne(Sock(s), forWrite, ms, nullptr);
  if (r < 0) return SocketReady::kFailed;
  return r == 0 ? SocketReady::kTimedOut : SocketReady::kReady;
}

void SocketClose(SocketHandle s) {
  if (s != kNoSocket) closesocket(Sock(s));
}

SocketHandle SocketListenLoopback(uint16_t port, uint16_t* bound) {
  if (!StartWinsock()) return kNoSocket;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  int len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  *bound = ntohs(a.sin_port);
  return static_cast<SocketHandle>(s);
}

SocketHandle SocketAccept(SocketHandle listener, uint32_t ms) {
  if (SocketWait(listener, false, ms) != SocketReady::kReady) return kNoSocket;
  SOCKET s = accept(Sock(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  TuneConnection(s);
  return static_cast<SocketHandle>(s);
}
