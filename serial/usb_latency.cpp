#include "serial/usb_latency.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace {

std::mutex g_rootMutex;
std::string& RootText() {
  static std::string root = kUsbLatencyRoot;
  return root;
}

}  // namespace

void SetUsbLatencyRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  RootText() = root;
}

std::string UsbLatencyRoot() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  return RootText();
}

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

std::string EventCharValue(char c) {
  return std::to_string(0x100 | static_cast<unsigned char>(c));
}

std::string LatencyTuner::Warning(bool brief) const {
  return LatencyWarning(device_, highMs_, kOnWindows, brief, eventCharOn_);
}

std::string LatencyWarning(const std::string& port, int timerMs, bool onWindows, bool brief,
                           bool eventCharOn) {
  if (timerMs <= kMaxGoodLatencyMs) return std::string();
  if (brief) {
    char text[200];
    std::snprintf(text, sizeof text, "Slow USB adapter (latency timer %d ms); set it to 1 ms: %s%s.",
                  timerMs,
                  onWindows ? "Device Manager, port settings, Advanced"
                            : ("setserial " + port + " low_latency").c_str(),
                  eventCharOn ? "" : ", or eventchar=1 in fwdl.ini");
    return text;
  }
  char head[200];
  std::snprintf(head, sizeof head,
                "The USB serial adapter of %s holds received bytes for %d ms (its latency "
                "timer): downloads will be many times slower than the line allows. ",
                port.c_str(), timerMs);
  return std::string(head) + LatencyRemedy(port, onWindows, eventCharOn);
}

std::string LatencyRemedy(const std::string& port, bool onWindows, bool eventCharOn) {
  std::string remedy;
  if (onWindows) {
    remedy = "Set it to 1 ms (administrator rights): Device Manager, Ports (COM & LPT), the "
             "port's Properties, Port Settings, Advanced, Latency Timer (msec).";
  } else {
    remedy = "Set it to 1 ms: sudo setserial " + port +
             " low_latency, or for good with a udev rule such as ACTION==\"add\", "
             "SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\".";
  }
  if (eventCharOn) {
    remedy += " The adapter was asked to send each \"*\" at once (eventchar=1); each packet's "
              "status reply still waits for the timer.";
  } else if (onWindows) {
    remedy += " Without administrator rights: eventchar=1 in fwdl.ini (--eventchar 1 for "
              "tarnwick-cli) asks the adapter to send each \"*\" at once, where its driver "
              "supports an event character.";
  } else {
    remedy += " Or eventchar=1 in fwdl.ini (--eventchar 1 for tarnwick-cli) asks the adapter "
              "to send each \"*\" at once, where its event_char attribute may be written.";
  }
  return remedy;
}
