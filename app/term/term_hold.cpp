#include "app/term/term_hold.h"

#include <memory>

#include "app/worker.h"
#include "config/settings.h"
#include "platform/shutdown_hold.h"
#include "serial/serial_port.h"

namespace {

std::unique_ptr<ShutdownHold> g_hold;

}  // namespace

void HoldHostWhileDownloading(bool downloading) {
  if (!downloading) {
    g_hold.reset();
    return;
  }
  char port[260];
  ComPortName(static_cast<int32_t>(my_cfg.comport), port, sizeof port);
  g_hold.reset(new ShutdownHold(HostHoldReason({port})));
}

bool HostHeldForDownload() { return g_hold && g_hold->held(); }
