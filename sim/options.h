// Command line of expander-sim.
#pragma once
#include <string>

#include "sim/records.h"

namespace sim {

struct Options {
  EngineConfig engine;
  std::string device;        // serve this serial device; "" = a new pseudo-terminal
  std::string link;          // symlink to the pseudo-terminal, made at start, removed at exit
  std::string report;        // JSON report written at exit; "" = none
  int exit_after_downloads = 0;  // exit once this many sequences ended and the line went quiet; 0 = never
  Micros timeout = 0;        // exit after this long; 0 = never
  Micros linger = 2 * kMicrosPerSecond;  // quiet time before --exit-after-download exits
  uint32_t vanish_after_packets = 0;  // the line goes away after this data packet; 0 = never
  uint32_t vanish_after_terminators = 0;  // or after this terminating header; 0 = never
  Micros come_back = -1;     // and comes back on the same --link after this long; -1 = never
  long require_baud = 0;     // bytes from the host while the line is set to another rate are garbled; 0 = not checked
  bool verbose = false;
  bool help = false;
};

// The line rate a simulator runs at unless --baud says otherwise.
constexpr long kDefaultBaud = 115200;

// Parses argv[1..argc-1]. False with *error set for an unknown option or a
// bad value; the defaults of Options stand for everything not given.
bool ParseOptions(int argc, const char* const* argv, Options* out, std::string* error);

std::string UsageText();

}  // namespace sim
