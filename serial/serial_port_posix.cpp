// The serial port on Linux: a termios device opened non-blocking and locked
// for this process alone, and refused while another program has it open.
//
// COM<n> maps to /dev/ttyS<n-1>; a device address names the device itself
// (a USB adapter, a pseudo-terminal of the simulator).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/trace.h"
#include "serial/port_holders.h"
#include "serial/serial_port.h"
#include "serial/usb_latency.h"

namespace {

// A write must be finished by then, whatever its length, as on Windows.
const int kWriteTimeoutMs = 500;

// Where opening failed, for the hint shown to the user.
enum class OpenStep { kNone, kOpen, kLock, kHeld };

// Errors with which a terminal answers once its device has gone: the far end
// of a pseudo-terminal closed, a USB adapter pulled (its tty is hung up).
bool DeviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

// True when poll flags a hang-up or an error on `fd` and no input is left to
// read: bytes that came before the hang-up still count as input.
bool HungUp(int fd, short revents) {
  if (!(revents & (POLLHUP | POLLERR | POLLNVAL))) return false;
  int queued = 0;
  return !(ioctl(fd, FIONREAD, &queued) == 0 && queued > 0);
}

class PosixSerialPort : public SerialBackend {
 public:
  bool Open(const PortAddress& where, bool eventChar) override;
  // A lost port stays open, in the facade's sense, until Close.
  bool IsOpen() override { return fd_.load() >= 0 || lost_.load(); }
  bool Read(uint8_t* buf, uint32_t count, uint32_t* read) override;
  bool Write(const uint8_t* buf, uint32_t count, uint32_t* written) override;
  void Purge() override;
  bool WaitInput(uint32_t ms) override;
  void Close() override;
  bool IsLost() override { return lost_.load(); }
  std::string OpenFailureHint() override;
  std::string LatencyWarning(bool brief) override { return tuner_.Warning(brief); }

 private:
  // Marks the port lost, tracing the first cause only, and lets go of the
  // device at once: a USB adapter plugged in again gets its old name back
  // only once nobody holds the old one open.
  void NoteLost(const char* call, const char* why);
  // A read found nothing: asks poll, without waiting, whether the line hung
  // up. A hung-up tty reads as empty, just like a silent one.
  void CheckHangUp(int fd);
  bool Configure(int fd);
  // Looks for other processes that have the device open and traces each.
  // True (and the holders kept for the hint) if there is any.
  bool FindHolders();
  // The device, blocked until every byte is queued or the deadline passes.
  bool WriteAll(int fd, const uint8_t* buf, uint32_t count, uint32_t* written);

  std::atomic<int> fd_{-1};
  std::atomic<bool> lost_{false};
  char path_[260] = "";
  OpenStep failedStep_ = OpenStep::kNone;
  int failedErrno_ = 0;
  std::vector<PortHolder> holders_;  // who held the device when kHeld
  LatencyTuner tuner_;
};

void DevicePath(const PortAddress& where, char* out, size_t size) {
  if (where.kind == PortAddress::Kind::kComNumber) {
    snprintf(out, size, "/dev/ttyS%d", static_cast<int>(where.comport) - 1);
  } else {
    snprintf(out, size, "%s", where.device.c_str());
  }
}

void PosixSerialPort::NoteLost(const char* call, const char* why) {
  if (lost_.exchange(true)) return;
  DbgTrace("%s(%s): %s: the port is gone\n", call, path_, why);
  int fd = fd_.exchange(-1);
  if (fd >= 0) close(fd);
}

void PosixSerialPort::CheckHangUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) == 1 && HungUp(fd, p.revents)) NoteLost("poll", "hang-up");
}

