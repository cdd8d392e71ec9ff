#include "console_peer.h"

#include <algorithm>

void ConsolePeer::Attach(ScriptedExpander& exp) {
  exp.SetResponder([this](ScriptedExpander& e, const std::string& bytes) { OnWrite(e, bytes); });
}

int ConsolePeer::CountLine(const std::string& line) const {
  return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
}

void ConsolePeer::OnWrite(ScriptedExpander& exp, const std::string& bytes) {
  if (bytes == "\n\n\n") {
    std::string line;
    line.swap(console_);
    lines_.push_back(line);
    if (onLine) onLine(exp, line);
    return;
  }
  size_t end = bytes.find('\x7f');
  if (end != std::string::npos) {
    packet_ += bytes.substr(0, end);
    std::string line;
    line.swap(packet_);
    if (onPacket) {
      onPacket(exp, line);
    } else {
      exp.Reply("*@0");
    }
    return;
  }
  if (bytes.size() == 1) {
    // Console lines go out one byte per write; a packet piece of one
    // character can only be the final 0x7F, handled above.
    console_ += bytes;
    return;
  }
  packet_ += bytes;
  if (onSubpacket) {
    onSubpacket(exp, bytes);
  } else {
    exp.Reply("*");
  }
}

std::string Base64Decode(const std::string& text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v = value(c);
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}
