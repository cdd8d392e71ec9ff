// What the simulated expander is told (its configuration and faults) and
// what it keeps of a run (commands, violations, reboots, counters): plain
// records shared by the engine, the options parser, the report writer and the
// tests.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/console.h"
#include "sim/types.h"

namespace sim {

// Deliberate misbehaviour, each off by default.
struct Faults {
  std::vector<std::pair<uint32_t, char>> reject;  // K-th data packet, first attempt: answer "@<digit>"
  std::vector<uint64_t> withhold_star;            // N-th sub-packet of the run gets no "*"
  std::vector<uint32_t> no_status;                // K-th data packet, first attempt: no status at all
  std::vector<uint32_t> bare_status;              // K-th data packet: the digit without "@"; 0 = every one
  Micros silent_time = 0;                         // console silent for this long after start
  bool never_return = false;                      // the first reboot never ends
  int stale_reboots = 0;                          // the first N reboots that would change the version do not
  bool noise = false;                             // stray bytes (controls, above 0x7F) around every reply
  Micros split_gap = 0;                           // gap between the bytes of a reply
  std::vector<uint32_t> busy_version;             // K-th version query: a busy text, no version
  bool late_boot_text = false;                    // boot-ROM text after the prompt of every boot
  std::vector<int> reject_part;                   // every data packet of an image of this part: "@2"
};

struct EngineConfig {
  Version version{1, 2, 0, 10};
  bool has_new_version = false;       // false: from the received image, else bumped
  Version new_version;
  Micros reboot_time = 5 * kMicrosPerSecond;
  bool quiet_boot = false;            // no banner and prompt when the console comes up
  long baud = 0;                      // 0: no line-rate emulation
  // A USB-serial adapter between the line and the host: bytes from the
  // expander wait in it until `latency` has passed since the first of them
  // came, or `latency_chars` are waiting; with `usb_frame` they leave only at
  // a frame boundary. Both 0: no adapter. With a latency timer, a byte of
  // `event_chars` among those held sends them at once, as far as it.
  Micros latency = 0;
  size_t latency_chars = 62;
  std::string event_chars;
  Micros usb_frame = 0;
  Micros pace_tolerance = 5 * kMicrosPerMs;
  Micros idle_limit = 1500 * kMicrosPerMs;
  std::string out_dir;                // where terminated images are saved; "" = not saved
  Faults faults;
};

struct CommandRecord {
  Micros time = 0;
  std::string raw;      // as received, without the terminating line feeds
  std::string text;     // carriage returns dropped, spaces folded
  Command command = Command::kUnknown;
  bool ignored = false; // arrived while the console was down
};

struct ViolationRecord {
  Micros time = 0;
  std::string text;
};

struct RebootRecord {
  Micros time = 0;
  Version before;
  Version after;
  bool came_back = false;
};

struct Counters {
  uint64_t bytes_received = 0;
  uint64_t bytes_sent = 0;
  uint64_t sub_packets = 0;
  uint64_t packets = 0;            // packet lines of every kind
  uint64_t data_packets = 0;
  uint64_t retries = 0;            // data packets that re-send an earlier one
  uint64_t recovery_packets = 0;
  uint64_t terminating_headers = 0;
  uint64_t bad_packets = 0;
  uint64_t rejected = 0;           // good packets answered with a failure digit by a fault
  uint64_t stars_withheld = 0;
  uint64_t statuses_withheld = 0;
  uint64_t download_sequences = 0;
  uint64_t sequences_terminated = 0;
  uint64_t reboots = 0;
  uint64_t defaults_writes = 0;
  uint64_t line_losses = 0;        // times the line went away under the host
  uint64_t bytes_garbled = 0;      // from the host while the line was set to a wrong rate
};

// How a set of durations spreads: microsecond buckets up to 8 ms, one
// overflow bucket, the sum and the largest. Fixed size, so a long run costs
// no more memory than a short one.
struct Spread {
  static constexpr size_t kBuckets = 8192;
  std::array<uint32_t, kBuckets + 1> counts{};
  uint64_t n = 0;
  Micros sum = 0;
  Micros max = 0;

  void Add(Micros us) {
    if (us < 0) us = 0;
    ++counts[static_cast<size_t>(us) < kBuckets ? static_cast<size_t>(us) : kBuckets];
    ++n;
    sum += us;
    if (us > max) max = us;
  }
  double Mean() const { return n ? static_cast<double>(sum) / static_cast<double>(n) : 0; }
  // The smallest bucket that holds the q-quantile (0..1); the largest value
  // when that is the overflow bucket; 0 for no values.
  Micros Quantile(double q) const {
    if (n == 0) return 0;
    const uint64_t rank = static_cast<uint64_t>(q * static_cast<double>(n - 1)) + 1;
    uint64_t seen = 0;
    for (size_t i = 0; i < kBuckets; ++i) {
      seen += counts[i];
      if (seen >= rank) return static_cast<Micros>(i);
    }
    return max;
  }
};

// The simulator's own timing of the download exchanges, to tell its share of
// a round trip from the host's.
struct Timing {
  // From the time a download reply ("*" or status) is due on the line to the
  // moment it was written to the host: how late the serving loop was.
  Spread reply_late;
  // From the write of a download reply to the read of the host's next packet
  // character: the host's wake-up and turn, and the pseudo-terminal both ways.
  // Gaps of 50 ms and more (a pause of the host's) are left out.
  Spread host_turn;
};

struct Record {
  Micros start = 0;
  Version start_version;
  Version running_version;
  std::vector<CommandRecord> commands;
  std::vector<ViolationRecord> violations;
  uint64_t violations_dropped = 0;  // beyond the list's limit
  std::vector<RebootRecord> reboots;
  Counters counts;
  Timing timing;
};

}  // namespace sim
