// Console commands besides the version query. Only IsSysUpAndRunning reads
// anything back; the other two are fixed sequences of lines and pauses.
#include "console/device.h"

#include <cstring>

#include "platform/report.h"
#include "platform/trace.h"
#include "platform/clock.h"
#include "serial/serial_port.h"

namespace {

// The two quote characters belong to the command; 30 characters in all.
constexpr char kRebootCmd[] = "enclosure -a mod -s \"reboot=1\"";
constexpr char kDefaultsCmd[] =
    "tavo1productdatawrite 0x6 0x80 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00";
// Re-prompts after the time-out before the console counts as gone.
constexpr uint32_t kMaxReprompts = 10;
constexpr uint32_t kPromptReadSize = 100;

}  // namespace

void RebootExpander() {
  PauseMs(200);
  WriteCom(" ");
  PauseMs(100);
  WriteCom(kRebootCmd);
  PauseMs(100);
  WriteCom(kRebootCmd);
  PauseMs(100);
  WriteCom(kRebootCmd);
  PauseMs(300);
}

void SetFirmwareDefaults() {
  PauseMs(200);
  WriteCom(" ");
  PauseMs(100);
  WriteCom(kDefaultsCmd);
  PauseMs(1000);
}

bool IsSysUpAndRunning(uint32_t timeout) {
  uint8_t buf[256];
  uint32_t reprompts = 1;
  PurgeCom();
  WriteCom(" ");
  WriteCom(" ");

  // The deadline is not moved by a re-prompt: once it has passed, every
  // turn prompts again until the re-prompts are used up.
  const int64_t start = NowSeconds();
  for (;;) {
    // A console behind a port that is gone cannot answer: no more prompts.
    if (IsComLost()) {
      DbgTrace("IsSysUpAndRunning: port lost\n");
      return false;
    }
    if (NowSeconds() - start > static_cast<int64_t>(timeout)) {
      PurgeCom();
      WriteCom(" ");
      WriteCom(" ");
      WriteCom(" ");
      if (reprompts > kMaxReprompts) return false;
      DbgTrace("Issuing(#%d) the cmd again\n", static_cast<int>(reprompts));
      ++reprompts;
    }
    // Keeps the elapsed-seconds display moving during a long wait.
    UpdateProgress(0);
    uint32_t n = 0;
    if (MyReadFile(buf, kPromptReadSize, &n) && n > 0) {
      DbgTrace("IsSysUpAndRunning: iBytesRead > 0");
      // Only a '>' within this one read counts; bytes are not kept across reads.
      if (memchr(buf, '>', n) != nullptr) return true;
    }
    PauseMs(1000);
  }
}
