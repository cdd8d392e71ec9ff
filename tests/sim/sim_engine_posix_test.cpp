// The simulated expander's engine on invented time: a well-behaved host and
// a few misbehaving ones, driven byte by byte without a line or a clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sim/expander.h"
#include "sim/report.h"
#include "sim/sha256.h"
#include "host_encoding.h"

namespace {

using sim::Micros;
constexpr Micros kMs = sim::kMicrosPerMs;

std::string Base64(const std::vector<uint8_t>& in) { return HostBase64(in); }

std::vector<uint8_t> DataPacket(uint32_t offset, const uint8_t* payload, size_t n) {
  std::vector<uint8_t> p(8 + n);
  p[0] = 0xA5;
  for (int i = 0; i < 4; ++i) p[2 + i] = static_cast<uint8_t>(offset >> (8 * i));
  p[7] = static_cast<uint8_t>(n);
  std::copy(payload, payload + n, p.begin() + 8);
  uint8_t x = 0;
  for (uint8_t b : p) x ^= b;
  p[6] = x;
  return p;
}

const std::vector<uint8_t> kTerminator = {0xA5, 0, 0, 0, 0, 0, 0, 0x01, 0xCC};
const std::vector<uint8_t> kRecovery = {0, 0, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xCC};

// An image: 28-byte header (signature, part at byte 10, body length
// big-endian at 16) and a patterned body, optionally holding a version record.
std::vector<uint8_t> Image(uint8_t part, uint32_t body, const sim::Version* record = nullptr) {
  std::vector<uint8_t> im(28 + body);
  im[0] = 'V', im[1] = 'R', im[2] = 'Q';
  im[10] = part;
  im[16] = uint8_t(body >> 24), im[17] = uint8_t(body >> 16), im[18] = uint8_t(body >> 8), im[19] = uint8_t(body);
  for (uint32_t i = 0; i < body; ++i) im[28 + i] = static_cast<uint8_t>(i * 7 + part);
  if (record) {
    const uint8_t r[] = {0x34, 0x12, 0xCD, 0xAB, uint8_t(record->major), uint8_t(record->minor),
                         uint8_t(record->build), uint8_t(record->revision)};
    std::copy(r, r + 8, im.begin() + 40);
  }
  return im;
}

class SimEngine : public ::testing::Test {
 protected:
  void Start(const sim::EngineConfig& config = sim::EngineConfig()) {
    engine_ = std::make_unique<sim::Expander>(config, t_);
  }

