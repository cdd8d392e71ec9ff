// TCP connections: what the network serial port needs of the system. A socket
// is an opaque handle here; socket_posix.cpp uses BSD sockets, socket_win32.cpp
// Winsock. Every call returns within a bound: connects and waits take one,
// reads and writes never wait.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

enum class ConnectResult {
  kConnected,
  kUnresolved,  // the host's name gives no address
  kRefused,     // every address refused the connection
  kTimedOut,    // no address answered within the bound
  kFailed,      // anything else (no route, no sockets); see the detail
};

// Resolves `host` (a name or a numeric address, nothing is added to it) and
// connects to `port` on the first of its addresses that accepts, all within
// `timeoutMs`. The socket is non-blocking, with TCP_NODELAY and keepalive.
// *detail receives the system's text for the failure ("" on success).
ConnectResult SocketConnect(const std::string& host, uint16_t port, uint32_t timeoutMs,
                            SocketHandle* out, std::string* detail);

enum class SocketIo {
  kOk,      // *done bytes moved, possibly 0 (nothing has arrived, or no room)
  kClosed,  // the peer closed or reset the connection, or it failed for good
};

// Receives what has arrived, 0..count bytes, without waiting.
SocketIo SocketReceive(SocketHandle s, uint8_t* buf, size_t count, size_t* done,
                       std::string* detail);
// Sends as much of `buf` as the system takes at once, without waiting and
// without raising SIGPIPE.
SocketIo SocketSend(SocketHandle s, const uint8_t* buf, size_t count, size_t* done,
                    std::string* detail);

enum class SocketReady { kReady, kTimedOut, kFailed };
// Sleeps until `s` can be read (or, with `forWrite`, written) or `ms`
// milliseconds have passed. A closed connection counts as readable: the next
// receive reports it.
SocketReady SocketWait(SocketHandle s, bool forWrite, uint32_t ms);

// Closes `s`; harmless with kNoSocket.
void SocketClose(SocketHandle s);

// A listening socket on 127.0.0.1 (tests' peers): the system picks the port
// when `port` is 0; *bound receives it. kNoSocket on failure.
SocketHandle SocketListenLoopback(uint16_t port, uint16_t* bound);
// Accepts one connection within `ms`; kNoSocket when none came. The accepted
// socket is non-blocking like a connected one.
SocketHandle SocketAccept(SocketHandle listener, uint32_t ms);
