#include "sim/expander.h"

#include <algorithm>
#include <cstdio>

#include "sim/base64.h"
#include "sim/packet.h"
#include "sim/report.h"

namespace sim {
namespace {

constexpr size_t kSubPacketChars = 12;
constexpr uint8_t kLineEnd = 0x7F;
// Longest packet line is 353 characters; keep a margin, then stop storing.
constexpr size_t kMaxLineChars = 1024;
constexpr uint8_t kFirmwarePart = 0x06;

const char kPrompt[] = "\r\nexp> ";
const char kBanner[] = "\r\nexpander console ready\r\nexp> ";
// The busy-version fault's answer: long enough to be read as a whole answer,
// with no four-number text in it.
const char kBusyText[] = "\r\nconsole busy, command not accepted, try again\r\nexp> ";
// The late-boot-text fault: a boot ROM that reports its own version after the
// console's first prompt.
const char kLateBootText[] = "\r\nboot rom v0.00.0003.01 checks done\r\nexp> ";

// Stray bytes for the noise fault: controls and bytes above 0x7F, never a
// digit, '@', '*', '>' or NUL, which a host is entitled to read as meaning.
const char kNoiseBefore[] = "\xff\x9b\x15";
const char kNoiseAfter[] = "\x80\x07\xfe";

std::string Printable(const std::string& raw) {
  std::string out;
  for (unsigned char c : raw) {
    char hex[8];
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c >= 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

template <typename T>
bool Contains(const std::vector<T>& list, T value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

Expander::Expander(const EngineConfig& config, Micros start, Log log)
    : config_(config),
      log_(std::move(log)),
      stale_left_(config.faults.stale_reboots),
      assembler_(config.pace_tolerance, config.idle_limit),
      last_delivery_ns_(start * kNanosPerMicro),
      last_input_(start),
      out_tail_ns_(start * kNanosPerMicro) {
  record_.start = start;
  record_.start_version = config.version;
  record_.running_version = config.version;
  if (config.faults.silent_time > 0) {
    mode_ = Mode::kBooting;
    boot_end_ = start + config.faults.silent_time;
  }
}

// To the nanosecond: a byte of 86.8 us counted as 87 would make the line
// 0.2 % slower than it is, and a long download that much longer.
int64_t Expander::ByteNanos() const {
  if (config_.baud <= 0) return 0;
  return (10 * kMicrosPerSecond * kNanosPerMicro + config_.baud / 2) / config_.baud;
}

Micros Expander::MicrosAtOrAfter(int64_t ns) { return (ns + kNanosPerMicro - 1) / kNanosPerMicro; }

void Expander::Note(const std::string& text) const {
  if (log_) log_(text);
}

void Expander::Violation(Micros when, const std::string& text) {
  Note("violation: " + text);
  if (record_.violations.size() >= kMaxViolations) {
    ++record_.violations_dropped;
    return;
  }
  record_.violations.push_back({when, text});
}

// ---- input ---------------------------------------------------------------

void Expander::GarbledInput(size_t n, long baud, long expected, Micros read_time) {
  if (n == 0) return;
  record_.counts.bytes_garbled += n;
  last_input_ = read_time;
  if (baud == garbled_baud_) return;
  garbled_baud_ = baud;
  Violation(read_time, "bytes from the host while the line is set to " + std::to_string(baud) +
                           " baud instead of " + std::to_string(expected) + ": garbled, dropped");
}

void Expander::Input(const uint8_t* bytes, size_t n, Micros read_time) {
  if (n == 0) return;
  garbled_baud_ = 0;
  ++read_id_;
  last_input_ = read_time;
  // A byte is taken once its whole frame has crossed the line: one byte time
  // after the line was free for it.
  const int64_t byte_ns = ByteNanos();
  for (size_t i = 0; i < n; ++i) {
    Micros deliver = read_time;
    if (byte_ns > 0) {
      last_delivery_ns_ = std::max(read_time * kNanosPerMicro, last_delivery_ns_) + byte_ns;
      deliver = MicrosAtOrAfter(last_delivery_ns_);
    }
    input_.push_back({bytes[i], read_time, read_id_, deliver});
  }
  Advance(read_time);
}

// In download mode a byte's meaning does not depend on when it is looked at:
// every check works on the time it was read and every reply is timed from the
// moment its request's last byte crossed the line. So packet characters are
// taken as soon as they are read, and the serving loop wakes once per reply
// instead of once per character. Anything else (a byte that ends the mode, a
// console byte after the terminating header) waits for its own delivery time.
void Expander::TakeDownloadBytes() {
  while (mode_ == Mode::kDownload && !input_.empty()) {
    const uint8_t b = input_.front().byte;
    if (b != kLineEnd && !IsBase64Char(b)) return;
    const InByte in = input_.front();
    input_.pop_front();
    HandleByte(in);
  }
}

void Expander::Advance(Micros now) {
  for (;;) {
    const Micros next_in = input_.empty() ? kNever : input_.front().deliver_at;
    const Micros horizon = std::min(now, next_in);
    if (mode_ == Mode::kBooting && boot_end_ <= horizon) {
      FinishBoot(boot_end_);
      continue;
    }
    if (next_in > now) break;
    const InByte in = input_.front();
    input_.pop_front();
    HandleByte(in);
  }
  if (mode_ == Mode::kConsole || mode_ == Mode::kBooting) {
    std::vector<ConsoleLine> lines;
    assembler_.Advance(now, &lines);
    HandleLines(&lines, now);
  }
  TakeDownloadBytes();
}

Micros Expander::NextEvent() const {
  Micros next = kNever;
  if (!input_.empty()) next = std::min(next, input_.front().deliver_at);
  if (mode_ == Mode::kConsole || mode_ == Mode::kBooting) next = std::min(next, assembler_.NextDeadline());
  if (mode_ == Mode::kBooting) next = std::min(next, boot_end_);
  return next;
}

Micros Expander::NextOutputTime() const {
  if (output_.empty()) return kNever;
  return HasAdapter() ? ReleaseTime() : output_.front().not_before;
}

// The adapter's timer starts with the first byte it holds; a full packet of
// latency_chars, or an event character, sends what is held at once; a
// frame-bound chip sends only on the frame.
Micros Expander::ReleaseTime() const {
  if (output_.empty()) return kNever;
  const Micros first = std::max(output_.front().not_before, last_release_);
  Micros release = first;
  if (config_.latency > 0) {
    release = first + config_.latency;
    const size_t k = config_.latency_chars;
    if (k > 0 && output_.size() >= k) {
      release = std::min(release, std::max(first, output_[k - 1].not_before));
    }
    if (!config_.event_chars.empty()) {
      // Only what can go in the packet this release sends: the first k bytes.
      const size_t n = k > 0 ? std::min(k, output_.size()) : output_.size();
      for (size_t i = 0; i < n; ++i) {
        if (config_.event_chars.find(static_cast<char>(output_[i].byte)) != std::string::npos) {
          release = std::min(release, std::max(first, output_[i].not_before));
          break;
        }
      }
    }
  }
  if (config_.usb_frame > 0) {
    release = (release + config_.usb_frame - 1) / config_.usb_frame * config_.usb_frame;
  }
  return release;
}

void Expander::HandleByte(const InByte& in) {
  ++record_.counts.bytes_received;
  switch (mode_) {
    case Mode::kDead:
      return;
    case Mode::kDownload:
      DownloadByte(in);
      return;
    case Mode::kConsole:
    case Mode::kBooting:
      ConsoleByte(in);
      return;
  }
}

void Expander::ConsoleByte(const InByte& in) {
  std::vector<ConsoleLine> lines;
  assembler_.Settle(in.byte, in.read_time, in.read_id, &lines);
  HandleLines(&lines, in.deliver_at);
  if (mode_ == Mode::kDownload) {
    DownloadByte(in);
  } else if (mode_ != Mode::kDead) {
    assembler_.Feed(in.byte, in.read_time, in.read_id);
  }
}

void Expander::HandleLines(std::vector<ConsoleLine>* lines, Micros now) {
  for (const ConsoleLine& line : *lines) HandleLine(line, now);
  lines->clear();
}

// ---- console -------------------------------------------------------------

// `now` is when the line was recognised; replies start then, while the
// record keeps the time its terminator arrived.
void Expander::HandleLine(const ConsoleLine& line, Micros now) {
  const std::string shown = Printable(line.text);
  if (line.line_feeds == 0) {
    Violation(line.time, "console line not ended by three line feeds in one write: \"" + shown + "\"");
  } else if (line.line_feeds != 3) {
    char text[120];
    std::snprintf(text, sizeof text, "console line ended by %d line feeds in one write instead of three: ",
                  line.line_feeds);
    Violation(line.time, text + ("\"" + shown + "\""));
  }
  if (line.fast_pairs >= 2 && line.fast_pairs * 2 > line.pairs) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "console text faster than one byte per 10 ms (%d of %d gaps under %lld ms): ",
                  line.fast_pairs, line.pairs,
                  static_cast<long long>(config_.pace_tolerance / kMicrosPerMs));
    Violation(line.time, text + ("\"" + shown + "\""));
  }

  CommandRecord rec;
  rec.time = line.time;
  rec.raw = line.text;
  rec.command = ClassifyCommand(line.text, &rec.text);
  rec.ignored = mode_ != Mode::kConsole;
  record_.commands.push_back(rec);
  Note(std::string(rec.ignored ? "ignored " : "") + "command (" + CommandName(rec.command) + "): \"" +
       shown + "\"");
  if (!rec.ignored) Execute(rec.command, now);
  // The late-boot-text fault: the first line after a boot that is more than
  // spaces (a host's "\n\r" ahead of its version query) draws the boot ROM's
  // own lines after the prompt.
  if (late_text_due_ && !rec.ignored && line.text.find_first_not_of(' ') != std::string::npos) {
    late_text_due_ = false;
    Note("late boot text (fault)");
    Reply(kLateBootText, now, false);
  }
}

void Expander::Execute(Command command, Micros now) {
  const bool unlocked = unlocked_;
  if (command != Command::kPrompt) unlocked_ = false;
  switch (command) {
    case Command::kPrompt:
      Reply(kPrompt, now, false);
      break;
    case Command::kVersionQuery:
      if (Contains(config_.faults.busy_version, ++version_queries_)) {
        Note("busy answer to the version query (fault)");
        Reply(kBusyText, now, false);
        break;
      }
      Reply("\r\nFirmware version: " + FormatVersion(record_.running_version) + kPrompt, now, false);
      break;
    case Command::kReboot:
      StartReboot(now);
      break;
    case Command::kDefaultsWrite:
      ++record_.counts.defaults_writes;
      Reply(std::string("\r\nproduct data written") + kPrompt, now, false);
      break;
    case Command::kUnlock:
      unlocked_ = true;
      Reply(kPrompt, now, false);
      break;
    case Command::kDownloadMode:
      if (unlocked) {
        EnterDownload(now);
      } else {
        Violation(now, "download-mode command without the unlock command right before it");
        Reply(std::string("\r\ndownload mode locked") + kPrompt, now, false);
      }
      break;
    case Command::kUnknown:
      Reply(std::string("\r\nunknown command") + kPrompt, now, false);
      break;
  }
}

void Expander::StartReboot(Micros now) {
  ++record_.counts.reboots;
  RebootRecord reboot;
  reboot.time = now;
  reboot.before = record_.running_version;
  reboot.after = record_.running_version;
  record_.reboots.push_back(reboot);
  rebooting_ = true;
  if (config_.faults.never_return) {
    mode_ = Mode::kDead;
    boot_end_ = kNever;
    Note("rebooting, never to return");
    return;
  }
  mode_ = Mode::kBooting;
  boot_end_ = now + config_.reboot_time;
  Note("rebooting");
}

void Expander::FinishBoot(Micros when) {
  if (rebooting_ && firmware_pending_) {
    if (stale_left_ > 0) {
      --stale_left_;
      Note("reboot keeps the old firmware (fault)");
    } else if (config_.has_new_version) {
      record_.running_version = config_.new_version;
    } else if (pending_has_version_) {
      record_.running_version = pending_version_;
    } else {
      ++record_.running_version.revision;
    }
    firmware_pending_ = false;
  }
  if (rebooting_ && !record_.reboots.empty()) {
    record_.reboots.back().after = record_.running_version;
    record_.reboots.back().came_back = true;
  }
  rebooting_ = false;
  mode_ = Mode::kConsole;
  boot_end_ = kNever;
  unlocked_ = false;
  assembler_.Reset();
  Note("console up, running " + FormatVersion(record_.running_version));
  if (!config_.quiet_boot) Reply(kBanner, when, false);
  late_text_due_ = config_.faults.late_boot_text;
}

// ---- the line itself ------------------------------------------------------

void Expander::LineLost(Micros now) {
  ++record_.counts.line_losses;
  Note("line lost");
  if (mode_ == Mode::kDownload) LeaveDownload(false);
  input_.clear();
  // Replies still queued never reach the host; they count as gone, so that
  // the next tracked reply is known written as soon as it is.
  output_.clear();
  out_written_ = out_produced_;
  awaiting_ = false;
  out_tail_ns_ = now * kNanosPerMicro;
  last_delivery_ns_ = now * kNanosPerMicro;
}

void Expander::LineBack(Micros now) {
  Note("line back");
  rebooting_ = false;
  out_tail_ns_ = now * kNanosPerMicro;
  last_delivery_ns_ = now * kNanosPerMicro;
  FinishBoot(now);
}

// ---- download mode -------------------------------------------------------

void Expander::EnterDownload(Micros now) {
  mode_ = Mode::kDownload;
  session_.BeginSequence();
  ++record_.counts.download_sequences;
  line_.clear();
  line_bytes_.clear();
  sub_len_ = 0;
  line_flagged_ = false;
  line_abandoned_ = false;
  awaiting_ = false;
  Note("download mode");
  Reply("\r\ndownload mode\r\n", now, false);
}

void Expander::LeaveDownload(bool terminated) {
  const std::vector<size_t> indexes = session_.EndSequence(terminated);
  mode_ = Mode::kConsole;
  assembler_.Reset();
  line_.clear();
  line_bytes_.clear();
  sub_len_ = 0;
  if (!terminated) {
    Note("download sequence abandoned");
    return;
  }
  ++record_.counts.sequences_terminated;
  for (size_t index : indexes) {
    ImageRecord& image = session_.images()[index];
    if (!config_.out_dir.empty()) SaveImage(config_.out_dir, &image);
    if (image.part == kFirmwarePart && image.Ended()) {
      firmware_pending_ = true;
      pending_has_version_ = FindVersionRecord(image.data, &pending_version_);
    }
    char text[160];
    std::snprintf(text, sizeof text, "image %d: %zu bytes, part %d", image.number, image.data.size(),
                  image.part);
    Note(text);
  }
}

void Expander::DownloadByte(const InByte& in) {
  const uint8_t b = in.byte;
  if (b != kLineEnd && !IsBase64Char(b)) {
    char text[120];
    std::snprintf(text, sizeof text, "byte 0x%02x in download mode; download sequence abandoned", b);
    Violation(in.read_time, text);
    // The bytes since the last packet line were most likely the start of
    // this console text; the console gets them back.
    const std::vector<InByte> partial = line_abandoned_ ? std::vector<InByte>() : line_bytes_;
    LeaveDownload(false);
    for (const InByte& earlier : partial) ConsoleByte(earlier);
    ConsoleByte(in);
    return;
  }
  if (line_abandoned_) {
    line_.clear();
    line_bytes_.clear();
    sub_len_ = 0;
    line_flagged_ = false;
    line_abandoned_ = false;
  }
  if (sub_len_ == 0 && awaiting_ && !line_flagged_ &&
      (awaited_written_at_ == kNever || in.read_time < awaited_written_at_)) {
    line_flagged_ = true;
    Violation(in.read_time,
              "sub-packet of more than 12 characters, or sent before the reply to the one before");
  }
  if (sub_len_ == 0) awaiting_ = false;
  if (turn_open_) {
    turn_open_ = false;
    const Micros turn = in.read_time - awaited_written_at_;
    if (awaited_written_at_ != kNever && turn >= 0 && turn < 50 * kMicrosPerMs) {
      record_.timing.host_turn.Add(turn);
    }
  }
  if (line_.size() < kMaxLineChars) {
    line_ += static_cast<char>(b);
    line_bytes_.push_back(in);
  }
  ++sub_len_;
  if (b == kLineEnd) {
    EndSubPacket(in.deliver_at, true);
  } else if (sub_len_ == kSubPacketChars) {
    EndSubPacket(in.deliver_at, false);
  }
}

void Expander::EndSubPacket(Micros now, bool last) {
  ++record_.counts.sub_packets;
  sub_len_ = 0;
  if (Contains(config_.faults.withhold_star, static_cast<uint64_t>(record_.counts.sub_packets))) {
    ++record_.counts.stars_withheld;
    Note("withholding the '*' of sub-packet " + std::to_string(record_.counts.sub_packets));
    if (last) {
      ProcessPacketLine(now, false);
    } else {
      // The host gives this line up; what it sends next starts a new one.
      static const std::string kRecoveryLine = "AAAAAAAAAALMzA==";
      if (kRecoveryLine.compare(0, line_.size(), line_) == 0) {
        ++record_.counts.recovery_packets;
        const std::string violation = session_.Recover();
        if (!violation.empty()) Violation(now, violation);
      } else {
        session_.Fail(false, 0);
      }
      line_abandoned_ = true;
    }
    return;
  }
  Reply("*", now, true);
  if (last) ProcessPacketLine(now, true);
}

void Expander::ProcessPacketLine(Micros now, bool answer) {
  ++record_.counts.packets;
  std::string text = line_;
  line_.clear();
  line_bytes_.clear();
  line_flagged_ = false;
  if (!text.empty() && static_cast<uint8_t>(text.back()) == kLineEnd) text.pop_back();
  const Packet packet = DecodePacketLine(text.data(), text.size());

  switch (packet.kind) {
    case PacketKind::kRecovery: {
      ++record_.counts.recovery_packets;
      Note("recovery packet");
      const std::string violation = session_.Recover();
      if (!violation.empty()) Violation(now, violation);
      return;
    }
    case PacketKind::kTerminator: {
      ++record_.counts.terminating_headers;
      Note("terminating header");
      const std::string violation = session_.CheckTerminator();
      if (!violation.empty()) Violation(now, violation);
      if (answer) SendStatus('0', 0, now);
      LeaveDownload(true);
      return;
    }
    case PacketKind::kBad:
      ++record_.counts.bad_packets;
      Violation(now, "bad packet: " + packet.error);
      if (answer) SendStatus('2', 0, now);
      session_.Fail(false, 0);
      return;
    case PacketKind::kData:
      break;
  }

  ++record_.counts.data_packets;
  const Verdict verdict = session_.Examine(packet);
  for (const std::string& v : verdict.violations) Violation(now, v);
  if (verdict.retry) ++record_.counts.retries;
  char text_note[120];
  std::snprintf(text_note, sizeof text_note, "data packet #%u offset %u, %zu bytes%s", verdict.ordinal,
                packet.offset, packet.payload.size(), verdict.retry ? " (retry)" : "");
  Note(text_note);

  if (!answer || !verdict.good) {
    if (answer) SendStatus('2', verdict.ordinal, now);
    session_.Fail(true, packet.offset);
    return;
  }
  const Faults& faults = config_.faults;
  // The image's part: byte 10 of its first block, else the image being received.
  const int part = packet.offset == 0 && packet.payload.size() > 10 ? packet.payload[10]
                   : session_.images().empty()                       ? -1
                                                                     : session_.images().back().part;
  if (Contains(faults.reject_part, part)) {
    ++record_.counts.rejected;
    Note("rejecting a packet of part " + std::to_string(part) + " (fault)");
    SendStatus('2', verdict.ordinal, now);
    session_.Fail(true, packet.offset);
    return;
  }
  if (verdict.first_attempt) {
    if (Contains(faults.no_status, verdict.ordinal)) {
      ++record_.counts.statuses_withheld;
      Note("withholding the status (fault)");
      session_.Fail(true, packet.offset);
      return;
    }
    for (const auto& reject : faults.reject) {
      if (reject.first != verdict.ordinal) continue;
      SendStatus(reject.second, verdict.ordinal, now);
      if (reject.second >= '2') {
        ++record_.counts.rejected;
        Note(std::string("rejecting with digit ") + reject.second + " (fault)");
        session_.Fail(true, packet.offset);
      } else {
        session_.Accept(packet, verdict);
      }
      return;
    }
  }
  SendStatus('0', verdict.ordinal, now);
  session_.Accept(packet, verdict);
}

void Expander::SendStatus(char digit, uint32_t ordinal, Micros now) {
  const std::vector<uint32_t>& bare = config_.faults.bare_status;
  const bool without_lead = ordinal != 0 && (Contains(bare, ordinal) || Contains(bare, 0u));
  Reply(without_lead ? std::string(1, digit) : std::string("@") + digit, now, true);
}

// ---- output --------------------------------------------------------------

void Expander::Reply(const std::string& bytes, Micros now, bool tracked) {
  std::string all = bytes;
  size_t last_meaningful = bytes.size() - 1;
  if (config_.faults.noise) {
    all = kNoiseBefore + bytes + kNoiseAfter;
    last_meaningful += sizeof kNoiseBefore - 1;
  }
  const int64_t byte_ns = ByteNanos();
  const int64_t gap_ns = std::max(byte_ns, config_.faults.split_gap * kNanosPerMicro);
  // A byte reaches the host one byte time after the line is free for it, and
  // never before: its time is rounded up to the microsecond.
  for (size_t i = 0; i < all.size(); ++i) {
    int64_t at_ns = std::max(now * kNanosPerMicro, out_tail_ns_) + byte_ns;
    if (i > 0) at_ns = std::max(at_ns, out_tail_ns_ + gap_ns);
    out_tail_ns_ = at_ns;
    output_.push_back({static_cast<uint8_t>(all[i]), MicrosAtOrAfter(at_ns)});
    if (tracked && i == last_meaningful) {
      awaiting_ = true;
      awaited_index_ = out_produced_;
      awaited_written_at_ = kNever;
    }
    ++out_produced_;
  }
}

size_t Expander::DueOutput(Micros now, uint8_t* buffer, size_t max) const {
  Micros cut = now;
  if (HasAdapter()) {
    const Micros release = ReleaseTime();
    if (release > now) return 0;
    // One USB packet: what had reached the adapter when it let go.
    cut = release;
    if (config_.latency > 0 && config_.latency_chars > 0) max = std::min(max, config_.latency_chars);
  }
  size_t n = 0;
  for (const OutByte& out : output_) {
    if (n == max || out.not_before > cut) break;
    buffer[n++] = out.byte;
  }
  return n;
}

void Expander::OutputWritten(size_t n, Micros now) {
  n = std::min(n, output_.size());
  // The awaited reply byte leaves with these: how late, against its time.
  if (awaiting_ && awaited_written_at_ == kNever && out_written_ + n > awaited_index_ &&
      awaited_index_ >= out_written_) {
    const Micros due = HasAdapter() ? ReleaseTime() : output_[awaited_index_ - out_written_].not_before;
    record_.timing.reply_late.Add(now - due);
    turn_open_ = true;
  }
  for (size_t i = 0; i < n; ++i) output_.pop_front();
  out_written_ += n;
  record_.counts.bytes_sent += n;
  if (n > 0 && HasAdapter()) last_release_ = now;
  if (awaiting_ && awaited_written_at_ == kNever && out_written_ > awaited_index_) {
    awaited_written_at_ = now;
  }
}

}  // namespace sim
