// The line the simulator serves: a new pseudo-terminal or a serial device,
// and the loop that moves bytes between it and the engine.
#pragma once
#include <string>

#include "sim/expander.h"
#include "sim/options.h"

namespace sim {

struct Port {
  int fd = -1;        // master side of the pseudo-terminal, or the device
  int held_fd = -1;   // our own open of the pseudo-terminal's slave side
  std::string path;   // what a host opens
};

// A raw pseudo-terminal pair. The simulator keeps the slave side open itself,
// so a host may close and reopen it at will without the master seeing a
// hang-up.
bool OpenPseudoTerminal(Port* port, std::string* error);
// A serial device at 115200 baud, 8 data bits, no parity, one stop bit, raw,
// no flow control.
bool OpenDevice(const std::string& path, Port* port, std::string* error);
void ClosePort(Port* port);

// Points link at target, replacing an older symlink; refuses to replace
// anything that is not a symlink.
bool MakeLink(const std::string& link, const std::string& target, std::string* error);
// Removes link if it still points at target.
void RemoveLink(const std::string& link, const std::string& target);

// Microseconds on the monotonic clock.
Micros MonotonicNow();

enum class ExitReason { kSignal, kDownload, kTimeout, kLineError };

// Serves the port until a byte arrives on stop_fd (the signal handler's
// pipe) or an exit condition of the options holds. With --vanish-after-packets
// the port is closed (and --link removed) under the host, and with --come-back
// replaced by a new pseudo-terminal later; kLineError if that cannot be made.
ExitReason Serve(Expander* engine, Port* port, const Options& options, int stop_fd);

}  // namespace sim
