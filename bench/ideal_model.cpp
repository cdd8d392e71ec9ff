#include "bench/ideal_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace bench {

namespace {

constexpr uint32_t kHeaderSize = 28;
constexpr uint32_t kMaxImages = 16;
constexpr uint8_t kFirmware = 0x06;
constexpr uint8_t kBootloader = 0xFF;
constexpr uint32_t kBlock = 256;        // payload bytes of a full data packet
constexpr uint32_t kPacketHeader = 8;   // bytes ahead of the payload
constexpr uint32_t kPiece = 12;         // characters of a sub-packet
constexpr uint32_t kStatusReply = 2;    // "@" and a digit
constexpr uint32_t kTerminatingHeader = 9;
constexpr uint32_t kRecoveryPacket = 10;

// Console lines go out one byte every 10 ms, then three line feeds in one
// write, then 500 ms of quiet.
constexpr double kCharPaceMs = 10;
constexpr double kLinePauseMs = 500;
constexpr uint32_t kLineEnd = 3;

bool HeaderAt(const std::vector<uint8_t>& f, size_t pos, const std::string& sig) {
  size_t n = std::min<size_t>(sig.size(), 8);
  if (n == 0 || pos + n > f.size()) return false;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = f[pos + i];
    if (c == 0) return false;
    if (std::tolower(c) != std::tolower(static_cast<unsigned char>(sig[i]))) return false;
  }
  return true;
}

bool VersionRecordAt(const std::vector<uint8_t>& f, size_t pos) {
  static const uint8_t kMagic[4] = {0x34, 0x12, 0xCD, 0xAB};
  return pos + 4 <= f.size() && std::memcmp(&f[pos], kMagic, 4) == 0;
}

uint32_t BigEndian32(const std::vector<uint8_t>& f, size_t pos) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | (pos + i < f.size() ? f[pos + i] : 0);
  return v;
}

// Adds one console line (text, three line feeds, the pacing) to `t`.
void AddConsoleLine(Term& t, const char* text, uint32_t replyBytes) {
  uint32_t n = static_cast<uint32_t>(std::strlen(text));
  t.bytesOut += n + kLineEnd;
  t.bytesIn += replyBytes;
  t.pauseMs += n * kCharPaceMs + kLinePauseMs;
}

// Line exchange of one data packet: its line out, a "*" for every piece and
// the status reply back.
void AddPacket(Term& t, uint32_t payload) {
  uint32_t chars = PacketLineChars(payload + kPacketHeader);
  uint32_t pieces = SubpacketCount(chars);
  t.count += 1;
  t.bytesOut += chars;
  t.bytesIn += pieces + kStatusReply;
}

Term PromptWait(const char* name, const ConsoleReplies& r, double extraWaitMs) {
  Term t{name};
  t.count = 1;
  AddConsoleLine(t, " ", r.perLine);
  AddConsoleLine(t, " ", r.perLine);
  t.pauseMs += extraWaitMs;
  return t;
}

// CheckFirmwareVer: a line break, 300 ms, the query; the answer is read the
// moment the query's 500 ms are over.
Term VersionQuery(const char* name, const ConsoleReplies& r) {
  Term t{name};
  t.count = 1;
  AddConsoleLine(t, "\n\r", r.perLine);
  t.pauseMs += 100 + 200;
  AddConsoleLine(t, "donz 0x06 0x88", r.perLine + r.versionAnswer);
  return t;
}

}  // namespace

std::vector<ImageEntry> ScanImageFile(const std::vector<uint8_t>& file,
                                      const std::string& signature) {
  std::vector<ImageEntry> images;
  size_t pos = 0;
  while (pos < file.size()) {
    if (HeaderAt(file, pos, signature)) {
      uint64_t length = uint64_t{BigEndian32(file, pos + 16)} + kHeaderSize;
      uint64_t cut = std::min<uint64_t>(length, file.size() - pos);
      if (images.size() < kMaxImages) {
        uint8_t part = pos + 10 < file.size() ? file[pos + 10] : 0;
        images.push_back({static_cast<uint32_t>(pos), static_cast<uint32_t>(cut), part});
      }
      pos += static_cast<size_t>(cut);
    } else if (VersionRecordAt(file, pos)) {
      pos += 8;
    } else {
      pos += 1;
    }
  }
  auto boot = std::find_if(images.begin(), images.end(),
                           [](const ImageEntry& e) { return e.part == kBootloader; });
  if (boot != images.end() && boot + 1 != images.end()) std::iter_swap(boot, images.end() - 1);
  return images;
}

DownloadPlan PlanDownload(const std::vector<ImageEntry>& images, uint32_t firmwareAttempts) {
  DownloadPlan plan;
  auto has = [&](uint8_t part) {
    return std::any_of(images.begin(), images.end(),
                       [part](const ImageEntry& e) { return e.part == part; });
  };
  std::vector<uint32_t> all;
  for (const ImageEntry& e : images) all.push_back(e.length);
  plan.reboot = images.size() > 1 && has(kFirmware) && has(kBootloader);
  if (!plan.reboot) {
    plan.sequences.push_back(all);
    return plan;
  }
  // The bootloader stands last; everything before it goes first, once per attempt.
  std::vector<uint32_t> firmware(all.begin(), all.end() - 1);
  plan.reboots = std::max<uint32_t>(firmwareAttempts, 1);
  for (uint32_t i = 0; i < plan.reboots; ++i) plan.sequences.push_back(firmware);
  plan.sequences.push_back({all.back()});
  return plan;
}

