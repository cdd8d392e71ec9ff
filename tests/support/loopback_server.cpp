#include "support/loopback_server.h"

#include <chrono>

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint32_t Left(int64_t deadline) {
  const int64_t left = deadline - NowMs();
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

}  // namespace

bool LoopbackConnection::ReadSome(std::string* into, uint32_t ms) {
  if (s_ == kNoSocket || peerClosed_) return false;
  if (SocketWait(s_, false, ms) != SocketReady::kReady) return false;
  uint8_t buf[4096];
  size_t n = 0;
  std::string why;
  if (SocketReceive(s_, buf, sizeof buf, &n, &why) == SocketIo::kClosed) {
    peerClosed_ = true;
    return false;
  }
  into->append(reinterpret_cast<const char*>(buf), n);
  return true;
}

std::string LoopbackConnection::Read(size_t n, uint32_t ms) {
  const int64_t deadline = NowMs() + ms;
  std::string got;
  while (got.size() < n && Left(deadline) > 0) {
    if (!ReadSome(&got, Left(deadline)) && peerClosed_) break;
  }
  return got;
}

std::string LoopbackConnection::ReadUntil(const std::string& end, uint32_t ms) {
  const int64_t deadline = NowMs() + ms;
  std::string got;
  while (Left(deadline) > 0) {
    if (got.size() >= end.size() && got.compare(got.size() - end.size(), end.size(), end) == 0)
      break;
    if (!ReadSome(&got, Left(deadline)) && peerClosed_) break;
  }
  return got;
}

std::string LoopbackConnection::ReadQuiet(uint32_t ms) {
  std::string got;
  while (ReadSome(&got, ms)) {
  }
  return got;
}

bool LoopbackConnection::Send(const std::string& bytes) {
  size_t off = 0;
  const int64_t deadline = NowMs() + 2000;
  while (off < bytes.size()) {
    size_t n = 0;
    std::string why;
    if (s_ == kNoSocket ||
        SocketSend(s_, reinterpret_cast<const uint8_t*>(bytes.data()) + off, bytes.size() - off,
                   &n, &why) == SocketIo::kClosed) {
      return false;
    }
    off += n;
    if (off < bytes.size() && (Left(deadline) == 0 || SocketWait(s_, true, Left(deadline)) !=
                                                          SocketReady::kReady)) {
      return false;
    }
  }
  return true;
}

void LoopbackConnection::Close() {
  SocketClose(s_);
  s_ = kNoSocket;
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = SocketListenLoopback(0, &port_);
  if (listener_ == kNoSocket) return;
  thread_ = std::thread([this] {
    while (!stop_.load()) {
      SocketHandle s = SocketAccept(listener_, 20);
      if (s == kNoSocket) continue;
      ++accepted_;
      LoopbackConnection c(s);
      handler_(c);
    }
  });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  SocketClose(listener_);
}

std::string LoopbackServer::Name(const char* prefix) const {
  return std::string(prefix) + "127.0.0.1:" + std::to_string(port_);
}

uint16_t UnusedLoopbackPort() {
  uint16_t port = 0;
  SocketHandle s = SocketListenLoopback(0, &port);
  SocketClose(s);
  return port;
}
