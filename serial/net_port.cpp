// The network serial port. It keeps the contract of the local ports: reads
// never wait, writes end within 500 ms, a connection that closes or resets is
// a lost port (the peer will not come back under it; Start connects anew).
#include "serial/net_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/trace.h"
#include "serial/net_port_name.h"
#include "serial/telnet_link.h"

namespace {

// As on the local ports, a write must be finished by then.
constexpr uint32_t kWriteTimeoutMs = 500;
constexpr size_t kReceiveChunk = 4096;
// A purge reads away at most this many chunks, so that a console that never
// stops talking cannot hold it.
constexpr int kMaxPurgeReads = 64;

class NetSerialPort : public SerialBackend {
 public:
  bool Open(const PortAddress& where, bool eventChar) override;
  bool IsOpen() override { return sock_.load() != kNoSocket || lost_.load(); }
  bool Read(uint8_t* buf, uint32_t count, uint32_t* read) override;
  bool Write(const uint8_t* buf, uint32_t count, uint32_t* written) override;
  void Purge() override;
  bool WaitInput(uint32_t ms) override;
  void Close() override;
  bool IsLost() override { return lost_.load(); }
  std::string OpenFailureHint() override { return hint_; }
  std::string LatencyWarning(bool) override { return std::string(); }

 private:
  bool Connect();
  bool Negotiate();
  // Waits up to `deadline` for input and takes it in. False once the
  // connection is gone or nothing came in time.
  bool Pump(int64_t deadline);
  // The same for up to `ms` (0: only looks).
  bool PumpFor(uint32_t ms);
  // Receives once, without waiting: the line's bytes into rx_, the server's
  // telnet requests answered. False once the connection is gone.
  bool Receive(size_t* got);
  // Sends `wire` whole by `deadline`; *sent bytes of it went out. False on
  // failure (lost, or no room in time).
  bool SendAll(const std::vector<uint8_t>& wire, int64_t deadline, size_t* sent);
  void NoteLost(const char* call, const std::string& why);
  // Why a negotiation step found the connection gone, for the user.
  std::string LostHint(const std::string& at) const;
  // Ends a failed open: the hint for the user, the trace, the socket closed.
  bool Fail(const std::string& hint);
  size_t Queued() const { return rx_.size() - rxHead_; }

