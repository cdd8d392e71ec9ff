#include "sim/console.h"

namespace sim {

LineAssembler::LineAssembler(Micros pace_tolerance, Micros idle_limit)
    : pace_tolerance_(pace_tolerance), idle_limit_(idle_limit) {}

void LineAssembler::Reset() {
  text_.clear();
  pairs_ = 0;
  fast_pairs_ = 0;
  lf_run_ = 0;
}

void LineAssembler::Settle(uint8_t b, Micros read_time, uint64_t read_id,
                           std::vector<ConsoleLine>* done) {
  Advance(read_time, done);
  if (lf_run_ == 0) return;
  const bool same_burst =
      b == '\n' && (read_id == lf_read_ || read_time - lf_time_ < kBurstGap);
  if (!same_burst) ResolveRun(done);
}

void LineAssembler::Feed(uint8_t b, Micros read_time, uint64_t read_id) {
  if (b == '\n') {
    ++lf_run_;
    lf_time_ = read_time;
    lf_read_ = read_id;
    return;
  }
  AppendText(b, read_time, read_id);
}

void LineAssembler::AppendText(uint8_t b, Micros read_time, uint64_t read_id) {
  if (!text_.empty()) {
    ++pairs_;
    const bool fast =
        read_id == last_text_read_ || read_time - last_text_time_ < pace_tolerance_;
    if (fast) ++fast_pairs_;
  }
  text_ += static_cast<char>(b);
  last_text_time_ = read_time;
  last_text_read_ = read_id;
}

void LineAssembler::ResolveRun(std::vector<ConsoleLine>* done) {
  const int run = lf_run_;
  lf_run_ = 0;
  if (run == 1) {
    // A lone line feed is text: "\n\r" goes out as two single bytes.
    AppendText('\n', lf_time_, lf_read_);
    return;
  }
  Finish(run, lf_time_, done);
}

void LineAssembler::Finish(int line_feeds, Micros time, std::vector<ConsoleLine>* done) {
  ConsoleLine line;
  line.text = text_;
  line.time = time;
  line.line_feeds = line_feeds;
  line.pairs = pairs_;
  line.fast_pairs = fast_pairs_;
  done->push_back(line);
  text_.clear();
  pairs_ = 0;
  fast_pairs_ = 0;
}

void LineAssembler::Advance(Micros now, std::vector<ConsoleLine>* done) {
  if (lf_run_ > 0 && now - lf_time_ >= kBurstGap) ResolveRun(done);
  if (lf_run_ == 0 && !text_.empty() && now - last_text_time_ >= idle_limit_) {
    Finish(0, last_text_time_, done);
  }
}

Micros LineAssembler::NextDeadline() const {
  if (lf_run_ > 0) return lf_time_ + kBurstGap;
  if (!text_.empty()) return last_text_time_ + idle_limit_;
  return kNever;
}

Command ClassifyCommand(const std::string& text, std::string* normalized) {
  std::string folded;
  for (char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (c == ' ' && (folded.empty() || folded.back() == ' ')) continue;
    folded += c;
  }
  while (!folded.empty() && folded.back() == ' ') folded.pop_back();
  if (normalized) *normalized = folded;

  struct Known {
    const char* text;
    Command command;
  };
  static const Known kKnown[] = {
      {"donz 0x06 0x88", Command::kVersionQuery},
      {"enclosure -a mod -s \"reboot=1\"", Command::kReboot},
      {"tavo1productdatawrite 0x6 0x80 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00",
       Command::kDefaultsWrite},
      {"wm32 -m 0xa8200094 -v 0x5b7d2e94", Command::kUnlock},
      {"donz 0x06 17 1", Command::kDownloadMode},
  };
  if (folded.empty()) return Command::kPrompt;
  for (const Known& k : kKnown) {
    if (folded == k.text) return k.command;
  }
  return Command::kUnknown;
}

const char* CommandName(Command c) {
  switch (c) {
    case Command::kPrompt: return "prompt";
    case Command::kVersionQuery: return "version query";
    case Command::kReboot: return "reboot";
    case Command::kDefaultsWrite: return "defaults write";
    case Command::kUnlock: return "unlock";
    case Command::kDownloadMode: return "download mode";
    case Command::kUnknown: return "unknown";
  }
  return "?";
}

}  // namespace sim
