#include "serial/usb_latency.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

LatencyVerdict DecideLatency(const UsbLatency& found, bool canLower) {
  if (!found.usb || found.timerMs < 0 || found.timerMs <= kMaxGoodLatencyMs) {
    return LatencyVerdict::kLeaveAlone;
  }
  return canLower ? LatencyVerdict::kLower : LatencyVerdict::kWarn;
}

int ReadLatencyTimerFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return -1;
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty() || text.size() > 6) return -1;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
  }
  return std::atoi(text.c_str());
}

std::string LatencyTuner::Warning(bool brief) const {
  return LatencyWarning(device_, highMs_, kOnWindows, brief);
}

std::string LatencyWarning(const std::string& port, int timerMs, bool onWindows, bool brief) {
  if (timerMs <= kMaxGoodLatencyMs) return std::string();
  if (brief) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "Slow USB adapter (latency timer %d ms); set it to 1 ms: %s.", timerMs,
                  onWindows ? "Device Manager, port settings, Advanced"
                            : ("setserial " + port + " low_latency").c_str());
    return text;
  }
  char head[200];
  std::snprintf(head, sizeof head,
                "The USB serial adapter of %s holds received bytes for %d ms (its latency "
                "timer): downloads will be many times slower than the line allows. ",
                port.c_str(), timerMs);
  if (onWindows) {
    return std::string(head) +
           "Set it to 1 ms: Device Manager, Ports (COM & LPT), the port's Properties, Port "
           "Settings, Advanced, Latency Timer (msec).";
  }
  return std::string(head) + "Set it to 1 ms: sudo setserial " + port +
         " low_latency, or for good with a udev rule such as ACTION==\"add\", "
         "SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\".";
}