  std::atomic<SocketHandle> sock_{kNoSocket};
  std::atomic<bool> lost_{false};
  std::string name_;  // as given
  NetPortName where_;
  bool telnet_ = false;
  TelnetLink link_;
  std::vector<uint8_t> rx_;  // the line's bytes received and not yet read
  size_t rxHead_ = 0;
  std::string hint_;
  // Until the line is set, what the server sends of the line's data is
  // dropped as it comes, so that a server talking through the negotiation
  // cannot make it hold more and more.
  bool negotiating_ = false;
};

bool NetSerialPort::Fail(const std::string& hint) {
  hint_ = hint;
  DbgTrace("startdom(%s): %s\n", name_.c_str(), hint.c_str());
  DbgTrace("hComm == INVALID_HANDLE_VALUE");
  SocketClose(sock_.exchange(kNoSocket));
  return false;
}

void NetSerialPort::NoteLost(const char* call, const std::string& why) {
  if (lost_.exchange(true)) return;
  DbgTrace("%s(%s): %s: the port is gone\n", call, name_.c_str(), why.c_str());
  SocketClose(sock_.exchange(kNoSocket));
}

std::string NetSerialPort::LostHint(const std::string& at) const {
  if (link_.Garbled()) {
    return "The console server at " + at + " sent a telnet subnegotiation that does not end (over " +
           std::to_string(TelnetLink::kMaxSubnegotiationRun) +
           " bytes). Is it a telnet port with RFC 2217? A raw port is named socket://" + at + ".";
  }
  return "The console server at " + at + " closed the connection.";
}

bool NetSerialPort::Open(const PortAddress& where, bool) {
  lost_ = false;
  hint_.clear();
  rx_.clear();
  rxHead_ = 0;
  link_ = TelnetLink();
  name_ = where.device;
  DbgTrace("startdom--V1.4");
  DbgTrace("strComPort=%s", name_.c_str());
  if (!where.problem.empty()) return Fail(where.problem + ".");
  where_ = where.net;
  telnet_ = where_.kind == NetPortKind::kRfc2217;
  if (!Connect()) return false;
  DbgTrace("startdom--2");
  negotiating_ = true;
  const bool negotiated = !telnet_ || Negotiate();
  negotiating_ = false;
  if (!negotiated) return false;
  // What arrived before the line was ready is dropped, as a local port's
  // queues are flushed on opening.
  rx_.clear();
  rxHead_ = 0;
  DbgTrace("CBR_115200=%d", 115200);
  DbgTrace("startdom v2.3--OK");
  return true;
}

bool NetSerialPort::Connect() {
  const std::string at = NetEndpointText(where_);
  SocketHandle s = kNoSocket;
  std::string detail;
  switch (SocketConnect(where_.host, where_.port, kNetConnectTimeoutMs, &s, &detail)) {
    case ConnectResult::kConnected:
      sock_.store(s);
      DbgTrace("startdom: connected to %s\n", at.c_str());
      return true;
    case ConnectResult::kUnresolved:
      return Fail("The host name " + where_.host + " cannot be resolved (" + detail +
                  "). Check the name of the console server in " + name_ + ".");
    case ConnectResult::kRefused:
      return Fail("Nothing accepts connections at " + at +
                  " (connection refused). Check that the console server runs and serves "
                  "this port.");
    case ConnectResult::kTimedOut:
      return Fail("No connection to " + at + " within " +
                  std::to_string(kNetConnectTimeoutMs / 1000) +
                  " seconds. Check the address, the network and the firewall.");
    case ConnectResult::kFailed:
      break;
  }
  return Fail("No connection to " + at + ": " + detail + ".");
}

bool NetSerialPort::Negotiate() {
  const std::string at = NetEndpointText(where_);
  std::vector<uint8_t> wire;
  size_t sent = 0;
  link_.Start(&wire);
  if (!SendAll(wire, SystemSteadyMs() + kWriteTimeoutMs, &sent)) {
    return Fail("The console server at " + at + " closed the connection.");
  }
  int64_t deadline = SystemSteadyMs() + kNetAnswerTimeoutMs;
  while (link_.ComPort() == OptionState::kPending) {
    if (!Pump(deadline)) {
      if (lost_) return Fail(LostHint(at));
      return Fail("The console server at " + at +
                  " does not answer the request for the COM port option within " +
                  std::to_string(kNetAnswerTimeoutMs / 1000) +
                  " seconds. Is it a telnet port with RFC 2217? A raw port is named socket://" +
                  at + ".");
    }
  }
  if (link_.ComPort() == OptionState::kRefused) {
    return Fail("The console server at " + at +
                " refuses the COM port option (RFC 2217), so the line cannot be set to "
                "115200 8N1. Turn the option on in the server, or use a raw port "
                "(socket://) set to 115200 8N1 there.");
  }
  const std::vector<ComSetting>& settings = LineSettings();
  wire.clear();
  for (const ComSetting& s : settings) TelnetLink::Request(s, &wire);
  if (!SendAll(wire, SystemSteadyMs() + kWriteTimeoutMs, &sent)) {
    return Fail("The console server at " + at + " closed the connection.");
  }
  // The settings that must be confirmed first: once the last of them is, any
  // answer to the others has come too.
  std::vector<const ComSetting*> order;
  for (const ComSetting& s : settings) if (s.mustConfirm) order.push_back(&s);
  for (const ComSetting& s : settings) if (!s.mustConfirm) order.push_back(&s);
  for (const ComSetting* setting : order) {
    const ComSetting& s = *setting;
    uint32_t answer = 0;
    if (s.mustConfirm) {
      deadline = SystemSteadyMs() + kNetAnswerTimeoutMs;
      while (!link_.Answer(s, &answer)) {
        if (!Pump(deadline)) {
          if (lost_) return Fail(LostHint(at));
          return Fail("The console server at " + at + " does not confirm " + s.text +
                      " within " + std::to_string(kNetAnswerTimeoutMs / 1000) + " seconds.");
        }
      }
    } else if (!link_.Answer(s, &answer)) {
      // Answered after the last setting's answer, or not at all.
      DbgTrace("startdom: %s not confirmed by the server\n", s.text);
      continue;
    }
    if (answer != s.value) {
      return Fail("The console server at " + at + " cannot set " + s.text + " (it answered " +
                  std::to_string(answer) + ").");
    }
    DbgTrace("startdom: %s set\n", s.text);
  }
  return true;
}

bool NetSerialPort::Pump(int64_t deadline) {
  // A server that keeps talking must not keep a wait going past its end.
  const uint32_t left = SystemMsUntil(deadline);
  if (left == 0) return false;
  return PumpFor(left);
}

bool NetSerialPort::PumpFor(uint32_t ms) {
  switch (SocketWait(sock_.load(), false, ms)) {
    case SocketReady::kFailed:
      NoteLost("poll", "the socket failed");
      return false;
    case SocketReady::kTimedOut:
      return false;
    case SocketReady::kReady:
      break;
  }
  // Something arrived; the caller looks whether it was what it waits for.
  return Receive(nullptr);
}

bool NetSerialPort::Receive(size_t* got) {
  uint8_t buf[kReceiveChunk];
  size_t n = 0;
  std::string why;
  if (SocketReceive(sock_.load(), buf, sizeof buf, &n, &why) == SocketIo::kClosed) {
    NoteLost("recv", why);
    return false;
  }
  if (got) *got = n;
  if (n == 0) return true;
  if (rxHead_ == rx_.size() || rxHead_ > kReceiveChunk * 16) {
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rxHead_));
    rxHead_ = 0;
  }
  if (!telnet_) {
    rx_.insert(rx_.end(), buf, buf + n);
    return true;
  }
  std::vector<uint8_t> reply;
  link_.Receive(buf, n, &rx_, &reply);
  if (negotiating_) {
    rx_.clear();
    rxHead_ = 0;
  }
  if (link_.Garbled()) {
    NoteLost("recv", "a telnet subnegotiation that does not end");
    return false;
  }
  size_t sent = 0;
  if (!reply.empty() && !SendAll(reply, SystemSteadyMs() + kWriteTimeoutMs, &sent)) return !lost_;
  return true;
}