  // Bytes that arrive in one read now; whatever is due goes out at once.
  void Read(const std::string& bytes) {
    engine_->Input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), t_);
    Flush();
  }

  void Wait(Micros d) {
    const Micros end = t_ + d;
    for (;;) {
      const Micros next = std::min(engine_->NextEvent(), engine_->NextOutputTime());
      if (next > end) break;
      t_ = std::max(t_, next);
      engine_->Advance(t_);
      Flush();
    }
    t_ = end;
    engine_->Advance(t_);
    Flush();
  }

  // Waits up to limit for a byte of `wanted` in the output; false on time-out.
  bool WaitFor(const std::string& wanted, Micros limit) {
    for (Micros waited = 0; waited <= limit; waited += kMs) {
      if (out_.find_first_of(wanted) != std::string::npos) return true;
      Wait(kMs);
    }
    return false;
  }

  std::string Take() { return std::exchange(out_, std::string()); }

  // A console line written as a host should: one byte per interval, three
  // line feeds in one write, then half a second of quiet.
  std::string Command(const std::string& text, Micros per_byte = 10 * kMs,
                      const std::string& end = "\n\n\n") {
    for (char c : text) {
      Read(std::string(1, c));
      Wait(per_byte);
    }
    if (!end.empty()) Read(end);
    Wait(500 * kMs);
    return Take();
  }

  // One packet line in pieces, each after the '*' of the one before, as a
  // host does; gives up (like a host's time-out) when a '*' does not come.
  // Returns everything the expander sent, status included.
  std::string SendPacket(const std::vector<uint8_t>& packet, size_t piece = 12) {
    const std::string line = Base64(packet) + '\x7f';
    std::string replies;
    for (size_t at = 0; at < line.size(); at += piece) {
      Read(line.substr(at, piece));
      const bool acked = WaitFor("*", 50 * kMs);
      replies += Take();
      if (!acked) break;
    }
    WaitFor("0123456789", 50 * kMs);
    Wait(5 * kMs);
    return replies + Take();
  }

  // The status digit of a reply: the last digit in it, or 0 for none.
  static char Status(const std::string& reply) {
    const size_t at = reply.find_last_of("0123456789");
    return at == std::string::npos ? 0 : reply[at];
  }

  // Sends a packet until it is accepted, with a recovery packet after each
  // failure, as a host's retry loop does.
  void SendReliably(const std::vector<uint8_t>& packet) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      const char status = Status(SendPacket(packet));
      if (status == '0' || status == '1') return;
      SendPacket(kRecovery);
    }
    ADD_FAILURE() << "packet never accepted";
  }

  void EnterDownloadMode() {
    Command("wm32 -m 0xa8200094 -v 0x5b7d2e94");
    Command("donz 0x06 17 1");
  }

  void SendImage(const std::vector<uint8_t>& image) {
    for (size_t at = 0; at < image.size(); at += 256) {
      SendReliably(DataPacket(static_cast<uint32_t>(at), image.data() + at,
                              std::min<size_t>(256, image.size() - at)));
    }
  }

  void Download(const std::vector<std::vector<uint8_t>>& images) {
    EnterDownloadMode();
    for (const auto& image : images) SendImage(image);
    EXPECT_EQ('0', Status(SendPacket(kTerminator)));
  }

  std::string Violations() const {
    std::string all;
    for (const auto& v : engine_->record().violations) all += v.text + "\n";
    return all;
  }

  void Flush() {
    uint8_t buffer[4096];
    const size_t n = engine_->DueOutput(t_, buffer, sizeof buffer);
    if (n == 0) return;
    out_.append(reinterpret_cast<char*>(buffer), n);
    engine_->OutputWritten(n, t_);
  }

  Micros t_ = 1000 * sim::kMicrosPerSecond;
  std::unique_ptr<sim::Expander> engine_;
  std::string out_;
};

TEST_F(SimEngine, ConsoleAnswersPromptsAndVersionQueries) {
  sim::EngineConfig config;
  config.version = {0, 1, 0, 5};
  Start(config);
  EXPECT_NE(std::string::npos, Command(" ").find('>'));
  EXPECT_NE(std::string::npos, Command("\n\r").find('>'));
  EXPECT_NE(std::string::npos, Command("\n\r ").find('>'));
  for (const char* query : {"donz 0x06 0x88", "donz  0x06 0x88 \r"}) {
    const std::string reply = Command(query);
    EXPECT_GT(reply.size(), 20u) << query;
    EXPECT_NE(std::string::npos, reply.find("0.01.0000.05")) << query;
  }
  EXPECT_EQ("", Violations());
  ASSERT_EQ(5u, engine_->record().commands.size());
  EXPECT_EQ(sim::Command::kPrompt, engine_->record().commands[1].command);
  EXPECT_EQ("\n\r", engine_->record().commands[1].raw);
}

TEST_F(SimEngine, ConsoleLinesMustBePacedAndEndWithThreeLineFeeds) {
  const struct {
    const char* name;
    Micros per_byte;
    const char* end;
    bool violation;
  } kCases[] = {
      {"paced 10 ms", 10 * kMs, "\n\n\n", false},
      {"paced with jitter", 6 * kMs, "\n\n\n", false},
      {"2 ms apart", 2 * kMs, "\n\n\n", true},
      {"whole text in one instant", 0, "\n\n\n", true},
      {"two line feeds", 10 * kMs, "\n\n", true},
      {"four line feeds", 10 * kMs, "\n\n\n\n", true},
      {"carriage return and line feed", 10 * kMs, "\r\n", true},
  };
  for (const auto& c : kCases) {
    Start();
    const std::string reply = Command("donz 0x06 0x88", c.per_byte, c.end);
    Wait(2 * sim::kMicrosPerSecond);
    EXPECT_EQ(c.violation, !engine_->record().violations.empty()) << c.name << "\n" << Violations();
    // The console still does what it was asked; the fault is only recorded.
    EXPECT_NE(std::string::npos, (reply + Take()).find("1.02.0000.10")) << c.name;
  }
}

