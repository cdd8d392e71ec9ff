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
#include "sim/records.h"
#include "sim/types.h"

namespace sim {

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
  // n bytes came from the host while the line was set to `baud` instead of
  // `expected`: on a real line they arrive as garbage, so the console never
  // sees them. Counted, and reported once for each stretch at a wrong rate.
  void GarbledInput(size_t n, long baud, long expected, Micros read_time);
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
  // One byte (start bit, 8 data bits, stop bit) at the line rate; 0 without one.
  int64_t ByteNanos() const;
  static Micros MicrosAtOrAfter(int64_t ns);
  bool HasAdapter() const { return config_.latency > 0 || config_.usb_frame > 0; }
  // When the adapter hands the front of the output to the host.
  Micros ReleaseTime() const;

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
  int64_t last_delivery_ns_ = 0;   // the line from the host is busy until then
  Micros last_input_ = 0;

  std::deque<OutByte> output_;
  uint64_t out_produced_ = 0;
  uint64_t out_written_ = 0;
  int64_t out_tail_ns_ = 0;        // the line to the host is busy until then
  Micros last_release_ = 0;         // the adapter last handed bytes on
  bool awaiting_ = false;           // a tracked reply was queued
  uint64_t awaited_index_ = 0;
  Micros awaited_written_at_ = kNever;
  bool turn_open_ = false;          // a download reply went out; the host's answer is timed
  long garbled_baud_ = 0;           // the wrong rate of the stretch last reported; 0 = none
};

}  // namespace sim
