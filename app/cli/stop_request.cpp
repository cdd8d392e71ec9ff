#include "app/cli/stop_request.h"

#include <atomic>

#include "image/fw_image.h"
#include "platform/report.h"

namespace {
// std::atomic<uint32_t> and <bool> are lock-free on every target we build,
// which makes them safe to touch from a signal handler.
std::atomic<bool> g_stopAccepted{false};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "flags must be lock-free");
static_assert(std::atomic<bool>::is_always_lock_free, "flags must be lock-free");
}  // namespace

const char kStoppedCheckText[] = "Stopped (Ctrl+C or a signal); no firmware was written.";

const char kStopRefusedText[] = "Unable to quit, bootloader image download is in progress!";

bool DecideStopRequest() {
  if (g_bBootLoaderInProgress.load() != 0) return false;
  g_bStopDl = 1;
  g_stopAccepted = true;
  return true;
}

bool StopWasRequested() { return g_stopAccepted.load(); }

void CatchStopRequests(StopNotify notify) {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  InstallStopHandler(DecideStopRequest, notify);
}