TEST_F(SimEngine, DownloadDeliversImagesByteForByte) {
  Start();
  const std::vector<uint8_t> firmware = Image(0x06, 300);  // blocks of 256 and 72
  const std::vector<uint8_t> boot = Image(0xFF, 228);      // exactly one full block
  EnterDownloadMode();
  // 264 bytes make 352 characters and the 0x7F: 30 pieces, each acknowledged.
  EXPECT_EQ(std::string(30, '*') + "@0", SendPacket(DataPacket(0, firmware.data(), 256)));
  EXPECT_EQ(std::string(10, '*') + "@0", SendPacket(DataPacket(256, firmware.data() + 256, 72)));
  SendImage(boot);
  EXPECT_EQ("**@0", SendPacket(kTerminator));
  EXPECT_FALSE(engine_->in_download_mode());

  const auto& images = engine_->images();
  ASSERT_EQ(2u, images.size()) << Violations();
  EXPECT_EQ(firmware, images[0].data);
  EXPECT_EQ(0x06, images[0].part);
  EXPECT_EQ(boot, images[1].data);
  EXPECT_EQ(0xFF, images[1].part);
  EXPECT_TRUE(images[1].terminated);
  const sim::Counters& n = engine_->record().counts;
  EXPECT_EQ(3u, n.data_packets);
  EXPECT_EQ(4u, n.packets);
  EXPECT_EQ(0u, n.retries);
  EXPECT_EQ(1u, n.sequences_terminated);
  EXPECT_EQ("", Violations());
  EXPECT_NE(std::string::npos, Command("donz 0x06 0x88").find("1.02.0000.10"));

  const std::string json = sim::ReportJson(engine_->record(), images, "download");
  EXPECT_NE(std::string::npos, json.find(sim::Sha256Hex(boot.data(), boot.size())));
  EXPECT_NE(std::string::npos, json.find("\"raw\": \"donz 0x06 17 1\""));
  EXPECT_NE(std::string::npos, json.find("\"violations\": []"));
}

TEST_F(SimEngine, PacketRulesInDownloadMode) {
  const std::vector<uint8_t> image = Image(0x06, 400);
  const std::vector<uint8_t> first = DataPacket(0, image.data(), 256);
  const std::vector<uint8_t> second = DataPacket(256, image.data() + 256, 172);
  std::vector<uint8_t> corrupt = first;
  corrupt[100] ^= 0x01;

  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> packets;  // sent in order, each whatever its reply
    std::vector<char> statuses;                 // the status of each (0: none)
    const char* violation;                      // expected in the record
    size_t violations;
  };
  const Case kCases[] = {
      {"failed packet, recovery, retry", {corrupt, kRecovery, first, second}, {'2', 0, '0', '0'},
       "bad packet", 1},
      {"retry without a recovery packet", {corrupt, first, second}, {'2', '0', '0'},
       "without a recovery packet", 2},
      {"offset skips a block", {first, DataPacket(512, image.data(), 16)}, {'0', '2'},
       "non-contiguous offset 512", 1},
      {"recovery packet out of the blue", {first, kRecovery}, {'0', 0}, "no packet had failed", 1},
      {"block after a short block", {DataPacket(0, image.data(), 100), DataPacket(100, image.data(), 100)},
       {'0', '0'}, "follows a short block", 1},
      {"image restarted before its end", {first, first}, {'0', '0'}, "restarted at offset 0", 1},
  };
  for (const Case& c : kCases) {
    Start();
    EnterDownloadMode();
    ASSERT_EQ(c.statuses.size(), c.packets.size()) << c.name;
    for (size_t i = 0; i < c.packets.size(); ++i) {
      EXPECT_EQ(c.statuses[i], Status(SendPacket(c.packets[i]))) << c.name << " packet " << i;
    }
    EXPECT_NE(std::string::npos, Violations().find(c.violation)) << c.name << "\n" << Violations();
    EXPECT_EQ(c.violations, engine_->record().violations.size()) << c.name << "\n" << Violations();
  }
}

