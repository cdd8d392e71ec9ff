// A TCP peer on 127.0.0.1 for the network port's tests. The kernel picks the
// port; connections are accepted one after another and each is handed to the
// handler on the server's thread. Every read of the handler is bounded, so
// the destructor (which waits for the handler) always returns.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/socket.h"

class LoopbackConnection {
 public:
  explicit LoopbackConnection(SocketHandle s) : s_(s) {}
  ~LoopbackConnection() { Close(); }
  // What arrives until `n` bytes are in or `ms` milliseconds have passed.
  std::string Read(size_t n, uint32_t ms);
  // What arrives until it ends with `end` or `ms` milliseconds have passed.
  std::string ReadUntil(const std::string& end, uint32_t ms);
  // Everything that arrives until `ms` milliseconds pass without a byte.
  std::string ReadQuiet(uint32_t ms);
  bool Send(const std::string& bytes);
  // True once the other end has closed (seen by a read).
  bool PeerClosed() const { return peerClosed_; }
  void Close();
  SocketHandle handle() const { return s_; }

 private:
  bool ReadSome(std::string* into, uint32_t ms);
  SocketHandle s_;
  bool peerClosed_ = false;
};

class LoopbackServer {
 public:
  using Handler = std::function<void(LoopbackConnection& c)>;
  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  bool listening() const { return listener_ != kNoSocket; }
  uint16_t port() const { return port_; }
  // "<prefix>127.0.0.1:<port>", e.g. Name("socket://").
  std::string Name(const char* prefix) const;
  int accepted() const { return accepted_.load(); }

 private:
  Handler handler_;
  SocketHandle listener_ = kNoSocket;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

// A port number on 127.0.0.1 that nothing listens on: one the kernel gave a
// listener that is closed again.
uint16_t UnusedLoopbackPort();
