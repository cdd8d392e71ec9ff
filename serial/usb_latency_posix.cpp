#include "serial/usb_latency.h"

#include <limits.h>
#include <linux/serial.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/trace.h"

const bool kOnWindows = false;
const char kUsbLatencyRoot[] = "/sys";

namespace {

// The kernel's name of a tty device: the last part of its real path.
std::string TtyName(const std::string& device) {
  char real[PATH_MAX];
  std::string path = realpath(device.c_str(), real) ? std::string(real) : device;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The port's device directory in sysfs, where the adapter's driver keeps its
// attributes.
std::string AdapterDir(const std::string& root, const std::string& device) {
  return root + "/class/tty/" + TtyName(device) + "/device";
}

// Writes `value` to a sysfs attribute; false with errno's text in *error.
bool WriteAttribute(const std::string& path, const std::string& value, std::string* error) {
  errno = 0;
  std::ofstream out(path);
  if (out << value << std::flush) return true;
  *error = errno != 0 ? strerror(errno) : "write failed";
  return false;
}

}  // namespace

UsbLatency InspectUsbLatency(const std::string& root, const std::string& device) {
  UsbLatency found;
  const std::string name = TtyName(device);
  if (name.empty()) return found;
  // /sys/class/tty/<name>/device leads into the bus the port hangs off; a USB
  // adapter's path runs through a usb device. Pseudo-terminals have no
  // device link, built-in UARTs one into platform or pnp.
  const std::string deviceLink = AdapterDir(root, device);
  char real[PATH_MAX];
  if (realpath(deviceLink.c_str(), real) == nullptr) return found;
  found.usb = std::strstr(real, "/usb") != nullptr;
  if (!found.usb) return found;
  found.timerMs = ReadLatencyTimerFile(deviceLink + "/latency_timer");
  found.timerWritable = access((deviceLink + "/latency_timer").c_str(), W_OK) == 0;
  // The attribute is write-only (mode 0200, root's unless a udev rule says
  // otherwise): whether it exists and may be written is all there is to know.
  const std::string eventChar = deviceLink + "/event_char";
  found.eventChar = access(eventChar.c_str(), F_OK) == 0;
  found.eventCharWritable = found.eventChar && access(eventChar.c_str(), W_OK) == 0;
  return found;
}

std::string LatencyTuner::OnOpen(intptr_t handle, const std::string& root,
                                 const std::string& device, bool eventChar) {
  const int fd = static_cast<int>(handle);
  oldFlags_ = -1;
  timerPath_.clear();
  eventCharPath_.clear();
  eventCharOn_ = false;
  highMs_ = -1;
  device_ = device;
  UsbLatency found = InspectUsbLatency(root, device);
  if (!found.usb) return std::string();
  DbgTrace("USB serial adapter on %s: latency timer %d ms\n", device.c_str(), found.timerMs);
  if (eventChar) {
    const std::string path = AdapterDir(root, device) + "/event_char";
    std::string error;
    if (!found.eventChar) {
      error = "no event_char attribute";
    } else if (!found.eventCharWritable) {
      error = "event_char not writable";
    } else if (WriteAttribute(path, EventCharValue('*'), &error)) {
      eventCharPath_ = path;
      eventCharOn_ = true;
    }
    if (eventCharOn_) {
      DbgTrace("USB serial adapter on %s: event character set to '*'\n", device.c_str());
    } else {
      DbgTrace("USB serial adapter on %s: event character not set: %s\n", device.c_str(),
               error.c_str());
    }
  }
  // Low latency for the port: the driver of the common adapters maps it to a
  // 1 ms timer. Asked for whatever the timer reads, it costs nothing.
  serial_struct ss;
  if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
    if (!(ss.flags & ASYNC_LOW_LATENCY)) {
      const int old = ss.flags;
      ss.flags |= ASYNC_LOW_LATENCY;
      if (ioctl(fd, TIOCSSERIAL, &ss) == 0) {
        oldFlags_ = old;
        DbgTrace("USB serial adapter on %s: low latency set\n", device.c_str());
      } else {
        DbgTrace("USB serial adapter on %s: TIOCSSERIAL: %s\n", device.c_str(), strerror(errno));
      }
    }
  }
  const std::string timer = AdapterDir(root, device) + "/latency_timer";
  int now = ReadLatencyTimerFile(timer);
  if (DecideLatency(UsbLatency{true, now, -1}, true) == LatencyVerdict::kLower) {
    std::ofstream out(timer);
    if (out << "1" << std::flush) {
      timerPath_ = timer;
      oldTimer_ = now;
    }
    now = ReadLatencyTimerFile(timer);
    DbgTrace("USB serial adapter on %s: latency timer %s, now %d ms\n", device.c_str(),
             timerPath_.empty() ? "not writable" : "set to 1", now);
  }
  if (DecideLatency(UsbLatency{true, now, -1}, false) != LatencyVerdict::kWarn) return std::string();
  highMs_ = now;
  std::string warning = Warning(false);
  DbgTrace("%s\n", warning.c_str());
  return warning;
}

void LatencyTuner::OnClose(intptr_t handle) {
  const int fd = static_cast<int>(handle);
  if (oldFlags_ >= 0) {
    serial_struct ss;
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
      ss.flags = oldFlags_;
      ioctl(fd, TIOCSSERIAL, &ss);
    }
    oldFlags_ = -1;
  }
  if (!timerPath_.empty()) {
    std::ofstream out(timerPath_);
    out << oldTimer_;
    timerPath_.clear();
  }
  if (!eventCharPath_.empty()) {
    std::string error;
    if (WriteAttribute(eventCharPath_, "0", &error)) {
      DbgTrace("USB serial adapter on %s: event character off again\n", device_.c_str());
    } else {
      DbgTrace("USB serial adapter on %s: event character not turned off: %s\n",
               device_.c_str(), error.c_str());
    }
    eventCharPath_.clear();
  }
}
