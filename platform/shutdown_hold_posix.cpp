// The hold on Linux: a block inhibitor lock from logind on the system bus,
// taken through sd-bus. The lock is the file descriptor logind hands back; it
// lasts until that descriptor is closed, so the bus connection is closed as
// soon as the answer is in.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/os_error.h"
#include "platform/shutdown_hold.h"
#include "platform/trace.h"

namespace {

// The whole exchange (connect, authenticate, Hello, Inhibit) must be over in
// this time: a bus that takes the connection and never answers must not hold
// the download back.
constexpr uint64_t kBusTimeUsec = 2000000;

// Where sd_bus_open_system looks too, but opened by hand so that every step
// runs under kBusTimeUsec; sd-bus's own authentication time-out is far longer.
constexpr char kDefaultSystemBus[] = "unix:path=/run/dbus/system_bus_socket";

uint64_t NowUsec() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

std::string ErrnoText(int negative) { return OsErrorText(static_cast<uint32_t>(-negative)); }

struct Answer {
  bool done = false;
  int fd = -1;
  std::string problem;
};

int OnInhibitReply(sd_bus_message* reply, void* userdata, sd_bus_error* /*unused*/) {
  Answer* answer = static_cast<Answer*>(userdata);
  answer->done = true;
  if (const sd_bus_error* e = sd_bus_message_get_error(reply)) {
    answer->problem = std::string(e->name ? e->name : "error") + ": " + (e->message ? e->message : "");
    return 0;
  }
  int fd = -1;
  const int r = sd_bus_message_read(reply, "h", &fd);
  if (r < 0) {
    answer->problem = "the answer holds no descriptor (" + ErrnoText(r) + ")";
    return 0;
  }
  // The message owns `fd`; ours must not reach the programs we start.
  answer->fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (answer->fd < 0) answer->problem = "the descriptor cannot be kept (" + OsErrorText(errno) + ")";
  return 0;
}

// The lock's descriptor, or -1 with `problem` set.
int TakeLock(const std::string& why, std::string* problem) {
  const char* env = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string address = env && *env ? env : kDefaultSystemBus;
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r < 0) {
    *problem = "no bus object (" + ErrnoText(r) + ")";
    return -1;
  }
  Answer answer;
  sd_bus_slot* slot = nullptr;
  if ((r = sd_bus_set_address(bus, address.c_str())) < 0 || (r = sd_bus_set_bus_client(bus, 1)) < 0 ||
      (r = sd_bus_set_method_call_timeout(bus, kBusTimeUsec)) < 0 || (r = sd_bus_start(bus)) < 0) {
    *problem = "no system bus at " + address + " (" + ErrnoText(r) + ")";
  } else if ((r = sd_bus_call_method_async(bus, &slot, "org.freedesktop.login1",
                                           "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", "Inhibit",
                                           OnInhibitReply, &answer, "ssss", "shutdown:sleep:idle",
                                           "tarnwick", why.c_str(), "block")) < 0) {
    *problem = "the call cannot be sent (" + ErrnoText(r) + ")";
  } else {
    const uint64_t deadline = NowUsec() + kBusTimeUsec;
    while (!answer.done) {
      r = sd_bus_process(bus, nullptr);
      if (r < 0) {
        *problem = "the system bus failed (" + ErrnoText(r) + ")";
        break;
      }
      if (r > 0) continue;  // more may be ready at once
      const uint64_t now = NowUsec();
      if (now >= deadline) {
        *problem = "the system bus did not answer within 2 s";
        break;
      }
      r = sd_bus_wait(bus, deadline - now);
      if (r < 0 && r != -EINTR) {
        *problem = "the system bus failed (" + ErrnoText(r) + ")";
        break;
      }
    }
    if (answer.done && answer.fd < 0) *problem = answer.problem;
  }
  sd_bus_slot_unref(slot);
  // No flush: a peer that reads nothing must not hold us here.
  sd_bus_close_unref(bus);
  return answer.fd;
}

}  // namespace

struct ShutdownHold::Impl {
  int fd = -1;
};

ShutdownHold::ShutdownHold(const std::string& why) : impl_(new Impl) {
  std::string problem;
  impl_->fd = TakeLock(why, &problem);
  if (impl_->fd >= 0) {
    DbgTrace("ShutdownHold: logind holds off shutdown and sleep: %s\n", why.c_str());
  } else {
    DbgTrace("ShutdownHold: shutdown and sleep are not held off, %s; the download goes on\n",
             problem.c_str());
  }
}

ShutdownHold::~ShutdownHold() {
  if (impl_->fd >= 0) close(impl_->fd);
}

bool ShutdownHold::held() const { return impl_->fd >= 0; }
