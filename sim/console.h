// The console side of the line: bytes in, command lines out.
//
// A host ends every command text with three line feeds in one write, and
// writes the text itself one byte at a time about 10 ms apart. The assembler
// turns bytes (stamped with the time and number of the read that brought
// them) into lines and keeps what a judge of the pacing needs; it does not
// judge. A line feed that arrives on its own belongs to the text (hosts send
// "\n\r" as a text); two or more line feeds in one burst end the line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/types.h"

namespace sim {

struct ConsoleLine {
  std::string text;     // the bytes before the terminating line feeds, as received
  Micros time = 0;      // read time of the terminator, or of the last byte
  int line_feeds = 0;   // line feeds in the terminating burst; 0: the line went idle instead
  int pairs = 0;        // neighbouring text bytes
  int fast_pairs = 0;   // of those, pairs that came closer together than the pacing tolerance
};

class LineAssembler {
 public:
  // A text byte closer than pace_tolerance to the one before it counts as a
  // fast pair. Bytes of one read count as 0 apart. A text left without a
  // terminator for idle_limit is handed out with line_feeds = 0.
  LineAssembler(Micros pace_tolerance, Micros idle_limit);

  // Resolves whatever byte b cannot join (a line-feed burst that b does not
  // continue, an idle text) into *done. Call before Feed(b).
  void Settle(uint8_t b, Micros read_time, uint64_t read_id, std::vector<ConsoleLine>* done);
  void Feed(uint8_t b, Micros read_time, uint64_t read_id);
  // Resolves bursts and idle texts whose time has passed.
  void Advance(Micros now, std::vector<ConsoleLine>* done);
  // When Advance next has something to resolve; kNever if nothing is pending.
  Micros NextDeadline() const;
  // Drops any partial line (the console was not listening).
  void Reset();

  // Line feeds of one write arriving in separate reads (a real serial port
  // splits them) still count as one burst within this gap.
  static constexpr Micros kBurstGap = 3 * kMicrosPerMs;

 private:
  void ResolveRun(std::vector<ConsoleLine>* done);
  void AppendText(uint8_t b, Micros read_time, uint64_t read_id);
  void Finish(int line_feeds, Micros time, std::vector<ConsoleLine>* done);

  Micros pace_tolerance_;
  Micros idle_limit_;
  std::string text_;
  int pairs_ = 0;
  int fast_pairs_ = 0;
  Micros last_text_time_ = 0;
  uint64_t last_text_read_ = 0;
  int lf_run_ = 0;
  Micros lf_time_ = 0;
  uint64_t lf_read_ = 0;
};

enum class Command {
  kPrompt,          // only spaces and line ends: a poke for the prompt
  kVersionQuery,    // donz 0x06 0x88
  kReboot,          // enclosure -a mod -s "reboot=1"
  kDefaultsWrite,   // tavo1productdatawrite 0x6 0x80 and eight 0x00
  kUnlock,          // wm32 -m 0xa8200094 -v 0x5b7d2e94
  kDownloadMode,    // donz 0x06 17 1
  kUnknown,
};

// Drops carriage returns and line feeds, trims spaces and folds runs of
// spaces, then recognises the command. *normalized receives the folded text.
Command ClassifyCommand(const std::string& text, std::string* normalized);

const char* CommandName(Command c);

}  // namespace sim
