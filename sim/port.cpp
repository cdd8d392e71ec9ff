#include "sim/port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace sim {
namespace {

// Longest single sleep of the loop: it wakes at least this often even with
// nothing to do, which costs nothing and bounds any clock surprise.
constexpr Micros kMaxWait = 1 * kMicrosPerSecond;
// While no host holds the line open (a device that hung up), poll it no
// more often than this instead of spinning on the hang-up.
constexpr Micros kHangupBackoff = 50 * kMicrosPerMs;
// At a line rate a timed wake-up of the kernel comes tens of microseconds late
// on a virtual machine, and every reply would leave that much after its time.
// So the loop asks to be woken a little early, by its own running estimate of
// that lateness, and waits out the rest on the clock: no byte ever leaves
// before it is due. The head start never exceeds this.
constexpr Micros kMaxHeadStart = 200;

// Keeps the estimate of how late a timed wake-up comes (a running mean) and
// turns it into the head start to ask for.
class WakeLateness {
 public:
  Micros HeadStart() const { return std::min(kMaxHeadStart, mean_ + mean_ / 2); }
  // A wake-up asked for at `asked` came at `came`.
  void Observe(Micros asked, Micros came) {
    const Micros late = std::max<Micros>(0, std::min(came - asked, 4 * kMaxHeadStart));
    mean_ += (late - mean_) / 8;
  }

 private:
  Micros mean_ = 0;
};

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool MakeRaw(int fd, std::string* error) {
  termios t;
  if (tcgetattr(fd, &t) != 0) {
    *error = Errno("tcgetattr");
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B115200);
  cfsetospeed(&t, B115200);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    *error = Errno("tcsetattr");
    return false;
  }
  return true;
}

bool SetNonBlocking(int fd, std::string* error) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = Errno("fcntl");
    return false;
  }
  return true;
}

// The cable comes out: once the master side closes, the host's side of the
// pseudo-terminal hangs up, as a terminal does when its USB adapter is pulled.
void Vanish(Port* port, const Options& options) {
  if (!options.link.empty()) RemoveLink(options.link, port->path);
  ClosePort(port);
}

// The cable goes back in: a new pseudo-terminal behind the same link.
bool ComeBack(Port* port, const Options& options, std::string* error) {
  if (!OpenPseudoTerminal(port, error)) return false;
  if (!options.link.empty() && !MakeLink(options.link, port->path, error)) return false;
  std::printf("%s\n", port->path.c_str());
  std::fflush(stdout);
  return true;
}

// The rate the line is set to, as whoever holds it last set it: on a
// pseudo-terminal the settings are the slave side's, which our own open of it
// reads; 0 if unknown.
long LineRate(const Port& port) {
  termios t;
  if (tcgetattr(port.held_fd >= 0 ? port.held_fd : port.fd, &t) != 0) return 0;
  static const struct {
    speed_t code;
    long baud;
  } kRates[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
                {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
                {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
                {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
                {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
                {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B1152000, 1152000},
                {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000},
                {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000}};
  const speed_t code = cfgetispeed(&t);
  for (const auto& r : kRates) {
    if (r.code == code) return r.baud;
  }
  return 0;
}

}  // namespace

Micros MonotonicNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Micros>(ts.tv_sec) * kMicrosPerSecond + ts.tv_nsec / 1000;
}

bool OpenPseudoTerminal(Port* port, std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) {
    *error = Errno("posix_openpt");
    return false;
  }
  char name[256];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    *error = Errno("pseudo-terminal setup");
    close(master);
    return false;
  }
  const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) {
    *error = Errno(std::string("open ") + name);
    close(master);
    return false;
  }
  if (!MakeRaw(slave, error) || !SetNonBlocking(master, error)) {
    close(slave);
    close(master);
    return false;
  }
  port->fd = master;
  port->held_fd = slave;
  port->path = name;
  return true;
}

bool OpenDevice(const std::string& path, Port* port, std::string* error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *error = Errno("open " + path);
    return false;
  }
  if (!MakeRaw(fd, error)) {
    close(fd);
    return false;
  }
  tcflush(fd, TCIOFLUSH);
  port->fd = fd;
  port->held_fd = -1;
  port->path = path;
  return true;
}

void ClosePort(Port* port) {
  if (port->held_fd >= 0) close(port->held_fd);
  if (port->fd >= 0) close(port->fd);
  port->fd = -1;
  port->held_fd = -1;
}

bool MakeLink(const std::string& link, const std::string& target, std::string* error) {
  struct stat st;
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      *error = link + " exists and is not a symlink; not replacing it";
      return false;
    }
    if (unlink(link.c_str()) != 0) {
      *error = Errno("unlink " + link);
      return false;
    }
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    *error = Errno("symlink " + link);
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
  char points_to[4096];
  const ssize_t n = readlink(link.c_str(), points_to, sizeof points_to - 1);
  if (n < 0) return;
  points_to[n] = '\0';
  if (target == points_to) unlink(link.c_str());
}

