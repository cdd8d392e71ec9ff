// What the two socket files do alike around the system's own calls: the
// bounded name lookup (getaddrinfo and freeaddrinfo are the same calls on
// either system; only the error codes for "no thread" and "timed out"
// differ, so each file passes its own) and the walk over the addresses.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "platform/socket.h"

struct addrinfo;

struct ResolveErrors {
  int noThread;  // no thread could be started for the lookup
  int timedOut;  // no answer within the time given
};

// The TCP addresses of `host`:`port` in *out (freed with freeaddrinfo by the
// caller); 0, or getaddrinfo's error, or one of `errors`. The lookup runs on
// a thread of its own: getaddrinfo has no bound, and a dead name server
// would hold it for the resolver's own time-outs.
int ResolveWithin(const std::string& host, uint16_t port, uint32_t ms, ResolveErrors errors,
                  addrinfo** out);

// Connects to the first address of `list` that accepts, through `one` (the
// platform's connect of one address), and frees `list`. The last failure is
// the one told, but a refusal outranks a silence (localhost's ::1 refuses
// while its 127.0.0.1 may simply be slow). `expired`: the deadline passed.
ConnectResult ConnectFirstAddress(
    addrinfo* list,
    const std::function<ConnectResult(const addrinfo*, SocketHandle*, std::string*)>& one,
    const std::function<bool()>& expired, SocketHandle* out, std::string* detail);