uint32_t PacketLineChars(uint32_t packetBytes) { return 4 * ((packetBytes + 2) / 3) + 1; }

uint32_t SubpacketCount(uint32_t lineChars) { return (lineChars + kPiece - 1) / kPiece; }

double RebootWaitMs(double rebootSeconds) {
  // From the console taking the first reboot line to the first look for its
  // prompt: the rest of that line's 500 ms, two more reboot lines with 100 ms
  // before each (30 characters paced, 500 ms), the closing 300 ms, then the
  // two paced spaces of the prompt wait.
  constexpr double kFirstLookMs = 500 + 2 * (100 + 300 + 500) + 300 + 2 * (10 + 500);
  double downMs = std::round(rebootSeconds * 1000);
  if (downMs <= kFirstLookMs) return 0;
  return std::ceil((downMs - kFirstLookMs) / 1000) * 1000;
}

Model IdealTime(const DownloadPlan& plan, const ModelInput& in) {
  const ConsoleReplies& r = in.replies;
  std::vector<Term> terms;
  terms.push_back(PromptWait("prompt wait (start)", r, 0));
  terms.push_back(VersionQuery("version query (start)", r));

  Term enter{"enter download mode"};
  Term packets{"data packets"};
  Term imageEnd{"pauses after each image"};
  Term terminating{"terminating header"};
  Term reboot{"reboot command"};
  Term recovery{"recovery packets"};
  uint64_t payload = 0;
  uint64_t pieces = 0;
  for (const std::vector<uint32_t>& seq : plan.sequences) {
    enter.count += 1;
    enter.pauseMs += 100;
    AddConsoleLine(enter, "wm32 -m 0xa8200094 -v 0x5b7d2e94", r.perLine);
    enter.pauseMs += 100;
    AddConsoleLine(enter, "donz 0x06 17 1", r.perLine);
    enter.pauseMs += 100;
    for (uint32_t length : seq) {
      for (uint32_t off = 0; off < length; off += kBlock) {
        uint32_t block = std::min(kBlock, length - off);
        AddPacket(packets, block);
        pieces += SubpacketCount(PacketLineChars(block + kPacketHeader));
        payload += block;
      }
      imageEnd.count += 1;
      imageEnd.pauseMs += 200 + 160;  // after the image's last block; after its temporary file
    }
    uint32_t chars = PacketLineChars(kTerminatingHeader);
    terminating.count += 1;
    terminating.bytesOut += chars;
    terminating.bytesIn += SubpacketCount(chars) + kStatusReply;
  }
  for (uint32_t i = 0; i < plan.reboots; ++i) {
    reboot.count += 1;
    reboot.pauseMs += 200;
    AddConsoleLine(reboot, " ", 0);
    for (int k = 0; k < 3; ++k) {
      reboot.pauseMs += 100;
      AddConsoleLine(reboot, "enclosure -a mod -s \"reboot=1\"", 0);
    }
    reboot.pauseMs += 300;
  }
  if (in.recoveryPackets > 0) {
    // The recovery line is acknowledged piece by piece; its status reply, if
    // any, is not waited for. Then the packet goes again, taken as a full one.
    uint32_t chars = PacketLineChars(kRecoveryPacket);
    uint32_t again = PacketLineChars(kBlock + kPacketHeader);
    recovery.count = in.recoveryPackets;
    recovery.bytesOut = uint64_t{in.recoveryPackets} * (chars + again);
    recovery.bytesIn = uint64_t{in.recoveryPackets} *
                       (SubpacketCount(chars) + SubpacketCount(again) + kStatusReply);
    recovery.pauseMs = 10.0 * in.recoveryPackets;
  }
  terms.push_back(enter);
  terms.push_back(packets);
  terms.push_back(imageEnd);
  terms.push_back(terminating);
  if (plan.reboots > 0) {
    terms.push_back(reboot);
    for (uint32_t i = 0; i < plan.reboots; ++i) {
      terms.push_back(PromptWait("prompt wait (after reboot)", r, in.rebootWaitMs));
      terms.push_back(VersionQuery("version query (after reboot)", r));
    }
  }
  if (in.recoveryPackets > 0) terms.push_back(recovery);

  Model m;
  m.packets = packets.count;
  m.subpackets = pieces;
  m.payload = payload;
  for (Term& t : terms) {
    if (in.baud > 0) {
      t.lineMs = static_cast<double>(t.bytesOut + t.bytesIn) * in.bitsPerByte * 1000.0 / in.baud;
    }
    m.bytesOut += t.bytesOut;
    m.bytesIn += t.bytesIn;
    m.pauseMs += t.pauseMs;
    m.lineMs += t.lineMs;
  }
  m.terms = std::move(terms);
  return m;
}

}  // namespace bench
