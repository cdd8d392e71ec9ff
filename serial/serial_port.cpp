// The portable half of the serial port: the facade over the backend, the
// console line writer and the send-then-read exchange. The dwcomtestpoint
// values and trace texts here are read by field support from the markers
// written on Quit: keep their numbers and their order.
#include "serial/serial_port.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/trace.h"
#include "serial/net_port.h"
#include "serial/net_port_name.h"

namespace {

std::atomic<SerialBackend*> g_backend{nullptr};

// Serialises every port operation, so that CloseCom on the dialog thread can
// never close the device under a read or write of the worker. Held only for
// one backend call (a wait for input is bounded by its caller), never across
// the pauses of WriteCom.
std::mutex& PortMutex() {
  static std::mutex m;
  return m;
}

// CloseCom calls waiting for the port. While one waits, WaitComInput leaves
// the device alone: a worker polling in a tight wait-then-read loop would
// otherwise hold the mutex nearly all the time and could keep the closer
// out for as long as it keeps polling.
std::atomic<int> g_closeWaiting{0};

// Passes every call to the local or the network port, chosen anew on each
// Open from the address.
class ChoosingBackend : public SerialBackend {
 public:
  bool Open(const PortAddress& where, bool eventChar) override {
    chosen_ = where.kind == PortAddress::Kind::kNet ? &NetSerialBackend() : &LocalSerialBackend();
    return chosen_->Open(where, eventChar);
  }
  bool IsOpen() override { return Chosen().IsOpen(); }
  bool Read(uint8_t* buf, uint32_t count, uint32_t* read) override {
    return Chosen().Read(buf, count, read);
  }
  bool Write(const uint8_t* buf, uint32_t count, uint32_t* written) override {
    return Chosen().Write(buf, count, written);
  }
  void Purge() override { Chosen().Purge(); }
  bool WaitInput(uint32_t ms) override { return Chosen().WaitInput(ms); }
  void Close() override { Chosen().Close(); }
  bool IsLost() override { return Chosen().IsLost(); }
  std::string OpenFailureHint() override { return Chosen().OpenFailureHint(); }
  std::string LatencyWarning(bool brief) override { return Chosen().LatencyWarning(brief); }

 private:
  SerialBackend& Chosen() { return chosen_ ? *chosen_ : LocalSerialBackend(); }
  SerialBackend* chosen_ = nullptr;
};

SerialBackend& Backend() {
  SerialBackend* b = g_backend.load(std::memory_order_acquire);
  return b ? *b : PlatformSerialBackend();
}

}  // namespace

SerialBackend& PlatformSerialBackend() {
  static ChoosingBackend chooser;
  return chooser;
}

void SetSerialBackend(SerialBackend* backend) {
  g_backend.store(backend, std::memory_order_release);
}

PortAddress NetPortAddress(const std::string& text) {
  PortAddress a;
  a.kind = PortAddress::Kind::kNet;
  a.device = text;
  a.display = text;
  if (!ParseNetPortName(text, &a.net, &a.problem)) a.net = NetPortName();
  return a;
}

PortAddress DevicePortAddress(const std::string& path) {
  PortAddress a;
  a.kind = PortAddress::Kind::kDevice;
  a.device = path;
  a.display = path;
  return a;
}

PortAddress ComPortAddress(int32_t port) {
  PortAddress a;
  a.comport = port;
  a.display = "COM " + std::to_string(port);
  return a;
}

PortAddress PortFromSettings(int32_t port) {
  if (IsNetPortName(my_cfg.device)) return NetPortAddress(my_cfg.device);
  if (my_cfg.device[0] != '\0' && LocalDevicePaths()) return DevicePortAddress(my_cfg.device);
  return ComPortAddress(port);
}

std::string ComPortName(int32_t port) { return PortFromSettings(port).display; }

bool startdom(int32_t port) { return OpenPort(PortFromSettings(port)); }

bool OpenPort(const PortAddress& where) {
  std::lock_guard<std::mutex> lock(PortMutex());
  if (Backend().IsOpen()) return true;
  return Backend().Open(where, my_cfg.eventchar != 0);
}

bool is_open() {
  std::lock_guard<std::mutex> lock(PortMutex());
  return Backend().IsOpen();
}

