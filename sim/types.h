// Plain types shared by the simulated expander's modules.
#pragma once
#include <cstdint>
#include <limits>
#include <string>

namespace sim {

// Microseconds on the monotonic clock. Every time inside the simulator is
// one of these, handed in by the caller, so the engine runs on any clock.
using Micros = int64_t;
constexpr Micros kNever = std::numeric_limits<Micros>::max();
constexpr Micros kMicrosPerMs = 1000;
constexpr Micros kMicrosPerSecond = 1000000;
constexpr int64_t kNanosPerMicro = 1000;

// A firmware version as the console prints it: four dot-separated numbers.
struct Version {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
};

bool operator==(const Version& a, const Version& b);
inline bool operator!=(const Version& a, const Version& b) { return !(a == b); }

// "1.02.0000.10": minor with two digits, build four, revision two.
std::string FormatVersion(const Version& v);

// Accepts four dot-separated decimal numbers ("0.01.0000.05"); false for
// anything else, including out-of-range numbers and trailing text.
bool ParseVersion(const std::string& text, Version* out);

}  // namespace sim
