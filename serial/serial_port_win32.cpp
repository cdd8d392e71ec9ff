// Placeholder until the termios backend lands.
#include "serial/serial_port.h"

namespace {
class NullBackend : public SerialBackend {
 public:
  bool Open(int32_t) override { return false; }
  bool IsOpen() override { return false; }
  bool Read(uint8_t*, uint32_t, uint32_t*) override { return false; }
  bool Write(const uint8_t*, uint32_t, uint32_t*) override { return false; }
  void Purge() override {}
  bool WaitInput(uint32_t) override { return false; }
  void Close() override {}
};
}  // namespace

SerialBackend& PlatformSerialBackend() {
  static NullBackend b;
  return b;
}