TEST_F(SimEngine, OverlongSubPacketIsCaught) {
  Start();
  EnterDownloadMode();
  const std::vector<uint8_t> image = Image(0x01, 20);
  // 13 characters in one write: the 13th came before the '*' of the first 12.
  EXPECT_EQ('0', Status(SendPacket(DataPacket(0, image.data(), image.size()), 13)));
  EXPECT_NE(std::string::npos, Violations().find("more than 12 characters")) << Violations();
  EXPECT_EQ(1u, engine_->record().violations.size()) << Violations();
}

TEST_F(SimEngine, ConsoleTextInDownloadModeAbandonsTheSequence) {
  Start();
  EnterDownloadMode();
  const std::vector<uint8_t> image = Image(0x06, 10);
  SendPacket(DataPacket(0, image.data(), image.size()));
  EXPECT_NE(std::string::npos, Command("donz 0x06 0x88").find("1.02.0000.10"));
  EXPECT_FALSE(engine_->in_download_mode());
  EXPECT_NE(std::string::npos, Violations().find("in download mode")) << Violations();
  ASSERT_EQ(1u, engine_->images().size());
  EXPECT_FALSE(engine_->images()[0].terminated);
}

TEST_F(SimEngine, DownloadModeNeedsTheUnlockRightBefore) {
  Start();
  Command("wm32 -m 0xa8200094 -v 0x5b7d2e94");
  Command("donz 0x06 0x88");
  Command("donz 0x06 17 1");
  EXPECT_FALSE(engine_->in_download_mode());
  EXPECT_NE(std::string::npos, Violations().find("without the unlock")) << Violations();
}

// Each injected fault against a host that follows the protocol: the image
// still arrives whole and the host is not blamed for the expander's faults.
TEST_F(SimEngine, InjectedFaultsLeaveACorrectHostClean) {
  struct Case {
    const char* name;
    void (*set)(sim::Faults*);
    void (*check)(const sim::Counters&);
  };
  const Case kCases[] = {
      {"reject the second packet", [](sim::Faults* f) { f->reject.push_back({2, '5'}); },
       [](const sim::Counters& n) {
         EXPECT_EQ(1u, n.rejected);
         EXPECT_EQ(1u, n.retries);
       }},
      {"accepting digit 1", [](sim::Faults* f) { f->reject.push_back({1, '1'}); },
       [](const sim::Counters& n) { EXPECT_EQ(0u, n.retries); }},
      {"no status for the first packet", [](sim::Faults* f) { f->no_status.push_back(1); },
       [](const sim::Counters& n) {
         EXPECT_EQ(1u, n.statuses_withheld);
         EXPECT_EQ(1u, n.recovery_packets);
       }},
      {"withhold a '*' mid-line", [](sim::Faults* f) { f->withhold_star.push_back(3); },
       [](const sim::Counters& n) {
         EXPECT_EQ(1u, n.stars_withheld);
         EXPECT_EQ(1u, n.retries);
       }},
      {"withhold the first '*' of a recovery packet",
       [](sim::Faults* f) {
         f->no_status.push_back(1);
         f->withhold_star.push_back(31);
       },
       [](const sim::Counters& n) { EXPECT_EQ(1u, n.recovery_packets); }},
      {"status digits without '@'", [](sim::Faults* f) { f->bare_status.push_back(0); },
       [](const sim::Counters&) {}},
      {"noise around replies", [](sim::Faults* f) { f->noise = true; }, [](const sim::Counters&) {}},
      {"replies split", [](sim::Faults* f) { f->split_gap = 3 * kMs; }, [](const sim::Counters&) {}},
  };
  const std::vector<uint8_t> image = Image(0x06, 600);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::EngineConfig config;
    c.set(&config.faults);
    Start(config);
    Download({image});
    ASSERT_EQ(1u, engine_->images().size());
    EXPECT_EQ(image, engine_->images()[0].data);
    EXPECT_EQ("", Violations());
    c.check(engine_->record().counts);
  }
}

