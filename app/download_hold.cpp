#include "app/download_hold.h"

#include "app/worker.h"
#include "config/settings.h"
#include "platform/shutdown_hold.h"
#include "serial/serial_port.h"

namespace {

// Never destroyed at exit: a worker still running when the dialog ends may
// drop it then. The system lets the lock go with the process.
ShutdownHold* g_hold = nullptr;

}  // namespace

void HoldHostWhileDownloading(bool downloading) {
  delete g_hold;
  g_hold = nullptr;
  if (!downloading) return;
  const std::string port = ComPortName(static_cast<int32_t>(my_cfg.comport));
  g_hold = new ShutdownHold(HostHoldReason({port}));
}

bool HostHeldForDownload() { return g_hold && g_hold->held(); }