ExitReason Serve(Expander* engine, Port* port, const Options& options, int stop_fd) {
  // Timed wake-ups as close to their due time as the kernel allows, not up to
  // the default 50 us late.
  if (options.engine.baud > 0) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  const Micros start = MonotonicNow();
  Micros hangup_until = 0;
  bool write_blocked = false;
  uint8_t buffer[4096];
  WakeLateness lateness;
  const bool timed_exactly = options.engine.baud > 0;
  bool vanished = false;
  Micros back_at = kNever;

  for (;;) {
    Micros now = MonotonicNow();
    engine->Advance(now);

    // The reply to the packet that triggers it is never written.
    const auto& counts = engine->record().counts;
    if (!vanished && ((options.vanish_after_packets > 0 &&
                       counts.data_packets >= options.vanish_after_packets) ||
                      (options.vanish_after_terminators > 0 &&
                       counts.terminating_headers >= options.vanish_after_terminators))) {
      vanished = true;
      Vanish(port, options);
      engine->LineLost(now);
      if (options.come_back >= 0) back_at = now + options.come_back;
    }
    if (port->fd < 0) {
      if (options.timeout > 0 && now - start >= options.timeout) return ExitReason::kTimeout;
      if (now >= back_at) {
        std::string error;
        if (!ComeBack(port, options, &error)) {
          std::fprintf(stderr, "expander-sim: %s\n", error.c_str());
          return ExitReason::kLineError;
        }
        engine->LineBack(MonotonicNow());
        continue;
      }
      Micros wake = std::min(back_at, now + kMaxWait);
      if (options.timeout > 0) wake = std::min(wake, start + options.timeout);
      const Micros wait = std::max<Micros>(0, wake - now);
      pollfd stop{stop_fd, POLLIN, 0};
      const timespec timeout{static_cast<time_t>(wait / kMicrosPerSecond),
                             static_cast<long>(wait % kMicrosPerSecond) * 1000};
      if (ppoll(&stop, 1, &timeout, nullptr) > 0 && (stop.revents & POLLIN)) return ExitReason::kSignal;
      continue;
    }

    write_blocked = false;
    for (;;) {
      const size_t n = engine->DueOutput(now, buffer, sizeof buffer);
      if (n == 0) break;
      const ssize_t w = write(port->fd, buffer, n);
      if (w > 0) {
        engine->OutputWritten(static_cast<size_t>(w), MonotonicNow());
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno == EAGAIN) {
        write_blocked = true;
        break;
      }
      // Nobody can receive it (a device that went away): the bytes are lost
      // on the line, as they would be on a cable with no one at the end.
      engine->OutputWritten(n, MonotonicNow());
    }

    now = MonotonicNow();
    if (options.timeout > 0 && now - start >= options.timeout) return ExitReason::kTimeout;
    Micros wake = engine->NextEvent();
    if (!write_blocked) wake = std::min(wake, engine->NextOutputTime());
    if (options.timeout > 0) wake = std::min(wake, start + options.timeout);
    if (options.exit_after_downloads > 0 &&
        engine->record().counts.sequences_terminated >=
            static_cast<uint64_t>(options.exit_after_downloads) &&
        engine->OutputEmpty()) {
      const Micros quiet_until = engine->last_input() + options.linger;
      if (now >= quiet_until) return ExitReason::kDownload;
      wake = std::min(wake, quiet_until);
    }

    const bool watch_port = now >= hangup_until;
    if (!watch_port) wake = std::min(wake, hangup_until);
    const Micros head_start = timed_exactly ? lateness.HeadStart() : 0;
    const Micros wait = std::max<Micros>(0, std::min(wake - now - head_start, kMaxWait));

    pollfd fds[2];
    fds[0] = {stop_fd, POLLIN, 0};
    fds[1] = {port->fd, static_cast<short>(POLLIN | (write_blocked ? POLLOUT : 0)), 0};
    // Sleep to the microsecond: at a line rate a byte is due every 86.8 us, and
    // whole milliseconds would stretch every exchange on the line.
    const timespec timeout{static_cast<time_t>(wait / kMicrosPerSecond),
                           static_cast<long>(wait % kMicrosPerSecond) * 1000};
    const int ready = ppoll(fds, watch_port ? 2 : 1, &timeout, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ExitReason::kSignal;
    }
    if (fds[0].revents & POLLIN) return ExitReason::kSignal;
    if (ready == 0 && timed_exactly && wait > 0 && wake - now <= kMaxWait) {
      // Woken by the timer: learn how late it came, then wait out what is
      // left of the head start (a short stretch, checked against the clock).
      lateness.Observe(now + wait, MonotonicNow());
      while (MonotonicNow() < wake) {
      }
      continue;
    }
    if (!watch_port) continue;

    const short events = fds[1].revents;
    bool got_bytes = false;
    bool read_failed = false;
    if (events & (POLLIN | POLLHUP | POLLERR)) {
      for (;;) {
        const ssize_t r = read(port->fd, buffer, sizeof buffer);
        if (r > 0) {
          got_bytes = true;
          const long rate = options.require_baud > 0 ? LineRate(*port) : 0;
          if (rate != options.require_baud) {
            engine->GarbledInput(static_cast<size_t>(r), rate, options.require_baud, MonotonicNow());
          } else {
            engine->Input(buffer, static_cast<size_t>(r), MonotonicNow());
          }
          continue;
        }
        if (r < 0 && errno == EINTR) continue;
        // A raw tty with VMIN 0 reads 0 bytes when nothing is waiting, so 0
        // alone is no hang-up; poll flags a real one.
        read_failed = r < 0 && errno != EAGAIN;
        break;
      }
    }
    const bool hung_up = read_failed || ((events & (POLLHUP | POLLERR)) != 0 && !got_bytes);
    if (hung_up) hangup_until = MonotonicNow() + kHangupBackoff;
  }
}

}  // namespace sim
