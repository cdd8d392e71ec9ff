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

// How long a connected peer may stay silent before the connection counts as
// dead (ms): sent data left unacknowledged that long (TCP_USER_TIMEOUT on
// Linux, TCP_MAXRT on Windows), or, with nothing in flight, keepalive probes
// unanswered for about as long since the peer was last heard. The next receive
// or send then reports kClosed. Long enough for a few retransmissions over a
// network that drops packets for a moment; short enough that a console server
// switched off mid-image is noticed before the first status time-out (15 s by
// default) turns into retries.
constexpr uint32_t kSocketSilenceLimitMs = 10000;
// Sets the limit for the connections made from now on (tests make it
// shorter); 0 puts back kSocketSilenceLimitMs.
void SetSocketSilenceLimit(uint32_t ms);
uint32_t SocketSilenceLimit();

// The keepalive that goes with a silence limit of `limitMs`: the first probe
// after half the limit without a word from the peer, then one a second, so
// that the last one unanswered ends the connection at the limit. Whole
// seconds, as Linux takes them; at least one of each.
struct SocketKeepalive {
  uint32_t idleS, intervalS, count;
};
SocketKeepalive SocketKeepaliveFor(uint32_t limitMs);

// Resolves `host` (a name or a numeric address, nothing is added to it) and
// connects to `port` on the first of its addresses that accepts, all within
// `timeoutMs`. The socket is non-blocking, with TCP_NODELAY, keepalive and,
// once connected, the silence limit. *detail receives the system's text for
// the failure ("" on success).
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