bool PosixSerialPort::Open(const PortAddress& where, bool eventChar) {
  lost_ = false;
  failedStep_ = OpenStep::kNone;
  failedErrno_ = 0;
  holders_.clear();
  DbgTrace("startdom--V1.4");
  DevicePath(where, path_, sizeof path_);
  DbgTrace("strComPort=%s", path_);

  // O_NONBLOCK: neither the open (modem lines) nor any read may wait.
  int fd = open(path_, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failedStep_ = OpenStep::kOpen;
    failedErrno_ = errno;
    DbgTrace("open(%s): %s\n", path_, strerror(failedErrno_));
    DbgTrace("hComm == INVALID_HANDLE_VALUE");
    return false;
  }
  // Exclusive use: the advisory lock keeps out other programs that lock
  // (a second tarnwick, terminal programs), TIOCEXCL every other opener
  // without privileges.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    failedStep_ = OpenStep::kLock;
    failedErrno_ = errno;
    DbgTrace("flock(%s): %s\n", path_, strerror(failedErrno_));
    if (isatty(fd) && FindHolders()) failedStep_ = OpenStep::kHeld;
    DbgTrace("hComm == INVALID_HANDLE_VALUE");
    close(fd);
    return false;
  }
  ioctl(fd, TIOCEXCL);
  // Lock and exclusive mode keep out whoever comes from now on; a program
  // that opened the device before us would still read half of every reply.
  // So the port is refused while anyone else has it open, before a byte is
  // written or a setting changed. Only a terminal counts: what else opens
  // (/dev/null, held by half the system) fails as no serial port below.
  if (isatty(fd) && FindHolders()) {
    failedStep_ = OpenStep::kHeld;
    DbgTrace("hComm == INVALID_HANDLE_VALUE");
    // Exclusive mode belongs to the device, not to our descriptor: it would
    // outlive this close while the other program keeps the device open.
    ioctl(fd, TIOCNXCL);
    close(fd);
    return false;
  }
  fd_.store(fd);

  DbgTrace("startdom--2");
  tcflush(fd, TCIOFLUSH);
  if (!Configure(fd)) return false;
  tuner_.OnOpen(fd, UsbLatencyRoot(), path_, eventChar);
  return true;
}

bool PosixSerialPort::FindHolders() {
  std::vector<PortHolder> hidden;
  holders_ = FindPortHolders("/proc", path_, &hidden);
  for (const PortHolder& h : holders_) {
    DbgTrace("startdom: %s is in use by %s (process %d)\n", path_, h.name.c_str(), h.pid);
  }
  // It runs as root: a user's process cannot see what it holds, yet it is
  // the usual one to probe a new adapter.
  for (const PortHolder& h : hidden) {
    if (h.name == "ModemManager") {
      DbgTrace("startdom: ModemManager (process %d) runs; its open files cannot be seen\n",
               h.pid);
    }
  }
  return !holders_.empty();
}

bool PosixSerialPort::Configure(int fd) {
  DbgTrace("CBR_115200=%d", 115200);
  termios tio;
  if (tcgetattr(fd, &tio) != 0) {
    DbgTrace("tcgetattr(%s): %s\n", path_, strerror(errno));
    DbgTrace("Couldn't set the dcb for the serial port: SetCommState");
    return false;
  }
  // Raw 8N1: no echo, no line editing, no CR/LF translation, no flow control,
  // every byte value passed through.
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    DbgTrace("tcsetattr(%s): %s\n", path_, strerror(errno));
    DbgTrace("Couldn't set the dcb for the serial port: SetCommState");
    return false;
  }
  // The expander's console wants DTR and RTS up. Pseudo-terminals and some
  // adapters have no modem lines; that is no reason to refuse the port.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
    DbgTrace("TIOCMBIS(%s): %s\n", path_, strerror(errno));
  }
  DbgTrace("startdom v2.3--OK");
  return true;
}

bool PosixSerialPort::Read(uint8_t* buf, uint32_t count, uint32_t* read) {
  *read = 0;
  dwcomtestpoint = 101;
  dwcomtestpoint = 102;
  dwcomtestpoint = 103;
  int fd = fd_.load();
  ssize_t n;
  do {
    n = ::read(fd, buf, count);
  } while (n < 0 && errno == EINTR);
  bool result = true;
  if (n > 0) {
    *read = static_cast<uint32_t>(n);
  } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
    int err = errno;
    dwcomtestpoint = 104;
    if (DeviceGone(err)) {
      NoteLost("read", strerror(err));
    } else {
      DbgTrace("read(%s): %s\n", path_, strerror(err));
    }
    DbgTrace("Error in communicatons--read 1\n");
    result = false;
  } else {
    CheckHangUp(fd);
    result = !lost_.load();
  }
  dwcomtestpoint = 109;
  dwcomtestpoint = 110;
  return result;
}