bool NetSerialPort::SendAll(const std::vector<uint8_t>& wire, int64_t deadline, size_t* sent) {
  *sent = 0;
  while (*sent < wire.size()) {
    size_t n = 0;
    std::string why;
    if (SocketSend(sock_.load(), wire.data() + *sent, wire.size() - *sent, &n, &why) ==
        SocketIo::kClosed) {
      NoteLost("send", why);
      return false;
    }
    *sent += n;
    if (*sent == wire.size()) break;
    // No room: wait for some, up to the deadline.
    if (SystemMsUntil(deadline) == 0) {
      DbgTrace("send(%s): %u of %u bytes within %u ms\n", name_.c_str(),
               static_cast<unsigned>(*sent), static_cast<unsigned>(wire.size()),
               kWriteTimeoutMs);
      return false;
    }
    if (SocketWait(sock_.load(), true, SystemMsUntil(deadline)) == SocketReady::kFailed) {
      NoteLost("poll", "the socket failed");
      return false;
    }
  }
  return true;
}

bool NetSerialPort::Read(uint8_t* buf, uint32_t count, uint32_t* read) {
  *read = 0;
  dwcomtestpoint = 101;
  dwcomtestpoint = 102;
  dwcomtestpoint = 103;
  bool result = true;
  if (Queued() == 0 && !Receive(nullptr)) {
    dwcomtestpoint = 104;
    DbgTrace("Error in communicatons--read 1\n");
    result = false;
  }
  const size_t n = std::min<size_t>(count, Queued());
  if (n > 0) {
    memcpy(buf, rx_.data() + rxHead_, n);
    rxHead_ += n;
    *read = static_cast<uint32_t>(n);
    result = true;
  }
  dwcomtestpoint = 109;
  dwcomtestpoint = 110;
  return result;
}

