// What the two socket files share: the silence limit and the keepalive that
// follows from it.
#include <atomic>

#include "platform/socket.h"

namespace {
std::atomic<uint32_t> g_silenceLimitMs{kSocketSilenceLimitMs};
}  // namespace

void SetSocketSilenceLimit(uint32_t ms) {
  g_silenceLimitMs.store(ms == 0 ? kSocketSilenceLimitMs : ms);
}

uint32_t SocketSilenceLimit() { return g_silenceLimitMs.load(); }

SocketKeepalive SocketKeepaliveFor(uint32_t limitMs) {
  const uint32_t limitS = limitMs < 2000 ? 2 : (limitMs + 999) / 1000;
  SocketKeepalive k;
  k.idleS = limitS / 2;
  k.intervalS = 1;
  k.count = limitS - k.idleS;
  return k;
}