TEST_F(SimEngine, RepliesCarryTheInjectedShape) {
  sim::EngineConfig config;
  config.faults.noise = true;
  config.faults.bare_status.push_back(1);
  Start(config);
  const std::string prompt = Command(" ");
  EXPECT_EQ("\xff\x9b\x15\r\nexp> \x80\x07\xfe", prompt);
  EnterDownloadMode();
  const std::vector<uint8_t> image = Image(0x06, 1);
  const std::string reply = SendPacket(DataPacket(0, image.data(), image.size()));
  EXPECT_EQ(std::string::npos, reply.find('@'));
  EXPECT_EQ('0', Status(reply));
}

TEST_F(SimEngine, RebootRunsTheReceivedFirmware) {
  const sim::Version in_image{2, 3, 4, 5};
  struct Case {
    const char* name;
    uint8_t part;
    bool with_record;
    bool has_new_version;
    int stale_reboots;
    const char* after;
  };
  const Case kCases[] = {
      {"firmware without a version record", 0x06, false, false, 0, "1.02.0000.11"},
      {"firmware with a version record", 0x06, true, false, 0, "2.03.0004.05"},
      {"version given on the command line", 0x06, true, true, 0, "9.09.0009.09"},
      {"no firmware image received", 0x01, true, false, 0, "1.02.0000.10"},
      {"first reboot keeps the old firmware", 0x06, false, false, 1, "1.02.0000.10"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::EngineConfig config;
    config.reboot_time = 3 * sim::kMicrosPerSecond;
    config.has_new_version = c.has_new_version;
    config.new_version = {9, 9, 9, 9};
    config.faults.stale_reboots = c.stale_reboots;
    Start(config);
    Download({Image(c.part, 100, c.with_record ? &in_image : nullptr)});
    Command("enclosure -a mod -s \"reboot=1\"");
    EXPECT_EQ("", Command("donz 0x06 0x88"));  // down while it boots
    Wait(3 * sim::kMicrosPerSecond);
    EXPECT_NE(std::string::npos, Take().find('>'));  // the banner when it comes back
    EXPECT_NE(std::string::npos, Command("donz 0x06 0x88").find(c.after));
    ASSERT_EQ(1u, engine_->record().reboots.size());
    EXPECT_EQ(c.after, sim::FormatVersion(engine_->record().reboots[0].after));
    ASSERT_GT(engine_->record().commands.size(), 3u);
    EXPECT_TRUE(engine_->record().commands[3].ignored);
    EXPECT_EQ("", Violations());
  }
}

TEST_F(SimEngine, ConsoleSilences) {
  sim::EngineConfig config;
  config.faults.silent_time = 4 * sim::kMicrosPerSecond;
  Start(config);
  EXPECT_EQ("", Command(" "));
  Wait(4 * sim::kMicrosPerSecond);
  EXPECT_NE(std::string::npos, Command(" ").find('>'));

  config = sim::EngineConfig();
  config.faults.never_return = true;
  Start(config);
  Command("enclosure -a mod -s \"reboot=1\"");
  Wait(60 * sim::kMicrosPerSecond);
  EXPECT_EQ("", Command(" ") + Command("donz 0x06 0x88"));
  EXPECT_EQ(sim::kNever, engine_->NextEvent());
}

TEST_F(SimEngine, BaudRatePacesBothDirections) {
  sim::EngineConfig config;
  config.baud = 115200;  // 86.8 us a byte
  Start(config);
  for (char c : std::string("donz 0x06 0x88")) {
    Read(std::string(1, c));
    Wait(10 * kMs);
  }
  Read("\n\n\n");
  Wait(3 * kMs);  // the line-feed burst is over: the reply starts, one byte at a time
  EXPECT_EQ(0u, out_.size());  // its first byte is still on the line
  Wait(87);
  EXPECT_EQ(1u, out_.size());
  Wait(5 * 87);
  EXPECT_EQ(6u, out_.size());
  Wait(500 * kMs);
  Take();

  EnterDownloadMode();
  const std::vector<uint8_t> image = Image(0x06, 20);
  const Micros sent = t_;
  Read(Base64(DataPacket(0, image.data(), image.size())).substr(0, 12));
  // Packet characters are taken when read, so the serving loop's only wake-up
  // is the reply's; twelve characters take twelve byte times to arrive, the
  // "*" one more: 13 x 86.806 us, 1128.5 us, and never earlier.
  EXPECT_EQ(sim::kNever, engine_->NextEvent());
  EXPECT_EQ(sent + 1129, engine_->NextOutputTime());
  Wait(1128);
  EXPECT_TRUE(out_.empty());
  Wait(1);
  EXPECT_EQ("*", Take());
  EXPECT_EQ(sent + 1129, t_);
}

// The simulator's own timing of the exchanges: a reply written 30 us after
// its time, the host's next character 45 us after that; a pause of the
// host's (60 ms) is no turn.
TEST_F(SimEngine, TimesItsRepliesAndTheHostsTurn) {
  sim::EngineConfig config;
  config.baud = 115200;
  Start(config);
  EnterDownloadMode();
  const std::vector<uint8_t> image = Image(0x06, 40);
  const std::string line = Base64(DataPacket(0, image.data(), image.size()));
  auto piece = [&](size_t k, Micros late) {
    Read(line.substr(12 * k, 12));
    t_ = engine_->NextOutputTime() + late;
    Flush();
    EXPECT_EQ("*", Take());
  };
  piece(0, 30);
  t_ += 45;
  piece(1, 0);
  t_ += 60 * kMs;
  piece(2, 0);

  const sim::Timing& timing = engine_->record().timing;
  EXPECT_EQ(3u, timing.reply_late.n);
  EXPECT_EQ(30, timing.reply_late.max);
  EXPECT_EQ(0, timing.reply_late.Quantile(0.5));
  EXPECT_EQ(1u, timing.host_turn.n);
  EXPECT_EQ(45, timing.host_turn.sum);
  EXPECT_EQ("", Violations());
}

}  // namespace