bool NetSerialPort::Write(const uint8_t* buf, uint32_t count, uint32_t* written) {
  *written = 0;
  dwcomtestpoint = 210;
  dwcomtestpoint = 211;
  std::vector<uint8_t> wire;
  if (telnet_) {
    TelnetLink::Escape(buf, count, &wire);
  } else {
    wire.assign(buf, buf + count);
  }
  size_t sent = 0;
  bool result = SendAll(wire, SystemSteadyMs() + kWriteTimeoutMs, &sent);
  if (!result) {
    dwcomtestpoint = 215;
    DbgTrace("Error in communicatons--write 2\n");
  }
  // How much of the caller's bytes went out: an escaped 0xFF counts once both
  // of its bytes are sent.
  uint32_t done = 0;
  size_t pos = 0;
  while (done < count) {
    const size_t width = telnet_ && buf[done] == telnet::kIac ? 2 : 1;
    if (pos + width > sent) break;
    pos += width;
    ++done;
  }
  if (sent > pos && !lost_) {
    // The time ran out between the two bytes of an escaped 0xFF. Left so, the
    // server would read the next byte written as a telnet command: the second
    // half goes out now, or the line is of no more use.
    const std::vector<uint8_t> rest{telnet::kIac};
    size_t restSent = 0;
    if (SendAll(rest, SystemSteadyMs() + kWriteTimeoutMs, &restSent)) {
      ++done;
    } else if (!lost_) {
      NoteLost("send", "an escaped 0xFF byte could not be completed");
    }
  }
  *written = done;
  dwcomtestpoint = 216;
  dwcomtestpoint = 217;
  return result;
}

void NetSerialPort::Purge() {
  rx_.clear();
  rxHead_ = 0;
  if (sock_.load() == kNoSocket) return;
  // What the system has received counts as received here: it is read and
  // dropped too. Bytes still on their way are not, as on a local port the
  // bytes still in a USB adapter are not.
  //
  // The server is not asked to purge its own buffers (PURGE-DATA). The
  // purge comes before every 12-character piece: awaiting the answer adds a
  // round trip to each piece, beside the one its "*" costs already; sent
  // without waiting, it stalls the "*" behind the server's Nagle and our
  // delayed acknowledgement (over ten times longer through a server without
  // TCP_NODELAY). Bytes already on their way would come through either way.
  for (int i = 0; i < kMaxPurgeReads; ++i) {
    size_t got = 0;
    if (!Receive(&got) || got == 0) break;
    rx_.clear();
    rxHead_ = 0;
  }
  rx_.clear();
  rxHead_ = 0;
}

bool NetSerialPort::WaitInput(uint32_t ms) {
  const int64_t deadline = SystemSteadyMs() + ms;
  for (bool first = true; Queued() == 0; first = false) {
    const uint32_t left = SystemMsUntil(deadline);
    if (!first && left == 0) return false;
    if (!PumpFor(left)) return false;
  }
  return true;
}

void NetSerialPort::Close() {
  lost_ = false;
  rx_.clear();
  rxHead_ = 0;
  SocketClose(sock_.exchange(kNoSocket));
}

}  // namespace

SerialBackend& NetSerialBackend() {
  static NetSerialPort port;
  return port;
}
