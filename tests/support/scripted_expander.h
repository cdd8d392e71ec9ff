// An in-memory serial backend on the virtual clock: it records every write
// with its virtual time, and delivers replies that a test queues (directly or
// from a responder called on every write) at chosen virtual times.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "virtual_clock.h"

class ScriptedExpander : public SerialBackend {
 public:
  struct WriteRecord {
    int64_t ms;         // virtual time of the write
    std::string bytes;  // what was written in that one call
  };
  // Called after every write with the bytes of that write.
  using Responder = std::function<void(ScriptedExpander& exp, const std::string& written)>;

  explicit ScriptedExpander(VirtualClock& clock) : clock_(clock) {}

  // Queues `bytes` to arrive `delayMs` after now (all at once, one arrival).
  void Reply(const std::string& bytes, int64_t delayMs = 0);
  void SetResponder(Responder r) { responder_ = std::move(r); }
  // Make Open fail (device missing); Read/Write fail (port error).
  void SetOpenResult(bool ok) { openOk_ = ok; }
  void SetReadFails(bool fails) { readFails_ = fails; }
  void SetWriteFails(bool fails) { writeFails_ = fails; }
  // The device goes away (the cable is pulled): from now on reads and writes
  // fail, nothing arrives and the port reports itself lost, until it is
  // closed.
  void Vanish() { lost_ = true; }

  // Everything written, in order, one record per write call.
  std::vector<WriteRecord> writes() const;
  // All written bytes joined.
  std::string written() const;
  void ClearWrites();
  int purges() const { return purges_; }
  int opens() const { return opens_; }
  // Bytes queued but not yet read (arrived or not).
  size_t pending() const;

  // SerialBackend
  bool Open(const PortAddress& where, bool eventChar) override;
  bool IsOpen() override { return open_; }
  bool Read(uint8_t* buf, uint32_t count, uint32_t* read) override;
  bool Write(const uint8_t* buf, uint32_t count, uint32_t* written) override;
  void Purge() override;
  bool WaitInput(uint32_t ms) override;
  void Close() override {
    open_ = false;
    lost_ = false;
  }
  bool IsLost() override { return open_ && lost_; }
  // A scripted device neither fails to open for a reason worth telling nor
  // sits behind a slow adapter; tests that need either override these.
  std::string OpenFailureHint() override { return std::string(); }
  std::string LatencyWarning(bool) override { return std::string(); }

  int32_t lastPort() const { return lastPort_; }

 private:
  struct Arrival {
    int64_t ms;
    uint8_t byte;
  };
  VirtualClock& clock_;
  Responder responder_;
  mutable std::mutex mu_;
  std::deque<Arrival> inbox_;
  std::vector<WriteRecord> writes_;
  bool open_ = false;
  bool openOk_ = true;
  bool readFails_ = false;
  bool writeFails_ = false;
  std::atomic<bool> lost_{false};
  int purges_ = 0;
  int opens_ = 0;
  int32_t lastPort_ = 0;
};

// Installs a ScriptedExpander on a ScopedVirtualClock, opened on COM1, and
// restores the platform backend and real clock afterwards.
class ScriptedPort {
 public:
  ScriptedPort() : exp_(vclock_.clock()) {
    SetSerialBackend(&exp_);
    exp_.Open(ComPortAddress(1), false);
  }
  ~ScriptedPort() { SetSerialBackend(nullptr); }
  ScriptedExpander& exp() { return exp_; }
  VirtualClock& clock() { return vclock_.clock(); }

 private:
  ScopedVirtualClock vclock_;
  ScriptedExpander exp_;
};