// Behind a 16 ms latency timer each "*" waits for the timer unless "*" is the
// adapter's event character; the status reply that ends a packet waits either
// way.
TEST_F(SimEngine, EventCharacterSendsHeldBytesAtOnce) {
  struct Case {
    const char* event_chars;
    Micros ack_delay;
  } cases[] = {{"", 16 * kMs}, {"*", 0}, {"#*", 0}, {"#", 16 * kMs}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("event chars '") + c.event_chars + "'");
    sim::EngineConfig config;
    config.latency = 16 * kMs;
    config.event_chars = c.event_chars;
    Start(config);
    out_.clear();
    EnterDownloadMode();
    const std::vector<uint8_t> image = Image(0x06, 20);
    const std::string line = Base64(DataPacket(0, image.data(), image.size())) + '\x7f';
    for (size_t at = 0; at < line.size(); at += 12) {
      const Micros sent = t_;
      Read(line.substr(at, 12));
      if (at + 12 < line.size()) {
        // Without the event character the "*" is held for the timer.
        if (c.ack_delay > 0) {
          EXPECT_EQ("", out_);
          EXPECT_EQ(sent + c.ack_delay, engine_->NextOutputTime());
          Wait(c.ack_delay);
        }
        EXPECT_EQ("*", Take());
      }
    }
    // The last piece's "*" and the status reply leave together with the timer.
    EXPECT_TRUE(WaitFor("0123456789", 50 * kMs));
    EXPECT_EQ('0', Status(Take()));
    EXPECT_EQ("", Violations());
  }
}
