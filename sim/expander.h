// The simulated expander as a state machine over time-stamped bytes. It owns
// no file descriptor and reads no clock: the serving loop hands it each read
// with the time it came, asks it what to write and when, and tells it when
// bytes went out. So the same engine runs on a pseudo-terminal, on a real
// port, and under a test that invents the times.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/console.h"
#include "sim/download.h"
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
};

class Expander {
 public:
  using Log = std::function<void(const std::string&)>;

  Expander(const EngineConfig& config, Micros start, Log log = nullptr);

  // One read's bytes, and the time the read returned.
  void Input(const uint8_t* bytes, size_t n, Micros read_time);
  // Runs everything due up to now: paced input, line ends, the end of a boot.
  void Advance(Micros now);
  // When Advance next has work (input due, a line to resolve, the end of a
  // boot); kNever if nothing is pending.
  Micros NextEvent() const;
  // When the front of the output is due; kNever if the output is empty.
  Micros NextOutputTime() const;

  // Copies up to max bytes that are due at now from the front of the output.
  size_t DueOutput(Micros now, uint8_t* buffer, size_t max) const;
  // n bytes from the front went onto the line at now.
  void OutputWritten(size_t n, Micros now);
  // The line went away (the cable was pulled): a download sequence under way
  // is abandoned and nothing queued either way will arrive.
  void LineLost(Micros now);
  // The line is back and the console up again as after a power cycle (the
  // banner unless --quiet-boot), running the version it ran before.
  void LineBack(Micros now);
  bool OutputEmpty() const { return output_.empty(); }

  const Record& record() const { return record_; }
  const std::vector<ImageRecord>& images() const { return session_.images(); }
  bool in_download_mode() const { return mode_ == Mode::kDownload; }
  bool console_up() const { return mode_ == Mode::kConsole; }
  Micros last_input() const { return last_input_; }

  static constexpr size_t kMaxViolations = 1000;

 private:
  enum class Mode { kConsole, kDownload, kBooting, kDead };
  struct InByte {
    uint8_t byte;
    Micros read_time;
    uint64_t read_id;
    Micros deliver_at;
  };
  struct OutByte {
    uint8_t byte;
    Micros not_before;
  };

  // Hands every queued packet character to the download state machine now.
  void TakeDownloadBytes();
  void HandleByte(const InByte& in);
  void ConsoleByte(const InByte& in);
  void DownloadByte(const InByte& in);
  void HandleLines(std::vector<ConsoleLine>* lines, Micros now);
  void HandleLine(const ConsoleLine& line, Micros now);
  void Execute(Command command, Micros now);
  void EndSubPacket(Micros now, bool last);
  void ProcessPacketLine(Micros now, bool answer);
  void SendStatus(char digit, uint32_t ordinal, Micros now);
  void EnterDownload(Micros now);
  void LeaveDownload(bool terminated);
  void StartReboot(Micros now);
  void FinishBoot(Micros when);
  // Queues a reply; `tracked` marks its last byte as the one the host must
  // see before it may send on (download replies only).
  void Reply(const std::string& bytes, Micros now, bool tracked);
  void Violation(Micros when, const std::string& text);
  void Note(const std::string& text) const;
  Micros ByteTime() const;

  EngineConfig config_;
  Log log_;
  Record record_;
  Mode mode_ = Mode::kConsole;
  Micros boot_end_ = kNever;
  bool rebooting_ = false;
  int stale_left_ = 0;
  uint32_t version_queries_ = 0;
  bool late_text_due_ = false;      // the next byte from the host draws the late boot text
  bool firmware_pending_ = false;
  Version pending_version_;
  bool pending_has_version_ = false;
  bool unlocked_ = false;

  LineAssembler assembler_;
  DownloadSession session_;
  std::string line_;          // packet line being received
  std::vector<InByte> line_bytes_;  // the same, as received, for handing back to the console
  size_t sub_len_ = 0;        // characters of the current sub-packet
  bool line_flagged_ = false; // the line already earned a pacing violation
  bool line_abandoned_ = false;

  std::deque<InByte> input_;
  uint64_t read_id_ = 0;
  Micros last_delivery_ = 0;
  Micros last_input_ = 0;

  std::deque<OutByte> output_;
  uint64_t out_produced_ = 0;
  uint64_t out_written_ = 0;
  Micros out_tail_ = 0;
  bool awaiting_ = false;           // a tracked reply was queued
  uint64_t awaited_index_ = 0;
  Micros awaited_written_at_ = kNever;
};

}  // namespace sim