bool PosixSerialPort::Write(const uint8_t* buf, uint32_t count, uint32_t* written) {
  *written = 0;
  dwcomtestpoint = 210;
  dwcomtestpoint = 211;
  bool result = WriteAll(fd_.load(), buf, count, written);
  dwcomtestpoint = 216;
  dwcomtestpoint = 217;
  return result;
}

bool PosixSerialPort::WriteAll(int fd, const uint8_t* buf, uint32_t count,
                               uint32_t* written) {
  const int64_t deadline = SystemSteadyMs() + kWriteTimeoutMs;
  bool waited = false;
  while (*written < count) {
    ssize_t n = ::write(fd, buf + *written, count - *written);
    if (n > 0) {
      *written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      int err = errno;
      if (DeviceGone(err)) {
        NoteLost("write", strerror(err));
      } else {
        DbgTrace("write(%s): %s\n", path_, strerror(err));
      }
      if (!waited) {
        dwcomtestpoint = 213;
        DbgTrace("Error in communicatons--write 1\n");
      } else {
        dwcomtestpoint = 215;
        DbgTrace("Error in communicatons--write 2\n");
      }
      return false;
    }
    // The output queue is full: wait for room, up to the write's deadline.
    if (!waited) {
      waited = true;
      dwcomtestpoint = 213;
      dwcomtestpoint = 214;
    }
    if (SystemMsUntil(deadline) == 0) {
      dwcomtestpoint = 215;
      DbgTrace("write(%s): %u of %u bytes within %d ms\n", path_, *written, count,
               kWriteTimeoutMs);
      DbgTrace("Error in communicatons--write 2\n");
      return false;
    }
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, SystemMsUntil(deadline));
  }
  return true;
}

void PosixSerialPort::Purge() {
  int fd = fd_.load();
  if (fd >= 0) tcflush(fd, TCIOFLUSH);
}

bool PosixSerialPort::WaitInput(uint32_t ms) {
  int fd = fd_.load();
  const int64_t deadline = SystemSteadyMs() + ms;
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, SystemMsUntil(deadline));
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return false;
  if (!(p.revents & (POLLHUP | POLLERR | POLLNVAL))) return (p.revents & POLLIN) != 0;
  if (!HungUp(fd, p.revents)) return true;
  // Hung up (the other end of a pseudo-terminal closed, an adapter unplugged):
  // the device will not come back under this descriptor, so there is nothing
  // to wait for. From now on the facade no longer asks the device.
  NoteLost("poll", "hang-up");
  return false;
}

void PosixSerialPort::Close() {
  lost_ = false;
  int fd = fd_.exchange(-1);
  if (fd < 0) return;
  // Dropping queued output first keeps close() from waiting for it to drain.
  tcflush(fd, TCIOFLUSH);
  tuner_.OnClose(fd);
  ioctl(fd, TIOCNXCL);
  close(fd);
}

std::string PosixSerialPort::OpenFailureHint() {
  char text[520];
  text[0] = '\0';
  if (failedStep_ == OpenStep::kNone) return std::string();
  if (failedStep_ == OpenStep::kHeld) return HeldPortHint(holders_);
  if (failedErrno_ == EACCES || failedErrno_ == EPERM) {
    snprintf(text, sizeof text,
             "You have no permission to use %s. Add your user to the dialout group "
             "(sudo usermod -aG dialout $USER), then log in again.",
             path_);
  } else if (failedErrno_ == EBUSY || failedErrno_ == EWOULDBLOCK) {
    snprintf(text, sizeof text, "%s is in use by another program.", path_);
  } else if (failedErrno_ == ENOENT || failedErrno_ == ENXIO || failedErrno_ == ENODEV) {
    snprintf(text, sizeof text,
             "There is no serial device %s. Name the right one with the device key "
             "of fwdl.ini (for example device=/dev/ttyUSB0).",
             path_);
  } else {
    snprintf(text, sizeof text, "%s cannot be opened: %s.", path_, strerror(failedErrno_));
  }
  return std::string(text);
}

}  // namespace

SerialBackend& LocalSerialBackend() {
  static PosixSerialPort port;
  return port;
}

bool LocalDevicePaths() { return true; }

const char* ComPortSettingKeys() {
  return "comport= (1 is /dev/ttyS0) or device= (a device path such as /dev/ttyUSB0, or a "
         "console server's port, socket://HOST:PORT or rfc2217://HOST:PORT)";
}
