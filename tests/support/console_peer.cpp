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
