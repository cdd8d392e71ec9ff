#include "download_peer.h"

#include "image/fw_image.h"
#include "support/base64.h"

namespace {
constexpr char kReboot[] = "enclosure -a mod -s \"reboot=1\"";
}

DownloadPeer::DownloadPeer(ScriptedExpander& exp) {
  console_.onLine = [this](ScriptedExpander& e, const std::string& line) { OnLine(e, line); };
  console_.onPacket = [this](ScriptedExpander& e, const std::string& line) { OnPacket(e, line); };
  console_.Attach(exp);
}

void DownloadPeer::OnLine(ScriptedExpander& exp, const std::string& line) {
  if (line == " ") {
    Event("prompt");
    if (silentFromBoot < 0 || boot_ < silentFromBoot) exp.Reply("\r\nexp> ");
  } else if (line == "donz 0x06 0x88") {
    ++queries_;
    ++queriesThisBoot_;
    Event("query");
    if (boot_ == muteBoot && queriesThisBoot_ <= muteQueries) return;
    const std::string& v = versions[boot_ < static_cast<int>(versions.size())
                                        ? boot_
                                        : static_cast<int>(versions.size()) - 1];
    exp.Reply("\r\nFirmware Version: " + v + "\r\nexp> ");
  } else if (line == kReboot) {
    // The console takes the first of the three commands; the others are lost
    // while it restarts.
    if (rebootCmds_++ % 3 == 0) {
      ++boot_;
      queriesThisBoot_ = 0;
      armed_ = false;
      Event("reboot");
    }
  } else if (line == "wm32 -m 0xa8200094 -v 0x5b7d2e94") {
    armed_ = true;
  } else if (line == "donz 0x06 17 1" && armed_) {
    ++enters_;
    Event("enter");
  }
}

void DownloadPeer::OnPacket(ScriptedExpander& exp, const std::string& line) {
  std::string p = Base64Decode(line);
  if (p.size() < 8) {
    exp.Reply("*@9");
    return;
  }
  auto byte = [&p](size_t i) { return static_cast<uint8_t>(p[i]); };
  if (byte(0) == 0x00) {  // recovery packet: acknowledged, no status
    ++recoveries_;
    exp.Reply("*");
    return;
  }
  uint32_t offset = byte(2) | (byte(3) << 8) | (byte(4) << 16) | (static_cast<uint32_t>(byte(5)) << 24);
  if (p.size() == 9 && byte(7) == 1 && byte(8) == 0xCC && byte(6) == 0 && offset == 0) {
    ++terminators_;
    armed_ = false;
    Event("terminator");
    exp.Reply("*@0");
    return;
  }
  uint8_t x = 0;
  for (char c : p) x ^= static_cast<uint8_t>(c);
  if (x != 0) {
    exp.Reply("*@2");
    return;
  }
  // A first packet starts a new image, unless it repeats a first packet
  // that was refused.
  if (offset == 0 && (images_.empty() || !images_.back().bytes.empty()))
    images_.push_back({std::string(), g_bBootLoaderInProgress.load() != 0, true});
  int index = static_cast<int>(images_.size()) - 1;
  Event("packet", index);
  char status = statusFor ? statusFor(index) : '0';
  if (status <= '1' && index >= 0) {
    Image& img = images_.back();
    if (offset != img.bytes.size()) img.contiguous = false;
    img.bytes += p.substr(8);
  }
  exp.Reply(std::string("*@") + status);
}

std::string MakeImage(uint8_t part, uint32_t bodyLen, uint8_t seed) {
  std::string img(28, '\0');
  img[0] = 'V';
  img[1] = 'R';
  img[2] = 'Q';
  img[10] = static_cast<char>(part);
  img[16] = static_cast<char>(bodyLen >> 24);
  img[17] = static_cast<char>(bodyLen >> 16);
  img[18] = static_cast<char>(bodyLen >> 8);
  img[19] = static_cast<char>(bodyLen);
  for (uint32_t i = 0; i < bodyLen; ++i) img.push_back(static_cast<char>(seed + i * 7));
  return img;
}

std::string MakeVersionRecord(uint8_t major, uint8_t minor, uint8_t build, uint8_t revision) {
  std::string r("\x34\x12\xCD\xAB", 4);
  r += static_cast<char>(major);
  r += static_cast<char>(minor);
  r += static_cast<char>(build);
  r += static_cast<char>(revision);
  return r;
}