namespace {

// Reads and drops what has arrived, at most kMaxDropReads reads so that a
// console that never stops talking cannot hold the writer here.
void DropArrivedInput() {
  constexpr int kMaxDropReads = 64;
  uint8_t buf[512];
  uint32_t dropped = 0;
  for (int i = 0; i < kMaxDropReads; ++i) {
    uint32_t n = 0;
    if (!MyReadFile(buf, sizeof buf, &n) || n == 0) break;
    dropped += n;
  }
  if (dropped > 0) DbgTrace("WriteCom: %d earlier bytes dropped\n", static_cast<int>(dropped));
}

void WriteLine(const char* text, bool dropEarlierInput, bool pauseAfter) {
  if (!is_open()) {
    DbgTrace("WriteCom (!is_open)");
    return;
  }
  if (IsComLost()) {
    DbgTrace("WriteCom (port lost)");
    return;
  }
  if (text == nullptr) text = "";
  DbgTrace("WriteCom V1.4(%s)", text);
  uint32_t written = 0;
  for (const char* p = text; *p; ++p) {
    // A failed byte does not stop the line.
    MyWriteFile(reinterpret_cast<const uint8_t*>(p), 1, &written);
    PauseMs(10);
  }
  if (dropEarlierInput) DropArrivedInput();
  // The console ends a line on line feeds only; three of them, never a CR.
  static const uint8_t kLineEnd[3] = {0x0A, 0x0A, 0x0A};
  MyWriteFile(kLineEnd, 3, &written);
  if (pauseAfter) PauseMs(500);
}

}  // namespace

void WriteCom(const char* text) { WriteLine(text, false, true); }

void WriteComForReply(const char* text) { WriteLine(text, true, true); }

void WriteComForTimedReply(const char* text) { WriteLine(text, true, false); }

bool MyReadFile(uint8_t* buf, uint32_t count, uint32_t* read) {
  std::lock_guard<std::mutex> lock(PortMutex());
  *read = 0;
  if (Backend().IsLost()) return false;
  return Backend().Read(buf, count, read);
}

bool MyWriteFile(const uint8_t* buf, uint32_t count, uint32_t* written) {
  std::lock_guard<std::mutex> lock(PortMutex());
  *written = 0;
  if (Backend().IsLost()) return false;
  return Backend().Write(buf, count, written);
}

bool SendAndProcessCmd(uint8_t* readBuf, uint32_t readCount, const uint8_t* writeBuf,
                       uint32_t writeCount) {
  if (!is_open()) return false;
  if (writeBuf != nullptr && writeCount != 0) {
    dwcomtestpoint = 1;
    uint32_t written = 0;
    bool ok = MyWriteFile(writeBuf, writeCount, &written);
    dwcomtestpoint = 2;
    if (!ok) {
      DbgTrace("MyWriteFile return false");
      return false;
    }
  }
  if (readBuf != nullptr && readCount > 0) {
    dwcomtestpoint = 3;
    memset(readBuf, 0, readCount);
    dwcomtestpoint = 4;
    uint32_t got = 0;
    bool ok = MyReadFile(readBuf, readCount, &got);
    dwcomtestpoint = 5;
    if (!ok) {
      DbgTrace("MyReadFile return false");
      return false;
    }
  }
  return true;
}

void PurgeCom() {
  std::lock_guard<std::mutex> lock(PortMutex());
  Backend().Purge();
}

void CloseCom() {
  DbgTrace("CloseCom called");
  g_closeWaiting.fetch_add(1);
  {
    std::lock_guard<std::mutex> lock(PortMutex());
    Backend().Close();
  }
  g_closeWaiting.fetch_sub(1);
}

bool WaitComInput(uint32_t ms) {
  if (g_closeWaiting.load() == 0) {
    std::lock_guard<std::mutex> lock(PortMutex());
    if (Backend().IsOpen() && !Backend().IsLost()) return Backend().WaitInput(ms);
  }
  // Closed, closing or lost: nothing will arrive; just let the time pass, so
  // that a loop which does not ask IsComLost still cannot spin.
  PauseMs(ms);
  return false;
}

std::string ComLatencyWarning(bool brief) {
  std::lock_guard<std::mutex> lock(PortMutex());
  return Backend().LatencyWarning(brief);
}

bool IsComLost() {
  std::lock_guard<std::mutex> lock(PortMutex());
  return Backend().IsOpen() && Backend().IsLost();
}

std::string ComOpenFailureHint() {
  std::lock_guard<std::mutex> lock(PortMutex());
  return Backend().OpenFailureHint();
}
